// Dispatch, the update handlers, the views and the service registration driven through a
// client link without a socket, on an empty lab.
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "app/LabServer.h"
#include "fake_library.h"
#include "recording_link.h"
#include "recording_sink.h"

namespace krb::server {
namespace {

using testing::FakeExports;
using testing::RecordingLink;

constexpr int kPlateResultBase = 10;
constexpr int kSlotResultBase = 20;

class DispatchThroughLinkTest : public ::testing::Test {
  protected:
    DispatchThroughLinkTest() {
        core_.SetPlateUpdater([](TPlateUpdate form, const std::string& text) {
            if (text.find("boom") != std::string::npos) throw std::runtime_error("boom");
            return kPlateResultBase + static_cast<int>(form);
        });
        core_.SetSlotUpdater([](TSlotUpdate form, const std::string&) {
            return kSlotResultBase + static_cast<int>(form);
        });
    }

    // Runs the loop until the link closes or a generous guard has passed.
    void RunUntilClosed(const RecordingLink& link) {
        const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (link.IsOpen() && std::chrono::steady_clock::now() < guard) {
            core_.Loop().run_one_for(std::chrono::milliseconds(20));
        }
    }

    LabServer core_{FakeExports()};
};

TEST_F(DispatchThroughLinkTest, EveryPrefixGetsItsReplyAndItsEnding) {
    struct Case {
        std::string text;
        std::vector<std::string> sent;
        bool closed;
    };
    const std::vector<Case> cases{
        {"DrawLab", {"E1\r\n"}, false},  // no CR
        {"KRB2ReadReadyFlag(7)\r", {"E2\r\n"}, false},
        {"KRB2ReadReadyFlag\r", {"E2\r\n"}, false},
        {"krb2ReadReadyFlag(7)\r", {}, false},
        {"UpdatePlateName(U,1,x)\r", {"10\r\n"}, true},
        {"UpdatePlatePP(U,1,1)\r", {"11\r\n"}, true},
        {"UpdatePlateUnloadDate(U,1,2)\r", {"15\r\n"}, true},
        {"UpdatePlateColour(U,1)\r", {"0\r\n"}, true},
        {"UpdateSlotZPitch(U,1,3)\r", {"20\r\n"}, true},
        {"UpdateSlotLevelsX\r", {"21\r\n"}, true},  // the first 16 characters decide
        {"UpdateSlotLevel(U,1)\r", {"0\r\n"}, true},
        {"GET /favicon.ico HTTP/1.1\r\n", {}, false},
        {"GET /PlateExp/NoSuchView HTTP/1.1\r\n", {}, true},  // closed after the pause
        {"PlateExp/DrawLab\r", {}, true},
        {"KRBServiceSockets\r", {}, false},
    };
    for (const auto& c : cases) {
        auto link = std::make_shared<RecordingLink>();
        core_.ReceiveText(link, c.text);
        if (c.closed) RunUntilClosed(*link);
        EXPECT_EQ(link->Sent(), c.sent) << c.text;
        EXPECT_EQ(!link->IsOpen(), c.closed) << c.text;
    }
    EXPECT_EQ(core_.ServiceSockets().size(), 1u);  // "KRBServiceSockets" begins with the name
}

// An update the server recognised is kept with its result, whatever it was; an unknown form
// changed nothing and is not.
TEST_F(DispatchThroughLinkTest, RecognisedUpdatesAreRecordedWithTheirResult) {
    const struct {
        std::string text;
        std::string command;  // "" when not recorded
        std::string arguments;
        std::string reply;
    } cases[] = {
        {"UpdatePlateBCR(Store4,12,P0003)\r", "UpdatePlateBCR", "12,P0003", "12"},
        {"UpdatePlateName(Store4,12,Assay 3)\r", "UpdatePlateName", "12,Assay 3", "10"},
        {"UpdateSlotLevels(Store4,3,5)\r", "UpdateSlotLevels", "3,5", "21"},
        {"UpdatePlateColour(Store4,1)\r", "", "", ""},
    };
    for (const auto& c : cases) {
        testing::RecordingSink sink;
        auto link = std::make_shared<RecordingLink>();
        core_.ReceiveText(link, c.text);
        RunUntilClosed(*link);
        const auto commands = sink.Commands();
        if (c.command.empty()) {
            EXPECT_TRUE(commands.empty()) << c.text;
            continue;
        }
        ASSERT_EQ(commands.size(), 1u) << c.text;
        const auto& origin = commands[0].Origin;
        EXPECT_EQ(origin.Client, "test:0");
        EXPECT_EQ(origin.UnitId, "Store4");
        EXPECT_EQ(origin.Command, c.command);
        EXPECT_EQ(origin.Arguments, c.arguments);
        EXPECT_EQ(commands[0].Reply, c.reply);
    }
}

TEST_F(DispatchThroughLinkTest, AViewIsSentAsHeaderThenDocumentBeforeTheClose) {
    auto link = std::make_shared<RecordingLink>();
    core_.ReceiveText(link, "GET /PlateExp/DrawLab HTTP/1.1\r\n");
    RunUntilClosed(*link);
    const auto sent = link->Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_TRUE(sent[0].starts_with("HTTP/1.1 200 OK\n")) << sent[0];
    EXPECT_NE(sent[1].find("<MyLabPlate>"), std::string::npos) << sent[1];
    EXPECT_FALSE(link->IsOpen());
}

TEST_F(DispatchThroughLinkTest, AFailingDispatchIsLoggedAndLeavesTheLinkOpen) {
    testing::TempFolder folder;
    const std::string log = (folder.path() / "server.log").string();
    const std::string config = folder.File("DriverConfig.lni", "[TCP]\r\nLogFile=server.log\r\n");
    core_.LoadConfiguration(config);
    auto link = std::make_shared<RecordingLink>();
    core_.ReceiveText(link, "UpdatePlateCheckDate(boom)\r");
    EXPECT_TRUE(link->Sent().empty());
    EXPECT_TRUE(link->IsOpen());
    std::ifstream file(log, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(file)), {});
    EXPECT_NE(content.find(";Error=std::runtime_error,Message=boom;RH=;RA=test;RP=0\r\n"),
              std::string::npos)
        << content;
}

}  // namespace
}  // namespace krb::server
