#pragma once
// Which face KRBServer shows: its window when a display is there, else none.
#include <functional>
#include <string>
#include <vector>

namespace krb::server {

class ServerCore;

// Removes "--headless" from `arguments`; true when it was there.
bool TakeHeadlessOption(std::vector<std::string>& arguments);
// A display the window can use: X11, Wayland, or a Qt platform chosen explicitly.
bool DisplayAvailable();
// The window program: splash, main window, the loop of the server `makeServer` creates on its
// own thread. Returns the exit status.
int RunWindowShell(int& argc, char** argv, const std::vector<std::string>& arguments,
                   const std::function<ServerCore*()>& makeServer);

}  // namespace krb::server
