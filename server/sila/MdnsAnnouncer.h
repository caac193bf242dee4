#pragma once
// Announces the unit servers by mDNS through the Avahi daemon: service type _sila._tcp,
// instance name = server UUID, TXT version, server_name, description. Without a daemon: one
// log line and no announcement.
#include <functional>
#include <string>
#include <vector>

namespace krb::sila {

using LogFn = std::function<void(const std::string&)>;

struct AnnouncedServer {
    std::string uuid;
    int port = 0;
    std::string serverName;
    std::string description;
};

class MdnsAnnouncer {
  public:
    explicit MdnsAnnouncer(LogFn log) : log_(std::move(log)) {}
    ~MdnsAnnouncer();
    MdnsAnnouncer(const MdnsAnnouncer&) = delete;
    MdnsAnnouncer& operator=(const MdnsAnnouncer&) = delete;

    // true when the daemon took the announcements.
    bool announce(const std::vector<AnnouncedServer>& servers);
    void withdraw();

  private:
    struct Avahi;
    LogFn log_;
    Avahi* avahi_ = nullptr;
};

}  // namespace krb::sila
