#pragma once
// A loaded lab for the update commands: unit U1 with cassettes 1 to 3 (three levels each)
// and a contents file, U2 without a contents file, U3 whose contents file is missing.
#include <string>

#include "fake_library.h"
#include "lab/ConfigurationLoader.h"

namespace krb::server::testing {

class UpdateLab {
  public:
    // Lines 1-9: cassette 1 (sector A), 2 and 3 (sector ROOT); line 5 carries a user name.
    static constexpr const char* kContents =
        "1,1,1,1,P1,Plate 1,A,01.02.2026 10:00:00,01.02.2026,\r\n"
        "2,1,2,0,,Location 2,A,,,\r\n"
        "3,1,3,0,,Location 3,A,,,\r\n"
        "4,2,1,0,,Location 4,ROOT,,,\r\n"
        "5,2,2,1,BC5,Assay 4,ROOT,,,\r\n"
        "6,2,3,0,,Location 6,ROOT,,,\r\n"
        "7,3,1,1,,Plate 7,ROOT,,,\r\n"
        "8,3,2,0,,Location 8,ROOT,,,\r\n"
        "9,3,3,0,,Location 9,ROOT,,,\r\n";
    static constexpr const char* kUnit1File =
        "[Unit]\r\nUnitComPort=1\r\nUnitId=U1\r\n"
        "[Contents]\r\nFileName=U1.csv\r\n"
        "[CassettesConfiguration]\r\nUseCassConfTable=1\r\n1-3=3,25,2\r\n"
        "[Partitions]\r\nA=1\r\n";

    // `contents` replaces the file of U1.
    explicit UpdateLab(const std::string& contents = kContents);

    TKRBManager& Manager() { return manager_; }
    TKRBId& Unit(const std::string& id) { return *manager_.Lab().FindUnit(id); }
    std::string Contents() const { return folder_.Read("lab/System1/U1.csv"); }
    std::string UnitFile(int n) const {
        return folder_.Read("lab/System1/Unit" + std::to_string(n) + ".lni");
    }
    std::string UnitFilePath(int n) const;
    std::string DriverConfig() const { return driverConfig_; }

  private:
    TempFolder folder_;
    MessageCapture messages_;
    UnitDirectory browser_;
    TKRBManager manager_{FakeExports(), &browser_};
    std::string driverConfig_;
};

}  // namespace krb::server::testing
