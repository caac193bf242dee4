#pragma once
#include <string>

namespace krb::sim {

// A raw pseudo-terminal pair. The slave side is opened and kept open here, so the
// master never reads EIO while no client has the port open (or after one closed it).
class PseudoTerminal {
  public:
    PseudoTerminal();  // throws std::runtime_error on failure
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int masterFd() const { return masterFd_; }
    const std::string& slavePath() const { return slavePath_; }

  private:
    int masterFd_ = -1;
    int slaveFd_ = -1;
    std::string slavePath_;
};

}  // namespace krb::sim
