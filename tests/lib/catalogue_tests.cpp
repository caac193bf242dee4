// The operation exports as callers see them: result slots, not-registered results and
// the conversions the exports make themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "KRB_lib.h"
#include "lib_test_support.h"

namespace krb::test {
namespace {

using Lines = std::vector<std::string>;

TEST(CatalogueUnregistered, EachFamilyGivesItsOwnResult) {
    EXPECT_STREQ(KRBAlternateXferStation("42", "1"), "0");
    EXPECT_STREQ(KRBManualAccess("42", "1"), "-1");
    EXPECT_STREQ(KRBIsCascader("42"), "");
    EXPECT_STREQ(KRBIsBase("42"), "");
    EXPECT_STREQ(KRBIsExt("42"), "");
    EXPECT_STREQ(KRB2Swap("42", "1"), "");
    EXPECT_STREQ(KRB2ReadActualClimate("42"), "");
    EXPECT_STREQ(KRBCompleteTransferCommand("42", "1"), "");
    EXPECT_STREQ(KRBGetIsBCR("42"), "");
    EXPECT_STREQ(KRBMovePlate("42", "1", "1", "2", "2"), "");
    KRB2WriteSetClimate("42", "1", "2", "3", "4");
    KRBSetSector("42", "1", "2", "A");
}

class Catalogue : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_STREQ(KRBConnect("6"), "1"); }
    void TearDown() override { KRBDisconnect("6"); }

    template <class Action>
    Lines linesAfter(Action action) {
        controller.clearTranscript();
        action();
        return controller.lines();
    }

    sim::PortDirectory ports;
    sim::ControllerEmulator controller{ports, 6};
};

TEST_F(Catalogue, CombinedClimateCallsKeepTheirOrder) {
    EXPECT_EQ(linesAfter([] { KRB2WriteSetClimate("6", "37", "90", "5", "1"); }),
              (Lines{"WR DM890 370", "WR DM893 900", "WR DM894 500", "WR DM895 100"}));
    std::string climate = KRB2ReadActualClimate("6");
    EXPECT_EQ(std::count(climate.begin(), climate.end(), ';'), 3);
    EXPECT_STREQ(KRB2ReadSetClimate("6"), "037.00;090.00;005.00;001.00");
    EXPECT_EQ(linesAfter([] { KRB2ActivateShaker("6", "250"); }),
              (Lines{"WR DM39 250", "ST 1913"}));
    EXPECT_STREQ(KRB2ReadSetShakerSpeed("6"), "250");
}

TEST_F(Catalogue, SelectorsFoldTwoOperations) {
    EXPECT_EQ(linesAfter([] { EXPECT_STREQ(KRB2Swap("6", "1"), "1"); }), Lines{"ST 1912"});
    EXPECT_EQ(linesAfter([] { KRB2Swap("6", "0"); }), Lines{"RS 1912"});
    EXPECT_EQ(linesAfter([] { KRB2Swap("6", ""); }), Lines{"RS 1912"});
    EXPECT_EQ(linesAfter([] { KRB2Lock("6", "1"); }), (Lines{"ST 1701", "RD 1811"}));
    EXPECT_EQ(linesAfter([] { KRB2Lock("6", "yes"); }), Lines{"RS 1701"});
}

TEST_F(Catalogue, RoleFlagsAreFalseOnlyForZero) {
    KRBSetCascader("6", "");
    EXPECT_STREQ(KRBIsCascader("6"), "1");
    KRBSetCascader("6", "0");
    EXPECT_STREQ(KRBIsCascader("6"), "0");
    KRBSetBase("6", "x");
    KRBSetExt("6", "0");
    EXPECT_STREQ(KRBIsBase("6"), "1");
    EXPECT_STREQ(KRBIsExt("6"), "0");
    KRBSetIsBCR("6", "1");
    EXPECT_STREQ(KRBGetIsBCR("6"), "1");
}

TEST_F(Catalogue, SectorAndDoorConversions) {
    KRBSetSector("6", "x", "5", "Bad");
    KRB2DefineSector("6", "1", "5", "Good");
    EXPECT_STREQ(KRBReadSectorSlot("6", "Bad"), "0,0");
    EXPECT_STREQ(KRBReadSectorSlot("6", "Good"), "1,5");
    EXPECT_STREQ(KRBReadSectorName("6", "3"), "Good");
    EXPECT_STREQ(KRBReadSectorName("6", "three"), "");
    KRBDeleteSectors("6");
    EXPECT_STREQ(KRBReadSectorName("6", "3"), "");
    KRBSetId("6", "Incubator 1");
    KRBSetIdSys("6", "Lab");
    EXPECT_STREQ(KRBGetId("6"), "Incubator 1");
    EXPECT_STREQ(KRBGetIdSys("6"), "Lab");

    makeReadyAndReferenced(controller);
    ASSERT_STREQ(KRBInitialize("6"), "1");
    KRBSetDoors("6", "0");
    EXPECT_EQ(linesAfter([] { EXPECT_STREQ(KRBPickPlate("6", "2", "1"), "1"); }).front(),
              "WR DM0 2");
    KRBWaitForCompletion("6", "60000");
    KRBSetDoors("6", "none");
    EXPECT_EQ(linesAfter([] { EXPECT_STREQ(KRBPickPlate("6", "2", "1"), "1"); }).front(), "RD 1811")
        << "a door count that is not a number means one door";
    KRBWaitForCompletion("6", "60000");
    EXPECT_STREQ(KRBIsOperationRunning("6"), "0");
}

// --- the catalogue: every export with its number of arguments, the unit ID included

const std::map<std::string, int>& catalogue() {
    static const std::map<std::string, int> exports{
        {"KRBConnect", 1},
        {"KRBDisconnect", 1},
        {"KRB2Activate", 1},
        {"KRB2Deactivate", 1},
        {"KRBOpenCommunication", 1},
        {"KRBCloseCommunication", 1},
        {"KRBSetWriteTimeout", 2},
        {"KRBCloseBCRSerial", 1},
        {"KRB2CloseBCRSerial", 1},
        {"KRBReadBackStr", 2},
        {"KRBReadDM", 2},
        {"KRBWriteDM", 3},
        {"KRBWriteTimer", 3},
        {"KRBSetTimer", 3},
        {"KRBReadTimer", 2},
        {"KRB2GetSysStatus", 1},
        {"KRBInitialize", 1},
        {"KRBReset", 1},
        {"KRB2Reset", 1},
        {"KRBSoftReset", 1},
        {"KRBSerialNumber", 1},
        {"KRBReadFirmWareVersion", 1},
        {"KRBIsInitialized", 1},
        {"KRBReadReadyFlag", 1},
        {"KRBReadErrorFlag", 1},
        {"KRBReadErrorCode", 1},
        {"KRBReadErrorMessage", 1},
        {"KRBReadStatus", 1},
        {"KRBIsOperationRunning", 1},
        {"KRBWaitForCompletion", 2},
        {"KRBWaitForOperation", 1},
        {"KRBReadActualTemperature", 1},
        {"KRBReadActualHumidity", 1},
        {"KRBReadActualCO2", 1},
        {"KRBReadActualN2", 1},
        {"KRBReadActualO2", 1},
        {"KRBReadSetTemperature", 1},
        {"KRBReadSetHumidity", 1},
        {"KRBReadSetCO2", 1},
        {"KRBReadSetN2", 1},
        {"KRBReadSetO2", 1},
        {"KRBWriteSetTemperature", 2},
        {"KRBWriteSetHumidity", 2},
        {"KRBWriteSetCO2", 2},
        {"KRBWriteSetN2", 2},
        {"KRBWriteSetO2", 2},
        {"KRB2ReadActualClimate", 1},
        {"KRB2ReadSetClimate", 1},
        {"KRB2WriteSetClimate", 5},
        {"KRBWriteShakerSpeed", 2},
        {"KRBActivateShaker", 1},
        {"KRBDeactivateShaker", 1},
        {"KRBReadShakerSpeed", 1},
        {"KRB2ActivateShaker", 2},
        {"KRB2ReadSetShakerSpeed", 1},
        {"KRB2DeactivateShaker", 1},
        {"KRBSwap", 1},
        {"KRBSwapBack", 1},
        {"KRB2Swap", 2},
        {"KRBOpenTransferGate", 1},
        {"KRBCloseTransferGate", 1},
        {"KRBReadTransferStationDetector", 1},
        {"KRBReadTransferStation2Detector", 1},
        {"KRBReadShovelDetector", 1},
        {"KRBAlternateXferStation", 2},
        {"KRBCompleteTransferCommand", 2},
        {"KRBLoadPlate", 3},
        {"KRBUnloadPlate", 3},
        {"KRBSetPlate", 1},
        {"KRBGetPlate", 1},
        {"KRBPickPlate", 3},
        {"KRBPlacePlate", 3},
        {"KRBImportPlate", 3},
        {"KRBExportPlate", 3},
        {"KRBMovePlate", 5},
        {"KRBIsPlateAtLocation", 3},
        {"KRB2ServiceIsPlateAtLocation", 3},
        {"KRBMovePlate2", 12},
        {"KRB2ServiceMovePlate", 12},
        {"KRBBCRPath", 2},
        {"KRBReadBarcode", 3},
        {"KRB2ServiceReadBarcode", 3},
        {"KRBReadBCR", 2},
        {"KRBSetIsBCR", 2},
        {"KRBGetIsBCR", 1},
        {"KRBSetIsCompSv", 2},
        {"KRBReadActualSlotPosition", 1},
        {"KRBReadUserDoorFlag", 1},
        {"KRBSetPlateTraceOn", 1},
        {"KRBSetPlateTraceOff", 1},
        {"KRBReadPlateTrace", 1},
        {"KRBReadMaxSlot", 1},
        {"KRBReadMaxLevel", 1},
        {"KRBReadBCRZOffset", 1},
        {"KRBSetBCRZOffset", 2},
        {"KRBReadHandlerZPitch", 1},
        {"KRBSetHandlerZPitch", 2},
        {"KRBSetPlateDetector", 2},
        {"KRBSetPlateTStatDetector", 2},
        {"KRBSetPlateTStatDetector2", 2},
        {"KRBSetPlateShovelDetector", 2},
        {"KRBReadConfFile", 2},
        {"KRBSetCassetteConfig", 4},
        {"KRBReadCassetteConfig", 2},
        {"KRBUseCassetteConfTable", 2},
        {"KRBSetCarsOffSet", 2},
        {"KRBLock", 1},
        {"KRBUnlock", 1},
        {"KRBIslocked", 1},
        {"KRB2Lock", 2},
        {"KRBManualAccess", 2},
        {"KRBBeeperOn", 1},
        {"KRBBeeperOff", 1},
        {"KRBSetDoors", 2},
        {"KRBSetCascader", 2},
        {"KRBSetBase", 2},
        {"KRBSetExt", 2},
        {"KRBIsCascader", 1},
        {"KRBIsBase", 1},
        {"KRBIsExt", 1},
        {"KRBSetKVL", 2},
        {"KRBSetSector", 4},
        {"KRB2DefineSector", 4},
        {"KRBDeleteSectors", 1},
        {"KRBReadSectorName", 2},
        {"KRBReadSectorSlot", 2},
        {"KRBSetId", 2},
        {"KRBGetId", 1},
        {"KRBSetIdSys", 2},
        {"KRBGetIdSys", 1},
        {"KRBInventoryCassets", 4},
        {"KRBInventoryCassets2", 4},
        {"KRB2Inventory", 4},
        {"KRB2PartitionInventory", 5},
        {"KRBInventorySlot", 7},
        {"KVLReadVialBarcode", 5},
        {"KVLVialsInventory", 4},
        {"KRBPlateFillTubes", 4},
        {"KVLMoveVial", 8},
        {"KRBGetPlateVerify", 4},
        {"KVL2Inventory", 6},
        {"KVLMoveVialWithFile", 2},
        {"KRBMoveTubeExt", 12},
        {"KVLGetTubeProgress", 1},
    };
    return exports;
}

std::string withoutBlockComments(const std::string& source) {
    std::string text;
    for (std::size_t at = 0; at < source.size();) {
        std::size_t open = source.find("/*", at);
        text += source.substr(at, open == std::string::npos ? std::string::npos : open - at);
        if (open == std::string::npos) break;
        std::size_t close = source.find("*/", open + 2);
        at = close == std::string::npos ? source.size() : close + 2;
        text += ' ';
    }
    return text;
}

std::string nameBefore(const std::string& text, std::size_t parenthesis) {
    std::size_t end = parenthesis;
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    std::size_t begin = end;
    while (begin > 0 &&
           (std::isalnum(static_cast<unsigned char>(text[begin - 1])) || text[begin - 1] == '_'))
        --begin;
    return text.substr(begin, end - begin);
}

// Declarations of the public header: name -> number of arguments.
std::map<std::string, int> headerDeclarations() {
    std::ifstream file(KRB_LIB_HEADER);
    std::stringstream text;
    text << file.rdbuf();
    std::string source = withoutBlockComments(text.str());
    std::map<std::string, int> declared;
    for (std::size_t at = source.find("KRB_API "); at != std::string::npos;
         at = source.find("KRB_API ", at + 1)) {
        std::size_t open = source.find('(', at);
        std::size_t close = source.find(')', open);
        if (open == std::string::npos || close == std::string::npos) break;
        std::string name = nameBefore(source, open);
        if (name.rfind("KRB", 0) != 0 && name.rfind("KVL", 0) != 0) continue;
        std::string arguments = source.substr(open + 1, close - open - 1);
        declared[name] = static_cast<int>(std::count(arguments.begin(), arguments.end(), ',')) + 1;
    }
    return declared;
}

// Functions the built library exports.
std::set<std::string> exportedSymbols() {
    std::set<std::string> symbols;
    std::string command = std::string("nm -D --defined-only '") + KRB_LIB_FILE + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return symbols;
    char line[512];
    while (fgets(line, sizeof line, pipe)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name && type == "T") symbols.insert(name);
    }
    pclose(pipe);
    return symbols;
}

template <class Names>
std::string listed(const Names& names) {
    std::string text;
    for (const auto& name : names) text += " " + name;
    return text;
}

TEST(ExportCatalogue, HasOneHundredAndFortyFourEntries) { EXPECT_EQ(catalogue().size(), 144u); }

TEST(ExportCatalogue, HeaderDeclaresEveryExportWithItsArguments) {
    auto declared = headerDeclarations();
    ASSERT_FALSE(declared.empty()) << KRB_LIB_HEADER;
    std::vector<std::string> missing, extra, wrongCount;
    for (const auto& [name, count] : catalogue()) {
        auto found = declared.find(name);
        if (found == declared.end())
            missing.push_back(name);
        else if (found->second != count)
            wrongCount.push_back(name + "(" + std::to_string(found->second) + ")");
    }
    for (const auto& entry : declared)
        if (!catalogue().count(entry.first)) extra.push_back(entry.first);
    EXPECT_TRUE(missing.empty()) << "missing:" << listed(missing);
    EXPECT_TRUE(extra.empty()) << "not in the catalogue:" << listed(extra);
    EXPECT_TRUE(wrongCount.empty()) << "argument counts:" << listed(wrongCount);
}

TEST(ExportCatalogue, LibraryExportsExactlyTheCatalogue) {
    auto symbols = exportedSymbols();
    ASSERT_FALSE(symbols.empty()) << "nm found nothing in " << KRB_LIB_FILE;
    std::vector<std::string> missing, extra;
    for (const auto& entry : catalogue())
        if (!symbols.count(entry.first)) missing.push_back(entry.first);
    for (const auto& symbol : symbols)
        if (!catalogue().count(symbol)) extra.push_back(symbol);
    EXPECT_TRUE(missing.empty()) << "not exported:" << listed(missing);
    EXPECT_TRUE(extra.empty()) << "exported beyond the catalogue:" << listed(extra);
}

}  // namespace
}  // namespace krb::test
