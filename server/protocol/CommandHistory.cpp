#include "protocol/CommandHistory.h"

#include "protocol/ClientLink.h"
#include "text/CommandSyntax.h"

namespace krb::server {

std::string CommandNameOf(std::string_view text) {
    return std::string(text.substr(0, text.find('(')));
}

std::string ArgumentsAfterUnitId(std::string_view text) {
    const std::string_view list = ArgumentList(text);
    const auto comma = list.find(',');
    return comma == std::string_view::npos ? std::string() : std::string(list.substr(comma + 1));
}

std::string WithoutLineEnds(std::string reply) {
    while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n')) reply.pop_back();
    return reply;
}

history::CommandOrigin TextCommandOrigin(const ClientLink* link, std::string name,
                                         std::string unitId, std::string_view text) {
    return history::NewOrigin(history::Interface::Text, link ? link->PeerAddress() : std::string(),
                              std::move(unitId), std::move(name), ArgumentsAfterUnitId(text));
}

}  // namespace krb::server
