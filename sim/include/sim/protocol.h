#pragma once
// The controller's register protocol: one ASCII command per CR-terminated line,
// one reply per command.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace krb::sim {

struct Command {  // one parsed line
    enum class Kind {
        Open,            // "CR"
        Close,           // "CQ"
        SetRelay,        // "ST n"
        ResetRelay,      // "RS n"
        ReadRelay,       // "RD n"
        ReadDm,          // "RD DMn"
        WriteDm,         // "WR DMn v"
        WriteTimer,      // "WR Tn v"
        SetTimerPreset,  // "WS Tn v"
        ReadTimer,       // "RD Tn"
        ParameterWrite,  // "WR " or "WS " + any other text
        Unknown
    };
    Kind kind = Kind::Unknown;
    int address = 0;
    std::string value;  // writes: the text after the address (not yet judged); parameter lines:
                        // text after "WR "/"WS "
    std::string raw;
};

// Judges the form only: addresses are 1 to 5 decimal digits, a write has exactly one
// blank between address and a non-empty value. Value texts are judged by whoever answers,
// so a unit model may accept its own encodings (hexadecimal coordinates, say).
Command parseCommand(std::string_view line);

// Decimal text (optional sign, digits only) reduced modulo 65536, as the controller keeps
// 16-bit words: -1 is stored as 65535, 65536 as 0. nullopt when not a decimal number
// or longer than 18 digits.
std::optional<std::uint16_t> parseWordValue(std::string_view text);

std::string formatWord(std::uint16_t value);  // five digits, zero-padded

class RegisterStore;

// The controller's own answer, applying the command to the registers. Malformed commands
// and write values that are not decimal change nothing and are answered "E1".
std::string defaultReply(const Command& command, RegisterStore& registers);

}  // namespace krb::sim
