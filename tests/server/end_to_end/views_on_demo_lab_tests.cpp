// The eight XML views of the demo lab over TCP, byte for byte against the documents in
// golden/ (KRB_UPDATE_GOLDEN=1 rewrites them), each read by a real XML parser.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "demo_lab_server.h"
#include "xml_check.h"

namespace krb::server::e2e {
namespace {

using testing::BodyOf;
using testing::ParseXml;

struct GoldenView {
    const char* request;  // path after "PlateExp/"
    const char* file;
};

constexpr GoldenView kGoldenViews[] = {
    {"DrawLab", "DrawLab.txt"},
    {"DrawTree", "DrawTree.txt"},
    {"DrawSys?id=2", "DrawSys_2.txt"},
    {"DrawUnit?id=Base1", "DrawUnit_Base1.txt"},
    {"DrawSector?unitid=Base1&id=Stock", "DrawSector_Base1_Stock.txt"},
    {"DrawCassette?unitid=Store4&id=9", "DrawCassette_Store4_9.txt"},
    {"UnitContent?id=Tubes5", "UnitContent_Tubes5.txt"},
    {"DrawPlate?unitid=Base1&id=2", "DrawPlate_Base1_2.txt"},
};

std::filesystem::path GoldenFile(const char* name) {
    return std::filesystem::path(KRB_VIEW_GOLDEN_DIR) / name;
}

std::string ReadWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

using ViewsOnDemoLab = DemoLabServerTest;

TEST_F(ViewsOnDemoLab, EveryViewIsTheGoldenDocumentAndWellFormed) {
    const bool update = std::getenv("KRB_UPDATE_GOLDEN") != nullptr;
    for (const auto& view : kGoldenViews) {
        TestClient client(ServerPort());
        client.Send(std::string("GET /PlateExp/") + view.request +
                    " HTTP/1.1\r\nHost: lab\r\n\r\n");
        const std::string reply = client.ReadToEnd();
        if (update) std::ofstream(GoldenFile(view.file), std::ios::binary) << reply;
        EXPECT_EQ(reply, ReadWhole(GoldenFile(view.file))) << view.request;
        const auto parsed = ParseXml(BodyOf(reply));
        EXPECT_TRUE(parsed.WellFormed) << view.request << ": " << parsed.Error;
        EXPECT_EQ(parsed.Root, "MyLabPlate") << view.request;
    }
}

TEST_F(ViewsOnDemoLab, ABrowserGetsTheWholeLabAsOneTree) {
    TestClient client(ServerPort());
    client.Send(
        "GET /PlateExp/DrawTree HTTP/1.1\r\nHost: localhost:3100\r\nUser-Agent: Mozilla/5.0\r\n"
        "Accept: text/html,application/xml;q=0.9,*/*;q=0.8\r\nConnection: keep-alive\r\n\r\n");
    const std::string reply = client.ReadToEnd();
    ASSERT_TRUE(reply.starts_with("HTTP/1.1 200 OK\nServer: KRB\nContent-Type: text/XML\n\n<?xml"));
    const auto parsed = ParseXml(BodyOf(reply));
    ASSERT_TRUE(parsed.WellFormed) << parsed.Error;
    // Every unit, and every location of a cassette that some sector lists: Base1's cassettes
    // 13 and 14 lie in the range of Stock (7-12,15) without being in it.
    for (const char* unit : {"Base1", "Cascader1", "Ext1", "Store4", "Tubes5"}) {
        EXPECT_EQ(Count(reply, std::string("<UnitId>") + unit + "</UnitId>"), 1u) << unit;
    }
    EXPECT_EQ(Count(reply, "<Plate>"), 180u + 200u + 108u + 2u);
    EXPECT_EQ(Count(reply, "<xFerSt>"), 3u);
}

TEST_F(ViewsOnDemoLab, UnitStateShowsInTheNextView) {
    Unit("Store4").Busy = true;
    Unit("Store4").DoorOpened = true;
    TestClient client(ServerPort());
    client.Send("GET /PlateExp/DrawUnit?id=Store4 HTTP/1.1\r\n\r\n");
    const std::string reply = client.ReadToEnd();
    EXPECT_EQ(Count(reply, "<UnitReady>0</UnitReady>\r\n"), 1u);
    EXPECT_EQ(Count(reply, "<UnitDoorOpened>1</UnitDoorOpened>\r\n"), 1u);
}

}  // namespace
}  // namespace krb::server::e2e
