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

LinkSupervisor::LinkSupervisor(Opener open, Restorer restore)
    : open_(std::move(open)), restore_(std::move(restore)) {}

LinkSupervisor::~LinkSupervisor() { stop(); }

void LinkSupervisor::linkLost(const std::string& portName, const std::string& cause) {
    std::lock_guard lock(mutex_);
    if (stopping_ || down_.exchange(true)) return;
    platform::recordLinkLost(portName, cause);
    report(portName, "link lost (" + cause + "); reopening in the background");
    if (thread_.joinable()) thread_.join();  // the last recovery has ended its thread
    thread_ = std::thread([this, portName] { reopenUntilBack(portName); });
}

void LinkSupervisor::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    std::lock_guard lock(mutex_);
    stopping_ = false;
    down_ = false;
}

bool LinkSupervisor::pause(long nominalMs) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, platform::scaled(nominalMs), [this] { return stopping_; });
}

void LinkSupervisor::reopenUntilBack(std::string portName) {
    long pauseMs = kFirstPauseMs;
    int attempts = 0;
    while (pause(pauseMs)) {
        ++attempts;
        if (auto port = open_()) {
            down_ = false;  // before the restorer, whose own reads must reach the line
            restore_(std::move(port));
            platform::recordLinkBack(portName, attempts);
            report(portName, "link back after " + std::to_string(attempts) + " attempt(s)");
            return;
        }
        pauseMs = std::min(pauseMs * 2, kLongestPauseMs);
    }
}

}  // namespace krb
