#pragma once
// Byte log of serial traffic, switched on by the KRB_SERIAL_LOG folder.
#include <memory>
#include <string>

#include "platform/serial_port.h"

namespace krb::platform {

// Returns `port` wrapped in a logging decorator when KRB_SERIAL_LOG names a
// usable folder, else `port` itself.
std::unique_ptr<SerialPort> attachSerialLog(std::unique_ptr<SerialPort> port,
                                            const std::string& windowsName);
// Writes a line of the link's own (loss, recovery) into the port's log when logging is on.
void noteSerialLogEvent(const std::string& windowsName, const std::string& text);

}  // namespace krb::platform
