#include "support/lab_files.h"

#include "support/temp_dir.h"

namespace krb::test_support {

LabFiles::LabFiles(std::filesystem::path root, std::string systemName)
    : root_(std::move(root)), systemName_(std::move(systemName)) {}

void LabFiles::AddUnit(int com, const std::string& id, const std::string& sections) {
    ++units_;
    unitList_ += "Unit" + std::to_string(units_) + "=" + id + ".lni\r\n";
    WriteFile("lab/System1/" + id + ".lni", "[Unit]\r\nUnitComPort=" + std::to_string(com) +
                                                "\r\nUnitId=" + id + "\r\n" + sections);
}

std::string LabFiles::WriteConfiguration(int port, const std::string& tcpLines) const {
    WriteFile("lab/System1/System.lni",
              "[System]\r\nSystemName=" + systemName_ + "\r\nSystemId=1\r\n[Unit]\r\n" + unitList_);
    return WriteFile("DriverConfig.lni", "[paths]\r\nKrbMainFolder=" + (root_ / "lab").string() +
                                             "\r\n[TCP]\r\nport=" + std::to_string(port) + "\r\n" +
                                             tcpLines);
}

std::string LabFiles::WriteFile(const std::string& relative, const std::string& content) const {
    const auto path = root_ / relative;
    std::filesystem::create_directories(path.parent_path());
    writeWholeFile(path.string(), content);
    return path.string();
}

void copyDemoLab(const std::filesystem::path& root) {
    std::filesystem::copy(KRB_DEMO_LAB_DIR, root, std::filesystem::copy_options::recursive);
}

std::string demoLabFile(const std::string& name) {
    return std::string(KRB_DEMO_LAB_DIR) + "/" + name;
}

}  // namespace krb::test_support
