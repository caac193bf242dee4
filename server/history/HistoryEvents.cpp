#include "history/HistoryEvents.h"

#include <atomic>

namespace krb::server::history {
namespace {

class DroppingSink final : public HistorySink {
  public:
    void Record(CommandEvent) override {}
    void Record(RecordChange) override {}
};

DroppingSink& Dropping() {
    static auto* sink = new DroppingSink;  // outlives threads ending at exit
    return *sink;
}

std::atomic<HistorySink*>& Installed() {
    static std::atomic<HistorySink*> sink{nullptr};
    return sink;
}

thread_local std::optional<CommandOrigin> current;

}  // namespace

const char* InterfaceName(Interface interface) {
    switch (interface) {
        case Interface::Text:
            return "text";
        case Interface::Sila:
            return "sila";
        case Interface::Web:
            return "web";
        case Interface::Window:
            return "window";
        case Interface::Server:
            return "server";
    }
    return "text";
}

const char* ChangeCauseName(ChangeCause cause) {
    switch (cause) {
        case ChangeCause::Move:
            return "move";
        case ChangeCause::FailedMove:
            return "failed-move";
        case ChangeCause::Inventory:
            return "inventory";
        case ChangeCause::Update:
            return "update";
        case ChangeCause::ClearHistory:
            return "clear-history";
    }
    return "update";
}

HistorySink& Sink() {
    HistorySink* sink = Installed().load(std::memory_order_acquire);
    return sink ? *sink : Dropping();
}

void InstallSink(HistorySink* sink) { Installed().store(sink, std::memory_order_release); }

void UninstallSink(HistorySink* sink) {
    Installed().compare_exchange_strong(sink, nullptr, std::memory_order_acq_rel);
}

CommandScope::CommandScope(CommandOrigin origin) : outermost_(!current.has_value()) {
    if (outermost_) current = std::move(origin);
}

CommandScope::~CommandScope() {
    if (!outermost_) return;
    CommandEvent event{std::move(*current), std::move(reply_), {}};
    current.reset();
    event.Duration =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - event.Origin.Start);
    Sink().Record(std::move(event));
}

std::optional<CommandOrigin> CommandScope::Current() { return current; }

CommandOrigin NewOrigin(Interface door, std::string client, std::string unitId, std::string command,
                        std::string arguments) {
    static std::atomic<std::uint64_t> next{1};
    return CommandOrigin{next.fetch_add(1),   Clock::now(),      door,
                         std::move(client),   std::move(unitId), std::move(command),
                         std::move(arguments)};
}

}  // namespace krb::server::history
