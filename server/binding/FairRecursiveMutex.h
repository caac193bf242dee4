#pragma once
// A recursive mutex that hands itself to its waiters in the order they came. A thread that
// lets go and asks again at once (a poll's second query) queues behind a thread that was
// already waiting (a client's command), instead of overtaking it.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

namespace krb::server {

class FairRecursiveMutex {
  public:
    void lock();
    bool try_lock();  // only when free and nobody waits, or already held by this thread
    void unlock();
    std::size_t Waiters();  // threads queued for it

  private:
    std::mutex mutex_;
    std::condition_variable turn_;
    std::uint64_t nextTicket_ = 0;
    std::uint64_t serving_ = 0;  // the ticket that may hold the mutex
    std::thread::id owner_;
    int depth_ = 0;
};

}  // namespace krb::server
