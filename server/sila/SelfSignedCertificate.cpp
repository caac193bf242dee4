#include "sila/SelfSignedCertificate.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace krb::sila {
namespace {

struct Free {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(X509* certificate) const { X509_free(certificate); }
    void operator()(BIO* bio) const { BIO_free(bio); }
    void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};

bool readFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    content = text.str();
    return true;
}

// Written under a temporary name with the final mode, then renamed into place.
bool writePrivateFile(const std::string& path, const std::string& content, mode_t mode) {
    const std::string temporary = path + ".tmp";
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return false;
    const bool written = ::write(fd, content.data(), content.size()) == ssize_t(content.size());
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string pemOf(const std::unique_ptr<BIO, Free>& bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, size_t(length));
}

std::string alternativeNames(const std::vector<std::string>& hostNames) {
    std::vector<std::string> names = {"localhost", "127.0.0.1"};
    for (const auto& name : hostNames) {
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    }
    std::string text;
    for (const auto& name : names) {
        unsigned char address[16];
        const bool isIp = inet_pton(AF_INET, name.c_str(), address) == 1 ||
                          inet_pton(AF_INET6, name.c_str(), address) == 1;
        text += (text.empty() ? "" : ",") + std::string(isIp ? "IP:" : "DNS:") + name;
    }
    return text;
}

bool addExtension(X509* certificate, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, Free> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

bool makeSelfSigned(const std::vector<std::string>& hostNames, CertificatePair& pair) {
    std::unique_ptr<EVP_PKEY, Free> key(EVP_EC_gen("P-256"));
    std::unique_ptr<X509, Free> certificate(X509_new());
    if (!key || !certificate) return false;
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
    BN_free(number);
    X509_set_version(certificate.get(), 2);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 20L * 365 * 24 * 3600);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("KRBServer SiLA"), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    if (!addExtension(certificate.get(), NID_subject_alt_name, alternativeNames(hostNames)) ||
        !addExtension(certificate.get(), NID_basic_constraints, "critical,CA:TRUE") ||
        !addExtension(certificate.get(), NID_ext_key_usage, "serverAuth") ||
        X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0) {
        return false;
    }
    std::unique_ptr<BIO, Free> keyBio(BIO_new(BIO_s_mem()));
    std::unique_ptr<BIO, Free> certificateBio(BIO_new(BIO_s_mem()));
    if (!PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) ||
        !PEM_write_bio_X509(certificateBio.get(), certificate.get())) {
        return false;
    }
    pair.keyPem = pemOf(keyBio);
    pair.certificatePem = pemOf(certificateBio);
    return true;
}

}  // namespace

bool readCertificatePair(const std::string& certificatePath, const std::string& keyPath,
                         CertificatePair& pair, std::string& error) {
    if (!readFile(certificatePath, pair.certificatePem)) {
        error = "cannot read the certificate " + certificatePath;
        return false;
    }
    if (!readFile(keyPath, pair.keyPem)) {
        error = "cannot read the key " + keyPath;
        return false;
    }
    return true;
}

bool loadOrCreateSelfSigned(const std::string& certificatePath, const std::string& keyPath,
                            const std::vector<std::string>& hostNames, CertificatePair& pair,
                            std::string& error) {
    const bool haveCertificate = std::filesystem::exists(certificatePath);
    const bool haveKey = std::filesystem::exists(keyPath);
    if (haveCertificate && haveKey)
        return readCertificatePair(certificatePath, keyPath, pair, error);
    if (haveCertificate != haveKey) {
        error = (haveCertificate ? keyPath : certificatePath) + " is missing beside " +
                (haveCertificate ? certificatePath : keyPath);
        return false;
    }
    if (!makeSelfSigned(hostNames, pair)) {
        error = "cannot create a self-signed certificate";
        return false;
    }
    if (!writePrivateFile(keyPath, pair.keyPem, 0600) ||
        !writePrivateFile(certificatePath, pair.certificatePem, 0644)) {
        error = "cannot write " + certificatePath + " and " + keyPath;
        return false;
    }
    return true;
}

}  // namespace krb::sila
