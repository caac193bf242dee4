#include "xml_check.h"

#include <expat.h>

#include <memory>

namespace krb::server::testing {
namespace {

struct ParseState {
    XmlParse* result = nullptr;
    int depth = 0;
    std::string text;
    bool hasChildren = false;
};

void OnStart(void* data, const XML_Char* name, const XML_Char**) {
    auto& state = *static_cast<ParseState*>(data);
    if (state.depth++ == 0) state.result->Root = name;
    state.text.clear();
    state.hasChildren = false;
}

void OnEnd(void* data, const XML_Char* name) {
    auto& state = *static_cast<ParseState*>(data);
    --state.depth;
    if (!state.hasChildren) state.result->Leaves.emplace_back(name, state.text);
    state.text.clear();
    state.hasChildren = true;  // the parent now has a child
}

void OnText(void* data, const XML_Char* text, int length) {
    static_cast<ParseState*>(data)->text.append(text, static_cast<std::size_t>(length));
}

}  // namespace

XmlParse ParseXml(std::string_view document) {
    XmlParse result;
    std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate(nullptr),
                                                                        &XML_ParserFree);
    ParseState state;
    state.result = &result;
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(parser.get(), OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser.get(), OnText);
    if (XML_Parse(parser.get(), document.data(), static_cast<int>(document.size()), 1) ==
        XML_STATUS_OK) {
        result.WellFormed = true;
    } else {
        result.Error = std::string(XML_ErrorString(XML_GetErrorCode(parser.get()))) + " at line " +
                       std::to_string(XML_GetCurrentLineNumber(parser.get()));
    }
    return result;
}

std::string_view BodyOf(std::string_view reply) {
    const auto end = reply.find("\n\n");
    return end == std::string_view::npos ? std::string_view() : reply.substr(end + 2);
}

}  // namespace krb::server::testing
