#pragma once
// SiLA errors as the standard encodes them: gRPC ABORTED, the message the base64 of a
// serialised SiLAError.
#include <grpcpp/support/status.h>

#include <optional>
#include <string>

#include "SiLAFramework.pb.h"

namespace krb::sila {

using FrameworkErrorType = sila2::org::silastandard::FrameworkError::ErrorType;

grpc::Status validationError(const std::string& parameter, const std::string& message);
grpc::Status definedExecutionError(const std::string& identifier, const std::string& message);
grpc::Status undefinedExecutionError(const std::string& message);
grpc::Status frameworkError(FrameworkErrorType type, const std::string& message);

// The SiLAError a status carries; empty when it carries none.
std::optional<sila2::org::silastandard::SiLAError> decodeSiLAError(const grpc::Status& status);

}  // namespace krb::sila
