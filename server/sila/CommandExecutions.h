#pragma once
// The executions of observable commands, by command execution UUID: their status and progress
// for the _Info streams, then their responses or error for the _Result call.
#include <grpcpp/support/status.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "SiLAFramework.pb.h"
#include "sila/ValueStream.h"

namespace krb::sila {

using sila2::org::silastandard::ExecutionInfo;

class CommandExecution {
  public:
    CommandExecution(std::string command, std::chrono::seconds lifetime);

    const std::string& command() const { return command_; }
    ChangeNotifier& changes() { return changes_; }

    void markRunning();
    void reportProgress(double fraction);
    void succeed(std::string serializedResponses);
    void fail(grpc::Status error);

    ExecutionInfo info() const;
    bool finished() const;
    bool expired(std::chrono::steady_clock::time_point now) const;
    // The serialised responses, or the error the command ended with.
    grpc::Status result(std::string& serializedResponses) const;

  private:
    const std::string command_;
    const std::chrono::steady_clock::time_point expiry_;
    mutable std::mutex mutex_;
    ExecutionInfo::CommandStatus status_ = ExecutionInfo::waiting;
    double progress_ = 0;
    std::string responses_;
    grpc::Status error_;
    ChangeNotifier changes_;
};

class CommandExecutions {
  public:
    explicit CommandExecutions(std::chrono::seconds lifetime) : lifetime_(lifetime) {}

    std::chrono::seconds lifetime() const { return lifetime_; }
    // A new execution of `command` and its UUID; expired executions are dropped on the way.
    std::pair<std::string, std::shared_ptr<CommandExecution>> create(const std::string& command);
    // The execution of `command` with this UUID; null when unknown, expired or another
    // command's.
    std::shared_ptr<CommandExecution> find(const std::string& uuid,
                                           const std::string& command) const;

  private:
    const std::chrono::seconds lifetime_;
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<CommandExecution>> executions_;
};

std::string newUuid();

}  // namespace krb::sila
