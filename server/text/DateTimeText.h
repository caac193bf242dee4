#pragma once
// Date-time values are days since 30 December 1899 as a double, the fraction being the
// time of day; 0 means "not set".
//
// Written form (one fixed, unambiguous format): "dd.mm.yyyy hh:nn:ss", 24-hour clock, each
// number zero-padded; the time is left out when it is exactly midnight ("dd.mm.yyyy").
// Read forms: day.month.year, month/day/year (optionally with AM or PM after the time),
// ISO 8601 (yyyy-mm-dd, then "T" or blanks and the time, optional "Z"). The time is
// h:nn, h:nn:ss or h:nn:ss.zzz and may be absent. A two-digit year 00-49 is 20xx, 50-99 19xx.
#include <optional>
#include <string>
#include <string_view>

namespace krb::server {

std::optional<double> EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                                     int second = 0, int millisecond = 0);
std::string FormatDateTime(double value);
// Empty or unparsable text gives 0.
double ParseDateTime(std::string_view text);
// nullopt for empty or unparsable text.
std::optional<double> TryParseDateTime(std::string_view text);

double CurrentDateTime();  // local time
std::string CurrentDateTimeText();

}  // namespace krb::server
