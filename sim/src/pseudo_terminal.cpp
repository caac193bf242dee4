#include "sim/pseudo_terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace krb::sim {
namespace {

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string("pseudo-terminal: ") + what + ": " + std::strerror(errno));
}

void makeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) fail("tcgetattr");
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0) fail("tcsetattr");
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
    try {
        masterFd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (masterFd_ < 0) fail("posix_openpt");
        if (grantpt(masterFd_) != 0) fail("grantpt");
        if (unlockpt(masterFd_) != 0) fail("unlockpt");
        char name[128];
        if (ptsname_r(masterFd_, name, sizeof name) != 0) fail("ptsname_r");
        slavePath_ = name;
        slaveFd_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slaveFd_ < 0) fail("open slave");
        // Without raw mode the line discipline would echo our replies back to us.
        makeRaw(slaveFd_);
    } catch (...) {
        if (slaveFd_ >= 0) close(slaveFd_);
        if (masterFd_ >= 0) close(masterFd_);
        throw;
    }
}

PseudoTerminal::~PseudoTerminal() {
    close(slaveFd_);
    close(masterFd_);
}

}  // namespace krb::sim
