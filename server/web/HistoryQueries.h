#pragma once
// GET /history: the trail's answer to a query string, and the worker that asks the store off
// the listener's thread, so that the page, its events and /metrics answer while a query runs.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "history/HistoryQuery.h"

namespace krb::server::web {

struct HistoryAnswer {
    int Status = 200;
    std::string Type = "text/plain; charset=utf-8";
    std::string Body;
};

// 200 with the entries as JSON; 400 naming the bad parameter; 503 when the trail is off
// (`reader` null) or its store cannot be read.
HistoryAnswer AnswerHistoryQuery(history::HistoryReader* reader, std::string_view query);

// The trail's reader as it is now (it follows the configuration); nullptr while it is off.
using HistoryProvider = std::function<std::shared_ptr<history::HistoryReader>()>;

class HistoryQueries {
  public:
    static constexpr std::size_t kMaxWaiting = 8;

    explicit HistoryQueries(HistoryProvider provider);
    ~HistoryQueries();  // drops the queries still waiting
    HistoryQueries(const HistoryQueries&) = delete;
    HistoryQueries& operator=(const HistoryQueries&) = delete;

    // `done` runs on the worker with the answer; false (and `done` never runs) when
    // kMaxWaiting queries already wait.
    bool Submit(std::string query, std::function<void(HistoryAnswer)> done);

  private:
    struct Waiting {
        std::string Query;
        std::function<void(HistoryAnswer)> Done;
    };
    void Work();

    const HistoryProvider provider_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Waiting> waiting_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace krb::server::web
