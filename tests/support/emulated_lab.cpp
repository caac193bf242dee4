#include "support/emulated_lab.h"

#include "KRB_lib.h"
#include "support/controller_setup.h"

namespace krb::test_support {

EmulatedLab::EmulatedLab(const std::string& name) : root_(name), files_(root_.path()) {}

EmulatedLab::~EmulatedLab() {
    for (int com : comPorts_) KRBDisconnect(std::to_string(com).c_str());
    controllers_.clear();
}

sim::ControllerEmulator& EmulatedLab::AddUnit(int com, const std::string& id,
                                              const std::string& sections) {
    comPorts_.push_back(com);
    controllers_.push_back(std::make_unique<sim::ControllerEmulator>(ports_, com));
    files_.AddUnit(com, id, sections);
    return *controllers_.back();
}

std::string EmulatedLab::WriteConfiguration(bool withLog) {
    configPath_ = files_.WriteConfiguration(0, withLog ? "LogFile=server.log\r\n" : "");
    return configPath_;
}

void EmulatedLab::MakeReady(int index) { makeReadyAndReferenced(Controller(index)); }

}  // namespace krb::test_support
