#pragma once
// The TLS certificate of the SiLA servers: the operator's, or one the server makes for itself
// at first start and keeps (the key readable by the owner only).
#include <string>
#include <vector>

namespace krb::sila {

struct CertificatePair {
    std::string certificatePem;
    std::string keyPem;
};

bool readCertificatePair(const std::string& certificatePath, const std::string& keyPath,
                         CertificatePair& pair, std::string& error);

// Reads the pair when both files are there; creates both when neither is (subject alternative
// names: localhost, 127.0.0.1 and `hostNames`). One without the other is an error: an
// operator's file is never replaced.
bool loadOrCreateSelfSigned(const std::string& certificatePath, const std::string& keyPath,
                            const std::vector<std::string>& hostNames, CertificatePair& pair,
                            std::string& error);

}  // namespace krb::sila
