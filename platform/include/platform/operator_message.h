#pragma once
// Message boxes of the library and the server. Headless, a message goes to
// stderr (and whatever sink is installed, e.g. the server log) and never blocks.
#include <functional>
#include <string>

#include "platform/export.h"

namespace krb::platform {

using OperatorMessageSink =
    std::function<void(const std::string& caption, const std::string& text)>;

KRB_PLATFORM_API void showOperatorMessage(const std::string& caption, const std::string& text);
// An event the operator should find in the log (stderr and the sink) but that needs no box.
KRB_PLATFORM_API void noteOperatorEvent(const std::string& caption, const std::string& text);
// Installs an extra sink (log file, window shell); empty removes it. Returns once calls of
// the old sink on other threads have ended, so its owner may then go away.
KRB_PLATFORM_API void setOperatorMessageSink(OperatorMessageSink sink);
// Installs the window shell's message boxes next to the sink above; empty removes it. It is
// called on the raising thread and must not block it.
KRB_PLATFORM_API void setOperatorMessageDisplay(OperatorMessageSink display);

}  // namespace krb::platform
