#include "sila/CommandExecutions.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace krb::sila {

std::string newUuid() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    unsigned char bytes[16];
    for (int i = 0; i < 16; i += 8) {
        const auto word = generator();
        for (int j = 0; j < 8; ++j) bytes[i + j] = static_cast<unsigned char>(word >> (8 * j));
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

CommandExecution::CommandExecution(std::string command, std::chrono::seconds lifetime)
    : command_(std::move(command)), expiry_(std::chrono::steady_clock::now() + lifetime) {}

void CommandExecution::markRunning() {
    {
        std::lock_guard lock(mutex_);
        status_ = ExecutionInfo::running;
    }
    changes_.notify();
}

void CommandExecution::reportProgress(double fraction) {
    {
        std::lock_guard lock(mutex_);
        if (status_ != ExecutionInfo::running) return;
        progress_ = std::clamp(fraction, 0.0, 1.0);
    }
    changes_.notify();
}

void CommandExecution::succeed(std::string serializedResponses) {
    {
        std::lock_guard lock(mutex_);
        responses_ = std::move(serializedResponses);
        progress_ = 1.0;
        status_ = ExecutionInfo::finishedSuccessfully;
    }
    changes_.notify();
}

void CommandExecution::fail(grpc::Status error) {
    {
        std::lock_guard lock(mutex_);
        error_ = std::move(error);
        status_ = ExecutionInfo::finishedWithError;
    }
    changes_.notify();
}

ExecutionInfo CommandExecution::info() const {
    std::lock_guard lock(mutex_);
    ExecutionInfo info;
    info.set_commandstatus(status_);
    info.mutable_progressinfo()->set_value(progress_);
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(
        expiry_ - std::chrono::steady_clock::now());
    info.mutable_updatedlifetimeofexecution()->set_seconds(std::max<long>(0, left.count()));
    return info;
}

bool CommandExecution::finished() const {
    std::lock_guard lock(mutex_);
    return status_ == ExecutionInfo::finishedSuccessfully ||
           status_ == ExecutionInfo::finishedWithError;
}

bool CommandExecution::expired(std::chrono::steady_clock::time_point now) const {
    return now >= expiry_;
}

grpc::Status CommandExecution::result(std::string& serializedResponses) const {
    std::lock_guard lock(mutex_);
    if (status_ == ExecutionInfo::finishedWithError) return error_;
    serializedResponses = responses_;
    return grpc::Status::OK;
}

std::pair<std::string, std::shared_ptr<CommandExecution>> CommandExecutions::create(
    const std::string& command) {
    auto execution = std::make_shared<CommandExecution>(command, lifetime_);
    auto uuid = newUuid();
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(executions_, [now](const auto& entry) {
        return entry.second->finished() && entry.second->expired(now);
    });
    executions_.emplace(uuid, execution);
    return {uuid, execution};
}

std::shared_ptr<CommandExecution> CommandExecutions::find(const std::string& uuid,
                                                          const std::string& command) const {
    std::lock_guard lock(mutex_);
    const auto it = executions_.find(uuid);
    if (it == executions_.end() || it->second->command() != command ||
        it->second->expired(std::chrono::steady_clock::now())) {
        return nullptr;
    }
    return it->second;
}

}  // namespace krb::sila
