#include "web/HistoryQueries.h"

#include <stdexcept>

namespace krb::server::web {

HistoryAnswer AnswerHistoryQuery(history::HistoryReader* reader, std::string_view query) {
    if (!reader) return {503, "text/plain; charset=utf-8", "the audit trail is off\n"};
    std::string problem;
    const auto filter = history::FilterFromQueryString(query, &problem);
    if (!filter) return {400, "text/plain; charset=utf-8", problem + "\n"};
    try {
        return {200, "application/json", history::EntriesJson(reader->Entries(*filter))};
    } catch (const std::exception& failure) {
        return {503, "text/plain; charset=utf-8",
                std::string("the audit trail cannot be read: ") + failure.what() + "\n"};
    }
}

HistoryQueries::HistoryQueries(HistoryProvider provider)
    : provider_(std::move(provider)), worker_([this] { Work(); }) {}

HistoryQueries::~HistoryQueries() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        waiting_.clear();
    }
    wake_.notify_all();
    worker_.join();
}

bool HistoryQueries::Submit(std::string query, std::function<void(HistoryAnswer)> done) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || waiting_.size() >= kMaxWaiting) return false;
        waiting_.push_back({std::move(query), std::move(done)});
    }
    wake_.notify_one();
    return true;
}

void HistoryQueries::Work() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) return;
        Waiting next = std::move(waiting_.front());
        waiting_.pop_front();
        lock.unlock();
        const auto reader = provider_();  // held while the query runs
        next.Done(AnswerHistoryQuery(reader.get(), next.Query));
        lock.lock();
    }
}

}  // namespace krb::server::web
