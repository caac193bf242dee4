#pragma once
// Which face KRBServer shows: its window when a display is there, else none.
#include <string>
#include <vector>

namespace krb::server {

// Removes "--headless" from `arguments`; true when it was there.
bool TakeHeadlessOption(std::vector<std::string>& arguments);
// A display the window can use: X11, Wayland, or a Qt platform chosen explicitly.
bool DisplayAvailable();
// The window program: splash, main window, the core's loop on its own thread. Returns the
// exit status.
int RunWindowShell(int& argc, char** argv, const std::vector<std::string>& arguments);

}  // namespace krb::server
