#include "sila/MdnsAnnouncer.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>

namespace krb::sila {

struct MdnsAnnouncer::Avahi {
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
};

namespace {

void ignoreClientState(AvahiClient*, AvahiClientState, void*) {}
void ignoreGroupState(AvahiEntryGroup*, AvahiEntryGroupState, void*) {}

int addService(AvahiEntryGroup* group, const AnnouncedServer& server) {
    const std::string version = "version=1.1";
    const std::string name = "server_name=" + server.serverName;
    const std::string description = "description=" + server.description;
    return avahi_entry_group_add_service(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                         AvahiPublishFlags(0), server.uuid.c_str(), "_sila._tcp",
                                         nullptr, nullptr, uint16_t(server.port), version.c_str(),
                                         name.c_str(), description.c_str(), nullptr);
}

}  // namespace

MdnsAnnouncer::~MdnsAnnouncer() { withdraw(); }

bool MdnsAnnouncer::announce(const std::vector<AnnouncedServer>& servers) {
    withdraw();
    auto* avahi = new Avahi;
    avahi->poll = avahi_threaded_poll_new();
    int error = 0;
    if (avahi->poll) {
        avahi->client = avahi_client_new(avahi_threaded_poll_get(avahi->poll), AvahiClientFlags(0),
                                         ignoreClientState, nullptr, &error);
    }
    if (!avahi->client) {
        log_(std::string("SiLA: no mDNS announcement, the Avahi daemon is not reachable (") +
             avahi_strerror(error) + ")");
        if (avahi->poll) avahi_threaded_poll_free(avahi->poll);
        delete avahi;
        return false;
    }
    avahi->group = avahi_entry_group_new(avahi->client, ignoreGroupState, nullptr);
    int result = avahi->group ? 0 : avahi_client_errno(avahi->client);
    for (const auto& server : servers) {
        if (result == 0) result = addService(avahi->group, server);
    }
    if (result == 0) result = avahi_entry_group_commit(avahi->group);
    avahi_ = avahi;
    if (result != 0) {
        log_(std::string("SiLA: the mDNS announcement failed (") + avahi_strerror(result) + ")");
        withdraw();
        return false;
    }
    avahi_threaded_poll_start(avahi->poll);
    return true;
}

void MdnsAnnouncer::withdraw() {
    if (!avahi_) return;
    avahi_threaded_poll_stop(avahi_->poll);
    // Freeing the client frees its groups.
    avahi_client_free(avahi_->client);
    avahi_threaded_poll_free(avahi_->poll);
    delete avahi_;
    avahi_ = nullptr;
}

}  // namespace krb::sila
