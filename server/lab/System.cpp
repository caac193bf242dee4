#include "lab/System.h"

namespace krb::server {

TKRBSystem::TKRBSystem(std::string name, std::string id)
    : Name(std::move(name)), Id(std::move(id)) {}

TKRBId& TKRBSystem::AddUnit(std::unique_ptr<TKRBId> unit) {
    Units.push_back(std::move(unit));
    return *Units.back();
}

}  // namespace krb::server
