#pragma once
// A value with its own lock: every read and write goes through the lock, so none can forget it.
#include <mutex>
#include <utility>

namespace krb {

template <class T>
class Guarded {
  public:
    Guarded() = default;
    explicit Guarded(T value) : value_(std::move(value)) {}
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    T get() const {
        std::lock_guard guard(lock_);
        return value_;
    }
    void set(T value) {
        std::lock_guard guard(lock_);
        value_ = std::move(value);
    }
    // Runs step on the value under the lock (a test-and-set, a read-modify-write).
    template <class Step>
    auto with(Step&& step) {
        std::lock_guard guard(lock_);
        return std::forward<Step>(step)(value_);
    }

  private:
    mutable std::mutex lock_;
    T value_{};
};

}  // namespace krb
