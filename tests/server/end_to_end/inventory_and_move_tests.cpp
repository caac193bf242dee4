// Long operations of a scheduler's session: an inventory with plate export of the plate store
// (COM4, reader on COM14) merged into its contents file, and service moves through the cascade
// (base COM1, cascader COM2, extension COM3). Outcomes are checked against the simulator's plate
// world.
#include <map>
#include <optional>
#include <set>

#include "demo_lab_server.h"

namespace krb::server::e2e {
namespace {

using sim::Place;

std::optional<Place> PlaceOf(sim::PlateWorld& world, const std::string& barcode) {
    const auto found = world.findBarcode(barcode);
    if (found.size() != 1) return std::nullopt;
    return found.front().place;
}

class InventoryOverTcp : public DemoLabServerTest {
  protected:
    std::filesystem::path ContentsFile() { return LabFile("Lab/System2/Unit4Contents.csv"); }
    std::set<std::string> SystemFolderFiles() {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(LabFile("Lab/System2")))
            names.insert(entry.path().filename().string());
        return names;
    }
};

TEST_F(InventoryOverTcp, PlateExportMergesThePlatesAndBarcodesOfTheUnit) {
    TestClient client(ServerPort());
    Activate(client, "Store4", "1;1");
    Control("TAKE COM4 3 3");       // P4001, listed as present in the contents file
    Control("PUT COM4 9 6 P4096");  // top level of a short cassette, listed as empty
    Control("PUT COM4 10 1 -");     // a plate without a label
    const auto filesBefore = SystemFolderFiles();

    client.Send("KRB2InventoryPlateExp(Store4,ignored.inv,1,1)\r");
    EXPECT_EQ(AwaitLine(client), "1\r\n");
    EXPECT_EQ(AwaitLine(client), "\r\n");

    const auto lines = ReadContents(ContentsFile());
    ASSERT_EQ(lines.size(), 108u);
    std::map<std::pair<std::string, std::string>, const ContentsLine*> byLocation;
    for (const auto& line : lines) byLocation[{line.Cassette(), line.Level()}] = &line;

    std::size_t platesInSlots = 0;
    for (const auto& placed : World().platesOf(kStore)) {
        if (placed.place.kind != sim::PlaceKind::Slot) continue;
        ++platesInSlots;
        const auto found = byLocation.find(
            {std::to_string(placed.place.first), std::to_string(placed.place.second)});
        ASSERT_NE(found, byLocation.end()) << sim::describePlace(placed.place);
        EXPECT_EQ(found->second->Present(), "1") << sim::describePlace(placed.place);
        EXPECT_EQ(found->second->Barcode(), placed.plate.labelled ? placed.plate.barcode : "")
            << sim::describePlace(placed.place);
    }
    EXPECT_EQ(platesInSlots, 4u);
    std::size_t presentLines = 0;
    for (const auto& line : lines) {
        if (line.Present() == "1")
            ++presentLines;
        else
            EXPECT_EQ(line.Barcode(), "") << "location " << line.fields[0];
        EXPECT_FALSE(line.CheckDate().empty()) << "location " << line.fields[0];
        EXPECT_EQ(line.fields[6], std::stoi(line.Cassette()) <= 2 ? "Racks" : "Plates");
    }
    EXPECT_EQ(presentLines, platesInSlots);

    const ContentsLine& taken = *byLocation.at({"3", "3"});
    EXPECT_EQ(taken.Name(), "Location " + taken.fields[0]);
    const ContentsLine& added = *byLocation.at({"9", "6"});
    EXPECT_EQ(added.Name(), "Plate " + added.fields[0]);
    EXPECT_EQ(SystemFolderFiles(), filesBefore) << "the inventory file is deleted after the merge";
    EXPECT_FALSE(lab_->model(kStore).status().scanMode);
}

TEST_F(InventoryOverTcp, AnInventoryOfAUnitThatIsNotActivatedLeavesTheContentsFile) {
    const auto before = ReadContents(ContentsFile());
    const auto filesBefore = SystemFolderFiles();
    TestClient client(ServerPort());
    client.Send("KRB2InventoryPlateExp(Store4,ignored.inv,1,1)\r");
    const std::string reply = AwaitLine(client);
    EXPECT_NE(reply, "1\r\n");
    EXPECT_TRUE(reply.size() > 2 && reply.substr(reply.size() - 2) == "\r\n" &&
                reply.find_first_not_of("-0123456789") == reply.size() - 2)
        << reply;
    EXPECT_EQ(AwaitLine(client), "\r\n");
    const auto after = ReadContents(ContentsFile());
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i].fields, before[i].fields);
    EXPECT_EQ(SystemFolderFiles(), filesBefore);
}

// Base1, Cascader1 and Ext1 keep their contents files in one folder; scans started together
// must each end in their own unit's file.
TEST_F(DemoLabServerTest, ConcurrentPlateExportsOfOneFolderKeepTheirOwnPlates) {
    const std::vector<std::pair<std::string, int>> units{
        {"Base1", kBase}, {"Cascader1", kCascader}, {"Ext1", kExtension}};
    std::vector<std::unique_ptr<TestClient>> clients;
    for (const auto& [id, com] : units) {
        clients.push_back(std::make_unique<TestClient>(ServerPort()));
        Activate(*clients.back(), id, id == "Base1" ? "1;1" : "1");
    }
    for (std::size_t i = 0; i < units.size(); ++i)
        clients[i]->Send("KRB2InventoryPlateExp(" + units[i].first + ",x,1,0)\r");
    for (std::size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(AwaitLine(*clients[i]), "1\r\n") << units[i].first;
        EXPECT_EQ(AwaitLine(*clients[i]), "\r\n") << units[i].first;
    }
    for (const auto& [id, com] : units) {
        std::set<std::pair<std::string, std::string>> inWorld, inFile;
        for (const auto& placed : World().platesOf(com)) {
            if (placed.place.kind == sim::PlaceKind::Slot)
                inWorld.insert(
                    {std::to_string(placed.place.first), std::to_string(placed.place.second)});
        }
        const auto file = LabFile("Lab/System1/Unit" + std::to_string(com) + "Contents.csv");
        for (const auto& line : ReadContents(file)) {
            if (line.Present() == "1") inFile.insert({line.Cassette(), line.Level()});
        }
        EXPECT_EQ(inFile, inWorld) << id;
    }
}

// Base slot 3 level 1 (P0003) to extension slot 6 level 1, through base cascade slot 1 and
// extension cascade slot 2, code 0 on both sides.
const std::string kBaseToExtension = "KRB2ServiceMovePlate(Base1,2,3,1,1,0,Ext1,2,6,1,2,0)\r";

class ServiceMoveOverTcp : public DemoLabServerTest {
  protected:
    void SetUp() override {
        DemoLabServerTest::SetUp();
        ConnectClient({{"Base1", "1;1"}, {"Cascader1", "1"}, {"Ext1", "1"}});
    }
    bool HandlersEmpty() {
        for (int com : {kBase, kCascader, kExtension})
            if (World().occupied(Place::shovel(com))) return false;
        return true;
    }
};

TEST_F(ServiceMoveOverTcp, BaseToExtensionDeliversThePlate) {
    EXPECT_EQ(Ask(*client_, kBaseToExtension), "1\r\n");
    EXPECT_EQ(PlaceOf(World(), "P0003"), Place::slot(kExtension, 6, 1));
    EXPECT_TRUE(HandlersEmpty());
    EXPECT_FALSE(Unit("Base1").MoveBusy);
}

TEST_F(ServiceMoveOverTcp, AFailedStepNamesTheUnitByItsId) {
    Control("FAULT COM3 error 7303");  // the extension's pick from its cascade position
    EXPECT_EQ(Ask(*client_, kBaseToExtension), "-Ext1;3\r\n");
    EXPECT_EQ(PlaceOf(World(), "P0003"), Place::slot(kExtension, 2, 3));
    EXPECT_TRUE(HandlersEmpty());
    EXPECT_FALSE(Unit("Base1").MoveBusy);
}

TEST_F(ServiceMoveOverTcp, RefusedMovesAnswerTheirNegativeCode) {
    // An even base cascade slot is refused before anything moves.
    EXPECT_EQ(Ask(*client_, "KRB2ServiceMovePlate(Base1,2,3,1,2,0,Ext1,2,6,1,2,0)\r"), "-6\r\n");
    // A target that names no unit reaches the library as unit 0.
    EXPECT_EQ(Ask(*client_, "KRB2ServiceMovePlate(Base1,2,3,1,1,0,Ext9,2,6,1,2,0)\r"), "-3\r\n");
    EXPECT_EQ(Ask(*client_, "KRB2ServiceMovePlate(Base1,2,3,1,1,0,Ext1,2,6,1,2)\r"), "E3\r\n");
    EXPECT_EQ(PlaceOf(World(), "P0003"), Place::slot(kBase, 3, 1));
}

TEST_F(ServiceMoveOverTcp, ASecondMoveWhileOneRunsIsRefused) {
    Control("FAULT COM1 slow 3000");  // the base's handler motions take their time
    TestClient second(ServerPort());
    client_->Send(kBaseToExtension);
    ASSERT_TRUE(eventually([&] { return Unit("Base1").MoveBusy.load(); }));
    EXPECT_EQ(Ask(second, kBaseToExtension), "-1\r\n");
    EXPECT_EQ(AwaitLine(*client_), "1\r\n");
    EXPECT_EQ(PlaceOf(World(), "P0003"), Place::slot(kExtension, 6, 1));
    EXPECT_TRUE(HandlersEmpty());
}

// The contents records of the move's source (base slot 3 level 1, location 21) and target
// (extension slot 6 level 1, location 51), and the extension's cascade position (slot 2
// level 3, location 13).
class RecordsFollowingMoves : public ServiceMoveOverTcp {
  protected:
    std::filesystem::path BaseContents() { return LabFile("Lab/System1/Unit1Contents.csv"); }
    std::filesystem::path ExtContents() { return LabFile("Lab/System1/Unit3Contents.csv"); }
    ContentsLine Source() { return ReadContents(BaseContents()).at(20); }
    ContentsLine Target() { return ReadContents(ExtContents()).at(50); }
    ContentsLine ExtCascadePosition() { return ReadContents(ExtContents()).at(12); }
    std::string Get(const std::string& request) {
        TestClient client(ServerPort());
        client.Send(request);
        return client.ReadToEnd();
    }
    std::string PlateView(const std::string& unitId, int location) {
        return Get("GET /PlateExp/DrawPlate?unitid=" + unitId + "&id=" + std::to_string(location) +
                   " HTTP/1.1\r\n\r\n");
    }
    static bool Shows(const std::string& view, const std::string& element) {
        return view.find(element) != std::string::npos;
    }
};

TEST_F(RecordsFollowingMoves, ADeliveredPlateTakesItsRecordToTheTarget) {
    ASSERT_EQ(Source().Barcode(), "P0003");
    ASSERT_EQ(Ask(*client_, kBaseToExtension), "1\r\n");
    EXPECT_EQ(Source().Present(), "0");
    EXPECT_EQ(Source().Barcode(), "");
    EXPECT_EQ(Source().Name(), "Location 21");
    EXPECT_EQ(Target().Present(), "1");
    EXPECT_EQ(Target().Barcode(), "P0003");
    EXPECT_EQ(Target().Name(), "Plate 51");
    const std::string sourceView = PlateView("Base1", 21);
    const std::string targetView = PlateView("Ext1", 51);
    EXPECT_TRUE(Shows(sourceView, "<PlatePP>0</PlatePP>")) << sourceView;
    EXPECT_TRUE(Shows(sourceView, "<PlateBCR></PlateBCR>")) << sourceView;
    EXPECT_TRUE(Shows(targetView, "<PlatePP>1</PlatePP>")) << targetView;
    EXPECT_TRUE(Shows(targetView, "<PlateBCR>P0003</PlateBCR>")) << targetView;

    // The moved record is corrected as any other.
    EXPECT_EQ(Get("UpdatePlateName(Ext1,51,Moved batch)\r"), "1\r\n");
    EXPECT_EQ(Get("UpdatePlateBCR(Ext1,51,X-51)\r"), "1\r\n");
    EXPECT_EQ(Target().Name(), "Moved batch");
    EXPECT_EQ(Target().Barcode(), "X-51");
    EXPECT_EQ(Target().Present(), "1");
    EXPECT_EQ(Source().Present(), "0");
}

TEST_F(RecordsFollowingMoves, AFailureBeforeThePlateLeftChangesNoRecord) {
    const std::string baseBefore = test_support::readWholeFile(BaseContents().string());
    const std::string extBefore = test_support::readWholeFile(ExtContents().string());
    Control("FAULT COM1 error 7303");  // the base's pick: the plate never left its slot
    ASSERT_EQ(Ask(*client_, kBaseToExtension), "-Base1;3\r\n");
    EXPECT_EQ(test_support::readWholeFile(BaseContents().string()), baseBefore);
    EXPECT_EQ(test_support::readWholeFile(ExtContents().string()), extBefore);
}

TEST_F(RecordsFollowingMoves, AFailureAfterTheCascaderCarriedEmptiesOnlyTheSource) {
    const std::string extBefore = test_support::readWholeFile(ExtContents().string());
    Control("FAULT COM3 error 7303");  // the extension's pick from its cascade position
    ASSERT_EQ(Ask(*client_, kBaseToExtension), "-Ext1;3\r\n");
    EXPECT_EQ(Source().Present(), "0");
    EXPECT_EQ(Source().Barcode(), "");
    EXPECT_EQ(Source().Name(), "Location 21");
    EXPECT_EQ(test_support::readWholeFile(ExtContents().string()), extBefore);
}

class MovesWithoutRecords : public ServiceMoveOverTcp {
  protected:
    void EditConfiguration(platform::ProfileFile& file) override {
        ASSERT_TRUE(file.writeString("TCP", "RecordsFollowMoves", "0"));
    }
};

TEST_F(MovesWithoutRecords, LeaveTheContentsFilesByteForByte) {
    const auto base = LabFile("Lab/System1/Unit1Contents.csv").string();
    const auto ext = LabFile("Lab/System1/Unit3Contents.csv").string();
    const std::string baseBefore = test_support::readWholeFile(base);
    const std::string extBefore = test_support::readWholeFile(ext);
    ASSERT_EQ(Ask(*client_, kBaseToExtension), "1\r\n");
    EXPECT_EQ(PlaceOf(World(), "P0003"), Place::slot(kExtension, 6, 1));
    EXPECT_EQ(test_support::readWholeFile(base), baseBefore);
    EXPECT_EQ(test_support::readWholeFile(ext), extBefore);
}

}  // namespace
}  // namespace krb::server::e2e
