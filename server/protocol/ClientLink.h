#pragma once
// What the protocol needs of a client connection, without the socket layer: dispatch, the
// update and view handlers, the routing, the unit command threads and the service listeners
// are written against this; the listener's connections implement it.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krb::server {

// A text as the pieces it is made of, in order; pieces may be shared with other texts (a
// view keeps the blocks of unchanged units between requests).
using TTextPieces = std::vector<std::shared_ptr<const std::string>>;
inline std::string JoinPieces(const TTextPieces& pieces) {
    std::size_t size = 0;
    for (const auto& piece : pieces) size += piece ? piece->size() : 0;
    std::string text;
    text.reserve(size);
    for (const auto& piece : pieces) {
        if (piece) text.append(*piece);
    }
    return text;
}

class ClientLink {
  public:
    virtual ~ClientLink() = default;

    // On the event loop only.
    virtual void Send(std::string text) = 0;  // queued in order; nothing once closed
    // One text given in pieces; the same bytes as Send of the joined text.
    virtual void SendPieces(TTextPieces pieces) { Send(JoinPieces(pieces)); }
    // Runs the disconnect handling at once. Sends already queued are still written before
    // the link closes, unless `discardPending`.
    virtual void Close(bool discardPending) = 0;
    // Runs `done` on the loop once everything queued so far has been written; dropped when
    // the link fails first.
    virtual void WhenSent(std::function<void()> done) = 0;
    virtual bool IsOpen() const = 0;
    virtual std::size_t PendingSends() const = 0;  // texts not yet written
    // The peer as the log names it: "RH=" host ";RA=" address ";RP=" port.
    virtual std::string RemoteDetails() const = 0;
    // The peer as the audit trail names it: "address:port". Any thread: fixed at accept.
    virtual std::string PeerAddress() const = 0;

    // From any thread: the text is sent from the event loop, or dropped when the link has
    // closed by then.
    virtual void PostReply(std::string text) = 0;
};

}  // namespace krb::server
