#include "sila/ServerIdentityStore.h"

#include <regex>

#include "sila/CommandExecutions.h"

namespace krb::sila {
namespace {

bool isUuid(const std::string& text) {
    static const std::regex pattern("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
    return std::regex_match(text, pattern);
}

}  // namespace

ServerIdentity ServerIdentityStore::load(const std::string& unitId, bool& persisted) {
    std::lock_guard lock(mutex_);
    ServerIdentity identity{file_.readString(unitId, "UUID"),
                            file_.readString(unitId, "ServerName")};
    persisted = true;
    if (!isUuid(identity.uuid)) {
        identity.uuid = newUuid();
        persisted = file_.writeString(unitId, "UUID", identity.uuid);
    }
    if (identity.serverName.empty()) identity.serverName = unitId;
    return identity;
}

bool ServerIdentityStore::saveServerName(const std::string& unitId, const std::string& serverName) {
    std::lock_guard lock(mutex_);
    return file_.writeString(unitId, "ServerName", serverName);
}

}  // namespace krb::sila
