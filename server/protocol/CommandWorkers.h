#pragma once
// Reusable threads for work that must not wait for other work: a task takes an idle worker or
// starts a new one, never a queue behind a busy one. A worker that stays idle for IdleEnd
// ends; at most MaxWorkers exist at once, and a task beyond them is refused.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace krb::server {

struct TCommandWorkersOptions {
    std::size_t MaxWorkers = 256;
    std::chrono::milliseconds IdleEnd = std::chrono::seconds(30);  // real time, not scaled
};

class CommandWorkers {
  public:
    // Starts the thread of a new worker; throws std::system_error as std::thread does.
    using ThreadStarter = std::function<void(std::function<void()> body)>;

    explicit CommandWorkers(TCommandWorkersOptions options = {});
    // Waits for running tasks; idle workers end at once.
    ~CommandWorkers();
    CommandWorkers(const CommandWorkers&) = delete;
    CommandWorkers& operator=(const CommandWorkers&) = delete;

    enum class Start { Started, AtBound, Refused };
    // Any thread. Unless Started, `task` is dropped: no worker was idle and none could be
    // started, because the bound is reached (AtBound) or the system gave no thread (Refused).
    Start Begin(std::function<void()> task);
    bool Run(std::function<void()> task) { return Begin(std::move(task)) == Start::Started; }

    std::size_t Workers() const;
    std::size_t IdleWorkers() const;

    // Empty: std::thread, detached. Workers idle now end, so the next task starts a thread.
    void SetThreadStarter(ThreadStarter starter);
    // Called on a worker's thread each time it has become idle, so that work that found no
    // worker can be handed out again. Must not wait for the workers.
    void SetIdleObserver(std::function<void()> observer);

  private:
    struct State;
    static void Work(const std::shared_ptr<State>& state, std::function<void()> task);
    Start StartWorker(std::function<void()> task);

    std::shared_ptr<State> state_;  // workers hold it too, so none outlives what it uses
};

// The workers of the unit commands, one per process.
CommandWorkers& UnitCommandWorkers();
// The idle end of the server's pools in nominal time: shorter with KRB_TIME_SCALE, like
// every other pause of the system.
std::chrono::milliseconds ScaledIdleEnd();

}  // namespace krb::server
