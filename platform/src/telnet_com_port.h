#pragma once
// The telnet layer of RFC 2217: separates data from commands in received bytes, answers the
// option negotiation, and builds the COM-port control requests.
#include <cstdint>
#include <set>
#include <string>

#include "platform/serial_port.h"

namespace krb::platform::telnet {

inline constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250,
                               SE = 240;
inline constexpr unsigned char kBinary = 0, kSuppressGoAhead = 3, kComPortOption = 44;

// Requests of the client, RFC 2217 section 3.
enum class ComPortCommand : unsigned char {
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    PurgeData = 12,
};
inline constexpr unsigned char kPurgeReceive = 1, kPurgeBoth = 3;

std::string openingNegotiation();
std::string escapeData(const char* data, std::size_t count);
std::string comPortRequest(ComPortCommand command, const std::string& value);
std::string lineSettingRequests(const LineSettings& settings);

class Decoder {
  public:
    // Appends the data bytes of `received` to `data` and the answers owed to the peer to
    // `answers`.
    void feed(const char* received, std::size_t count, std::string& data, std::string& answers);
    bool peerAcceptedComPort() const { return comPortAccepted_; }

  private:
    enum class State { Data, Command, Option, SubOption, SubOptionCommand };
    void negotiate(unsigned char verb, unsigned char option, std::string& answers);

    State state_ = State::Data;
    unsigned char verb_ = 0;
    bool comPortAccepted_ = false;
    std::set<std::pair<unsigned char, unsigned char>> answered_;
};

}  // namespace krb::platform::telnet
