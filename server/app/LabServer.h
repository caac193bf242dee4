#pragma once
// The server as the program runs it: the text protocol with every front end plugged in (XML
// views, plate and slot updates, service notifications, the dashboard and /metrics, the SiLA 2
// unit servers).
#include "protocol/ServerCore.h"

namespace krb::server {

class LabServer : public ServerCore {
  public:
    explicit LabServer(const KRBExports& exports = LibraryExports());
};

}  // namespace krb::server
