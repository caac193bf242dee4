// A client corrects plate records and cassette geometry of the demo lab over TCP: each
// update is answered with its result and the connection closed; the contents file, the unit
// file and the library's cassette table show the change.
#include "KRB_lib.h"
#include "demo_lab_server.h"
#include "platform/profile_file.h"

namespace krb::server::e2e {
namespace {

using UpdatesOverTcp = DemoLabServerTest;

std::string Update(int port, const std::string& command) {
    TestClient client(port);
    client.Send(command);
    return client.ReadToEnd();
}

TEST_F(UpdatesOverTcp, PlateRecordsAreCorrectedAndBadValuesRefused) {
    const auto contents = LabFile("Lab/System1/Unit1Contents.csv");
    EXPECT_EQ(Update(ServerPort(), "UpdatePlateName(Base1,21,Assay 3)\r"), "1\r\n");
    EXPECT_EQ(Update(ServerPort(), "UpdatePlateBCR(Base1,21,X-21)\r"), "1\r\n");
    EXPECT_EQ(Update(ServerPort(), "UpdatePlateLoadDate(Base1,21,2026-12-07 08:30)\r"), "1\r\n");
    EXPECT_EQ(Update(ServerPort(), "UpdatePlateName(Base1,21,Assay, batch 3)\r"), "-1\r\n");
    EXPECT_EQ(Update(ServerPort(), "UpdatePlateUnloadDate(Base1,21,soon)\r"), "-1\r\n");
    EXPECT_EQ(Update(ServerPort(), "UpdatePlatePP(Nowhere,21,1)\r"), "-1\r\n");
    const auto lines = ReadContents(contents);
    ASSERT_EQ(lines.size(), 200u);
    EXPECT_EQ(lines[20].Name(), "Assay 3");
    EXPECT_EQ(lines[20].Barcode(), "X-21");
    EXPECT_EQ(lines[20].fields[8], "07.12.2026 08:30:00");
    EXPECT_EQ(lines[20].fields[9], "");
}

TEST_F(UpdatesOverTcp, MoreLevelsReachTheModelTheUnitTheUnitFileAndTheContentsFile) {
    EXPECT_EQ(Update(ServerPort(), "UpdateSlotLevels(Base1,2,12)\r"), "1\r\n");
    EXPECT_EQ(Unit("Base1").FindCassette(2)->Levels, 12);
    EXPECT_STREQ(KRBReadCassetteConfig("1", "2"), "12,25");

    const auto lines = ReadContents(LabFile("Lab/System1/Unit1Contents.csv"));
    ASSERT_EQ(lines.size(), 202u);
    EXPECT_EQ(lines[20].fields[0], "21");
    EXPECT_EQ(lines[20].Cassette(), "2");
    EXPECT_EQ(lines[20].Level(), "11");
    EXPECT_EQ(lines[20].Name(), "Location 21");
    EXPECT_EQ(lines[21].Level(), "12");
    EXPECT_EQ(lines[22].fields[0], "23");
    EXPECT_EQ(lines[22].Cassette(), "3");
    EXPECT_EQ(lines[22].Barcode(), "P0003");
    EXPECT_EQ(lines[22].Name(), "Plate 23");

    const platform::ProfileFile unitFile(LabFile("Lab/System1/Unit1.lni").string());
    EXPECT_EQ(unitFile.readString("CassettesConfiguration", "2"), "12,25,1");
    EXPECT_EQ(unitFile.readString("CassettesConfiguration", "11"), "10,32,2");
    EXPECT_EQ(unitFile.readString("CassettesConfiguration", "UseCassConfTable"), "1");

    EXPECT_EQ(Update(ServerPort(), "UpdateSlotZPitch(Base1,7,25)\r"), "1\r\n");
    EXPECT_EQ(Update(ServerPort(), "UpdateSlotZPitch(Base1,21,25)\r"), "-1\r\n");
}

}  // namespace
}  // namespace krb::server::e2e
