#pragma once
#include <chrono>
#include <functional>

namespace krb::test_support {

// Polls in real time until the condition holds; limits are generous, so nothing depends on
// how fast the machine is. False when the limit ran out.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace krb::test_support
