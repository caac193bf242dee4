#include "sim/protocol.h"

#include <cstdio>

#include "sim/register_store.h"

namespace krb::sim {
namespace {

constexpr std::size_t kMaxAddressDigits = 5;
constexpr std::size_t kMaxValueDigits = 18;  // fits a 64-bit integer

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::optional<int> parseAddress(std::string_view text) {
    if (text.empty() || text.size() > kMaxAddressDigits) return std::nullopt;
    int address = 0;
    for (char c : text) {
        if (!isDigit(c)) return std::nullopt;
        address = address * 10 + (c - '0');
    }
    return address;
}

Command addressed(Command command, Command::Kind kind, std::string_view addressText) {
    if (auto address = parseAddress(addressText)) {
        command.kind = kind;
        command.address = *address;
    }
    return command;
}

// "<address> <value>", the value not yet judged.
Command registerWrite(Command command, Command::Kind kind, std::string_view text) {
    const auto blank = text.find(' ');
    if (blank == std::string_view::npos || blank + 1 == text.size()) return command;
    command = addressed(std::move(command), kind, text.substr(0, blank));
    if (command.kind == kind) command.value = std::string(text.substr(blank + 1));
    return command;
}

Command parseRead(Command command, std::string_view rest) {
    if (startsWith(rest, "DM"))
        return addressed(std::move(command), Command::Kind::ReadDm, rest.substr(2));
    if (startsWith(rest, "T"))
        return addressed(std::move(command), Command::Kind::ReadTimer, rest.substr(1));
    return addressed(std::move(command), Command::Kind::ReadRelay, rest);
}

bool looksLikeTimer(std::string_view rest) {
    return rest.size() > 1 && rest[0] == 'T' && isDigit(rest[1]);
}

Command parseWrite(Command command, std::string_view rest, bool preset) {
    if (!preset && startsWith(rest, "DM")) {
        return registerWrite(std::move(command), Command::Kind::WriteDm, rest.substr(2));
    }
    if (looksLikeTimer(rest)) {
        const auto kind = preset ? Command::Kind::SetTimerPreset : Command::Kind::WriteTimer;
        return registerWrite(std::move(command), kind, rest.substr(1));
    }
    if (rest.empty()) return command;
    command.kind = Command::Kind::ParameterWrite;
    command.value = std::string(rest);
    return command;
}

std::string answerWrite(const std::string& value, auto store) {
    auto word = parseWordValue(value);
    if (!word) return "E1";
    store(*word);
    return "OK";
}

}  // namespace

Command parseCommand(std::string_view line) {
    Command command;
    command.raw = std::string(line);
    if (line == "CR") {
        command.kind = Command::Kind::Open;
    } else if (line == "CQ") {
        command.kind = Command::Kind::Close;
    } else if (startsWith(line, "ST ")) {
        return addressed(std::move(command), Command::Kind::SetRelay, line.substr(3));
    } else if (startsWith(line, "RS ")) {
        return addressed(std::move(command), Command::Kind::ResetRelay, line.substr(3));
    } else if (startsWith(line, "RD ")) {
        return parseRead(std::move(command), line.substr(3));
    } else if (startsWith(line, "WR ")) {
        return parseWrite(std::move(command), line.substr(3), false);
    } else if (startsWith(line, "WS ")) {
        return parseWrite(std::move(command), line.substr(3), true);
    }
    return command;
}

std::optional<std::uint16_t> parseWordValue(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > kMaxValueDigits) return std::nullopt;
    std::uint64_t magnitude = 0;
    for (char c : text) {
        if (!isDigit(c)) return std::nullopt;
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
    }
    const auto word = static_cast<std::uint16_t>(magnitude % 65536);
    return negative ? static_cast<std::uint16_t>(65536 - word) : word;
}

std::string formatWord(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%05u", static_cast<unsigned>(value));
    return text;
}

std::string defaultReply(const Command& command, RegisterStore& registers) {
    const int a = command.address;
    switch (command.kind) {
        case Command::Kind::Open:
            registers.setLinkOpen(true);
            return "CC";
        case Command::Kind::Close:
            registers.setLinkOpen(false);
            return "CF";
        case Command::Kind::SetRelay:
            registers.setRelay(a, true);
            return "OK";
        case Command::Kind::ResetRelay:
            registers.setRelay(a, false);
            return "OK";
        case Command::Kind::ReadRelay:
            return registers.relay(a) ? "1" : "0";
        case Command::Kind::ReadDm:
            return formatWord(registers.dm(a));
        case Command::Kind::ReadTimer:
            return formatWord(registers.timer(a));
        case Command::Kind::WriteDm:
            return answerWrite(command.value, [&](std::uint16_t v) { registers.setDm(a, v); });
        case Command::Kind::WriteTimer:
            return answerWrite(command.value, [&](std::uint16_t v) { registers.setTimer(a, v); });
        case Command::Kind::SetTimerPreset:
            return answerWrite(command.value,
                               [&](std::uint16_t v) { registers.setTimerPreset(a, v); });
        case Command::Kind::ParameterWrite:
            return "OK";
        case Command::Kind::Unknown:
            break;
    }
    return "E1";
}

}  // namespace krb::sim
