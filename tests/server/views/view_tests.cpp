// The XML views against documents written out by hand, their query forms, the edge cases
// that catch real faults, and a real XML parser's reading of every view.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <thread>

#include "fake_library.h"
#include "frontend_support.h"
#include "lab/ConfigurationLoader.h"
#include "views/LabViews.h"
#include "xml_check.h"

namespace krb::server::testing {
namespace {

// Every item goes out followed by CR LF.
std::string Items(std::initializer_list<std::string_view> items) {
    std::string text;
    for (auto item : items) text.append(item).append("\r\n");
    return text;
}

// A small lab: system "Incubators" (id 1) with unit U1 (COM 1, reader on COM 11, no doors
// configured), cassette 1 with two levels in sector A, one transfer station.
class SmallLab : public ::testing::Test {
  protected:
    void SetUp() override {
        Fake().Reset();
        auto& system = manager.Lab().AddSystem(std::make_unique<TKRBSystem>("Incubators", "1"));
        auto& unit = system.AddUnit(
            std::make_unique<TKRBId>("U1", 1, "Incubators", "Unit1.lni", manager.Dll()));
        unit.System = &system;
        unit.BCRPort = 11;
        unit.BCR = true;
        unit.PlatePresenceSensor = true;
        unit.Temperature = true;
        unit.Doors = 0;
        unit.ContentsFile = folder.File(
            "Unit1Contents.csv",
            "1,1,1,1,P&1,Plate <1>,A,01.02.2020 10:30:00,,\r\n2,1,2,0,,Location 2,A,,,\r\n");
        auto& cassette = unit.AddCassette(1, 2, 25, 1);
        unit.AddSector(std::make_unique<TKRBSector>("A", &unit)).AddCassette(&cassette);
        unit.AddXferStation().Unit = &unit;
    }
    TKRBId& U1() { return *manager.Lab().Systems[0]->Units[0]; }
    TLabViews Views() {
        return TLabViews(manager.Lab(),
                         [this](const std::string& event, const std::string& details) {
                             log.push_back(event + ";" + details);
                         });
    }

    TempFolder folder;
    UnitDirectory browser;
    TKRBManager manager{FakeExports(), &browser};
    std::vector<std::string> log;
};

const std::string kHead =
    Items({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n", "<MyLabPlate>\r\n", "<System>\r\n",
           "<SysName>Incubators</SysName>\r\n", "<SysId>1</SysId>\r\n"});
const std::string kTail = Items({"</System>\r\n", "</MyLabPlate>\r\n"});
const std::string kXfer =
    Items({"      <xFerSt>\r\n", "         <xFerName>XFerStation</xFerName>\r\n",
           "         <xFerType>1</xFerType>\r\n", "         <xFerUnit>U1</xFerUnit>\r\n",
           "      </xFerSt>\r\n"});

const std::string kUnitU1 = Items({
    "<Unit>\r\n",
    "<UnitId>U1</UnitId>\r\n",
    "<UnitName></UnitName>\r\n",
    "<UnitFW></UnitFW>\r\n",
    "<UnitSN></UnitSN>\r\n",
    "<UnitDoubleDeck>0</UnitDoubleDeck>\r\n",
    "<UnitActivated>0</UnitActivated>\r\n",
    "<UnitError>0</UnitError>\r\n",
    "<UnitBCR>1</UnitBCR>\r\n",
    "<UnitPPSensor>1</UnitPPSensor>\r\n",
    "<UnitPShovelSensor>0</UnitPShovelSensor>\r\n",
    "<UnitPXfer1Sensor>0</UnitPXfer1Sensor>\r\n",
    "<UnitPXfer2Sensor>0</UnitPXfer2Sensor>\r\n",
    "<UnitCOMPort>1</UnitCOMPort>\r\n",
    "<UnitBCRCOMPort>11</UnitBCRCOMPort>\r\n",
    "<UnitBCRInit>0</UnitBCRInit>\r\n",
    "<UnitReady>1</UnitReady>\r\n",
    "<UnitDoorOpened>0</UnitDoorOpened>\r\n",
    "<UnitErrorCode>0</UnitErrorCode>\r\n",
    "<UnitPlates>2</UnitPlates>\r\n",
    "<UnitCO2>0</UnitCO2>\r\n",
    "<UnitO2>0</UnitO2>\r\n",
    "<UnitN2>0</UnitN2>\r\n",
    "<UnitTemperature>1</UnitTemperature>\r\n",
    "<UnitHumidity>0</UnitHumidity>\r\n",
    "<UnitDoors>1</UnitDoors>\r\n",
});

const std::string kTreeUnitU1 = Items({
    "<Unit>\r\n",
    "<UnitId>U1</UnitId>\r\n",
    "<UnitName></UnitName>\r\n",
    "<UnitFW></UnitFW>\r\n",
    "<UnitSN></UnitSN>\r\n",
    "<UnitDoubleDeck>0</UnitDoubleDeck>\r\n",
    "<UnitActivated>0</UnitActivated>\r\n",
    "<UnitError>0</UnitError>\r\n",
    "<UnitBCR>1</UnitBCR>\r\n",
    "<UnitPPSensor>1</UnitPPSensor>\r\n",
    "<UnitPShovelSensor>0</UnitPShovelSensor>\r\n",
    "<UnitPXfer1Sensor>0</UnitPXfer1Sensor>\r\n",
    "<UnitPXfer2Sensor>0</UnitPXfer2Sensor>\r\n",
    "<UnitBCRInit>0</UnitBCRInit>\r\n",
    "<UnitReady>1</UnitReady>\r\n",
    "<UnitDoorOpened>0</UnitDoorOpened>\r\n",
    "<UnitErrorCode>0</UnitErrorCode>\r\n",
    "<UnitCOMPort>1</UnitCOMPort>\r\n",
    "<UnitBCRCOMPort>11</UnitBCRCOMPort>\r\n",
    "<UnitPlates>2</UnitPlates>\r\n",
    "<UnitCO2>0</UnitCO2>\r\n",
    "<UnitO2>0</UnitO2>\r\n",
    "<UnitN2>0</UnitN2>\r\n",
    "<UnitTemperature>1</UnitTemperature>\r\n",
    "<UnitHumidity>0</UnitHumidity>\r\n",
    "<UnitDoors>1</UnitDoors>\r\n",
});

const std::string kSectorA =
    Items({"<Sector>\r\n", "<SectorName>A</SectorName>\r\n", "<SectorMinCass>1</SectorMinCass>\r\n",
           "<SectorMaxCass>1</SectorMaxCass>\r\n"});
const std::string kCassette1 =
    Items({"<Cassette>\r\n", "<CassetteId>1</CassetteId>\r\n", "<CassetteType>1</CassetteType>\r\n",
           "<CassetteLevels>2</CassetteLevels>\r\n", "<CassetteZPitch>25</CassetteZPitch>\r\n"});
const std::string kPlate1 = Items({
    "<Plate>\r\n",
    "<PlateId>1</PlateId>\r\n",
    "<PlateLevel>1</PlateLevel>\r\n",
    "<PlateBCR>P&amp;1</PlateBCR>\r\n",
    "<PlateUserId>Plate &lt;1&gt;</PlateUserId>\r\n",
    "<PlatePP>1</PlatePP>\r\n",
    "<PlateType>1</PlateType>\r\n",
    "<PlateTypeName>MTP</PlateTypeName>\r\n",
    "<PlateZPitch>25</PlateZPitch>\r\n",
    "<PlateDateLoad>30.12.1899</PlateDateLoad>\r\n",
    "<PlateDateUnload>30.12.1899</PlateDateUnload>\r\n",
    "<PlateDateCheck>01.02.2020 10:30:00</PlateDateCheck>\r\n",
    "</Plate>\r\n",
});
const std::string kPlate2 = Items({
    "<Plate>\r\n",
    "<PlateId>2</PlateId>\r\n",
    "<PlateLevel>2</PlateLevel>\r\n",
    "<PlateBCR></PlateBCR>\r\n",
    "<PlateUserId>Location 2</PlateUserId>\r\n",
    "<PlatePP>0</PlatePP>\r\n",
    "<PlateType>1</PlateType>\r\n",
    "<PlateTypeName>MTP</PlateTypeName>\r\n",
    "<PlateZPitch>25</PlateZPitch>\r\n",
    "<PlateDateLoad>30.12.1899</PlateDateLoad>\r\n",
    "<PlateDateUnload>30.12.1899</PlateDateUnload>\r\n",
    "<PlateDateCheck>30.12.1899</PlateDateCheck>\r\n",
    "</Plate>\r\n",
});
// The plate view ends PlateTypeName with an item of its own.
const std::string kPlate2OfPlateView = Items({
    "<Plate>\r\n",
    "<PlateId>2</PlateId>\r\n",
    "<PlateLevel>2</PlateLevel>\r\n",
    "<PlateBCR></PlateBCR>\r\n",
    "<PlateUserId>Location 2</PlateUserId>\r\n",
    "<PlatePP>0</PlatePP>\r\n",
    "<PlateType>1</PlateType>\r\n",
    "<PlateTypeName>MTP</PlateTypeName>",
    "\r\n",
    "<PlateZPitch>25</PlateZPitch>\r\n",
    "<PlateDateLoad>30.12.1899</PlateDateLoad>\r\n",
    "<PlateDateUnload>30.12.1899</PlateDateUnload>\r\n",
    "<PlateDateCheck>30.12.1899</PlateDateCheck>\r\n",
    "</Plate>\r\n",
});
const std::string kClose = "\r\n";  // appended to a close item's own CR LF

std::string Closing(std::initializer_list<std::string_view> tags) {
    std::string text;
    for (auto tag : tags) text.append("</").append(tag).append(">\r\n").append(kClose);
    return text;
}

TEST_F(SmallLab, DocumentsMatchTheOnesWrittenOutByHand) {
    const auto views = Views();
    EXPECT_EQ(views.BuildLabView(),
              Items({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "\r\n", "<MyLabPlate>", "\r\n",
                     "<System>", "\r\n", "<SysName>Incubators</SysName>", "\r\n",
                     "<SysId>1</SysId>", "\r\n", "</System>", "\r\n", "</MyLabPlate>", "\r\n"}));
    EXPECT_EQ(views.BuildTreeView(), "HTTP/1.1 200 OK\nServer: KRB\nContent-Type: text/XML\n\n" +
                                         kHead + kTreeUnitU1 + kSectorA + kCassette1 + kPlate1 +
                                         kPlate2 + Closing({"Cassette", "Sector", "Unit"}) + kXfer +
                                         kTail);
    EXPECT_EQ(views.BuildSystemView("1"), kHead + kUnitU1 + Closing({"Unit"}) + kXfer + kTail);
    EXPECT_EQ(views.BuildUnitView("U1"),
              kHead + kUnitU1 + kSectorA + Closing({"Sector", "Unit"}) + kXfer + kTail);
    EXPECT_EQ(views.BuildSectorView("U1", "A"), kHead + kUnitU1 + kSectorA + kCassette1 +
                                                    Closing({"Cassette", "Sector", "Unit"}) +
                                                    kXfer + kTail);
    EXPECT_EQ(views.BuildCassetteView("U1", "1"),
              kHead + kUnitU1 + kSectorA + kCassette1 + kPlate1 + kPlate2 +
                  Closing({"Cassette", "Sector", "Unit"}) +
                  Items({"      <xFerSt>\r\n", "         <xFerName>qq</xFerName>\r\n",
                         "         <xFerType>ww</xFerType>\r\n",
                         "         <xFerUnit>U1</xFerUnit>\r\n", "      </xFerSt>\r\n"}) +
                  kTail);
    EXPECT_EQ(views.BuildUnitContentView("U1"),
              kHead + kUnitU1 + kSectorA + kCassette1 + kPlate1 + kPlate2 +
                  Closing({"Cassette", "Sector", "Unit"}) + kXfer + kTail);
    EXPECT_EQ(views.BuildPlateView("U1", "2"),
              kHead + kUnitU1 + kSectorA + kCassette1 + kPlate2OfPlateView +
                  Closing({"Cassette", "Sector", "Unit"}) + kXfer + kTail);
    EXPECT_TRUE(log.empty());
}

TEST(ViewQueryTest, IdsAreCutFromTheRequestAsTheQueryFormsSay) {
    struct Case {
        std::string_view request;
        std::string id;
    };
    for (const Case& c : std::initializer_list<Case>{{"DrawSys?id=2", "2"},
                                                     {"DrawSys", ""},
                                                     {"DrawUnit?id=a?id=b", "a?id=b"},
                                                     {"DrawUnit?x=1?id=", ""}}) {
        EXPECT_EQ(QueryId(c.request), c.id) << c.request;
    }
    struct UnitCase {
        std::string_view request;
        std::string unitId, id;
    };
    for (const UnitCase& c : std::initializer_list<UnitCase>{
             {"DrawSector?unitid=U&id=A", "U", "A"},
             {"DrawCassette?unitid=U&id=3&id=4", "U", "3&id=4"},
             {"DrawSector?id=A&unitid=U", "", ""},             // no "&id=" at all
             {"DrawPlate?x&id=7&unitid=U", "", "7&unitid=U"},  // unitid= after &id=
             {"DrawPlate?unitid=&id=7", "", "7"},
             {"DrawPlate", "", ""}}) {
        const auto query = QueryUnitAndId(c.request);
        EXPECT_EQ(query.UnitId, c.unitId) << c.request;
        EXPECT_EQ(query.Id, c.id) << c.request;
    }
}

bool Holds(const std::string& document, const std::string& text) {
    return document.find(text) != std::string::npos;
}

TEST_F(SmallLab, RequestsThatMatchNothingKeepTheOuterBlocks) {
    const auto views = Views();
    struct Case {
        const char* what;
        std::string document;
        std::string expected;
    };
    const Case cases[] = {
        {"cassette id 01 is no decimal text of 1", views.BuildCassetteView("U1", "01"),
         kHead + kUnitU1 + kSectorA + Closing({"Sector", "Unit"}) +
             Items({"      <xFerSt>\r\n", "         <xFerName>qq</xFerName>\r\n",
                    "         <xFerType>ww</xFerType>\r\n", "         <xFerUnit>U1</xFerUnit>\r\n",
                    "      </xFerSt>\r\n"}) +
             kTail},
        {"unknown unit: system block and transfer stations only", views.BuildUnitView("U2"),
         kHead + kXfer + kTail},
        {"unknown system: the root alone", views.BuildSystemView("2"),
         Items({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n", "<MyLabPlate>\r\n",
                "</MyLabPlate>\r\n"})},
        {"unknown sector", views.BuildSectorView("U1", "B"),
         kHead + kUnitU1 + Closing({"Unit"}) + kXfer + kTail},
        {"plate number that is no record", views.BuildPlateView("U1", "3"),
         kHead + kUnitU1 + Closing({"Unit"}) + kXfer + kTail},
        {"plate number that is no integer", views.BuildPlateView("U1", "x"),
         kHead + kUnitU1 + Closing({"Unit"}) + kXfer + kTail},
        {"unit id compared exactly", views.BuildUnitContentView("u1"), kHead + kXfer + kTail},
    };
    for (const Case& c : cases) EXPECT_EQ(c.document, c.expected) << c.what;
}

TEST_F(SmallLab, UnitFlagsAndContentsEdgesShowAsTheViewsDefineThem) {
    U1().Busy = true;
    U1().DoorOpened = true;
    U1().ErrorCode = 12;
    U1().Doors = 3;
    U1().AddCassette(2, 5, 30, 2);  // outside every sector: counted, never shown
    folder.File("Unit1Contents.csv", "1,1,1,1,,Plate 1,A,,15.06.2021,\r\n");
    const std::string unit = Views().BuildUnitView("U1");
    for (const char* expected :
         {"<UnitReady>0</UnitReady>\r\n", "<UnitDoorOpened>1</UnitDoorOpened>\r\n",
          "<UnitErrorCode>12</UnitErrorCode>\r\n", "<UnitDoors>3</UnitDoors>\r\n",
          "<UnitPlates>7</UnitPlates>\r\n"}) {
        EXPECT_TRUE(Holds(unit, expected)) << expected;
    }
    const std::string plate = Views().BuildPlateView("U1", "1");
    EXPECT_TRUE(Holds(plate, "<PlateDateLoad>15.06.2021</PlateDateLoad>\r\n"));
    EXPECT_TRUE(Holds(plate, "<PlateDateCheck>30.12.1899</PlateDateCheck>\r\n"));
    EXPECT_FALSE(Holds(Views().BuildTreeView(), "<CassetteId>2</CassetteId>"));
}

TEST_F(SmallLab, ContentsLinesWithoutIntegerNumbersAreSkippedAndLogged) {
    folder.File("Unit1Contents.csv",
                "x,1,1,1,,Bad slot,A,,,\r\n"
                "2,1,2,0,,Location 2,A,,,\r\n"
                "3,1, 3,0,,Bad level,A,,,\r\n"
                "\r\n"
                "4,1,,0,,No level,A,,,\r\n"
                "5,1,99999999999,0,,Too large,A,,,\r\n");
    const std::string document = Views().BuildCassetteView("U1", "1");
    EXPECT_TRUE(Holds(document, "<PlateUserId>Location 2</PlateUserId>"));
    EXPECT_EQ(ParseXml(document).Leaves.size(),
              ParseXml(Views().BuildCassetteView("U1", "1")).Leaves.size());
    for (const char* skipped : {"Bad slot", "Bad level", "No level", "Too large"}) {
        EXPECT_FALSE(Holds(document, skipped)) << skipped;
    }
    ASSERT_EQ(log.size(), 2u);  // one line per request
    EXPECT_EQ(log[0], "Contents line skipped;File=" + U1().ContentsFile + ";Line=1;Count=5");
}

TEST_F(SmallLab, AMissingContentsFileGivesCassettesWithoutPlates) {
    U1().ContentsFile = (folder.path() / "none.csv").string();
    EXPECT_EQ(Views().BuildCassetteView("U1", "1").find("<Plate>"), std::string::npos);
    U1().ContentsFile.clear();
    EXPECT_EQ(Views().BuildUnitContentView("U1").find("<Plate>"), std::string::npos);
    U1().ContentsFile = folder.path().string();  // a folder reads as no file
    EXPECT_EQ(Views().BuildTreeView().find("<Plate>"), std::string::npos);
    EXPECT_NE(Views().BuildTreeView().find("<Cassette>"), std::string::npos);
    EXPECT_TRUE(log.empty());
}

// One views object answers many requests and keeps what it wrote of each unit: every change
// of the contents file or of the slot geometry shows in the next document, as a fresh build
// shows it, even a change that keeps the file's size within the same instant.
TEST_F(SmallLab, AKeptViewShowsEveryChangeAtTheNextRequest) {
    const auto kept = Views();
    const std::string contents = "1,1,1,1,P&1,Plate <1>,A,01.02.2020 10:30:00,,\r\n";
    struct Case {
        const char* what;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"plate flag flipped, same size",
         [&] {
             folder.File("Unit1Contents.csv", "1,1,1,0,P&1,Plate <1>,A,01.02.2020 10:30:00,,\r\n");
         }},
        {"flag flipped back", [&] { folder.File("Unit1Contents.csv", contents); }},
        {"levels of the cassette", [&] { U1().Cassettes[0]->Levels = 7; }},
        {"pitch of the cassette", [&] { U1().Cassettes[0]->ZPitch = 40; }},
        {"sector renamed", [&] { U1().Sectors[0]->Name = "B"; }},
        {"contents file removed", [&] { std::filesystem::remove(U1().ContentsFile); }},
        {"contents file back", [&] { folder.File("Unit1Contents.csv", contents); }},
        {"another contents file",
         [&] { U1().ContentsFile = folder.File("Other.csv", "3,1,1,1,,Other,A,,,\r\n"); }},
        {"unit flag", [&] { U1().DoorOpened = true; }},
    };
    std::string previous = kept.BuildTreeView();
    for (const Case& c : cases) {
        c.change();
        const std::string tree = kept.BuildTreeView();
        EXPECT_NE(tree, previous) << c.what;
        EXPECT_EQ(tree, Views().BuildTreeView()) << c.what;
        EXPECT_EQ(kept.BuildUnitContentView("U1"), Views().BuildUnitContentView("U1")) << c.what;
        previous = tree;
    }
    EXPECT_TRUE(log.empty());
}

// An unchanged unit is not written again, and its skipped lines are still logged on every
// request.
TEST_F(SmallLab, AnUnchangedUnitIsSharedBetweenRequestsAndItsSkippedLinesLoggedEachTime) {
    folder.File("Unit1Contents.csv", "x,1,1,1,,Bad slot,A,,,\r\n2,1,2,0,,Location 2,A,,,\r\n");
    const auto kept = Views();
    const TTextPieces first = kept.TreeViewPieces();
    const TTextPieces second = kept.TreeViewPieces();
    ASSERT_EQ(first.size(), second.size());
    const auto shared = std::count_if(first.begin(), first.end(), [&](const auto& piece) {
        return std::find(second.begin(), second.end(), piece) != second.end();
    });
    EXPECT_EQ(shared, 1);  // the unit's body; heads and flags are written anew
    EXPECT_EQ(JoinPieces(first), JoinPieces(second));
    EXPECT_EQ(JoinPieces(second), Views().BuildTreeView());
    EXPECT_EQ(log.size(), 3u);
    for (const auto& line : log) {
        EXPECT_EQ(line, "Contents line skipped;File=" + U1().ContentsFile + ";Line=1;Count=1");
    }
}

TEST(XmlTextTest, ValuesAreEscapedAndMadeValidText) {
    struct Case {
        std::string_view value;
        std::string text;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"plain, with comma", "plain, with comma"},
             {"A&B <c> d>e", "A&amp;B &lt;c&gt; d&gt;e"},
             {"&amp;", "&amp;amp;"},
             {"caf\xC3\xA9", "caf\xC3\xA9"},                // UTF-8 stays
             {"caf\xE9", "caf\xC3\xA9"},                    // a Latin-1 byte becomes UTF-8
             {"\xC3", "\xC3\x83"},                          // a cut sequence
             {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},  // no surrogates
             {"\xEF\xBF\xBF", "\xC3\xAF\xC2\xBF\xC2\xBF"},  // no U+FFFF
             {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
             {"a\tb\x01"
              "c\x1F",
              "a\tb?c?"},
         }) {
        std::string out;
        AppendXmlText(out, c.value);
        EXPECT_EQ(out, c.text) << c.value;
    }
}

// Names with "&", "<", ">", "," and bytes that are no UTF-8 everywhere a value is printed.
TEST_F(SmallLab, EveryViewIsWellFormedWhateverThingsAreNamed) {
    auto& system = *manager.Lab().Systems[0];
    system.Name = "Lab <North> & South, 1";
    system.Id = "1&2";
    U1().UnitId = "U<1>&";
    U1().Sectors[0]->Name = "A&B, <C>";
    folder.File("Unit1Contents.csv",
                "1,1,1,1,B&<>,R&D <plate>, one,A&B,,,\r\n"
                "2,1,2,1,\xE9\x01,Location 2,A,garbage,,\r\n");
    const std::string unit = "U<1>&";
    const auto views = Views();
    const std::pair<const char*, std::string> documents[] = {
        {"lab", views.BuildLabView()},
        {"tree", std::string(BodyOf(views.BuildTreeView()))},
        {"system", views.BuildSystemView("1&2")},
        {"unit", views.BuildUnitView(unit)},
        {"sector", views.BuildSectorView(unit, "A&B, <C>")},
        {"cassette", views.BuildCassetteView(unit, "1")},
        {"content", views.BuildUnitContentView(unit)},
        {"plate", views.BuildPlateView(unit, "1")},
    };
    for (const auto& [name, document] : documents) {
        const XmlParse parsed = ParseXml(document);
        EXPECT_TRUE(parsed.WellFormed) << name << ": " << parsed.Error;
        EXPECT_EQ(parsed.Root, "MyLabPlate") << name;
    }
    const XmlParse content = ParseXml(documents[6].second);
    auto textOf = [&](const std::string& element, std::size_t nth = 0) {
        for (const auto& [name, text] : content.Leaves) {
            if (name == element && nth-- == 0) return text;
        }
        return std::string("<missing>");
    };
    EXPECT_EQ(textOf("SysName"), "Lab <North> & South, 1");
    EXPECT_EQ(textOf("UnitId"), "U<1>&");
    EXPECT_EQ(textOf("SectorName"), "A&B, <C>");
    EXPECT_EQ(textOf("xFerUnit"), "U<1>&");
    // The comma in the name shifts the fields that follow, as the file format has it.
    EXPECT_EQ(textOf("PlateBCR"), "B&<>");
    EXPECT_EQ(textOf("PlateUserId"), "R&D <plate>");
    EXPECT_EQ(textOf("PlateBCR", 1), "\xC3\xA9?");
}

// A reader that holds back while a document of megabytes is sent: the server keeps the
// connection until the last byte is out, however long that takes.
TEST(ViewOverTcpTest, TheConnectionClosesOnlyAfterTheWholeDocumentIsOut) {
    using namespace frontend_testing;
    constexpr int kLocations = 20'000;  // about 8 MB, more than the socket buffers hold
    EmulatedLab lab;
    std::string contents;
    for (int slot = 1; slot <= kLocations; ++slot) {
        const std::string n = std::to_string(slot);
        contents += n + ",1," + n + ",1,BC" + n + ",Plate " + n + ",,,,\r\n";
    }
    lab.WriteFile("lab/System1/U1.txt", contents);
    RunningServer server;
    server.Start(lab.ConfigPath());
    TestClient client(server.Port());
    client.Send("GET /PlateExp/UnitContent?id=U1 HTTP/1.1\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::seconds(1));  // many close pauses
    for (const auto& line : readLines(lab.LogPath())) EXPECT_NE(EventOf(line), "Disconnect");
    const std::string reply = client.ReadToEnd();
    EXPECT_TRUE(reply.ends_with("</MyLabPlate>\r\n\r\n"));
    std::size_t plates = 0;
    for (auto at = reply.find("<Plate>"); at != std::string::npos;
         at = reply.find("<Plate>", at + 1))
        ++plates;
    EXPECT_EQ(plates, static_cast<std::size_t>(kLocations));
    const auto lines = WaitForLogLines(lab.LogPath(), 3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(EventOf(lines[2]), "Disconnect");
}

}  // namespace
}  // namespace krb::server::testing
