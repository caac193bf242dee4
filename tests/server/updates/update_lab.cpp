#include "update_lab.h"

namespace krb::server::testing {

UpdateLab::UpdateLab(const std::string& contents) {
    Fake().Reset();
    Fake().Reply("KRBConnect", {"1"});
    driverConfig_ = folder_.File("DriverConfig.lni", "[paths]\r\nKrbMainFolder=lab\r\n");
    folder_.File("lab/System1/System.lni",
                 "[System]\r\nSystemName=S1\r\nSystemId=1\r\n"
                 "[Unit]\r\nUnit1=Unit1.lni\r\nUnit2=Unit2.lni\r\nUnit3=Unit3.lni\r\n");
    folder_.File("lab/System1/Unit1.lni", kUnit1File);
    folder_.File("lab/System1/Unit2.lni",
                 "[Unit]\r\nUnitComPort=2\r\nUnitId=U2\r\n"
                 "[CassettesConfiguration]\r\n1=3,25\r\n");
    folder_.File("lab/System1/Unit3.lni",
                 "[Unit]\r\nUnitComPort=3\r\nUnitId=U3\r\n[Contents]\r\nFileName=gone.csv\r\n"
                 "[CassettesConfiguration]\r\n1=3,25\r\n");
    folder_.File("lab/System1/U1.csv", contents);
    manager_.LoadSystems(driverConfig_);
    Fake().Reset();
}

std::string UpdateLab::UnitFilePath(int n) const {
    return (folder_.path() / "lab/System1" / ("Unit" + std::to_string(n) + ".lni")).string();
}

}  // namespace krb::server::testing
