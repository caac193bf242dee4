#include "platform/operator_message.h"

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

namespace krb::platform {
namespace {

struct SinkState {
    std::mutex mutex;
    std::condition_variable callEnded;
    std::shared_ptr<const OperatorMessageSink> sinks[2];  // the log sink, the window's boxes
    int callsInProgress = 0;
};

// Never destroyed: detached library threads may still show messages while the process exits.
SinkState& sinkState() {
    static SinkState& state = *new SinkState;
    return state;
}

// Sink calls this thread is inside of (a sink may show a message or replace the sink).
thread_local int callsOnThisThread = 0;

class SinkCall {
  public:
    explicit SinkCall(SinkState& state) : state_(state) { ++callsOnThisThread; }
    ~SinkCall() {
        --callsOnThisThread;
        {
            std::lock_guard lock(state_.mutex);
            --state_.callsInProgress;
        }
        state_.callEnded.notify_all();
    }
    SinkCall(const SinkCall&) = delete;
    SinkCall& operator=(const SinkCall&) = delete;

  private:
    SinkState& state_;
};

enum SinkSlot { kSink = 0, kDisplay = 1 };

std::shared_ptr<const OperatorMessageSink> claimSink(SinkState& state, SinkSlot slot) {
    std::lock_guard lock(state.mutex);
    if (state.sinks[slot]) ++state.callsInProgress;
    return state.sinks[slot];
}

void deliver(SinkSlot slot, const std::string& caption, const std::string& text) {
    SinkState& state = sinkState();
    auto sink = claimSink(state, slot);
    if (!sink) return;
    SinkCall call(state);
    (*sink)(caption, text);
}

// Returns once calls on other threads have ended, so the owner of the old sink may go away.
void install(SinkSlot slot, OperatorMessageSink sink) {
    auto replacement =
        sink ? std::make_shared<const OperatorMessageSink>(std::move(sink)) : nullptr;
    SinkState& state = sinkState();
    std::unique_lock lock(state.mutex);
    state.sinks[slot] = std::move(replacement);
    state.callEnded.wait(lock, [&state] { return state.callsInProgress == callsOnThisThread; });
}

// Message texts break their lines with CR (or CR LF); a terminal wants a newline.
std::string withNewlines(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            result += '\n';
        } else {
            result += text[i];
        }
    }
    return result;
}

}  // namespace

void noteOperatorEvent(const std::string& caption, const std::string& text) {
    std::string line = caption + ": " + withNewlines(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    // Called outside the lock, so a sink may itself show a message or replace the sink.
    deliver(kSink, caption, text);
}

void showOperatorMessage(const std::string& caption, const std::string& text) {
    noteOperatorEvent(caption, text);
    deliver(kDisplay, caption, text);
}

void setOperatorMessageSink(OperatorMessageSink sink) { install(kSink, std::move(sink)); }

void setOperatorMessageDisplay(OperatorMessageSink display) {
    install(kDisplay, std::move(display));
}

}  // namespace krb::platform
