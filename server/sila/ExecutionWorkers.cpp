#include "sila/ExecutionWorkers.h"

namespace krb::sila {

CommandWorkers::CommandWorkers(size_t threads, size_t queueLimit) : queueLimit_(queueLimit) {
    for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

CommandWorkers::~CommandWorkers() { stop(); }

bool CommandWorkers::submit(Task task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || queue_.size() >= queueLimit_) return false;
        queue_.push_back(std::move(task));
    }
    wake_.notify_one();
    return true;
}

void CommandWorkers::stop() {
    std::deque<Task> abandoned;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        abandoned.swap(queue_);
    }
    wake_.notify_all();
    for (auto& task : abandoned) task(false);
    for (auto& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
}

void CommandWorkers::work() {
    for (;;) {
        Task task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task(true);
    }
}

}  // namespace krb::sila
