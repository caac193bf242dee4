#pragma once
// Climate actual and set values for the dashboard and /metrics, read off the loop at a slow
// pace so that browsers and scrapers never cause controller traffic: one read of the actual
// values per activated climate unit every few seconds, at most one in flight per unit; the set
// values, which only change when someone sets them, with the first read and every
// kReadsPerSetRead-th after it.
#include <array>
#include <asio/thread_pool.hpp>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace krb::server {
class TKRBId;
}

namespace krb::server::web {

// Which climate values a unit has: temperature, humidity, CO2, N2.
using ClimateOptions = std::array<bool, 4>;
ClimateOptions ClimateOptionsOf(const TKRBId& unit);

// The values named in `options` from a "T;H;CO2;N2" reading, as (name, value); a missing
// field reads as empty, an empty reading gives none.
std::vector<std::pair<std::string, std::string>> ClimateValuesOf(const ClimateOptions& options,
                                                                 const std::string& reading);

struct ClimateReading {
    bool Taken = false;     // false until the first read has ended
    bool Answered = false;  // every exchange of the read got a reply
    std::string Text;
};

// The values of the last reading; each is empty (unknown) when the unit did not answer, as
// the library reads an unanswered value as 0.
std::vector<std::pair<std::string, std::string>> ClimateValuesOf(const ClimateOptions& options,
                                                                 const ClimateReading& reading);

class ClimateReadings {
  public:
    static constexpr int kReadsPerSetRead = 12;

    ClimateReadings() = default;
    ~ClimateReadings();
    ClimateReadings(const ClimateReadings&) = delete;
    ClimateReadings& operator=(const ClimateReadings&) = delete;

    void StartReading(TKRBId& unit);  // on the loop; skipped while one is in flight
    ClimateReading LastReading(const TKRBId& unit) const;
    ClimateReading LastSetReading(const TKRBId& unit) const;

  private:
    struct Reading {
        bool InFlight = false;
        ClimateReading Last;
        ClimateReading LastSet;
        int ReadsSinceSetRead = 0;
    };
    static ClimateReading ReadWith(TKRBId& unit, std::string (TKRBId::*read)());
    mutable std::mutex mutex_;
    std::map<const TKRBId*, Reading> readings_;
    asio::thread_pool reader_{1};
};

}  // namespace krb::server::web
