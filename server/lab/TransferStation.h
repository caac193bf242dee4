#pragma once
#include <string>

namespace krb::server {

class TKRBId;

// Transfer station of a unit; the views print a fixed name and type for it.
class TKRBxFer {
  public:
    std::string Name;
    TKRBId* Unit = nullptr;
};

}  // namespace krb::server
