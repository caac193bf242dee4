#include "fake_library.h"

#include <algorithm>
#include <future>
#include <type_traits>

#include "platform/operator_message.h"

namespace krb::server::testing {
namespace {

template <std::size_t N>
struct FixedName {
    char text[N];
    constexpr FixedName(const char (&name)[N]) { std::copy_n(name, N, text); }
};

template <FixedName Name, class Result, class... Texts>
Result FakeExport(KRBText id, Texts... args) {
    const char* reply = Fake().Call(Name.text, {id, args...});
    if constexpr (!std::is_void_v<Result>) return reply;
}

}  // namespace

template <class Mutex>
bool HeldElsewhere(Mutex& mutex) {
    return !std::async(std::launch::async, [&] {
                bool taken = mutex.try_lock();
                if (taken) mutex.unlock();
                return taken;
            }).get();
}

bool BindingLockHeld(int port) { return HeldElsewhere(BindingLock(port)); }
bool IsHeld(std::recursive_mutex& mutex) { return HeldElsewhere(mutex); }

bool IsHeld(TKRBId& unit, TKRBId::UnitLock lock) {
    return !std::async(std::launch::async, [&] { return unit.TryHold(lock).owns_lock(); }).get();
}

FakeLibrary& Fake() {
    static FakeLibrary fake;
    return fake;
}

const KRBExports& FakeExports() {
    static const KRBExports exports = [] {
        KRBExports table;
#define FAKE_ENTRY(name) table.name = &FakeExport<#name>;
        KRB_BOUND_EXPORTS(FAKE_ENTRY)
#undef FAKE_ENTRY
        return table;
    }();
    return exports;
}

void FakeLibrary::Reset() {
    std::lock_guard lock(mutex_);
    replies_.clear();
    calls_.clear();
    hook_ = nullptr;
}

void FakeLibrary::Reply(const std::string& name, std::vector<std::string> replies) {
    std::lock_guard lock(mutex_);
    replies_[name] = std::deque<std::string>(replies.begin(), replies.end());
}

void FakeLibrary::OnCall(std::function<void(const RecordedCall&)> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

std::vector<RecordedCall> FakeLibrary::Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> FakeLibrary::CallNames() {
    std::vector<std::string> names;
    for (const auto& call : Calls()) names.push_back(call.name);
    return names;
}

std::vector<std::string> FakeLibrary::ArgsOf(const std::string& name) {
    for (const auto& call : Calls()) {
        if (call.name == name) return call.args;
    }
    return {};
}

int FakeLibrary::Count(const std::string& name) {
    auto calls = Calls();
    return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                          [&](const auto& call) { return call.name == name; }));
}

const char* FakeLibrary::Call(const char* name, std::vector<std::string> args) {
    const int port = args.empty() ? 0 : std::atoi(args.front().c_str());
    RecordedCall call{name, std::move(args), BindingLockHeld(port)};
    std::function<void(const RecordedCall&)> hook;
    std::string reply;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        hook = hook_;
        auto& queue = replies_[name];
        if (!queue.empty()) {
            reply = queue.front();
            if (queue.size() > 1) queue.pop_front();
        }
    }
    if (hook) hook(call);
    if (reply == kNoText) return nullptr;
    thread_local std::map<std::string, std::string> slots;
    return (slots[name] = reply).c_str();
}

MessageCapture::MessageCapture() {
    platform::setOperatorMessageSink([this](const std::string& caption, const std::string& text) {
        std::lock_guard lock(mutex_);
        messages_.emplace_back(caption, text);
    });
}

MessageCapture::~MessageCapture() { platform::setOperatorMessageSink(nullptr); }

std::vector<std::pair<std::string, std::string>> MessageCapture::Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
}

}  // namespace krb::server::testing
