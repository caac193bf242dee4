#pragma once
// One unit's SiLA 2 server: its features on one gRPC server (callback API: no thread per call
// or per subscription), with server reflection.
#include <grpcpp/security/server_credentials.h>
#include <grpcpp/server.h>

#include <memory>
#include <string>
#include <vector>

#include "sila/UnitContext.h"

namespace krb::sila {

class UnitServer {
  public:
    UnitServer(std::shared_ptr<UnitBackend> backend, ServerIdentityStore& store,
               const UnitServerSettings& settings = {});
    ~UnitServer();
    UnitServer(const UnitServer&) = delete;
    UnitServer& operator=(const UnitServer&) = delete;

    // Listens at `address` ("127.0.0.1:50052"; port 0 picks a free one). false with `error`
    // when the port cannot be bound.
    bool start(const std::string& address, std::shared_ptr<grpc::ServerCredentials> credentials,
               std::string& error);
    // Answers what is queued with an error, lets running calls end, closes every stream.
    void stop();

    int port() const { return port_; }
    UnitContext& context() { return context_; }

  private:
    std::shared_ptr<UnitBackend> backend_;
    UnitContext context_;
    std::vector<std::unique_ptr<grpc::Service>> services_;
    std::unique_ptr<grpc::Server> server_;
    int port_ = 0;
};

}  // namespace krb::sila
