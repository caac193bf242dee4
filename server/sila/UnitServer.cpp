#include "sila/UnitServer.h"

#include <grpcpp/ext/proto_server_reflection_plugin.h>
#include <grpcpp/server_builder.h>

#include <chrono>
#include <mutex>

#include "sila/UnitFeatures.h"

namespace krb::sila {

UnitServer::UnitServer(std::shared_ptr<UnitBackend> backend, ServerIdentityStore& store,
                       const UnitServerSettings& settings)
    : backend_(backend), context_(std::move(backend), store, settings) {}

UnitServer::~UnitServer() { stop(); }

bool UnitServer::start(const std::string& address,
                       std::shared_ptr<grpc::ServerCredentials> credentials, std::string& error) {
    static std::once_flag reflection;
    std::call_once(reflection, [] { grpc::reflection::InitProtoReflectionServerBuilderPlugin(); });
    services_ = makeFeatureServices(context_);
    grpc::ServerBuilder builder;
    // Only the reflection service is synchronous: one poller thread is plenty for it.
    builder.SetSyncServerOption(grpc::ServerBuilder::NUM_CQS, 1);
    builder.SetSyncServerOption(grpc::ServerBuilder::MIN_POLLERS, 1);
    builder.SetSyncServerOption(grpc::ServerBuilder::MAX_POLLERS, 1);
    builder.AddListeningPort(address, std::move(credentials), &port_);
    for (const auto& service : services_) builder.RegisterService(service.get());
    server_ = builder.BuildAndStart();
    if (!server_ || port_ == 0) {
        server_.reset();
        error = "cannot listen at " + address;
        return false;
    }
    auto& changes = context_.statusChanges();
    backend_->setStatusListener([&changes] { changes.notify(); });
    return true;
}

void UnitServer::stop() {
    if (!server_) return;
    backend_->setStatusListener({});
    context_.workers().stop();
    server_->Shutdown(std::chrono::system_clock::now() + std::chrono::seconds(1));
    server_->Wait();
    server_.reset();
}

}  // namespace krb::sila
