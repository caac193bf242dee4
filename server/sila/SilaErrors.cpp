#include "sila/SilaErrors.h"

#include <openssl/evp.h>

#include <vector>

namespace krb::sila {
namespace {

using sila2::org::silastandard::SiLAError;

std::string base64(const std::string& bytes) {
    std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1);
    const int length = EVP_EncodeBlock(
        out.data(), reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()));
    return std::string(reinterpret_cast<const char*>(out.data()), size_t(length));
}

std::optional<std::string> fromBase64(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    std::vector<unsigned char> out(3 * text.size() / 4 + 1);
    const int length = EVP_DecodeBlock(
        out.data(), reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    if (length < 0) return std::nullopt;
    // EVP_DecodeBlock counts the padding as data.
    size_t size = size_t(length);
    for (auto it = text.rbegin(); it != text.rend() && *it == '='; ++it) --size;
    return std::string(reinterpret_cast<const char*>(out.data()), size);
}

grpc::Status aborted(const SiLAError& error) {
    return grpc::Status(grpc::StatusCode::ABORTED, base64(error.SerializeAsString()));
}

}  // namespace

grpc::Status validationError(const std::string& parameter, const std::string& message) {
    SiLAError error;
    error.mutable_validationerror()->set_parameter(parameter);
    error.mutable_validationerror()->set_message(message);
    return aborted(error);
}

grpc::Status definedExecutionError(const std::string& identifier, const std::string& message) {
    SiLAError error;
    error.mutable_definedexecutionerror()->set_erroridentifier(identifier);
    error.mutable_definedexecutionerror()->set_message(message);
    return aborted(error);
}

grpc::Status undefinedExecutionError(const std::string& message) {
    SiLAError error;
    error.mutable_undefinedexecutionerror()->set_message(message);
    return aborted(error);
}

grpc::Status frameworkError(FrameworkErrorType type, const std::string& message) {
    SiLAError error;
    error.mutable_frameworkerror()->set_errortype(type);
    error.mutable_frameworkerror()->set_message(message);
    return aborted(error);
}

std::optional<SiLAError> decodeSiLAError(const grpc::Status& status) {
    if (status.error_code() != grpc::StatusCode::ABORTED) return std::nullopt;
    const auto bytes = fromBase64(status.error_message());
    SiLAError error;
    if (!bytes || !error.ParseFromString(*bytes) ||
        error.error_case() == SiLAError::ERROR_NOT_SET) {
        return std::nullopt;
    }
    return error;
}

}  // namespace krb::sila
