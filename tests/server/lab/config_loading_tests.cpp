#include <gtest/gtest.h>

#include <tuple>

#include "fake_library.h"
#include "lab/ClientFiles.h"
#include "lab/ConfigurationLoader.h"

namespace krb::server::testing {
namespace {

using Strings = std::vector<std::string>;

std::string SystemFile(const std::string& name, const Strings& unitFiles) {
    std::string text = "[System]\r\nSystemName=" + name + "\r\nSystemId=" + name + "\r\n[Unit]\r\n";
    for (std::size_t i = 0; i < unitFiles.size(); ++i) {
        text += "Unit" + std::to_string(i + 1) + "=" + unitFiles[i] + "\r\n";
    }
    return text;
}

std::string UnitFile(int port, const std::string& id, const std::string& extra = "") {
    return "[Unit]\r\nUnitComPort=" + std::to_string(port) + "\r\nUnitId=" + id + "\r\n" + extra;
}

class ConfigLoadingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Fake().Reset();
        Fake().Reply("KRBConnect", {"1"});
        Fake().Reply("KRBBCRPath", {"1"});
        driverConfig = folder.File("DriverConfig.lni", "[paths]\r\nKrbMainFolder=lab\r\n");
    }
    // One system folder under lab/ with one unit file.
    void AddSystem(int n, const std::string& unitText) {
        const std::string dir = "lab/System" + std::to_string(n) + "/";
        folder.File(dir + "System.lni", SystemFile("S" + std::to_string(n), {"Unit1.lni"}));
        folder.File(dir + "Unit1.lni", unitText);
    }
    TKRBId& OnlyUnit() { return *manager.Lab().Systems.at(0)->Units.at(0); }
    Strings MessageTexts() {
        Strings texts;
        for (const auto& [caption, text] : messages.Messages())
            texts.push_back(caption + "|" + text);
        return texts;
    }

    TempFolder folder;
    MessageCapture messages;
    UnitDirectory browser;
    TKRBManager manager{FakeExports(), &browser};
    std::string driverConfig;
};

TEST_F(ConfigLoadingTest, GapsBetweenSystemFoldersAreSkipped) {
    AddSystem(1, UnitFile(1, "A"));
    AddSystem(3, UnitFile(3, "C"));
    manager.LoadSystems(driverConfig);
    ASSERT_EQ(manager.Lab().Systems.size(), 2u);
    EXPECT_EQ(manager.Lab().Systems[0]->Name, "S1");
    EXPECT_EQ(manager.Lab().Systems[1]->Name, "S3");
    EXPECT_TRUE(MessageTexts().empty());
    ASSERT_EQ(browser.Units().size(), 2u);
    EXPECT_EQ(browser.FindUnitByPort(3)->UnitId, "C");
    EXPECT_EQ(manager.Lab().FindUnit("C")->System, manager.Lab().Systems[1].get());
}

TEST_F(ConfigLoadingTest, ClientFileFolderDefaultsToASubfolderOfTheConfigurationFolder) {
    AddSystem(1, UnitFile(1, "A"));
    for (auto [entry, expected] :
         {std::pair{"", (folder.path() / "ClientFiles").string()},
          {"ClientFileFolder=Scans\\Inv", (folder.path() / "Scans/Inv").string()},
          {"ClientFileFolder=/srv/inv", "/srv/inv"}}) {
        folder.File("DriverConfig.lni",
                    std::string("[paths]\r\nKrbMainFolder=lab\r\n[TCP]\r\n") + entry + "\r\n");
        TKRBManager loaded{FakeExports()};
        loaded.LoadSystems(driverConfig);
        ASSERT_EQ(loaded.Lab().Systems.size(), 1u);
        EXPECT_EQ(loaded.Lab().Systems[0]->Units.at(0)->ClientFileFolder, expected) << entry;
    }
}

TEST_F(ConfigLoadingTest, RecordsFollowMovesUnlessTurnedOff) {
    AddSystem(1, UnitFile(1, "A"));
    for (auto [entry, expected, reported] : {std::tuple{"", true, false},
                                             {"RecordsFollowMoves=1", true, false},
                                             {"RecordsFollowMoves=0", false, false},
                                             {"RecordsFollowMoves=no", true, true}}) {
        SCOPED_TRACE(entry);
        const std::size_t earlier = MessageTexts().size();
        folder.File("DriverConfig.lni",
                    std::string("[paths]\r\nKrbMainFolder=lab\r\n[TCP]\r\n") + entry + "\r\n");
        TKRBManager loaded{FakeExports()};
        loaded.LoadSystems(driverConfig);
        ASSERT_EQ(loaded.Lab().Systems.size(), 1u);
        EXPECT_EQ(loaded.Lab().Systems[0]->Units.at(0)->RecordsFollowMoves, expected);
        EXPECT_EQ(MessageTexts().size() > earlier, reported);
    }
}

// Even with the client folder set to the configuration's own, no client name reaches a file
// the server reads or writes.
TEST_F(ConfigLoadingTest, ClientNamesNeverStandForTheServersFiles) {
    folder.File("DriverConfig.lni",
                "[paths]\r\nKrbMainFolder=lab\r\n[TCP]\r\nClientFileFolder=.\r\n"
                "LogFile=logs\\server.log\r\n");
    folder.File("lab/System1/System.lni", SystemFile("S1", {"Unit1.lni"}));
    folder.File("lab/System1/Unit1.lni", UnitFile(1, "A",
                                                  "[Contents]\r\nFileName=Contents\\A.csv\r\n"
                                                  "[ParameterFile]\r\nFileName=A.par\r\n"));
    folder.File("lab/System1/Contents/A.csv", "");
    folder.File("lab/System1/A.par", "");
    manager.LoadSystems(driverConfig);
    const TKRBId& unit = OnlyUnit();
    for (const char* name :
         {"DriverConfig.lni", "lab/System1/System.lni", "lab\\System1\\Unit1.lni",
          "lab/System1/Contents/A.csv", "lab/System1/A.par", "logs/server.log"}) {
        EXPECT_EQ(ConfinedClientFile(name, unit.ClientFileFolder, unit.OwnedFiles), std::nullopt)
            << name;
    }
    EXPECT_NE(ConfinedClientFile("lab/scan.csv", unit.ClientFileFolder, unit.OwnedFiles),
              std::nullopt);
}

TEST_F(ConfigLoadingTest, MissingSystem1StopsTheLoad) {
    AddSystem(2, UnitFile(2, "B"));
    manager.LoadSystems(driverConfig);
    EXPECT_TRUE(manager.Lab().Systems.empty());
    EXPECT_EQ(
        MessageTexts(),
        Strings{"Error|A System Configuration Folder:\r\rlab\\System1\r\rhas not been found"});
    EXPECT_EQ(Fake().Count("KRBConnect"), 0);
}

TEST_F(ConfigLoadingTest, FolderWithoutSystemFileIsReportedAndSkipped) {
    AddSystem(1, UnitFile(1, "A"));
    folder.File("lab/System2/readme.txt", "");
    AddSystem(3, UnitFile(3, "C"));
    manager.LoadSystems(driverConfig);
    EXPECT_EQ(manager.Lab().Systems.size(), 2u);
    EXPECT_EQ(MessageTexts(),
              Strings{"Error|A System Configuration file:\r\rlab\\System2\\System.lni"
                      "\r\rhas not been found"});
}

TEST_F(ConfigLoadingTest, SystemFileProblemsAreReportedAndLoadingGoesOn) {
    folder.File("lab/System1/System.lni",
                SystemFile("S1", {"Missing.lni", "Unit2.lni", "NoPort.lni", "Unit4.lni"}));
    folder.File("lab/System1/Unit2.lni", UnitFile(2, "B"));
    folder.File("lab/System1/NoPort.lni", "[Unit]\r\nUnitId=X\r\n");
    folder.File("lab/System1/Unit4.lni", UnitFile(4, "D"));
    folder.File("lab/System2/System.lni", "[System]\r\nSystemName=Empty\r\n");
    manager.LoadSystems(driverConfig);
    ASSERT_EQ(manager.Lab().Systems.size(), 2u);
    ASSERT_EQ(manager.Lab().Systems[0]->Units.size(), 2u);
    EXPECT_EQ(manager.Lab().Systems[0]->Units[1]->UnitId, "D");
    auto texts = MessageTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Error|Unit Configuration file:\r\r" +
                            (folder.path() / "lab/System1/Missing.lni").string() +
                            "\r\rhas not been found");
    EXPECT_NE(texts[1].find("Error!|System configuration file - "), std::string::npos);
    EXPECT_NE(texts[1].find(
                  "doesn't contain information about Device configuration files (Unit1.lni ...)"),
              std::string::npos);
}

TEST_F(ConfigLoadingTest, ConnectionCallsAndFailures) {
    folder.File("lab/System1/System.lni", SystemFile("S1", {"U1.lni", "U2.lni"}));
    folder.File("lab/System1/U1.lni", UnitFile(1, "A", "UnitName=CASC\r\nUnitBCRPort=9\r\n"));
    folder.File("lab/System1/U2.lni", UnitFile(2, "B"));
    Fake().Reply("KRBConnect", {"0", "1"});
    Fake().Reply("KRBBCRPath", {"3"});
    manager.LoadSystems(driverConfig);
    ASSERT_EQ(manager.Lab().Systems[0]->Units.size(), 1u);
    EXPECT_EQ(OnlyUnit().UnitId, "B");
    EXPECT_EQ(MessageTexts(), Strings{"Error!|Filed to open a serial communication for Unit:A"});
}

TEST_F(ConfigLoadingTest, LoadTimeLibraryCallsInOrder) {
    AddSystem(1, UnitFile(5, "A", "UnitName=CASC\r\nUnitBCRPort=9\r\n"));
    Fake().Reply("KRBBCRPath", {"0"});
    manager.LoadSystems(driverConfig);
    EXPECT_EQ(Fake().CallNames(), (Strings{"KRBConnect", "KRBSetId", "KRBSetIdSys", "KRBSetBase",
                                           "KRBSetExt", "KRBSetCascader", "KRBBCRPath"}));
    EXPECT_EQ(Fake().ArgsOf("KRBSetIdSys"), (Strings{"5", "S1"}));
    EXPECT_EQ(Fake().ArgsOf("KRBSetCascader"), (Strings{"5", "1"}));
    EXPECT_EQ(Fake().ArgsOf("KRBBCRPath"), (Strings{"5", "9"}));
    EXPECT_TRUE(OnlyUnit().Cascader);
    EXPECT_EQ(OnlyUnit().BCRPort, 9);
    EXPECT_EQ(MessageTexts(),
              Strings{"Error!|Filed to open a serial communication for BCR, Unit: A"});
}

TEST_F(ConfigLoadingTest, OptionsSensorsAndRoles) {
    AddSystem(1, UnitFile(1, "A",
                          "UnitName=base\r\n"
                          "[Options]\r\nXFerStation=1\r\nDoubleDeck=1\r\n"
                          "[Sensor Configuration]\r\nppSens=0\r\nPlatePresenceSensor=1\r\n"
                          "pShovelSen=1\r\nPlateShovelSensor=0\r\npxferSens1=1\r\n"
                          "[Option Configuration2]\r\nBCR=1\r\nCompatibility=1\r\n"
                          "[Option Configuration]\r\nDoor=two\r\n"
                          "[Climate Configuration]\r\nCO2Gassing=1\r\nHumidity=yes\r\n"));
    manager.LoadSystems(driverConfig);
    TKRBId& unit = OnlyUnit();
    EXPECT_FALSE(unit.Base || unit.Ext || unit.Cascader);
    EXPECT_EQ(Fake().ArgsOf("KRBSetBase"), (Strings{"1", "0"}));
    ASSERT_EQ(unit.XferStations.size(), 1u);
    EXPECT_EQ(unit.XferStations[0]->Unit, &unit);
    EXPECT_TRUE(unit.DoubleDeck);
    EXPECT_TRUE(unit.PlatePresenceSensor);
    EXPECT_TRUE(unit.PlateShovelSensor);
    EXPECT_TRUE(unit.PlateXferStSensor1);
    EXPECT_FALSE(unit.PlateXferStSensor2);
    EXPECT_TRUE(unit.BCR);
    EXPECT_FALSE(unit.Compatibility);
    EXPECT_EQ(unit.Doors, 1);
    EXPECT_TRUE(unit.CO2Gassing);
    EXPECT_FALSE(unit.Humidity);
    EXPECT_EQ(unit.ConfigFile, (folder.path() / "lab/System1/Unit1.lni").string());
    EXPECT_TRUE(MessageTexts().empty());
}

TEST_F(ConfigLoadingTest, CassettesPartitionsAndRoot) {
    AddSystem(1, UnitFile(1, "A",
                          "[CassettesConfiguration]\r\nUseCassConfTable=1\r\n"
                          "6-10=4,20\r\n5 = 8 , 30\r\n1-3=10,25,2\r\n4=1\r\nbad=1\r\n"
                          "[Partitions]\r\nTop=1..2,5,42\r\nEmpty=\r\n"));
    manager.LoadSystems(driverConfig);
    TKRBId& unit = OnlyUnit();
    EXPECT_TRUE(unit.UseCassConfTable);
    std::vector<std::int32_t> numbers;
    for (const auto& c : unit.Cassettes) numbers.push_back(c->Number);
    EXPECT_EQ(numbers, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(unit.FindCassette(2)->Levels, 10);
    EXPECT_EQ(unit.FindCassette(2)->ZPitch, 25);
    EXPECT_EQ(unit.FindCassette(2)->Type, 2);
    EXPECT_EQ(unit.FindCassette(5)->Levels, 8);
    EXPECT_EQ(unit.FindCassette(5)->ZPitch, 30);
    EXPECT_EQ(unit.FindCassette(4)->Levels, 0);
    EXPECT_EQ(unit.FindCassette(4)->ZPitch, 1);
    ASSERT_EQ(unit.Sectors.size(), 3u);
    const TKRBSector& top = *unit.Sectors[0];
    EXPECT_EQ(top.Name, "Top");
    ASSERT_EQ(top.Cassettes.size(), 3u);
    EXPECT_EQ(top.MinCassette(), 1);
    EXPECT_EQ(top.MaxCassette(), 5);
    EXPECT_EQ(unit.Sectors[1]->Name, "Empty");
    EXPECT_TRUE(unit.Sectors[1]->Cassettes.empty());
    EXPECT_EQ(unit.Sectors[2]->Name, "ROOT");
    ASSERT_EQ(unit.Sectors[2]->Cassettes.size(), 5u);
    EXPECT_EQ(unit.Sectors[2]->Cassettes.front()->Number, 6);
    EXPECT_EQ(unit.FindSectorOfCassette(3), &top);  // by range, not membership
    EXPECT_EQ(unit.FindSectorOfCassette(11), nullptr);
    EXPECT_EQ(unit.InitCommands, Strings{"WR DM25 10"});
    EXPECT_EQ(
        MessageTexts(),
        Strings{"Configuration|Unit A (" + (folder.path() / "lab/System1/Unit1.lni").string() +
                "): cassettes 3, 4 lie in a partition's range but in no partition's list; "
                "they belong to no sector and no view shows them"});
}

TEST_F(ConfigLoadingTest, ParameterFileAndDm25Rule) {
    AddSystem(1, UnitFile(1, "A",
                          "[CassettesConfiguration]\r\n1=10,1\r\n2=12,1\r\n"
                          "[ParameterFile]\r\nFileName=params.txt\r\n"));
    folder.File("lab/System1/params.txt", "DM10=5\r\nT001 100\r\ndm11=3\r\nXYZ=1\r\n");
    manager.LoadSystems(driverConfig);
    EXPECT_EQ(OnlyUnit().InitCommands, (Strings{"WR DM10 5", "WS T001 100", "WR DM25 12"}));
}

TEST_F(ConfigLoadingTest, ParameterDm250CountsAsDm25) {
    AddSystem(1, UnitFile(1, "A",
                          "[CassettesConfiguration]\r\n1=10,1\r\n"
                          "[ParameterFile]\r\nFileName=params.txt\r\n"));
    folder.File("lab/System1/params.txt", "DM250=7\n");
    manager.LoadSystems(driverConfig);
    EXPECT_EQ(OnlyUnit().InitCommands, Strings{"WR DM250 7"});
}

TEST_F(ConfigLoadingTest, UnreadableParameterFileIsReportedAndDm25StillAdded) {
    AddSystem(1, UnitFile(1, "A",
                          "[CassettesConfiguration]\r\n1=3,1\r\n"
                          "[ParameterFile]\r\nFileName=missing.txt\r\n"));
    manager.LoadSystems(driverConfig);
    EXPECT_EQ(OnlyUnit().InitCommands, Strings{"WR DM25 3"});
    EXPECT_EQ(MessageTexts(),
              Strings{"Error!|Can not load the Configuration Parameters!\r\rUnit: A"});
}

TEST_F(ConfigLoadingTest, BackslashPathsResolveRelativeToTheirFile) {
    folder.File("DriverConfig.lni", "[paths]\r\nKrbMainFolder=Data\\Lab\\\r\n");
    folder.File("Data/Lab/System1/System.lni", SystemFile("S1", {"Units\\Unit1.lni"}));
    folder.File("Data/Lab/System1/Units/Unit1.lni",
                UnitFile(1, "A",
                         "[Contents]\r\nFileName=Plates\\contents.txt\r\n"
                         "[CassettesConfiguration]\r\n1=2,1\r\n"
                         "[ParameterFile]\r\nFileName=Params\\P.TXT\r\n"));
    folder.File("Data/Lab/System1/Units/params/p.txt", "DM10=1\r\n");
    folder.File("Data/Lab/System1/Units/Plates/contents.txt", "1,1,1,1,,,,,,\r\n2,1,2,0,,,,,,\r\n");
    manager.LoadSystems(driverConfig);
    ASSERT_EQ(manager.Lab().Systems.size(), 1u);
    TKRBId& unit = OnlyUnit();
    EXPECT_EQ(unit.ContentsFile,
              (folder.path() / "Data/Lab/System1/Units/Plates/contents.txt").string());
    EXPECT_EQ(unit.InitCommands, (Strings{"WR DM10 1", "WR DM25 2"}));
    // Loading refreshes the contents file: default names and the ROOT sector.
    EXPECT_EQ(folder.Read("Data/Lab/System1/Units/Plates/contents.txt"),
              "1,1,1,1,,Plate 1,ROOT,,,\r\n2,1,2,0,,Location 2,ROOT,,,\r\n");
    EXPECT_TRUE(MessageTexts().empty());
}

TEST_F(ConfigLoadingTest, NonIntegerTokensNameFileAndKeyAndLoadingGoesOn) {
    folder.File("lab/System1/System.lni", SystemFile("S1", {"U1.lni", "U2.lni"}));
    const std::string u1 =
        folder.File("lab/System1/U1.lni", "[Unit]\r\nUnitComPort=COM1\r\nUnitId=A\r\n");
    const std::string u2 = folder.File(
        "lab/System1/U2.lni", UnitFile(2, "B",
                                       "[Carousel Configuration]\r\nManualAccessOffset=1O\r\n"
                                       "[CassettesConfiguration]\r\n1-3=1,1\r\n"
                                       "[Partitions]\r\nTop=1,x,3\r\n"
                                       "[Climate Configuration]\r\nTemperature=1\r\n"));
    manager.LoadSystems(driverConfig);
    ASSERT_EQ(manager.Lab().Systems[0]->Units.size(), 1u);
    TKRBId& unit = OnlyUnit();
    EXPECT_EQ(unit.UnitId, "B");
    EXPECT_EQ(unit.ManualAccessOffset, 0);
    EXPECT_EQ(unit.Sectors[0]->Cassettes.size(), 2u);
    EXPECT_TRUE(unit.Temperature);
    EXPECT_EQ(
        MessageTexts(),
        (Strings{
            "Error!|Configuration file:\r\r" + u1 +
                "\r\r[Unit] UnitComPort: \"COM1\" is not an integer",
            "Error!|Configuration file:\r\r" + u2 +
                "\r\r[Carousel Configuration] ManualAccessOffset: \"1O\" is not an integer",
            "Error!|Configuration file:\r\r" + u2 + "\r\r[Partitions] Top: \"x\" is not an integer",
            "Configuration|Unit B (" + u2 +
                "): cassette 2 lies in a partition's range but in no partition's list; it "
                "belongs to no sector and no view shows it"}));
}

TEST_F(ConfigLoadingTest, SectorNamesWithCommasAreRefused) {
    AddSystem(1,
              UnitFile(1, "A", "[CassettesConfiguration]\r\n1=1,1\r\n[Partitions]\r\nA,B=1\r\n"));
    manager.LoadSystems(driverConfig);
    ASSERT_EQ(OnlyUnit().Sectors.size(), 1u);
    EXPECT_EQ(OnlyUnit().Sectors[0]->Name, "ROOT");
    EXPECT_EQ(messages.Messages().size(), 1u);
}

TEST_F(ConfigLoadingTest, LoadingTwiceAddsTheUnitsAgain) {
    AddSystem(1, UnitFile(1, "A"));
    manager.LoadSystems(driverConfig);
    manager.LoadSystems(driverConfig);
    EXPECT_EQ(manager.Lab().Systems.size(), 2u);
    EXPECT_EQ(browser.Units().size(), 2u);
    EXPECT_EQ(Fake().Count("KRBConnect"), 2);
}

}  // namespace
}  // namespace krb::server::testing
