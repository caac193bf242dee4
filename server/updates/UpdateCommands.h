#pragma once
// The plate and slot update commands, carried out on the core's lab model.
namespace krb::server {

class ServerCore;

void InstallUpdateCommands(ServerCore& core);

}  // namespace krb::server
