#pragma once
// Counters and state of the controller links, per port, for the server's metrics page. The library
// records each exchange; any thread may read a copy. Thread-safe.
#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/export.h"

namespace krb::platform {

// Upper bounds (seconds) of the exchange latency buckets; the last bucket is unbounded.
inline constexpr std::array<double, 8> kExchangeLatencyBounds{0.05, 0.1, 0.2, 0.3,
                                                              0.5,  0.8, 1.2, 2.0};

struct LinkCounters {
    std::uint64_t Exchanges = 0;
    std::uint64_t Retries = 0;         // exchanges that had to send their command again
    std::uint64_t TimeOuts = 0;        // exchanges that ended without a reply
    std::uint64_t TimeOutsInARow = 0;  // since the last exchange that got a reply
    std::array<std::uint64_t, kExchangeLatencyBounds.size() + 1> LatencyBuckets{};
    double LatencySeconds = 0;
    bool Down = false;          // the line was found gone and is not back yet
    std::uint64_t Losses = 0;   // times the line was found gone
    std::string LastLinkEvent;  // "lost (read failed)", "back after 3 attempt(s)"
    int ReaderOfUnit = 0;       // a barcode reader's line: the COM number of its unit's controller
    std::optional<std::chrono::steady_clock::time_point> LastAnswer;  // none before the first

    // An open port is not enough: the unit answers when its last exchange got a reply.
    bool Answering() const { return !Down && TimeOutsInARow == 0; }
};

// `port` as the library names it ("COM3", "\\.\COM12").
KRB_PLATFORM_API void recordLinkExchange(const std::string& port,
                                         std::chrono::steady_clock::duration elapsed, bool resent,
                                         bool timedOut);
// The line was found gone, or is back; also written to the port's serial log when it is on.
KRB_PLATFORM_API void recordLinkLost(const std::string& port, const std::string& cause);
KRB_PLATFORM_API void recordLinkBack(const std::string& port, int attempts);
KRB_PLATFORM_API std::map<std::string, LinkCounters> linkCounters();
// `port` is the barcode reader line of the unit whose controller is on COM<unitPort>.
KRB_PLATFORM_API void noteReaderLine(const std::string& port, int unitPort);
// Exchanges of the calling thread, on any port, that ended without a reply: a caller that
// compares it before and after a read knows whether every exchange of the read was answered.
KRB_PLATFORM_API std::uint64_t linkTimeOutsOfThisThread();

}  // namespace krb::platform
