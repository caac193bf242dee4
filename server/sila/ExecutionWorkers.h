#pragma once
// A few threads per unit server that run the backend's long calls off gRPC's threads.
// The queue is bounded: a task beyond it is refused, and tasks still queued at stop() are
// abandoned (called with false) so that every call they stand for is still answered.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace krb::sila {

class CommandWorkers {
  public:
    using Task = std::function<void(bool run)>;

    CommandWorkers(size_t threads, size_t queueLimit);
    ~CommandWorkers();
    CommandWorkers(const CommandWorkers&) = delete;
    CommandWorkers& operator=(const CommandWorkers&) = delete;

    // false when the queue is full or the workers have stopped; the task is then not kept.
    bool submit(Task task);
    // Abandons the queued tasks, lets the running ones end, joins the threads.
    void stop();

  private:
    void work();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> queue_;
    size_t queueLimit_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace krb::sila
