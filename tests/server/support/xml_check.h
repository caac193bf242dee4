#pragma once
// A real XML parser's view of a document: whether it is well-formed, and the text of every
// element that holds text only.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace krb::server::testing {

struct XmlParse {
    bool WellFormed = false;
    std::string Error;  // the parser's message and line when not well-formed
    std::string Root;
    std::vector<std::pair<std::string, std::string>> Leaves;  // (element, text) in order
};

XmlParse ParseXml(std::string_view document);

// The body of an HTTP reply: what follows the first blank line ("\n\n").
std::string_view BodyOf(std::string_view reply);

}  // namespace krb::server::testing
