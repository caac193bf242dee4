#pragma once
// A serial line as the unit link sees it. The termios port is the default
// transport; another (a TCP serial server, a test double) can be installed
// with setSerialPortOpener without touching the library.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/export.h"

namespace krb::platform {

enum class Parity { None, Even, Odd };

struct LineSettings {
    int baud = 9600;
    int dataBits = 8;
    Parity parity = Parity::Even;
    int stopBits = 1;
};

inline constexpr LineSettings kControllerLine{9600, 8, Parity::Even, 1};
inline constexpr LineSettings kReaderLine{9600, 7, Parity::Even, 1};

class KRB_PLATFORM_API SerialPort {
  public:
    virtual ~SerialPort() = default;
    virtual bool configure(const LineSettings& settings) = 0;
    // Driver queue sizes; 0 keeps the driver default. Ports without queues ignore it.
    virtual void setQueueSizes(std::size_t input, std::size_t output) = 0;
    virtual void purgeInput() = 0;  // discard received, unread bytes
    virtual void purgeAll() = 0;    // discard both directions
    // Reads until `count` bytes arrived or `timeoutMs` real milliseconds passed.
    // Returns the number of bytes read, or -1 when the read failed.
    virtual long read(char* buffer, std::size_t count, long timeoutMs) = 0;
    virtual bool write(const char* data, std::size_t count) = 0;
    virtual const std::string& name() const = 0;
    // The shortest read window (real ms) in which a reply can come back over this transport:
    // windows that shrink with the time scale never go below it.
    virtual long shortestReplyWindowMs() const { return 0; }
};

// A nominal read window under the time scale, but never below what `port` needs.
KRB_PLATFORM_API long replyWindowMs(const SerialPort& port, long nominalMs);

// Opens a port by its Windows name ("COM1", "\\.\COM12"), exclusively.
// Returns nullptr when the name resolves to nothing, the device is missing or
// the device is already open; never blocks.
KRB_PLATFORM_API std::unique_ptr<SerialPort> openSerialPort(const std::string& windowsName);
// The same for a target that resolvePortTarget gave earlier: a device path or a network
// address. An installed opener is still given the Windows name.
KRB_PLATFORM_API std::unique_ptr<SerialPort> openSerialPortAt(const std::string& windowsName,
                                                              const std::string& target);

using SerialPortOpener = std::function<std::unique_ptr<SerialPort>(const std::string&)>;
// Replaces the transport for every later open; an empty opener restores termios.
KRB_PLATFORM_API void setSerialPortOpener(SerialPortOpener opener);

// Opens a device path directly with termios (used by the default opener and the TCP-less tools).
KRB_PLATFORM_API std::unique_ptr<SerialPort> openTermiosPort(const std::string& devicePath,
                                                             const std::string& logName);

}  // namespace krb::platform
