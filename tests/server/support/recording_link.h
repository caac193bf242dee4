#pragma once
// A client link without a socket: records what is sent (at once or posted by a command
// thread) and whether it was closed. `WhenSent` runs at once: nothing is ever left unsent.
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/ClientLink.h"

namespace krb::server::testing {

class RecordingLink : public ClientLink {
  public:
    void Send(std::string text) override {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        sent_.push_back(std::move(text));
    }
    void Close(bool) override {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    void WhenSent(std::function<void()> done) override { done(); }
    bool IsOpen() const override {
        std::lock_guard lock(mutex_);
        return !closed_;
    }
    std::size_t PendingSends() const override { return 0; }
    std::string RemoteDetails() const override { return "RH=;RA=test;RP=0"; }
    std::string PeerAddress() const override { return "test:0"; }
    void PostReply(std::string text) override {
        std::lock_guard lock(mutex_);
        replies_.push_back(std::move(text));
        posted_.notify_all();
    }

    std::vector<std::string> Sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    std::string WaitForReply() {
        std::unique_lock lock(mutex_);
        posted_.wait(lock, [&] { return !replies_.empty(); });
        return replies_.front();
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::vector<std::string> sent_;
    std::vector<std::string> replies_;
    bool closed_ = false;
};

}  // namespace krb::server::testing
