#pragma once
// The syntax of a unit command, "KRB2" name "(" unit ID ("," field)... ")" CR, as pure
// functions over text: routing reads the unit ID, the command threads read the fields.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace krb::server {

// The unit ID that routing looks up: between the first "(" and the first "," when the text
// has a "," anywhere, else between the first "(" and the first ")". Without a "(" it starts at
// the beginning; without its end, or with the end before the start, it is empty.
std::string UnitIdOfCommand(std::string_view text);

// The text between the first "(" (or the beginning, without one) and the first ")"; empty
// without a ")" after the start.
std::string_view ArgumentList(std::string_view command);

// Up to `count` fields of a list: each but the last ends at the next ",", the last is the rest,
// commas included. Fewer fields when the list runs out of commas; at least one.
std::vector<std::string> SplitFields(std::string_view list, std::size_t count);

// A unit command that cannot run as given (a missing or non-numeric integer field); its
// reply is "E3".
class TCommandArgumentError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class FieldKind { Integer, Text, Flag };

// The fields of a unit command after its unit ID (field 0 of the argument list), read in the
// given shape. Integers are checked when the fields are read.
class TCommandFields {
  public:
    TCommandFields(std::string_view command, std::span<const FieldKind> shape);

    std::int32_t Integer(std::size_t index) const;     // throws TCommandArgumentError
    const std::string& Text(std::size_t index) const;  // "" when missing
    bool Flag(std::size_t index) const;                // on only for exactly "1"

  private:
    std::vector<std::optional<std::string>> fields_;
    std::vector<std::optional<std::int32_t>> integers_;
};

}  // namespace krb::server
