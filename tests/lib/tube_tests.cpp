// The tube store's own operations on the wire: coordinate words, waits, failure codes and
// the tube inventory with its file.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "operation_support.h"
#include "platform/operator_message.h"
#include "sim/barcode_reader.h"
#include "support/temp_dir.h"

namespace krb::test {
namespace {

class TubeStore : public UnitOnEmulator {
  protected:
    void SetUp() override {
        UnitOnEmulator::SetUp();
        unit->SetKVL(true);
    }
    void openReader() { ASSERT_EQ(unit->BCRPath("12"), "1"); }
    void setCode(std::string code) {
        std::lock_guard guard(codeMutex);
        readerCode = std::move(code);
    }
    static std::string read(const std::filesystem::path& path) {
        return test_support::readWholeFile(path.string());
    }
    bool idleSoon() { return busyClearsWithin(std::chrono::seconds(20)); }

    std::mutex codeMutex;
    std::string readerCode;
    sim::BarcodeReader reader{ports, 12,
                              [this]() -> std::optional<std::string> {
                                  std::lock_guard guard(codeMutex);
                                  if (readerCode.empty()) return std::nullopt;
                                  return readerCode;
                              },
                              10};
    test_support::TempDir scratch{"tubes"};
    std::filesystem::path folder = scratch.path();
};

TEST_F(TubeStore, MoveVialRefusesWithoutTrafficWhatItCannotMove) {
    Lines lines = linesAfter([&] {
        EXPECT_EQ(unit->MoveVial("0", "0", "3", "1", "4", "5", "1"), "-3") << "coordinate 0";
        EXPECT_EQ(unit->MoveVial("0", "1", "3", "1", "4", "5", "x"), "-3");
        EXPECT_EQ(unit->MoveVial("0", "1", "3", "1", "4", "100", "1"), "-3");
        EXPECT_EQ(unit->MoveVial("2", "1", "3", "0", "4", "5", "1"), "1") << "no such motion";
    });
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(unit->busy());
    unit->markInitialized(false);
    EXPECT_EQ(unit->MoveVial("0", "1", "3", "1", "4", "5", "1"), "-1");
}

TEST_F(TubeStore, MoveVialBetweenPlatesPacksBothCoordinatesIntoOneWord) {
    Lines lines =
        linesAfter([&] { EXPECT_EQ(unit->MoveVial("0", "12", "3", "1", "4", "5", "7"), "1"); });
    EXPECT_EQ(untilStart(lines), (Lines{"WR DM0 1042", "WR DM5 1283", "ST 1904"}));
    lines = linesAfter([&] { EXPECT_EQ(unit->MoveVial("1", "12", "3", "0", "4", "5", "7"), "1"); });
    EXPECT_EQ(untilStart(lines), (Lines{"WR DM0 4612", "WR DM5 773", "ST 1905"}));
    model->failMotion(1905);
    EXPECT_EQ(unit->MoveVial("1", "12", "3", "0", "4", "5", "7"), "-6");
    EXPECT_FALSE(unit->busy());
}

TEST_F(TubeStore, MoveVialWithinAPlateGetsThenSets) {
    Lines lines =
        linesAfter([&] { EXPECT_EQ(unit->MoveVial("0", "12", "3", "0", "4", "5", "7"), "1"); });
    Lines writes;
    for (const auto& line : lines)
        if (line.rfind("WR", 0) == 0 || line.rfind("ST", 0) == 0) writes.push_back(line);
    EXPECT_EQ(writes,
              (Lines{"WR DM0 18", "WR DM5 3", "ST 1907", "WR DM0 4", "WR DM5 5", "ST 1906"}));
    lines = linesAfter([&] { EXPECT_EQ(unit->MoveVial("1", "1", "1", "1", "2", "2", "0"), "1"); });
    EXPECT_TRUE(contains(lines, "ST 1908") && contains(lines, "ST 1909"));
    model->failMotion(1909);
    EXPECT_EQ(unit->MoveVial("1", "1", "1", "1", "2", "2", "0"), "-5");
    model->failMotion(1907);
    EXPECT_EQ(unit->MoveVial("0", "1", "1", "0", "2", "2", "0"), "-4");
}

TEST_F(TubeStore, MoveVialWaitsForAnotherOperationThenGivesUp) {
    ASSERT_TRUE(unit->tryClaimBusy());
    EXPECT_EQ(
        linesAfter([&] { EXPECT_EQ(unit->MoveVial("0", "1", "1", "1", "2", "2", "0"), "-2"); }),
        Lines{});
    EXPECT_TRUE(unit->busy()) << "another caller's token is not cleared";
}

TEST_F(TubeStore, ReadVialBarcodeWritesBothEncodings) {
    EXPECT_EQ(unit->ReadVialBarcode("3", "7", "1"), "BCRError") << "no reader";
    openReader();
    unit->markInitialized(false);
    EXPECT_EQ(unit->ReadVialBarcode("3", "7", "1"), "InitError");
    unit->markInitialized(true);
    setCode("TUBE-37");
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->ReadVialBarcode("3", "7", "1"), "TUBE-37"); });
    EXPECT_EQ(linesStartingWith(lines, "WR"), (Lines{"WR DM0 768", "WR DM5 1792"}));
    EXPECT_EQ(lines.back(), "RD 1915") << "waits after leaving scan mode";
    EXPECT_TRUE(contains(lines, "RS 1910"));
    setCode("");
    lines = linesAfter([&] { EXPECT_EQ(unit->ReadVialBarcode("12", "3", "0"), "No Barcode"); });
    EXPECT_EQ(linesStartingWith(lines, "WR"), (Lines{"WR DM0 18", "WR DM5 3"}));
    controller.setFixedReply("WR DM5 3", "E1");
    EXPECT_EQ(unit->ReadVialBarcode("12", "3", "0"), "BCRError") << "a write not accepted";
    EXPECT_EQ(linesAfter([&] { EXPECT_EQ(unit->ReadVialBarcode("x", "3", "0"), "BCRError"); }),
              Lines{});
}

TEST_F(TubeStore, PlateFillTubesRunsEveryPositionOnlyForRealTransfers) {
    Lines lines = linesAfter([&] {
        EXPECT_EQ(unit->PlateFillTubes("1", "1", "0"), "-3");
        EXPECT_EQ(unit->PlateFillTubes("2", "0", "0"), "1");
        EXPECT_EQ(unit->PlateFillTubes("0", "1", "1"), "1") << "the whole-unit flag moves nothing";
    });
    EXPECT_TRUE(lines.empty());
    controller.registers().setDm(29, 2);
    controller.registers().setDm(25, 2);
    lines = linesAfter([&] { EXPECT_EQ(unit->PlateFillTubes("0", "1", "0"), "1"); });
    EXPECT_EQ(linesStartingWith(lines, "ST"), Lines(4, "ST 1904"));
    EXPECT_EQ(linesStartingWith(lines, "WR DM0"),
              (Lines{"WR DM0 1", "WR DM0 1", "WR DM0 2", "WR DM0 2"}));
    model->failMotion(1905);
    lines = linesAfter([&] { EXPECT_EQ(unit->PlateFillTubes("1", "0", "0"), "-4"); });
    EXPECT_EQ(linesStartingWith(lines, "ST"), Lines{"ST 1905"}) << "the first failure ends the run";
    EXPECT_FALSE(unit->busy());
}

TEST_F(TubeStore, GetPlateVerifyWithoutPositionKeepsAValidOne) {
    EXPECT_EQ(unit->GetPlateVerify("0", "0", "0"), "-3") << "no reader";
    openReader();
    EXPECT_EQ(unit->GetPlateVerify("x", "0", "0"), "-3");
    controller.registers().setDm(5, 4);
    setCode("RACK-9");
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->GetPlateVerify("0", "2", "0"), "RACK-9"); });
    EXPECT_EQ(untilStart(lines), (Lines{"ST 1613", "RD DM0", "WR DM0 1", "RD DM5", "ST 1907"}));
    lines = linesAfter([&] { EXPECT_EQ(unit->GetPlateVerify("3", "2", "1"), "No Plate"); });
    EXPECT_EQ(untilStart(lines), (Lines{"ST 1613", "WR DM0 3", "WR DM5 2", "ST 1904"}));
    EXPECT_EQ(lines.back(), "RD 1808");
    controller.registers().setRelay(1808, true);
    EXPECT_EQ(unit->GetPlateVerify("3", "2", "1"), "RACK-9");
    model->failMotion(1904);
    lines = linesAfter([&] { EXPECT_EQ(unit->GetPlateVerify("3", "2", "1"), "-3"); });
    EXPECT_EQ(lines.back(), "RS 1613");
    EXPECT_FALSE(unit->busy());
}

TEST_F(TubeStore, TubeInventoryIsRunningBeforeItsStartAnswers) {
    openReader();
    controller.registers().setDm(29, 10);
    controller.registers().setDm(25, 1);
    setCode("T");
    auto file = folder / "mode1.txt";
    ASSERT_EQ(unit->VialsInventory(file.string(), "1", "0"), "1");
    EXPECT_EQ(unit->IsOperationRunning(), "1");
    ASSERT_TRUE(idleSoon());
    Lines rows = linesStartingWith(controller.lines(), "WR DM0");
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows[8], "WR DM0 2304");
    EXPECT_EQ(rows[9], "WR DM0 4096");
    std::string content = read(file);
    EXPECT_EQ(content.substr(0, 9), "1,1,1,T\r\n");
    EXPECT_NE(content.find("1,10,1,T\r\n"), std::string::npos);
    EXPECT_EQ(unit->inventoryFile(), file.string());
}

// A row the handler never reached has no barcodes to give: its tubes are unread, not empty,
// and the scan is not complete.
TEST_F(TubeStore, TubeInventoryMarksTubesOfAnUnreachedRowUnread) {
    openReader();
    controller.registers().setDm(29, 3);
    controller.registers().setDm(25, 2);
    controller.silenceCommand("WR DM0 2");
    auto file = folder / "lost-row.txt";
    ASSERT_EQ(unit->VialsInventory(file.string(), "0", "0"), "1");
    ASSERT_TRUE(idleSoon());
    EXPECT_EQ(read(file),
              "0,1,1,<null>\r\n0,1,2,<null>\r\n0,2,1,<unread>\r\n0,2,2,<unread>\r\n"
              "0,3,1,<null>\r\n0,3,2,<null>\r\n");
    EXPECT_FALSE(unit->lastScanComplete());
    controller.clearFixedReplies();
}

TEST_F(TubeStore, TubeInventoryInModeZeroWritesTheDigitsAndNullForNoCode) {
    openReader();
    controller.registers().setDm(29, 10);
    controller.registers().setDm(25, 2);
    auto file = folder / "mode0.txt";
    ASSERT_EQ(unit->VialsInventory(file.string(), "0", "0"), "1");
    ASSERT_TRUE(idleSoon());
    Lines lines = controller.lines();
    Lines rows = linesStartingWith(lines, "WR DM0");
    EXPECT_EQ(rows[8], "WR DM0 9");
    EXPECT_EQ(rows[9], "WR DM0 16");
    EXPECT_EQ(linesStartingWith(lines, "ST 1910").size(), 10u) << "once per row";
    EXPECT_EQ(linesStartingWith(lines, "RS 1910").size(), 10u);
    std::string content = read(file);
    EXPECT_EQ(content.substr(0, 26), "0,1,1,<null>\r\n0,1,2,<null>");
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 20);
}

TEST_F(TubeStore, TubeInventoryStartIsRefusedWithoutReaderOrWhileBusy) {
    EXPECT_EQ(unit->VialsInventory((folder / "a.txt").string(), "0", "0"), "-3");
    EXPECT_EQ(unit->inventoryFile(), (folder / "a.txt").string()) << "the name is kept even so";
    openReader();
    ASSERT_TRUE(unit->tryClaimBusy());
    EXPECT_EQ(unit->VialsInventory((folder / "a.txt").string(), "0", "0"), "-2");
    unit->markInitialized(false);
    EXPECT_EQ(unit->VialsInventory("", "0", "0"), "-1");
    EXPECT_FALSE(std::filesystem::exists(folder / "a.txt"));
}

// KRB2Inventory on a tube store: its vial inventory, with the vial inventory's codes.
TEST_F(TubeStore, WholeUnitInventoryOfATubeStoreIsItsVialInventory) {
    EXPECT_EQ(unit->Inventory2((folder / "a.txt").string(), "1", "0"), "-3") << "no reader";
    openReader();
    controller.registers().setDm(29, 1);
    controller.registers().setDm(25, 2);
    setCode("V1");
    auto file = folder / "vials.txt";
    ASSERT_EQ(unit->Inventory2(file.string(), "1", "0"), "1");
    EXPECT_EQ(unit->Inventory2(file.string(), "1", "0"), "-2") << "still running";
    ASSERT_TRUE(idleSoon());
    EXPECT_EQ(read(file), "1,1,1,V1\r\n1,1,2,V1\r\n") << "the first flag is the mode";
    EXPECT_EQ(linesStartingWith(controller.lines(), "WR DM0 "), Lines{"WR DM0 256"});
    EXPECT_TRUE(linesStartingWith(controller.lines(), "RD 1808").empty()) << "no plate scan";
    unit->markInitialized(false);
    EXPECT_EQ(unit->Inventory2("", "0", "0"), "-1");
}

TEST_F(TubeStore, UnwritableTubeInventoryTellsTheOperatorAndFreesTheUnit) {
    openReader();
    controller.registers().setDm(29, 1);
    controller.registers().setDm(25, 1);
    std::mutex messagesMutex;
    std::vector<std::string> messages;
    platform::setOperatorMessageSink([&](const std::string& caption, const std::string& text) {
        std::lock_guard guard(messagesMutex);
        messages.push_back(caption + "|" + text);
    });
    ASSERT_EQ(unit->VialsInventory((folder / "missing" / "x.txt").string(), "0", "0"), "1");
    EXPECT_TRUE(idleSoon());
    platform::setOperatorMessageSink({});
    EXPECT_EQ(messages, Lines{"Inventory Error!|Error write to file!"});
}

}  // namespace
}  // namespace krb::test
