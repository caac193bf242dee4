#include "sila/UnitContext.h"

namespace krb::sila {
namespace {

std::vector<std::string> featuresOf(const UnitIdentity& identity) {
    std::vector<std::string> features = {"SiLAService", "UnitStatusProvider", "UnitController",
                                         "PlateTransferController", "InventoryController"};
    if (identity.hasReader) features.push_back("BarcodeReaderController");
    if (identity.hasClimate) features.push_back("ClimateController");
    if (identity.isTubeStore) features.push_back("TubeTransferController");
    return features;
}

}  // namespace

UnitContext::UnitContext(std::shared_ptr<UnitBackend> backend, ServerIdentityStore& store,
                         const UnitServerSettings& settings)
    : backend_(std::move(backend)),
      store_(store),
      settings_(settings),
      identity_(backend_->identity()),
      features_(featuresOf(identity_)),
      workers_(settings.workerThreads, settings.workerQueueLimit),
      executions_(settings.executionLifetime) {
    const auto stored = store_.load(identity_.unitId, identityPersisted_);
    uuid_ = stored.uuid;
    serverName_ = stored.serverName;
}

std::string UnitContext::serverName() const {
    std::lock_guard lock(nameMutex_);
    return serverName_;
}

bool UnitContext::setServerName(const std::string& name) {
    if (!store_.saveServerName(identity_.unitId, name)) return false;
    std::lock_guard lock(nameMutex_);
    serverName_ = name;
    return true;
}

grpc::ServerUnaryReactor* answer(grpc::CallbackServerContext* context, grpc::Status status) {
    auto* reactor = context->DefaultReactor();
    reactor->Finish(std::move(status));
    return reactor;
}

grpc::ServerUnaryReactor* answerFromWorker(UnitContext& unit, grpc::CallbackServerContext* context,
                                           std::function<grpc::Status()> work) {
    auto* reactor = context->DefaultReactor();
    const bool queued = unit.workers().submit([reactor, work = std::move(work)](bool go) {
        reactor->Finish(go ? work() : undefinedExecutionError("The server is stopping."));
    });
    if (!queued) {
        reactor->Finish(undefinedExecutionError("Too many commands are waiting for this unit."));
    }
    return reactor;
}

std::string commandKey(const FeatureModel& feature, const std::string& command) {
    return feature.fullyQualified + "/Command/" + command;
}

grpc::ServerWriteReactor<ExecutionInfo>* executionInfo(UnitContext& unit,
                                                       const FeatureModel& feature,
                                                       const std::string& command,
                                                       const CommandExecutionUUID& id) {
    const auto execution = unit.executions().find(id.value(), commandKey(feature, command));
    if (!execution) return failedStream<ExecutionInfo>(invalidExecution(id));
    return ValueStreamReactor<ExecutionInfo>::start(execution->changes(), [execution] {
        auto info = execution->info();
        // The remaining lifetime alone is no change worth a message.
        info.clear_updatedlifetimeofexecution();
        const bool last = info.commandstatus() == ExecutionInfo::finishedSuccessfully ||
                          info.commandstatus() == ExecutionInfo::finishedWithError;
        return StreamReading<ExecutionInfo>{std::move(info), last};
    });
}

grpc::Status invalidExecution(const CommandExecutionUUID& id) {
    return frameworkError(sila2::org::silastandard::FrameworkError::INVALID_COMMAND_EXECUTION_UUID,
                          "No command execution " + id.value() + " of this command is known.");
}

grpc::Status unfinishedExecution(const CommandExecutionUUID& id) {
    return frameworkError(sila2::org::silastandard::FrameworkError::COMMAND_EXECUTION_NOT_FINISHED,
                          "The command execution " + id.value() + " has not finished.");
}

}  // namespace krb::sila
