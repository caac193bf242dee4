// Plate inventories on a unit whose controller is the simulator's plate store.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "KRB_Class.h"
#include "PlateInventory.h"
#include "lib_test_support.h"
#include "platform/operator_message.h"
#include "platform/profile_file.h"
#include "sim/line_channel.h"
#include "sim/plate_store_model.h"
#include "support/eventually.h"
#include "support/temp_dir.h"

namespace krb::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

Lines fileLines(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    Lines lines;
    std::string text = content.str(), line;
    for (std::size_t at = 0; at < text.size();) {
        auto end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

constexpr const char* kUnlabelled = "";

sim::MotionTimes quickMotions() {
    sim::MotionTimes times;
    times.position = 10;
    times.reader = 10;
    return times;
}

// The registers the scans read start at zero, as on a unit without a geometry download.
sim::PlateStoreGeometry twoSlotsOfThree() {
    sim::PlateStoreGeometry geometry;
    geometry.slots = 2;
    geometry.levels = 3;
    geometry.barcodeHeight = 0;
    geometry.barcodeOffset = 0;
    return geometry;
}

class Inventory : public ::testing::Test {
  protected:
    void SetUp() override {
        controller.setModel(model);
        model->setRelayedReader([this](int delayMs, sim::LineChannel::Producer produce) {
            controller.sendLater(delayMs, std::move(produce));
        });
        makeReadyAndReferenced(controller);
        unit->SetPortName("COM7");
        ASSERT_EQ(unit->OpenPort(), "1");
        unit->markInitialized(true);
        unit->setGeometry(2, 3);
        unit->SetId("Hotel");
        unit->SetIdSys("Lab");
        platform::setOperatorMessageSink(
            [this](const std::string& caption, const std::string& text) {
                std::lock_guard guard(messageMutex);
                messages.push_back(caption + "|" + text);
            });
    }
    void TearDown() override {
        waitUntilIdle();
        platform::setOperatorMessageSink({});
        unit->Disconnect();
    }
    void relayBarcodes() {
        unit->SetIsCompSv("1");
        unit->SetIsBCR("1");
    }
    bool waitUntilIdle() {
        return test_support::eventually([&] { return !unit->busy(); });
    }
    std::string path(const std::string& name) const { return (folder / name).string(); }
    void put(int slot, int level, const std::string& label) {
        ASSERT_TRUE(plates.add(sim::Place::slot(7, slot, level), label, !label.empty()));
    }
    Lines messagesSeen() {
        std::lock_guard guard(messageMutex);
        return messages;
    }

    test_support::TempDir scratch{"krb-inv"};
    fs::path folder = scratch.path();
    sim::PortDirectory ports;
    sim::PlateWorld plates;
    sim::ControllerEmulator controller{ports, 7};
    std::shared_ptr<sim::PlateStoreModel> model = std::make_shared<sim::PlateStoreModel>(
        7, controller.registers(), plates, quickMotions(), sim::UnitIdentity{}, twoSlotsOfThree());
    std::shared_ptr<TKRB_Class> unit = std::make_shared<TKRB_Class>();
    std::mutex messageMutex;
    Lines messages;
};

TEST_F(Inventory, LongScanWritesExactlyTheLinesOfItsWorld) {
    relayBarcodes();
    put(1, 2, "P-12");
    put(2, 1, "P-21");
    put(2, 3, kUnlabelled);
    unit->SetSector(1, 1, "Left");
    unit->SetSector(2, 2, "Right");
    ASSERT_EQ(unit->Inventory2(path("all.inv"), "1", "1"), "1");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(fileLines(path("all.inv")), (Lines{
                                              "<null>,,Left,0,1,Lab,Hotel,1,1,0",
                                              "P-12,,Left,1,2,Lab,Hotel,1,2,0",
                                              "<null>,,Left,0,3,Lab,Hotel,1,3,0",
                                              "P-21,,Right,1,4,Lab,Hotel,2,1,0",
                                              "<null>,,Right,0,5,Lab,Hotel,2,2,0",
                                              "<null>,,Right,1,6,Lab,Hotel,2,3,0",
                                          }));
    EXPECT_FALSE(unit->ReadBackStr("RD 1910").is("1")) << "scan mode is left";
}

TEST_F(Inventory, ShortScanReadsTheCassetteTableAndRelay200) {
    put(2, 4, "x");
    unit->SetCassetteConfig("1", "1", "0");
    unit->SetCassetteConfig("2", "4", "37");
    ASSERT_EQ(unit->InventoryCassets(path("short.inv"), "1", "0"), "1");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(fileLines(path("short.inv")),
              (Lines{"1,1,0,0,<null>", "2,1,0,0,<null>", "2,2,0,0,<null>", "2,3,0,0,<null>",
                     "2,4,0,1,<null>"}));
    auto lines = controller.lines();
    EXPECT_EQ(linesStartingWith(lines, "WR DM23 ").size(), 4u)
        << "pitch before every level of slot 2";
    EXPECT_TRUE(linesStartingWith(lines, "RD 1808").empty());
}

TEST_F(Inventory, CassetteTableCountsForTheLongScanOnlyWhenSwitchedOn) {
    unit->setGeometry(1, unit->maxLevel());
    unit->SetCassetteConfig("1", "1", "55");
    ASSERT_EQ(unit->Inventory2(path("off.inv"), "0", "0"), "1");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(fileLines(path("off.inv")).size(), 3u);
    EXPECT_TRUE(linesStartingWith(controller.lines(), "WR DM23 ").empty());
    unit->SetUseCassetteConfTable(true);
    ASSERT_EQ(unit->Inventory2(path("on.inv"), "0", "0"), "1");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(fileLines(path("on.inv")), (Lines{"<null>,,,0,1,Lab,Hotel,1,1,0"}));
    EXPECT_TRUE(contains(controller.lines(), "WR DM23 55"));
}

TEST_F(Inventory, HeightCorrectionMovesTheReaderBeforeDetectingAndBackBeforeReading) {
    relayBarcodes();
    unit->setGeometry(1, 2);
    put(1, 2, "B");
    controller.registers().setDm(27, 400);
    controller.registers().setDm(6, 20);
    ASSERT_EQ(unit->Inventory2(path("h.inv"), "1", "1"), "1");
    ASSERT_TRUE(waitUntilIdle());
    // 500 - 400 + DM6 at each position; an empty position keeps the corrected height (the
    // emulator does not move it back), the plate's position restores it before reading.
    EXPECT_EQ(linesStartingWith(controller.lines(), "WR DM6 "),
              (Lines{"WR DM6 120", "WR DM6 220", "WR DM6 120"}));
    EXPECT_EQ(fileLines(path("h.inv"))[1], "B,,,1,2,Lab,Hotel,1,2,0");
}

TEST_F(Inventory, EmptyScansWriteEmptyFiles) {
    sim::LineChannel reader(ports, 12, [](const std::string&) { return std::nullopt; });
    unit->setGeometry(0, unit->maxLevel());
    unit->markInitialized(false);
    ASSERT_EQ(unit->BCRPath("12"), "1");
    ASSERT_EQ(unit->InventoryCassets(path("none.inv"), "1", "1"), "1");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_TRUE(fs::exists(path("none.inv")));
    EXPECT_EQ(fs::file_size(path("none.inv")), 0u);

    unit->markInitialized(true);
    EXPECT_EQ(unit->InventorySlot("1", "5", "3", path("slot.inv"), "1", "0"), "1");
    EXPECT_TRUE(fs::exists(path("slot.inv")));
    EXPECT_EQ(fs::file_size(path("slot.inv")), 0u);
    EXPECT_FALSE(unit->busy());
}

TEST_F(Inventory, SlotInventoryScansTheGivenLevelsWhileTheCallerWaits) {
    put(2, 2, "Q");
    unit->SetCassetteConfig("2", "3", "0");
    EXPECT_EQ(unit->InventorySlot("2", "2", "4", path("s.inv"), "1", "0"), "4");
    EXPECT_EQ(unit->InventorySlot("2", "1", "3", path("s.inv"), "1", "0"), "1");
    EXPECT_EQ(fileLines(path("s.inv")),
              (Lines{"2,1,0,0,<null>", "2,2,0,1,<null>", "2,3,0,0,<null>"}));
    EXPECT_EQ(unit->InventorySlot("x", "1", "3", path("bad.inv"), "1", "0"), "3");
    EXPECT_FALSE(fs::exists(path("bad.inv")));
    EXPECT_EQ(unit->InventorySlot("2", "1", "1", path("no/such/folder/s.inv"), "1", "0"), "3");
    EXPECT_FALSE(unit->busy());
}

TEST_F(Inventory, DetectionOffWithBarcodesGivesPresentZeroEverywhere) {
    relayBarcodes();
    unit->setGeometry(1, 2);
    put(1, 1, "L1");
    ASSERT_EQ(unit->Inventory2(path("d.inv"), "0", "1"), "1");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(fileLines(path("d.inv")),
              (Lines{"L1,,,0,1,Lab,Hotel,1,1,0", "<null>,,,0,2,Lab,Hotel,1,2,0"}));
}

TEST_F(Inventory, SectorsLaterDefinitionsWin) {
    unit->setGeometry(3, 1);
    unit->SetSector(1, 3, "Wide");
    unit->SetSector(2, 2, "Narrow");
    unit->SetSector(3, 3, "Part");
    unit->SetSector(1, 1, "Part");
    ASSERT_EQ(unit->PartitionInventory2(path("p.inv"), "Part", "0", "0"), "1");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(fileLines(path("p.inv")), (Lines{"<null>,,Part,0,1,Lab,Hotel,1,1,0"}));
    ASSERT_EQ(unit->Inventory2(path("all.inv"), "0", "0"), "1");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(fileLines(path("all.inv")),
              (Lines{"<null>,,Part,0,1,Lab,Hotel,1,1,0", "<null>,,Narrow,0,2,Lab,Hotel,2,1,0",
                     "<null>,,Part,0,3,Lab,Hotel,3,1,0"}));
}

TEST_F(Inventory, StartsRefuseInTheirOrder) {
    unit->SetSector(0, 2, "Zero");
    EXPECT_EQ(unit->PartitionInventory2("", "Nowhere", "1", "0"), "4");
    EXPECT_EQ(unit->PartitionInventory2("", "Zero", "1", "0"), "5");
    EXPECT_EQ(unit->Inventory2(path("b.inv"), "1", "1"), "3") << "barcodes without a reader";
    EXPECT_EQ(unit->InventoryCassets2(path("b.inv"), "1", "1"), "3");
    unit->SetSector(1, 1, "One");
    EXPECT_EQ(unit->PartitionInventory2(path("b.inv"), "One", "1", "1"), "3");
    EXPECT_FALSE(unit->busy());
    EXPECT_TRUE(controller.lines().empty()) << "no refusal reaches the controller";

    unit->SetIsCompSv("1");
    EXPECT_EQ(unit->Inventory2(path("b.inv"), "1", "1"), "3") << "relayed reader needs IsBCR too";
    unit->SetIsBCR("1");
    EXPECT_EQ(unit->Inventory2(path("b.inv"), "1", "1"), "1");
    ASSERT_TRUE(waitUntilIdle());

    unit->markInitialized(false);
    EXPECT_EQ(unit->Inventory2("", "1", "0"), "0");
    EXPECT_EQ(unit->PartitionInventory2("", "One", "1", "0"), "0");
    EXPECT_EQ(unit->InventoryCassets("", "1", "0"), "0");
    EXPECT_EQ(unit->InventorySlot("1", "1", "1", "", "1", "0"), "0");
}

// Without a reader no barcode was read: the record's barcode must stay, not become "none".
TEST_F(Inventory, ShortScanStartsWithBarcodesAndNoReaderAndMarksTheBarcodesUnread) {
    unit->setGeometry(1, 1);
    ASSERT_EQ(unit->InventoryCassets(path("r.inv"), "0", "1"), "1");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(fileLines(path("r.inv")), (Lines{"1,1,0,0,<unread>"}));
}

TEST_F(Inventory, ScanHoldsBusyFromItsStartAndASecondStartLeavesItAlone) {
    put(2, 2, "A");
    ASSERT_EQ(unit->Inventory2(path("first.inv"), "1", "0"), "1");
    EXPECT_EQ(unit->IsOperationRunning(), "1") << "busy before the start answered";
    EXPECT_EQ(unit->Inventory2(path("second.inv"), "0", "0"), "2");
    EXPECT_EQ(unit->InventorySlot("1", "1", "1", path("slot.inv"), "1", "0"), "1")
        << "waits for the scan, then runs";
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_FALSE(fs::exists(path("second.inv")));
    auto lines = fileLines(path("first.inv"));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], "<null>,,,1,5,Lab,Hotel,2,2,0") << "the first scan's flags held";
}

TEST_F(Inventory, MoveErrorWritesNoFileAndFreesTheUnit) {
    ASSERT_TRUE(platform::replaceFileAtomically(path("kept.inv"), "old\r\n"));
    model->failScanAt(2, 1, 0x4109);
    ASSERT_EQ(unit->Inventory2(path("kept.inv"), "1", "0"), "1");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(fileLines(path("kept.inv")), (Lines{"old"}));
    EXPECT_EQ(messagesSeen(),
              (Lines{"Error|Inventory Error\r\rUnit ID:Hotel\r\rError Code:16649"}));
    auto lines = controller.lines();
    EXPECT_EQ(lines.back(), "RS 1910");
    EXPECT_EQ(linesStartingWith(lines, "WR DM5 ").back(), "WR DM5 1")
        << "the scan stops at the failed position";
}

// Neither "1" nor "0" from the detector: no plate in the file, one message naming the places.
TEST_F(Inventory, UnreadableDetectorMarksThePositionUnreadableAndTellsTheOperatorOnce) {
    unit->setGeometry(1, 2);
    put(1, 1, "A");
    put(1, 2, "B");
    const Lines unreadable{"#unreadable,1,1", "#unreadable,1,2"};
    const std::string message =
        "Inventory Error|Position not readable\r\rUnit ID:Hotel\r\rSlot/Level:1/1, 1/2";
    struct Scan {
        const char* name;
        const char* detector;
        std::function<std::string(const std::string&)> start;
        const char* answer;  // the slot scan answers when it ends: no plain success
    };
    const std::vector<Scan> scans{
        {"short", "RD 200", [&](auto& file) { return unit->InventoryCassets(file, "1", "0"); },
         "1"},
        {"slot", "RD 1808",
         [&](auto& file) { return unit->InventorySlot("1", "1", "2", file, "1", "0"); }, "3"},
        {"long", "RD 1808", [&](auto& file) { return unit->Inventory2(file, "1", "0"); }, "1"}};
    for (const Scan& scan : scans) {
        for (const char* fault : {"silence", "noise", "stray"}) {
            SCOPED_TRACE(std::string(scan.name) + " scan, " + fault);
            if (fault == std::string("silence"))
                controller.silenceCommand(scan.detector);
            else if (fault == std::string("noise"))
                controller.setFixedReply(scan.detector, "?\xb1");
            else
                controller.setFixedReply(scan.detector, "OK");  // a late reply to a write
            {
                std::lock_guard guard(messageMutex);
                messages.clear();
            }
            const std::string file = path(std::string(scan.name) + fault + ".inv");
            ASSERT_EQ(scan.start(file), scan.answer);
            ASSERT_TRUE(waitUntilIdle());
            EXPECT_EQ(fileLines(file), unreadable);
            for (int i = 0; i < 500 && messagesSeen().empty(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            EXPECT_EQ(messagesSeen(), Lines{message});
            controller.clearFixedReplies();
        }
    }
}

TEST_F(Inventory, UnreadablePositionsListedInOneBoundedMessage) {
    std::vector<inventory::TSlotPosition> positions;
    inventory::reportUnreadablePositions(*unit, positions);
    EXPECT_TRUE(messagesSeen().empty()) << "nothing to tell";
    for (int level = 1; level <= 21; ++level) positions.push_back({3, level});
    inventory::reportUnreadablePositions(*unit, positions);
    ASSERT_EQ(messagesSeen().size(), 1u);
    const std::string text = messagesSeen().front();
    EXPECT_NE(text.find("Slot/Level:3/1, 3/2, "), std::string::npos) << text;
    EXPECT_NE(text.find("3/20, ... (21 positions)"), std::string::npos) << text;
    EXPECT_EQ(text.find("3/21"), std::string::npos) << "twenty are listed";
}

TEST_F(Inventory, UnwritableFileIsReportedAfterBusyCleared) {
    unit->setGeometry(1, 1);
    ASSERT_EQ(unit->Inventory2(path("missing/x.inv"), "0", "0"), "1");
    ASSERT_TRUE(waitUntilIdle());
    for (int i = 0; i < 500 && messagesSeen().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(messagesSeen(), (Lines{"Inventory Error!|Error write to file!"}));
}

// --- generated names

class InventoryNames : public ::testing::Test {
  protected:
    void SetUp() override {
        previous = fs::current_path();
        fs::current_path(scratch.path());
    }
    void TearDown() override { fs::current_path(previous); }
    static void touch(const std::string& name) { std::ofstream(name) << ""; }
    test_support::TempDir scratch{"krb-names"};
    fs::path previous;
};

TEST_F(InventoryNames, CountersThenLettersAdvance) {
    std::tm date{};
    date.tm_year = 2026 - 1900;
    date.tm_mon = 11;
    date.tm_mday = 7;
    EXPECT_EQ(inventory::generatedFileName("1234", date), "1234_A26120700.inv");
    touch("1234_A26120700.inv");
    EXPECT_EQ(inventory::generatedFileName("1234", date), "1234_A26120701.inv");
    for (int counter = 0; counter <= 99; ++counter)
        touch("1234_A261207" + std::string(counter < 10 ? "0" : "") + std::to_string(counter) +
              ".inv");
    EXPECT_EQ(inventory::generatedFileName("1234", date), "1234_B26120700.inv");
    date.tm_year = 2009 - 1900;
    EXPECT_EQ(inventory::generatedFileName("", date),
              "_A91207"
              "00.inv");
}

TEST_F(InventoryNames, SerialNumberLosesOneLeadingZero) {
    sim::PortDirectory ports;
    sim::ControllerEmulator controller{ports, 7};
    makeReadyAndReferenced(controller);
    controller.setFixedReply("RD DM109", "0123");
    auto unit = std::make_shared<TKRB_Class>();
    unit->SetPortName("COM7");
    ASSERT_EQ(unit->OpenPort(), "1");
    ASSERT_EQ(unit->OpenCommunication(), "1");
    unit->markInitialized(true);
    ASSERT_EQ(unit->Inventory2("", "0", "0"), "1");
    EXPECT_EQ(unit->inventoryFile().rfind("123_A", 0), 0u) << unit->inventoryFile();
    while (unit->busy()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(fs::exists(unit->inventoryFile()));
    ASSERT_EQ(unit->Inventory2("", "0", "0"), "1");
    std::string second = unit->inventoryFile();
    while (unit->busy()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(second.substr(second.size() - 6), "01.inv");
    unit->Disconnect();
}

}  // namespace
}  // namespace krb::test
