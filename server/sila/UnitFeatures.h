#pragma once
// The project's own features of one unit server, as the FDLs in features/ define them.
#include <grpcpp/impl/codegen/service_type.h>

#include <memory>
#include <vector>

#include "sila/UnitContext.h"

namespace krb::sila {

// SiLAService and every feature the unit serves (UnitContext::features()), in that order.
std::vector<std::unique_ptr<grpc::Service>> makeFeatureServices(UnitContext& unit);

}  // namespace krb::sila
