#pragma once
#include <memory>
#include <string>
#include <vector>

#include "lab/Unit.h"

namespace krb::server {

class TKRBSystem {
  public:
    TKRBSystem(std::string name, std::string id);

    TKRBId& AddUnit(std::unique_ptr<TKRBId> unit);

    std::string Name;
    std::string Id;
    std::vector<std::unique_ptr<TKRBId>> Units;
};

}  // namespace krb::server
