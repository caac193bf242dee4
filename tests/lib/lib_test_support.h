#pragma once
// The library's suites: a controller emulator per test and its transcript.
#include "support/controller_setup.h"
#include "support/eventually.h"
#include "support/time_scale.h"

namespace krb::test {

using test_support::contains;
using test_support::eventually;
using test_support::linesStartingWith;
using test_support::makeReadyAndReferenced;
using test_support::ScopedTimeScale;

}  // namespace krb::test
