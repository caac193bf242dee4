#include "text/DateTimeText.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "text/TextNumbers.h"

namespace krb::server {
namespace {

constexpr long long kMsPerDay = 86'400'000;

// Days since 1 January 1970 of a proleptic Gregorian date (H. Hinnant's algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

struct CivilDate {
    long long year;
    unsigned month;
    unsigned day;
};

CivilDate CivilFromDays(long long z) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<long long>(yoe) + era * 400 + (m <= 2), m, d};
}

const long long kEpochDays = DaysFromCivil(1899, 12, 30);

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

struct Fields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

class Scanner {
  public:
    explicit Scanner(std::string_view text) : text_(text) {}

    bool Number(int minDigits, int maxDigits, int& out, int* digitsRead = nullptr) {
        std::size_t start = pos_;
        int value = 0;
        while (pos_ < text_.size() && pos_ - start < static_cast<std::size_t>(maxDigits) &&
               text_[pos_] >= '0' && text_[pos_] <= '9') {
            value = value * 10 + (text_[pos_++] - '0');
        }
        int digits = static_cast<int>(pos_ - start);
        if (digitsRead) *digitsRead = digits;
        out = value;
        return digits >= minDigits && !DigitAhead();
    }
    bool Literal(char c) {
        if (pos_ >= text_.size() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }
    bool LiteralNoCase(std::string_view word) {
        if (text_.size() - pos_ < word.size()) return false;
        if (UpperCased(text_.substr(pos_, word.size())) != word) return false;
        pos_ += word.size();
        return true;
    }
    bool Blanks() {
        std::size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
        return pos_ > start;
    }
    bool AtEnd() const { return pos_ == text_.size(); }

  private:
    bool DigitAhead() const {
        return pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9';
    }
    std::string_view text_;
    std::size_t pos_ = 0;
};

bool ScanTime(Scanner& in, Fields& f) {
    if (!in.Number(1, 2, f.hour) || !in.Literal(':') || !in.Number(2, 2, f.minute)) return false;
    if (!in.Literal(':')) return true;
    if (!in.Number(2, 2, f.second)) return false;
    if (!in.Literal('.')) return true;
    int digits = 0;
    if (!in.Number(1, 3, f.millisecond, &digits)) return false;
    for (; digits < 3; ++digits) f.millisecond *= 10;
    return true;
}

// AM/PM turns a 1-12 hour into the 24-hour clock.
bool ApplyMeridiem(Scanner& in, Fields& f) {
    bool pm = in.LiteralNoCase("PM");
    if (!pm && !in.LiteralNoCase("AM")) return false;
    if (f.hour < 1 || f.hour > 12) {
        f.hour = -1;  // invalid; rejected by EncodeDateTime
        return true;
    }
    f.hour = (f.hour % 12) + (pm ? 12 : 0);
    return true;
}

bool ScanYear(Scanner& in, int& year) {
    int digits = 0;
    if (!in.Number(2, 4, year, &digits) || digits == 3) return false;
    if (digits == 2) year += year < 50 ? 2000 : 1900;
    return true;
}

// Optional blanks + time (+ blanks + AM/PM) at the end of a day.month.year or m/d/y date.
bool ScanLocaleTail(Scanner& in, Fields& f) {
    in.Blanks();
    if (in.AtEnd()) return true;
    if (!ScanTime(in, f)) return false;
    in.Blanks();
    if (!in.AtEnd() && !ApplyMeridiem(in, f)) return false;
    in.Blanks();
    return in.AtEnd();
}

bool ScanIso(std::string_view text, Fields& f) {
    Scanner in(text);
    if (!in.Number(4, 4, f.year) || !in.Literal('-') || !in.Number(1, 2, f.month) ||
        !in.Literal('-') || !in.Number(1, 2, f.day)) {
        return false;
    }
    if (in.AtEnd()) return true;
    if (!in.Literal('T') && !in.Blanks()) return false;
    if (!ScanTime(in, f)) return false;
    in.Literal('Z');
    return in.AtEnd();
}

bool ScanDotted(std::string_view text, Fields& f) {
    Scanner in(text);
    return in.Number(1, 2, f.day) && in.Literal('.') && in.Number(1, 2, f.month) &&
           in.Literal('.') && ScanYear(in, f.year) && ScanLocaleTail(in, f);
}

bool ScanSlashed(std::string_view text, Fields& f) {
    Scanner in(text);
    return in.Number(1, 2, f.month) && in.Literal('/') && in.Number(1, 2, f.day) &&
           in.Literal('/') && ScanYear(in, f.year) && ScanLocaleTail(in, f);
}

std::optional<double> Encode(const Fields& f) {
    return EncodeDateTime(f.year, f.month, f.day, f.hour, f.minute, f.second, f.millisecond);
}

}  // namespace

std::optional<double> EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                                     int millisecond) {
    if (year < 1 || year > 9999 || month < 1 || month > 12) return std::nullopt;
    if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        millisecond < 0 || millisecond > 999) {
        return std::nullopt;
    }
    long long days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochDays;
    double fraction =
        static_cast<double>(((hour * 60LL + minute) * 60 + second) * 1000 + millisecond) /
        static_cast<double>(kMsPerDay);
    // Before the epoch the day counts down while the time of day still counts up.
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

std::string FormatDateTime(double value) {
    long long days = static_cast<long long>(std::trunc(value));
    long long ms =
        std::llround(std::fabs(value - static_cast<double>(days)) * static_cast<double>(kMsPerDay));
    if (ms >= kMsPerDay) {
        ms = 0;
        days += value < 0 ? -1 : 1;
    }
    CivilDate date = CivilFromDays(days + kEpochDays);
    long long seconds = ms / 1000;
    char buffer[64];
    if (seconds == 0) {
        std::snprintf(buffer, sizeof buffer, "%02u.%02u.%04lld", date.day, date.month, date.year);
    } else {
        std::snprintf(buffer, sizeof buffer, "%02u.%02u.%04lld %02lld:%02lld:%02lld", date.day,
                      date.month, date.year, seconds / 3600, seconds / 60 % 60, seconds % 60);
    }
    return buffer;
}

double ParseDateTime(std::string_view text) { return TryParseDateTime(text).value_or(0); }

std::optional<double> TryParseDateTime(std::string_view text) {
    std::string trimmed = Trimmed(text);
    if (trimmed.empty()) return std::nullopt;
    Fields fields;
    if (ScanIso(trimmed, fields) || ScanDotted(trimmed, (fields = {})) ||
        ScanSlashed(trimmed, (fields = {}))) {
        return Encode(fields);
    }
    return std::nullopt;
}

double CurrentDateTime() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, std::min(local.tm_sec, 59), ms)
        .value_or(0);
}

std::string CurrentDateTimeText() { return FormatDateTime(CurrentDateTime()); }

}  // namespace krb::server
