#include "history/HistoryTime.h"

#include <cstdio>

namespace krb::server::history {
namespace {

// Reads exactly `digits` decimal digits at `at`, moving past them.
std::optional<int> Digits(std::string_view text, std::size_t& at, std::size_t digits) {
    if (text.size() - at < digits) return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    at += digits;
    return value;
}

bool Take(std::string_view text, std::size_t& at, char expected) {
    if (at >= text.size() || text[at] != expected) return false;
    ++at;
    return true;
}

std::optional<std::chrono::sys_days> Date(std::string_view text, std::size_t& at) {
    const auto year = Digits(text, at, 4);
    if (!year || !Take(text, at, '-')) return std::nullopt;
    const auto month = Digits(text, at, 2);
    if (!month || !Take(text, at, '-')) return std::nullopt;
    const auto day = Digits(text, at, 2);
    if (!day) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year{*year},
                                           std::chrono::month{static_cast<unsigned>(*month)},
                                           std::chrono::day{static_cast<unsigned>(*day)}};
    if (!date.ok()) return std::nullopt;
    return std::chrono::sys_days{date};
}

// "HH:MM[:SS[.fraction]]" as the time since midnight.
std::optional<std::chrono::microseconds> TimeOfDay(std::string_view text, std::size_t& at) {
    const auto hours = Digits(text, at, 2);
    if (!hours || *hours > 23 || !Take(text, at, ':')) return std::nullopt;
    const auto minutes = Digits(text, at, 2);
    if (!minutes || *minutes > 59) return std::nullopt;
    std::chrono::microseconds time = std::chrono::hours{*hours} + std::chrono::minutes{*minutes};
    if (!Take(text, at, ':')) return time;
    const auto seconds = Digits(text, at, 2);
    if (!seconds || *seconds > 59) return std::nullopt;
    time += std::chrono::seconds{*seconds};
    if (!Take(text, at, '.')) return time;
    std::int64_t scale = 100000;
    const std::size_t first = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        time += std::chrono::microseconds{(text[at] - '0') * scale};
        scale /= 10;
        ++at;
    }
    if (at == first) return std::nullopt;
    return time;
}

// "Z", "+HH:MM", "-HH:MM" or nothing (UTC), as the offset to subtract.
std::optional<std::chrono::minutes> ZoneOffset(std::string_view text, std::size_t& at) {
    if (at == text.size()) return std::chrono::minutes{0};
    if (Take(text, at, 'Z') || Take(text, at, 'z')) return std::chrono::minutes{0};
    const char sign = text[at];
    if (sign != '+' && sign != '-') return std::nullopt;
    ++at;
    const auto hours = Digits(text, at, 2);
    if (!hours || *hours > 23 || !Take(text, at, ':')) return std::nullopt;
    const auto minutes = Digits(text, at, 2);
    if (!minutes || *minutes > 59) return std::nullopt;
    const std::chrono::minutes offset{*hours * 60 + *minutes};
    return sign == '+' ? offset : -offset;
}

}  // namespace

std::optional<Clock::time_point> ParseUtcTime(std::string_view text) {
    std::size_t at = 0;
    const auto date = Date(text, at);
    if (!date) return std::nullopt;
    Clock::time_point time = *date;
    if (at == text.size()) return time;
    if (!Take(text, at, 'T') && !Take(text, at, 't') && !Take(text, at, ' ')) return std::nullopt;
    const auto ofDay = TimeOfDay(text, at);
    if (!ofDay) return std::nullopt;
    const auto offset = ZoneOffset(text, at);
    if (!offset || at != text.size()) return std::nullopt;
    return time + std::chrono::duration_cast<Clock::duration>(*ofDay - *offset);
}

std::string FormatUtcTime(Clock::time_point time) {
    using namespace std::chrono;
    const auto micros = time_point_cast<microseconds>(time);
    const auto day = floor<days>(micros);
    const year_month_day date{day};
    const hh_mm_ss clock{micros - day};
    const auto millis = duration_cast<milliseconds>(clock.subseconds()).count();
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()), int(millis));
    return text;
}

}  // namespace krb::server::history
