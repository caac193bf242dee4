#pragma once
// The front end's lab: emulated units with the server's configuration for them, and the
// shared helpers the suites use with it.
#include "support/emulated_lab.h"
#include "support/running_server.h"
#include "support/tcp_client.h"
#include "support/temp_dir.h"

namespace krb::server::frontend_testing {

using test_support::EventOf;
using test_support::readLines;
using test_support::RunningServer;
using test_support::TestClient;
using test_support::WaitForLogLines;

// One system of emulated units "U1", "U2" ... on COM numbers of their own, each with one
// cassette range and a contents file; the configuration is written at once.
class EmulatedLab : public test_support::EmulatedLab {
  public:
    explicit EmulatedLab(int units = 1, bool withLog = true);
};

void Pause();  // lets the server take one text before the next is sent

}  // namespace krb::server::frontend_testing
