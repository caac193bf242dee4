#include "binding/FairRecursiveMutex.h"

namespace krb::server {

void FairRecursiveMutex::lock() {
    std::unique_lock guard(mutex_);
    const auto self = std::this_thread::get_id();
    if (depth_ > 0 && owner_ == self) {
        ++depth_;
        return;
    }
    const std::uint64_t ticket = nextTicket_++;
    turn_.wait(guard, [&] { return serving_ == ticket && depth_ == 0; });
    owner_ = self;
    depth_ = 1;
}

bool FairRecursiveMutex::try_lock() {
    std::lock_guard guard(mutex_);
    const auto self = std::this_thread::get_id();
    if (depth_ > 0 && owner_ == self) {
        ++depth_;
        return true;
    }
    if (depth_ > 0 || serving_ != nextTicket_) return false;
    ++nextTicket_;
    owner_ = self;
    depth_ = 1;
    return true;
}

void FairRecursiveMutex::unlock() {
    std::lock_guard guard(mutex_);
    if (--depth_ > 0) return;
    owner_ = {};
    ++serving_;
    if (serving_ != nextTicket_) turn_.notify_all();
}

std::size_t FairRecursiveMutex::Waiters() {
    std::lock_guard guard(mutex_);
    return static_cast<std::size_t>(nextTicket_ - serving_) - (depth_ > 0 ? 1 : 0);
}

}  // namespace krb::server
