#include "sila/SilaHost.h"

#include <grpcpp/security/server_credentials.h>

#include <filesystem>

#include "sila/SelfSignedCertificate.h"

namespace krb::sila {

SiLAHost::SiLAHost(std::string configurationPath, LogFn log)
    : configurationPath_(std::move(configurationPath)), log_(std::move(log)), announcer_(log_) {}

SiLAHost::~SiLAHost() { stop(); }

std::string SiLAHost::beside(const char* fileName) const {
    return (std::filesystem::path(configurationPath_).parent_path() / fileName).string();
}

std::shared_ptr<grpc::ServerCredentials> SiLAHost::credentials(const HostSettings& settings) {
    if (settings.insecure) return grpc::InsecureServerCredentials();
    CertificatePair pair;
    std::string error;
    const bool ok =
        settings.certificateFile.empty()
            ? loadOrCreateSelfSigned(beside(kCertificateFileName), beside(kKeyFileName),
                                     {settings.bindAddress}, pair, error)
            : readCertificatePair(settings.certificateFile, settings.keyFile, pair, error);
    if (!ok) {
        log_("SiLA: " + error + "; no SiLA servers are started");
        return nullptr;
    }
    grpc::SslServerCredentialsOptions options;
    options.pem_key_cert_pairs.push_back({pair.keyPem, pair.certificatePem});
    return grpc::SslServerCredentials(options);
}

bool SiLAHost::start(const std::vector<std::shared_ptr<UnitBackend>>& units,
                     const UnitServerSettings& serverSettings) {
    const auto read = readHostSettings(configurationPath_);
    if (!read.error.empty()) log_(read.error);
    if (!read.settings || units.empty()) return false;
    const HostSettings& settings = *read.settings;
    if (settings.basePort + int(units.size()) - 1 > 65535) {
        log_("SiLA: BasePort " + std::to_string(settings.basePort) + " leaves no port for unit " +
             std::to_string(units.size()) + "; no SiLA servers are started");
        return false;
    }
    const auto credentials = this->credentials(settings);
    if (!credentials) return false;

    identities_ = std::make_unique<ServerIdentityStore>(beside(kIdentityFileName));
    std::vector<AnnouncedServer> announced;
    for (size_t i = 0; i < units.size(); ++i) {
        auto server = std::make_unique<UnitServer>(units[i], *identities_, serverSettings);
        if (!server->context().identityPersisted()) {
            log_("SiLA: cannot write " + identities_->path() + "; the server UUID of " +
                 server->context().identity().unitId + " will change at the next start");
        }
        const std::string address =
            settings.bindAddress + ":" + std::to_string(settings.basePort + int(i));
        std::string error;
        if (!server->start(address, credentials, error)) {
            log_("SiLA: " + error + "; no SiLA servers are started");
            stop();
            return false;
        }
        announced.push_back({server->context().uuid(), server->port(),
                             server->context().serverName(),
                             server->context().identity().description});
        servers_.push_back(std::move(server));
    }
    announcer_.announce(announced);
    return true;
}

void SiLAHost::stop() {
    announcer_.withdraw();
    for (auto& server : servers_) server->stop();
    servers_.clear();
}

}  // namespace krb::sila
