#include "LinkSupervisor.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/link_metrics.h"
#include "platform/operator_message.h"

namespace krb {
namespace {

void report(const std::string& portName, const std::string& text) {
    platform::noteOperatorEvent("Serial link " + portName, text);
}

}  // namespace

LinkSupervisor::LinkSupervisor(Opener open, Restorer restore, BackNotice back)
    : open_(std::move(open)), restore_(std::move(restore)), back_(std::move(back)) {}

LinkSupervisor::~LinkSupervisor() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
        ++round_;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void LinkSupervisor::linkLost(const std::string& portName, const std::string& cause) {
    {
        std::lock_guard lock(mutex_);
        if (ending_ || down_.exchange(true)) return;
        lost_ = true;
        portName_ = portName;
        if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    }
    wake_.notify_all();
    platform::recordLinkLost(portName, cause);
    report(portName, "link lost (" + cause + "); reopening in the background");
}

void LinkSupervisor::stop() {
    {
        std::lock_guard lock(mutex_);
        ++round_;
        lost_ = false;
        down_ = false;
    }
    wake_.notify_all();
}

void LinkSupervisor::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return ending_ || lost_; });
        if (ending_) return;
        lost_ = false;
        const std::uint64_t round = round_;
        const std::string portName = portName_;
        lock.unlock();
        reopenUntilBack(portName, round);
        lock.lock();
    }
}

bool LinkSupervisor::roundGoesOn(std::uint64_t round) {
    std::lock_guard lock(mutex_);
    return round_ == round;
}

bool LinkSupervisor::pause(long nominalMs, std::uint64_t round) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, platform::scaled(nominalMs), [&] { return round_ != round; });
}

void LinkSupervisor::reopenUntilBack(const std::string& portName, std::uint64_t round) {
    long pauseMs = kFirstPauseMs;
    int attempts = 0;
    while (pause(pauseMs, round)) {
        ++attempts;
        auto port = open_();
        if (port && roundGoesOn(round) && restore_(std::move(port))) {
            down_ = false;
            platform::recordLinkBack(portName, attempts);
            report(portName, "link back after " + std::to_string(attempts) + " attempt(s)");
            if (back_) back_();
            return;
        }
        pauseMs = std::min(pauseMs * 2, kLongestPauseMs);
    }
}

}  // namespace krb
