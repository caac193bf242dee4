// Program lifecycle, configuration, the listener and its client connections.
#include "protocol/ServerCore.h"

#include <thread>

#include "lab/ConfigPath.h"
#include "lab/ContentsLeftovers.h"
#include "platform/operator_message.h"
#include "platform/profile_file.h"
#include "protocol/FailureLog.h"
#include "protocol/UnitCommandThread.h"
#include "text/TextNumbers.h"

namespace krb::server {
namespace {

constexpr auto kHostLookupLimit = std::chrono::seconds(2);
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(100);
constexpr int kAcceptRearmAttempts = 50;

// Message texts break their lines with CR; a log line must stay one line.
std::string OnOneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        const bool lineBreak = c == '\r' || c == '\n';
        if (!lineBreak) {
            line += c;
        } else if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
    }
    return line;
}

}  // namespace

ServerCore::ServerCore(const KRBExports& exports)
    : keepRunning_(asio::make_work_guard(loop_)), manager_(exports, &browser_) {
    // Logged at once, with the time the message was raised, from whatever thread raised it.
    platform::setOperatorMessageSink([this](const std::string& caption, const std::string& text) {
        WriteLog(caption, OnOneLine(text));
    });
    SetResourceFailureSink([this](const std::string& where, const std::string& what) {
        WriteLog("Resource failure", where + ": " + what);
    });
}

ServerCore::~ServerCore() {
    SetResourceFailureSink({});
    platform::setOperatorMessageSink({});
    loop_.stop();
    // Command threads use the model and post to the loop: both must outlive them.
    TTHRUnitCommand::WaitForRunningCommands();
    serviceSockets_.clear();
    connections_.clear();
}

// --- event loop --------------------------------------------------------------------------------

// A handler that runs out of memory or threads ends only its own work; the loop goes on.
void ServerCore::Run() {
    while (true) {
        try {
            loop_.run();
            return;
        } catch (const std::bad_alloc& failure) {
            LogResourceFailure("event loop", failure);
        } catch (const std::system_error& failure) {
            LogResourceFailure("event loop", failure);
        }
        KeepAccepting();
    }
}

// A failed handler may have been the accept handler, whose next accept then never started:
// the listener would hold its port and take no one. Memory comes back as command threads end.
void ServerCore::KeepAccepting() {
    for (int attempt = 0; attempt < kAcceptRearmAttempts && acceptor_ && !acceptPending_;
         ++attempt) {
        try {
            Accept();
        } catch (const std::exception& failure) {
            LogResourceFailure("accept", failure);
            std::this_thread::sleep_for(kAcceptRetryPause);
        }
    }
}

void ServerCore::Quit() {
    asio::post(loop_, [this] {
        FormClose();
        keepRunning_.reset();
        loop_.stop();
    });
}

void ServerCore::Post(std::function<void()> work) { asio::post(loop_, std::move(work)); }

void ServerCore::AddStateObserver(std::function<void(const TServerState&)> observer) {
    stateObservers_.push_back(std::move(observer));
}

TServerState ServerCore::State() const {
    std::lock_guard lock(stateMutex_);
    return state_;
}

void ServerCore::UpdateState(const std::function<void(TServerState&)>& change) {
    TServerState snapshot;
    {
        std::lock_guard lock(stateMutex_);
        change(state_);
        snapshot = state_;
    }
    for (const auto& observer : stateObservers_) observer(snapshot);
}

// --- start-up and configuration ----------------------------------------------------------------

bool ServerCore::FormShow(const std::vector<std::string>& arguments) {
    if (firstShowDone_) return false;
    firstShowDone_ = true;
    if (arguments.size() == 1) {
        LoadConfiguration(arguments[0]);
        return false;
    }
    if (arguments.size() != 2) return false;
    LoadConfiguration(arguments[0]);
    if (arguments[1] == "start" && !State().Running) BtnStartClick();
    return true;
}

void ServerCore::LoadConfiguration(const std::string& path) {
    if (!IsExistingFile(path)) {
        const std::string text = "Configuration File:\r\r" + path + "\r\rDoes not exist!";
        platform::showOperatorMessage("Error!", text);
        ReportProblem(OnOneLine(text));
        return;
    }
    ApplyConfiguration(path);
}

void ServerCore::BtnLoadConfClick(const std::string& chosenPath) {
    if (!IsExistingFile(chosenPath)) {
        platform::showOperatorMessage(
            "Error!", "Server's configuration file has not been found!\r\r" + chosenPath);
        return;
    }
    ApplyConfiguration(chosenPath);
}

// The log is known before the lab is loaded, so that the loader's messages are logged as
// they happen.
void ServerCore::ApplyConfiguration(const std::string& path) {
    const platform::ProfileFile file(path);
    const std::string port = file.readString("TCP", "port");
    const std::string logFile = file.readString("TCP", "LogFile");
    UpdateState([&](TServerState& state) {
        state.ConfFile = path;
        state.Problem.clear();
        if (!port.empty()) state.Port = port;
        state.LogEnabled = !logFile.empty();
        if (state.LogEnabled) state.LogFileName = ResolveConfigPath(logFile, FolderOf(path));
    });
    manager_.LoadSystems(path);
    ReadClientAdmission(file);
    TidyContentsFolders(
        manager_.Lab(),
        [this](const std::string& event, const std::string& details) { WriteLog(event, details); });
}

// A key that cannot be read is reported with its file and key; an allowed-clients entry that
// is no address admits nobody rather than everybody.
void ServerCore::ReadClientAdmission(const platform::ProfileFile& file) {
    auto report = [&](const std::string& key, const std::string& problem) {
        platform::showOperatorMessage("Configuration",
                                      file.path() + " [TCP] " + key + ": " + problem);
    };
    bindAddress_ = file.readString("TCP", "BindAddress");
    std::vector<std::string> problems;
    admission_.SetAllowedClients(file.readString("TCP", "AllowedClients"), problems);
    for (const auto& problem : problems) report("AllowedClients", problem);
    std::size_t configured = ClientAdmission::kDefaultMaxConnections;
    const std::string bound = file.readString("TCP", "MaxConnections");
    if (!bound.empty()) {
        const auto value = ParseInt32(bound);
        if (value && *value > 0) {
            configured = static_cast<std::size_t>(*value);
        } else {
            report("MaxConnections", "\"" + bound + "\" is not a positive number");
        }
    }
    const std::size_t reserved =
        ClientAdmission::kReservedDescriptors +
        ClientAdmission::kReservedDescriptorsPerUnit * browser_.Units().size();
    admission_.SetMaxConnections(ConnectionBound(configured, RaiseDescriptorLimit(), reserved));
}

void ServerCore::ReportProblem(const std::string& problem) {
    UpdateState([&](TServerState& state) { state.Problem = problem; });
}

// --- listener ----------------------------------------------------------------------------------

std::optional<int> ServerCore::PortNumber() const { return ParseInt32(State().Port); }

void ServerCore::BtnStartClick() {
    const auto port = PortNumber();
    if (!port) {
        const TServerState state = State();
        if (!state.Problem.empty()) return;  // the configuration's own failure says more
        const std::string text = state.Port;
        ReportProblem(text.empty() ? "No TCP port is configured ([TCP] port)"
                                   : "The TCP port \"" + text + "\" is not a number");
        return;
    }
    if (!State().Running) {
        StartListener(*port);
    } else {
        StopListener();
    }
}

void ServerCore::StartListener(int port) {
    try {
        if (port < 0 || port > 65535) {
            throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                                    "port " + std::to_string(port));
        }
        const auto address = BindAddress();
        if (!address) return;
        asio::ip::tcp::acceptor acceptor(loop_);
        const asio::ip::tcp::endpoint endpoint(*address, static_cast<unsigned short>(port));
        acceptor.open(endpoint.protocol());
        acceptor.set_option(asio::socket_base::reuse_address(true));
        acceptor.bind(endpoint);
        acceptor.listen();
        acceptor_.emplace(std::move(acceptor));
    } catch (const std::system_error& error) {
        // The socket layer's own report; the listener stays stopped.
        platform::showOperatorMessage("KRB TCP/IP Server", error.what());
        ReportProblem("Port " + std::to_string(port) + ": " + error.what());
        return;
    }
    Accept();
    asio::error_code error;
    const auto local = acceptor_->local_endpoint(error);
    UpdateState([&](TServerState& state) {
        state.Running = true;
        state.Listening = true;
        state.Problem.clear();
        state.LocalPort = error ? -1 : local.port();
    });
    WriteLog("Start", LocalDetails());
}

std::optional<asio::ip::address> ServerCore::BindAddress() {
    if (bindAddress_.empty()) return asio::ip::address(asio::ip::address_v4::any());
    asio::error_code error;
    const auto address = asio::ip::make_address(bindAddress_, error);
    if (!error) return address;
    ReportProblem("The TCP bind address \"" + bindAddress_ + "\" is not an address");
    return std::nullopt;
}

void ServerCore::StopListener() {
    if (acceptor_) CloseClientsAndAcceptor();
    UpdateState([](TServerState& state) {
        state.Running = false;
        state.Listening = false;
        state.LocalPort = -1;
    });
}

void ServerCore::FormClose() {
    if (!acceptor_) return;
    CloseClientsAndAcceptor();
    UpdateState([](TServerState& state) {
        state.Listening = false;
        state.LocalPort = -1;
    });
}

// The log line is written while the local address is still known.
void ServerCore::CloseClientsAndAcceptor() {
    CloseAllClients();
    WriteLog("Stop", LocalDetails());
    asio::error_code ignored;
    acceptor_->close(ignored);
    acceptor_.reset();
}

void ServerCore::CloseAllClients() {
    const auto open = connections_;  // each close removes its entry
    for (const auto& connection : open) connection->Close(true);
}

std::string ServerCore::LocalDetails() const {
    asio::error_code error;
    std::string host = asio::ip::host_name(error);
    if (error) host.clear();
    std::string address;
    int port = -1;
    if (acceptor_) {
        const auto local = acceptor_->local_endpoint(error);
        if (!error) {
            address = local.address().to_string();
            port = local.port();
        }
    }
    return "LH=" + host + ";LA=" + address + ";LP=" + std::to_string(port);
}

void ServerCore::Accept() {
    acceptor_->async_accept([this](const asio::error_code& error, asio::ip::tcp::socket socket) {
        acceptPending_ = false;
        if (!acceptor_ || error == asio::error::operation_aborted) return;
        if (!error) {
            OnAccepted(std::move(socket));
            Accept();
            return;
        }
        // Out of descriptors and the like: try again shortly instead of spinning.
        auto pause = std::make_shared<asio::steady_timer>(loop_, kAcceptRetryPause);
        pause->async_wait([this, pause](const asio::error_code&) {
            acceptPending_ = false;
            if (acceptor_) Accept();
        });
        acceptPending_ = true;  // the pause stands for the next accept
    });
    acceptPending_ = true;
}

// Without memory for the connection the socket is closed at once (it goes out of scope).
void ServerCore::OnAccepted(asio::ip::tcp::socket socket) {
    try {
        if (!Admit(socket)) return;
        ConnectionEvents& events = *this;
        auto connection = std::make_shared<ClientConnection>(std::move(socket), events);
        connections_.push_back(connection);
        LookUpRemoteHost(connection);
        connection->Start();
    } catch (const std::bad_alloc& failure) {
        LogResourceFailure("accept", failure);
    } catch (const std::system_error& failure) {
        LogResourceFailure("accept", failure);
    }
}

// A refused client is logged and its socket closed before anything is read.
bool ServerCore::Admit(asio::ip::tcp::socket& socket) {
    asio::error_code error;
    const auto peer = socket.remote_endpoint(error);
    if (error) return false;  // gone already
    const std::string details =
        "RH=;RA=" + peer.address().to_string() + ";RP=" + std::to_string(peer.port());
    if (!admission_.Allows(peer.address())) {
        WriteLog(ErrorEvent("ClientNotAllowed", "not in [TCP] AllowedClients"), details);
        return false;
    }
    if (connections_.size() >= admission_.MaxConnections()) {
        WriteLog(ErrorEvent("TooManyConnections",
                            std::to_string(connections_.size()) + " connections open"),
                 details);
        return false;
    }
    return true;
}

// --- client events -----------------------------------------------------------------------------

// The "Connect" line waits for the reverse lookup, but never long, and always comes before
// any other line of the connection.
void ServerCore::LookUpRemoteHost(const std::shared_ptr<ClientConnection>& connection) {
    auto resolver = std::make_shared<asio::ip::tcp::resolver>(loop_);
    auto limit = std::make_shared<asio::steady_timer>(loop_, kHostLookupLimit);
    asio::error_code error;
    const auto address = asio::ip::make_address(connection->RemoteAddress(), error);
    if (error) {
        LogConnect(connection);
        return;
    }
    const asio::ip::tcp::endpoint peer(
        address, static_cast<unsigned short>(std::max(connection->RemotePort(), 0)));
    std::weak_ptr<ClientConnection> weak = connection;
    resolver->async_resolve(
        peer, [this, weak, limit](const asio::error_code& lookupError,
                                  const asio::ip::tcp::resolver::results_type& results) {
            limit->cancel();
            auto connection = weak.lock();
            if (!connection || connection->ConnectLogged()) return;
            if (!lookupError && !results.empty()) {
                const std::string host = results.begin()->host_name();
                if (host != connection->RemoteAddress()) connection->SetRemoteHost(host);
            }
            LogConnect(connection);
        });
    limit->async_wait([this, weak, resolver](const asio::error_code& waitError) {
        if (waitError) return;
        resolver->cancel();
        if (auto connection = weak.lock(); connection && !connection->ConnectLogged()) {
            LogConnect(connection);
        }
    });
}

void ServerCore::LogConnect(const std::shared_ptr<ClientConnection>& connection) {
    connection->SetConnectLogged();
    WriteLog("Connect", connection->RemoteDetails());
}

void ServerCore::ClientRead(const std::shared_ptr<ClientConnection>& connection,
                            const std::string& text) {
    ReceiveText(connection, text);
}

void ServerCore::ReceiveText(const std::shared_ptr<ClientLink>& connection,
                             const std::string& text) {
    if (text.find('\r') == std::string::npos) {
        connection->Send("E1\r\n");
        return;
    }
    try {
        DispatchCommand(connection, text);
    } catch (const std::bad_alloc& failure) {
        LogResourceFailure("command", failure);
        connection->Close(true);
    } catch (const std::system_error& failure) {
        LogResourceFailure("command", failure);
        connection->Close(true);
    } catch (const std::exception& error) {
        WriteLog(ErrorEvent(error), connection->RemoteDetails());
    } catch (...) {
        WriteLog(ErrorEvent("unknown", ""), connection->RemoteDetails());
    }
}

void ServerCore::ClientError(const std::shared_ptr<ClientConnection>& connection, int code) {
    if (!connection->ConnectLogged()) LogConnect(connection);
    WriteLog("Error=" + std::to_string(code), connection->RemoteDetails());
}

void ServerCore::ClientDisconnect(const std::shared_ptr<ClientConnection>& connection) {
    if (!connection->ConnectLogged()) LogConnect(connection);
    WriteLog("Disconnect", connection->RemoteDetails());
    for (auto it = serviceSockets_.begin(); it != serviceSockets_.end(); ++it) {
        if (*it == connection) {
            serviceSockets_.erase(it);
            break;
        }
    }
    connections_.remove(connection);
}

}  // namespace krb::server
