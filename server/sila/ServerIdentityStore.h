#pragma once
// Each unit server's UUID and client-set name, kept across restarts in a file of their own
// beside the configuration (never in the configuration's own files).
#include <mutex>
#include <optional>
#include <string>

#include "platform/profile_file.h"

namespace krb::sila {

struct ServerIdentity {
    std::string uuid;
    std::string serverName;
};

class ServerIdentityStore {
  public:
    explicit ServerIdentityStore(std::string path) : file_(std::move(path)) {}

    const std::string& path() const { return file_.path(); }
    // The unit's identity; on first use a new UUID and the unit ID as name, written at once.
    // `persisted` is false when the file could not be written.
    ServerIdentity load(const std::string& unitId, bool& persisted);
    bool saveServerName(const std::string& unitId, const std::string& serverName);

  private:
    std::mutex mutex_;
    platform::ProfileFile file_;
};

}  // namespace krb::sila
