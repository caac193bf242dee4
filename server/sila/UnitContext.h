#pragma once
// What every feature of one unit server shares, and the few shapes its calls take: answer at
// once, answer from a worker, start an observable command, stream its info, give its result,
// subscribe to a property.
#include <grpcpp/server_context.h>
#include <grpcpp/support/server_callback.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SiLAFramework.pb.h"
#include "sila/UnitBackend.h"
#include "sila/CommandExecutions.h"
#include "sila/ExecutionWorkers.h"
#include "sila/FeatureModel.h"
#include "sila/ServerIdentityStore.h"
#include "sila/SilaErrors.h"
#include "sila/ValueStream.h"

namespace krb::sila {

using sila2::org::silastandard::CommandConfirmation;
using sila2::org::silastandard::CommandExecutionUUID;

struct UnitServerSettings {
    std::string serverVersion = "1.0";
    std::string vendorUrl = "https://example.org/krb";
    size_t workerThreads = 2;
    size_t workerQueueLimit = 16;
    std::chrono::seconds executionLifetime{3600};
};

class UnitContext {
  public:
    UnitContext(std::shared_ptr<UnitBackend> backend, ServerIdentityStore& store,
                const UnitServerSettings& settings);

    UnitBackend& backend() { return *backend_; }
    const UnitIdentity& identity() const { return identity_; }
    const UnitServerSettings& settings() const { return settings_; }
    const std::string& uuid() const { return uuid_; }
    bool identityPersisted() const { return identityPersisted_; }
    std::string serverName() const;
    bool setServerName(const std::string& name);
    // Identifiers of the features this unit serves, SiLAService first.
    const std::vector<std::string>& features() const { return features_; }

    CommandWorkers& workers() { return workers_; }
    CommandExecutions& executions() { return executions_; }
    ChangeNotifier& statusChanges() { return statusChanges_; }

  private:
    std::shared_ptr<UnitBackend> backend_;
    ServerIdentityStore& store_;
    const UnitServerSettings settings_;
    const UnitIdentity identity_;
    std::string uuid_;
    bool identityPersisted_ = false;
    mutable std::mutex nameMutex_;
    std::string serverName_;
    std::vector<std::string> features_;
    CommandWorkers workers_;
    CommandExecutions executions_;
    ChangeNotifier statusChanges_;
};

grpc::ServerUnaryReactor* answer(grpc::CallbackServerContext* context, grpc::Status status);

// Runs `work` on the unit's workers, off gRPC's threads, and answers with what it returns.
grpc::ServerUnaryReactor* answerFromWorker(UnitContext& unit, grpc::CallbackServerContext* context,
                                           std::function<grpc::Status()> work);

// A stream that ends at once with `status`.
template <class Message>
grpc::ServerWriteReactor<Message>* failedStream(grpc::Status status) {
    class Failed final : public grpc::ServerWriteReactor<Message> {
      public:
        explicit Failed(grpc::Status status) { this->Finish(std::move(status)); }
        void OnDone() override { delete this; }
    };
    return new Failed(std::move(status));
}

std::string commandKey(const FeatureModel& feature, const std::string& command);

// Checks the parameters, then queues `run` as a new execution and confirms it with its UUID.
template <class Responses, class Parameters>
grpc::ServerUnaryReactor* startObservable(
    UnitContext& unit, grpc::CallbackServerContext* context, const FeatureModel& feature,
    const std::string& command, const Parameters& parameters, CommandConfirmation* confirmation,
    std::function<grpc::Status(const Parameters&, Responses&, const ProgressFn&)> run) {
    const auto& model = feature.command(command);
    if (auto invalid = checkParameters(feature, model, parameters))
        return answer(context, *invalid);
    auto [uuid, execution] = unit.executions().create(commandKey(feature, command));
    auto task = [execution, parameters, run = std::move(run)](bool go) {
        if (!go)
            return execution->fail(
                undefinedExecutionError("The server stopped before the command ran."));
        execution->markRunning();
        Responses responses;
        const auto status = run(parameters, responses, [execution](double fraction) {
            execution->reportProgress(fraction);
        });
        if (status.ok()) return execution->succeed(responses.SerializeAsString());
        execution->fail(status);
    };
    if (!unit.workers().submit(std::move(task))) {
        const auto refused =
            frameworkError(sila2::org::silastandard::FrameworkError::COMMAND_EXECUTION_NOT_ACCEPTED,
                           "Too many commands are waiting for this unit.");
        execution->fail(refused);
        return answer(context, refused);
    }
    confirmation->mutable_commandexecutionuuid()->set_value(uuid);
    confirmation->mutable_lifetimeofexecution()->set_seconds(
        unit.settings().executionLifetime.count());
    return answer(context, grpc::Status::OK);
}

grpc::ServerWriteReactor<ExecutionInfo>* executionInfo(UnitContext& unit,
                                                       const FeatureModel& feature,
                                                       const std::string& command,
                                                       const CommandExecutionUUID& id);

grpc::Status invalidExecution(const CommandExecutionUUID& id);
grpc::Status unfinishedExecution(const CommandExecutionUUID& id);

template <class Responses>
grpc::ServerUnaryReactor* executionResult(UnitContext& unit, grpc::CallbackServerContext* context,
                                          const FeatureModel& feature, const std::string& command,
                                          const CommandExecutionUUID& id, Responses* responses) {
    const auto execution = unit.executions().find(id.value(), commandKey(feature, command));
    if (!execution) return answer(context, invalidExecution(id));
    if (!execution->finished()) return answer(context, unfinishedExecution(id));
    std::string bytes;
    auto status = execution->result(bytes);
    if (status.ok() && !responses->ParseFromString(bytes)) {
        status = undefinedExecutionError("The command's responses could not be read back.");
    }
    return answer(context, status);
}

// A subscription to a value read from the unit's status: sent when known, then each change.
template <class Responses>
grpc::ServerWriteReactor<Responses>* subscribe(UnitContext& unit,
                                               std::function<std::optional<Responses>()> read) {
    return ValueStreamReactor<Responses>::start(unit.statusChanges(), [read = std::move(read)] {
        return StreamReading<Responses>{read(), false};
    });
}

}  // namespace krb::sila
