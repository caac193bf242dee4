#include "window/WindowShell.h"

#include <QApplication>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "protocol/ServerCore.h"
#include "protocol/UnitCommandThread.h"
#include "window/MainWindow.h"
#include "window/Splash.h"

namespace krb::server {
namespace {

bool EnvironmentHas(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

bool TakeHeadlessOption(std::vector<std::string>& arguments) {
    const auto end = std::remove(arguments.begin(), arguments.end(), "--headless");
    const bool found = end != arguments.end();
    arguments.erase(end, arguments.end());
    return found;
}

bool DisplayAvailable() {
    return EnvironmentHas("DISPLAY") || EnvironmentHas("WAYLAND_DISPLAY") ||
           EnvironmentHas("QT_QPA_PLATFORM");
}

int RunWindowShell(int& argc, char** argv, const std::vector<std::string>& arguments,
                   const std::function<ServerCore*()>& makeServer) {
    QApplication application(argc, argv);
    // The window decides when the program ends: hiding into the tray or closing a message
    // box must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName("KRB TCP/IP Server");
    ShowStartupSplash();

    // Lives until the program ends: command threads still running at exit use the model.
    auto* core = makeServer();
    int status = EXIT_SUCCESS;
    {
        TfrmMain window(*core);
        QObject::connect(&window, &TfrmMain::Closed, &application, &QCoreApplication::quit);
        // SIGINT and SIGTERM close the window as its close command does.
        asio::signal_set stopSignals(core->Loop(), SIGINT, SIGTERM);
        stopSignals.async_wait([&window](const asio::error_code& error, int) {
            if (!error) QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection);
        });
        std::thread loop([core] { core->Run(); });
        window.show();
        window.FormShow(arguments);
        status = application.exec();
        loop.join();
    }

    std::fflush(nullptr);
    if (TTHRUnitCommand::RunningCommands() > 0) std::_Exit(status);
    delete core;
    return status;
}

}  // namespace krb::server
