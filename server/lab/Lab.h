#pragma once
#include <memory>
#include <string>
#include <vector>

#include "lab/System.h"

namespace krb::server {

class TKRBLab {
  public:
    TKRBSystem& AddSystem(std::unique_ptr<TKRBSystem> system);
    // First unit, over Systems then Units, whose UnitId equals the text exactly.
    TKRBId* FindUnit(const std::string& unitId) const;

    std::vector<std::unique_ptr<TKRBSystem>> Systems;
};

}  // namespace krb::server
