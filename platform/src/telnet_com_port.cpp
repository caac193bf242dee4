#include "telnet_com_port.h"

namespace krb::platform::telnet {
namespace {

std::string bigEndian32(std::uint32_t value) {
    std::string bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes += static_cast<char>((value >> shift) & 0xFF);
    return bytes;
}

unsigned char parityCode(Parity parity) {
    switch (parity) {
        case Parity::None:
            return 1;
        case Parity::Odd:
            return 2;
        case Parity::Even:
            return 3;
    }
    return 1;
}

bool isOurs(unsigned char option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}

}  // namespace

std::string openingNegotiation() {
    const unsigned char bytes[] = {IAC, WILL, kComPortOption,  IAC, WILL, kBinary,
                                   IAC, DO,   kBinary,         IAC, WILL, kSuppressGoAhead,
                                   IAC, DO,   kSuppressGoAhead};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string escapeData(const char* data, std::size_t count) {
    std::string escaped;
    escaped.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        escaped += data[i];
        if (static_cast<unsigned char>(data[i]) == IAC) escaped += static_cast<char>(IAC);
    }
    return escaped;
}

std::string comPortRequest(ComPortCommand command, const std::string& value) {
    std::string request{static_cast<char>(IAC), static_cast<char>(SB),
                        static_cast<char>(kComPortOption), static_cast<char>(command)};
    request += escapeData(value.data(), value.size());
    request += static_cast<char>(IAC);
    request += static_cast<char>(SE);
    return request;
}

std::string lineSettingRequests(const LineSettings& settings) {
    return comPortRequest(ComPortCommand::SetBaudRate,
                          bigEndian32(static_cast<std::uint32_t>(settings.baud))) +
           comPortRequest(ComPortCommand::SetDataSize,
                          std::string(1, static_cast<char>(settings.dataBits))) +
           comPortRequest(ComPortCommand::SetParity,
                          std::string(1, static_cast<char>(parityCode(settings.parity)))) +
           comPortRequest(ComPortCommand::SetStopSize,
                          std::string(1, static_cast<char>(settings.stopBits == 2 ? 2 : 1))) +
           comPortRequest(ComPortCommand::SetControl, std::string(1, '\x01'));  // no flow control
}

void Decoder::feed(const char* received, std::size_t count, std::string& data,
                   std::string& answers) {
    for (std::size_t i = 0; i < count; ++i) {
        const auto byte = static_cast<unsigned char>(received[i]);
        switch (state_) {
            case State::Data:
                if (byte == IAC)
                    state_ = State::Command;
                else
                    data += static_cast<char>(byte);
                break;
            case State::Command:
                if (byte == IAC) {
                    data += static_cast<char>(byte);
                    state_ = State::Data;
                } else if (byte >= WILL && byte <= DONT) {
                    verb_ = byte;
                    state_ = State::Option;
                } else {
                    state_ = byte == SB ? State::SubOption : State::Data;
                }
                break;
            case State::Option:
                negotiate(verb_, byte, answers);
                state_ = State::Data;
                break;
            case State::SubOption:  // the server's acknowledgements carry nothing we need
                if (byte == IAC) state_ = State::SubOptionCommand;
                break;
            case State::SubOptionCommand:
                state_ = byte == SE ? State::Data : State::SubOption;
                break;
        }
    }
}

// Each request is answered once, so two peers never echo each other for ever.
void Decoder::negotiate(unsigned char verb, unsigned char option, std::string& answers) {
    if (verb == DO && option == kComPortOption) comPortAccepted_ = true;
    if (!answered_.insert({verb, option}).second) return;
    unsigned char answer = 0;
    if (verb == DO) answer = isOurs(option) ? WILL : WONT;
    if (verb == WILL) answer = isOurs(option) ? DO : DONT;
    if (verb == DONT) answer = WONT;
    if (verb == WONT) answer = DONT;
    const bool alreadySaid = (answer == WILL && (option == kComPortOption || option == kBinary ||
                                                 option == kSuppressGoAhead)) ||
                             (answer == DO && (option == kBinary || option == kSuppressGoAhead));
    if (alreadySaid) return;  // our opening negotiation asked for exactly this
    answers += static_cast<char>(IAC);
    answers += static_cast<char>(answer);
    answers += static_cast<char>(option);
}

}  // namespace krb::platform::telnet
