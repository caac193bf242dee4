#include "platform/link_metrics.h"

#include <algorithm>
#include <mutex>

#include "serial_log.h"

namespace krb::platform {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, LinkCounters> ports;
};

thread_local std::uint64_t timeOutsOfThisThread = 0;

Registry& TheRegistry() {
    static auto* registry = new Registry;  // library threads may still record at exit
    return *registry;
}

std::size_t BucketOf(double seconds) {
    const auto bound =
        std::lower_bound(kExchangeLatencyBounds.begin(), kExchangeLatencyBounds.end(), seconds);
    return static_cast<std::size_t>(bound - kExchangeLatencyBounds.begin());
}

}  // namespace

void recordLinkExchange(const std::string& port, std::chrono::steady_clock::duration elapsed,
                        bool resent, bool timedOut) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    LinkCounters& counters = registry.ports[port];
    ++counters.Exchanges;
    if (resent) ++counters.Retries;
    if (timedOut) {
        ++counters.TimeOuts;
        ++counters.TimeOutsInARow;
        ++timeOutsOfThisThread;
    } else {
        counters.TimeOutsInARow = 0;
        counters.LastAnswer = std::chrono::steady_clock::now();
    }
    ++counters.LatencyBuckets[BucketOf(seconds)];
    counters.LatencySeconds += seconds;
}

void recordLinkLost(const std::string& port, const std::string& cause) {
    const std::string event = "lost (" + cause + ")";
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        LinkCounters& counters = registry.ports[port];
        counters.Down = true;
        ++counters.Losses;
        counters.LastLinkEvent = event;
    }
    noteSerialLogEvent(port, "link " + event);
}

void recordLinkBack(const std::string& port, int attempts) {
    const std::string event = "back after " + std::to_string(attempts) + " attempt(s)";
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        LinkCounters& counters = registry.ports[port];
        counters.Down = false;
        counters.LastLinkEvent = event;
    }
    noteSerialLogEvent(port, "link " + event);
}

void noteReaderLine(const std::string& port, int unitPort) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.ports[port].ReaderOfUnit = unitPort;
}

std::map<std::string, LinkCounters> linkCounters() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.ports;
}

std::uint64_t linkTimeOutsOfThisThread() { return timeOutsOfThisThread; }

}  // namespace krb::platform
