// Climate set points and actual values (signed 16-bit words in fixed point), and the shaker.
#include <algorithm>
#include <clocale>
#include <optional>
#include <string_view>

#include "ControllerRegisters.h"
#include "KRB_Class.h"
#include "text_numbers.h"

namespace krb {

using namespace controller;

namespace {

struct Quantity {
    int actualWord;
    int setWord;
    int scale;
};

constexpr Quantity kTemperature{word::kActualTemperature, word::kSetTemperature, 10};
constexpr Quantity kHumidity{word::kActualHumidity, word::kSetHumidity, 10};
constexpr Quantity kCO2{word::kActualCO2, word::kSetCO2, 100};
constexpr Quantity kN2{word::kActualN2, word::kSetN2, 100};
constexpr Quantity kO2{word::kActualO2, word::kSetO2, 100};
// Keep value x scale exact in 64 bits.
constexpr std::int64_t kMaxMantissa = 1'000'000'000'000'000;
constexpr int kMaxFractionDigits = 15;

// The separator the value formatting uses (the C library's numeric locale).
char machineSeparator() {
    const char* point = std::localeconv()->decimal_point;
    return point && *point ? *point : '.';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

struct Decimal {
    bool negative = false;
    std::int64_t mantissa = 0;  // value = mantissa / 10^fractionDigits
    int fractionDigits = 0;
};

std::optional<Decimal> parseDecimal(std::string_view text, char separator) {
    text = trimmed(text);
    Decimal number;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        number.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    bool seenSeparator = false;
    bool sawDigit = false;
    for (char c : text) {
        if (c == separator && !seenSeparator) {
            seenSeparator = true;
            continue;
        }
        if (c < '0' || c > '9' || number.mantissa > kMaxMantissa) return std::nullopt;
        sawDigit = true;
        number.mantissa = number.mantissa * 10 + (c - '0');
        if (seenSeparator) ++number.fractionDigits;
    }
    if (!sawDigit || number.fractionDigits > kMaxFractionDigits) return std::nullopt;
    return number;
}

// value x scale, rounded to the nearest integer with halves to the even neighbour (exactly).
std::int64_t scaledHalfEven(const Decimal& number, int scale) {
    std::int64_t numerator = number.mantissa * scale;
    std::int64_t denominator = 1;
    for (int i = 0; i < number.fractionDigits; ++i) denominator *= 10;
    std::int64_t quotient = numerator / denominator;
    std::int64_t twiceRemainder = 2 * (numerator % denominator);
    if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 == 1))
        ++quotient;
    return number.negative ? -quotient : quotient;
}

}  // namespace

std::string TKRB_Class::ReadActualTemperature() {
    return ReadScaledDM(kTemperature.actualWord, kTemperature.scale);
}
std::string TKRB_Class::ReadActualHumidity() {
    return ReadScaledDM(kHumidity.actualWord, kHumidity.scale);
}
std::string TKRB_Class::ReadActualCO2() { return ReadScaledDM(kCO2.actualWord, kCO2.scale); }
std::string TKRB_Class::ReadActualN2() { return ReadScaledDM(kN2.actualWord, kN2.scale); }
std::string TKRB_Class::ReadActualO2() { return ReadScaledDM(kO2.actualWord, kO2.scale); }
std::string TKRB_Class::ReadSetTemperature() {
    return ReadScaledDM(kTemperature.setWord, kTemperature.scale);
}
std::string TKRB_Class::ReadSetHumidity() {
    return ReadScaledDM(kHumidity.setWord, kHumidity.scale);
}
std::string TKRB_Class::ReadSetCO2() { return ReadScaledDM(kCO2.setWord, kCO2.scale); }
std::string TKRB_Class::ReadSetN2() { return ReadScaledDM(kN2.setWord, kN2.scale); }
std::string TKRB_Class::ReadSetO2() { return ReadScaledDM(kO2.setWord, kO2.scale); }

// O2 has no separator replacement; only the temperature word carries negatives as v + 65536.
void TKRB_Class::WriteSetTemperature(const std::string& value) {
    writeSetPoint(kTemperature.setWord, kTemperature.scale, value, true, true);
}
void TKRB_Class::WriteSetHumidity(const std::string& value) {
    writeSetPoint(kHumidity.setWord, kHumidity.scale, value, true, false);
}
void TKRB_Class::WriteSetCO2(const std::string& value) {
    writeSetPoint(kCO2.setWord, kCO2.scale, value, true, false);
}
void TKRB_Class::WriteSetN2(const std::string& value) {
    writeSetPoint(kN2.setWord, kN2.scale, value, true, false);
}
void TKRB_Class::WriteSetO2(const std::string& value) {
    writeSetPoint(kO2.setWord, kO2.scale, value, false, false);
}

void TKRB_Class::writeSetPoint(int address, int scale, const std::string& value,
                               bool replaceSeparator, bool wrapNegative) {
    const char separator = machineSeparator();
    std::string text = value;
    if (replaceSeparator)
        std::replace(text.begin(), text.end(), separator == '.' ? ',' : '.', separator);
    auto number = parseDecimal(text, separator);
    if (!number) return;
    std::int64_t word = scaledHalfEven(*number, scale);
    if (wrapNegative && word < 0) word += 65536;
    // The set-point writes answer their caller nothing.
    ReadBackStr(writeWord(address, word)).outcomeNotNeeded();
}

// Four fields in a fixed order: temperature, humidity, CO2, N2.
std::string TKRB_Class::ReadActualClimate2() {
    std::string joined = ReadActualTemperature();
    joined += ";" + ReadActualHumidity();
    joined += ";" + ReadActualCO2();
    joined += ";" + ReadActualN2();
    return joined;
}

std::string TKRB_Class::ReadSetClimate2() {
    std::string joined = ReadSetTemperature();
    joined += ";" + ReadSetHumidity();
    joined += ";" + ReadSetCO2();
    joined += ";" + ReadSetN2();
    return joined;
}

// --- shaker

void TKRB_Class::WriteShakerSpeed(const std::string& speed) {
    if (auto value = parseInt32(speed))
        ReadBackStr(writeWord(word::kShakerSpeed, *value)).outcomeNotNeeded();  // answers nothing
}

std::string TKRB_Class::ReadShakerSpeed() { return ReadDMWord(readWord(word::kShakerSpeed)); }
std::string TKRB_Class::ActivateShaker() {
    return setUnitText(ReadBackStr(setRelay(relay::kShaker)).text());
}
std::string TKRB_Class::DeactivateShaker() {
    return setUnitText(ReadBackStr(resetRelay(relay::kShaker)).text());
}

}  // namespace krb
