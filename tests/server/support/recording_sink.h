#pragma once
// An audit trail that keeps what the producers hand it, installed for the test's lifetime.
#include <mutex>
#include <vector>

#include "history/HistoryEvents.h"

namespace krb::server::testing {

class RecordingSink : public history::HistorySink {
  public:
    RecordingSink() { history::InstallSink(this); }
    ~RecordingSink() override { history::InstallSink(nullptr); }
    RecordingSink(const RecordingSink&) = delete;
    RecordingSink& operator=(const RecordingSink&) = delete;

    void Record(history::CommandEvent event) override {
        std::lock_guard lock(mutex_);
        commands_.push_back(std::move(event));
    }
    void Record(history::RecordChange change) override {
        std::lock_guard lock(mutex_);
        changes_.push_back(std::move(change));
    }

    std::vector<history::CommandEvent> Commands() const {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    std::vector<history::RecordChange> Changes() const {
        std::lock_guard lock(mutex_);
        return changes_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<history::CommandEvent> commands_;
    std::vector<history::RecordChange> changes_;
};

}  // namespace krb::server::testing
