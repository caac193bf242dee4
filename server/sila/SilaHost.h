#pragma once
// Every unit of the lab as a SiLA 2 server, from the [SiLA] section of the configuration:
// unit i at BasePort + i, TLS unless Insecure=1, announced by mDNS.
#include <memory>
#include <string>
#include <vector>

#include "sila/UnitBackend.h"
#include "sila/HostSettings.h"
#include "sila/MdnsAnnouncer.h"
#include "sila/UnitServer.h"

namespace krb::sila {

// Beside the configuration; the configuration's own files are never written.
constexpr const char* kIdentityFileName = "sila-servers.lni";
constexpr const char* kCertificateFileName = "sila-certificate.pem";
constexpr const char* kKeyFileName = "sila-certificate.key";

class SiLAHost {
  public:
    SiLAHost(std::string configurationPath, LogFn log);
    ~SiLAHost();
    SiLAHost(const SiLAHost&) = delete;
    SiLAHost& operator=(const SiLAHost&) = delete;

    // Serves `units` (in load order) when the configuration enables SiLA. A wrong setting, a
    // certificate that cannot be had or a port that cannot be bound: one log line each and no
    // SiLA servers at all. false when nothing is served.
    bool start(const std::vector<std::shared_ptr<UnitBackend>>& units,
               const UnitServerSettings& serverSettings = {});
    void stop();

    const std::vector<std::unique_ptr<UnitServer>>& servers() const { return servers_; }

  private:
    std::shared_ptr<grpc::ServerCredentials> credentials(const HostSettings& settings);
    std::string beside(const char* fileName) const;

    std::string configurationPath_;
    LogFn log_;
    std::unique_ptr<ServerIdentityStore> identities_;
    std::vector<std::unique_ptr<UnitServer>> servers_;
    MdnsAnnouncer announcer_;
};

}  // namespace krb::sila
