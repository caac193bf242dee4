#include "sim/port_directory.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace krb::sim {
namespace {

constexpr const char* kEnvironmentName = "KRB_PORT_DIR";

std::string makeTemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "krb-ports-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("cannot create a port folder: " +
                                 std::string(std::strerror(errno)));
    }
    return buffer.data();
}

void checkComNumber(int comNumber) {
    if (comNumber < 1) throw std::invalid_argument("COM numbers start at 1");
}

}  // namespace

PortDirectory::PortDirectory() : path_(makeTemporaryFolder()), ownsFolder_(true) {
    pointEnvironmentHere();
}

PortDirectory::PortDirectory(std::string existingDir) : path_(std::move(existingDir)) {
    std::filesystem::create_directories(path_);
    pointEnvironmentHere();
}

PortDirectory::~PortDirectory() {
    std::set<int> published;
    {
        std::lock_guard lock(mutex_);
        published = published_;
    }
    for (int comNumber : published) unpublish(comNumber);
    if (ownsFolder_) {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);  // only when empty: others' entries stay
    }
    if (previousEnvironment_) {
        setenv(kEnvironmentName, previousEnvironment_->c_str(), 1);
    } else {
        unsetenv(kEnvironmentName);
    }
}

void PortDirectory::pointEnvironmentHere() {
    if (const char* previous = std::getenv(kEnvironmentName)) previousEnvironment_ = previous;
    setenv(kEnvironmentName, path_.c_str(), 1);
}

std::string PortDirectory::entryPath(int comNumber) const {
    return (std::filesystem::path(path_) / ("COM" + std::to_string(comNumber))).string();
}

void PortDirectory::publish(int comNumber, const std::string& devicePath) {
    checkComNumber(comNumber);
    const std::string entry = entryPath(comNumber);
    // Link under a temporary name, then rename over: a client never sees a half-made entry.
    const std::string staging = entry + ".new." + std::to_string(getpid());
    std::lock_guard lock(mutex_);
    unlink(staging.c_str());
    if (symlink(devicePath.c_str(), staging.c_str()) != 0 ||
        rename(staging.c_str(), entry.c_str()) != 0) {
        const int error = errno;
        unlink(staging.c_str());
        throw std::runtime_error("cannot publish " + entry + ": " + std::strerror(error));
    }
    published_.insert(comNumber);
}

void PortDirectory::unpublish(int comNumber) {
    std::lock_guard lock(mutex_);
    if (published_.erase(comNumber) == 0) return;
    unlink(entryPath(comNumber).c_str());
}

}  // namespace krb::sim
