// The unit command syntax: the unit ID that routing looks up, the argument list and fields
// that the command threads read, on well-formed and malformed texts.
#include <gtest/gtest.h>

#include <array>

#include "lab/UnitDirectory.h"
#include "text/CommandSyntax.h"

namespace krb::server {
namespace {

// Routing and the command threads read the unit ID by different rules; where the text is
// malformed they may see different IDs, and routing's is the one that picks the unit.
TEST(CommandSyntaxTest, RoutingUnitIdAndArgumentList) {
    struct Case {
        std::string_view text;
        std::string_view routedId;
        std::string_view argumentList;
    };
    constexpr std::array<Case, 13> kCases{{
        {"KRB2X(7)\r", "7", "7"},
        {"KRB2X(U,1,2)\r", "U", "U,1,2"},
        {"KRB2X(U)a)\r", "U", "U"},
        {"KRB2X(U)\r,", "U)\r", "U"},      // a "," after the ")" still ends the ID
        {"KRB2X(U,1\r", "U", ""},          // no ")"
        {"KRB2X,(U)\r", "", "U"},          // the "," comes before the "("
        {"KRB2X)(U,1)\r", "U", ""},        // the first ")" comes before the "("
        {"KRB2X((U,1))\r", "(U", "(U,1"},  // only the first "(" opens
        {"KRB2X()\r", "", ""},
        {"U,1)\r", "U", "U,1"},  // no "(": from the start
        {"\r", "", ""},
        {"", "", ""},
        {std::string_view("KRB2X(\0U,\0)\r", 12), std::string_view("\0U", 2),
         std::string_view("\0U,\0", 4)},
    }};
    for (const auto& c : kCases) {
        EXPECT_EQ(UnitIdOfCommand(c.text), c.routedId) << c.text;
        EXPECT_EQ(ArgumentList(c.text), c.argumentList) << c.text;
    }
}

TEST(CommandSyntaxTest, SplitFieldsLeavesTheRestToTheLastField) {
    struct Case {
        std::string_view list;
        std::size_t count;
        std::vector<std::string> fields;
    };
    const std::vector<Case> cases{
        {"", 0, {""}},
        {"", 3, {""}},
        {"a,b,c", 0, {"a,b,c"}},
        {"a,b,c", 1, {"a,b,c"}},
        {"a,b,c", 2, {"a", "b,c"}},
        {"a,b,c", 3, {"a", "b", "c"}},
        {"a,b,c", 5, {"a", "b", "c"}},
        {",,", 3, {"", "", ""}},
        {"a,", 2, {"a", ""}},
        {" a , b ", 2, {" a ", " b "}},  // nothing is trimmed
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitFields(c.list, c.count), c.fields) << c.list << " / " << c.count;
    }
}

TEST(CommandSyntaxTest, IntegerFieldsAcceptOnlyDecimalsWithin32Bits) {
    const std::array<FieldKind, 1> one{FieldKind::Integer};
    struct Case {
        std::string_view command;
        std::optional<std::int32_t> value;
    };
    constexpr std::array<Case, 12> kCases{{
        {"KRB2X(U,2147483647)", 2147483647},
        {"KRB2X(U,-2147483648)", -2147483647 - 1},
        {"KRB2X(U,+0)", 0},
        {"KRB2X(U,2147483648)", std::nullopt},
        {"KRB2X(U,)", std::nullopt},
        {"KRB2X(U,+)", std::nullopt},
        {"KRB2X(U,0x10)", std::nullopt},
        {"KRB2X(U,5\r)", std::nullopt},
        {"KRB2X(U,5 )", std::nullopt},
        {"KRB2X(U,5,6)", std::nullopt},  // the only field takes the rest, "5,6"
        {"KRB2X(U,5", std::nullopt},     // no ")": no fields at all
        {std::string_view("KRB2X(U,5\0)", 11), std::nullopt},
    }};
    for (const auto& c : kCases) {
        if (c.value) {
            EXPECT_EQ(TCommandFields(c.command, one).Integer(0), *c.value) << c.command;
        } else {
            EXPECT_THROW(TCommandFields(c.command, one), TCommandArgumentError) << c.command;
        }
    }
}

TEST(CommandSyntaxTest, ReadingBeyondTheShapeGivesNothing) {
    const std::array<FieldKind, 2> shape{FieldKind::Text, FieldKind::Flag};
    const TCommandFields fields("KRB2X(U,a)", shape);
    EXPECT_EQ(fields.Text(0), "a");
    EXPECT_EQ(fields.Text(1), "");
    EXPECT_EQ(fields.Text(7), "");
    EXPECT_FALSE(fields.Flag(1));
    EXPECT_THROW(fields.Integer(0), TCommandArgumentError);
    EXPECT_THROW(fields.Integer(9), TCommandArgumentError);
}

TEST(CommandSyntaxTest, ServiceMoveReplyWithoutABrowserNamesNoUnit) {
    EXPECT_EQ(ServiceMoveReply(23, nullptr), "-null;3");
    EXPECT_EQ(ServiceMoveReply(-2147483647 - 1, nullptr), "-null;8");
    EXPECT_EQ(ServiceMoveReply(1, nullptr), "1");
}

}  // namespace
}  // namespace krb::server
