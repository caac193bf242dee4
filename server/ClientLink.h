#pragma once
// What the protocol needs of a client connection, without the socket layer: the routing and
// the unit command threads are written against this, the listener's connections implement it.
#include <memory>
#include <string>

namespace krb::server {

class ClientLink {
  public:
    virtual ~ClientLink() = default;
    // On the event loop only.
    virtual void Send(const std::string& text) = 0;
    // From any thread: the text is sent from the event loop, or dropped when the connection
    // has closed by then.
    virtual void PostReply(std::string text) = 0;
};

}  // namespace krb::server
