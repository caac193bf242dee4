#pragma once
// The server behind the main window: configuration, listener, client connections, log and
// command dispatch, all on one event-loop thread. A window shell (or the headless program)
// is a thin view over it: it calls the operations below on the loop (Post / Invoke) and
// shows the state it reports.
#include <asio.hpp>
#include <chrono>
#include <exception>
#include <functional>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/LibraryBinding.h"
#include "lab/ConfigurationLoader.h"
#include "platform/profile_file.h"
#include "protocol/ClientAdmission.h"
#include "protocol/ClientConnection.h"
#include "protocol/CommandRefusals.h"
#include "protocol/CommandRouting.h"

namespace krb::server {

// What the main window shows.
struct TServerState {
    std::string ConfFile;  // EditConfFile
    std::string Port;      // EditPort
    // Started by the operator (or "start"); stays set through the window's close, which ends
    // the program. BtnStart shows "Stop" while it is set.
    bool Running = false;
    bool Listening = false;  // the socket listens
    int LocalPort = -1;  // the port actually bound (the configured one, or the system's pick for 0)
    bool LogEnabled = false;
    std::string LogFileName;
    std::string Problem;  // on one line: why the configuration or the listener failed last

    std::string StartCaption() const { return Running ? "Stop" : "Start"; }
};

// Where DispatchCommand sends a text, by its first characters.
enum class TDispatchTarget {
    GetRequest,
    UnitCommand,
    PlateExp,
    UpdatePlate,
    ServiceRegistration,
    UpdateSlot,
    None
};
TDispatchTarget SelectDispatchTarget(std::string_view text);

// "PlateExp/..." path of an HTTP request line, from "GET /" up to the first blank; nullopt
// when the request is not for the views.
std::optional<std::string> ViewRequestOf(std::string_view text);

// hh:nn:ss.zzz dd.mm.yy in local time.
std::string LogTimeStamp(std::chrono::system_clock::time_point time);
std::string FormatLogLine(std::chrono::system_clock::time_point time, const std::string& event,
                          const std::string& details);
// The log event of an error: "Error=" + class name + ",Message=" + message.
std::string ErrorEvent(const std::string& className, const std::string& message);
std::string ErrorEvent(const std::exception& error);

// An XML view as sent: the header (may be empty when the document carries its own) and the
// document, sent one after the other. A large document comes as pieces instead, which go out
// as one send after the header.
struct TViewReply {
    std::string Header;
    std::string Document;
    TTextPieces DocumentPieces = {};
};
using TViewBuilder = std::function<TViewReply(const std::string& request)>;

enum class TPlateUpdate { Name, PP, BCR, CheckDate, LoadDate, UnloadDate };
enum class TSlotUpdate { ZPitch, Levels };
using TPlateUpdater = std::function<int(TPlateUpdate form, const std::string& text)>;
using TSlotUpdater = std::function<int(TSlotUpdate form, const std::string& text)>;
using TLogObserver = std::function<void(const std::string& event, const std::string& details)>;
using TServiceRegistration =
    std::function<void(const std::shared_ptr<ClientLink>& connection, const std::string&)>;

class ServerCore : private ConnectionEvents {
  public:
    explicit ServerCore(const KRBExports& exports = LibraryExports());
    ~ServerCore() override;
    ServerCore(const ServerCore&) = delete;
    ServerCore& operator=(const ServerCore&) = delete;

    // --- event loop ------------------------------------------------------------------------
    asio::io_context& Loop() { return loop_; }
    void Run();   // runs the loop on the calling thread until Quit
    void Quit();  // any thread: the window-close handling, then the loop ends
    void Post(std::function<void()> work);
    // Runs `work` on the loop and waits for its result; never call it from the loop.
    template <class Work>
    auto Invoke(Work work) -> decltype(work()) {
        std::packaged_task<decltype(work())()> task(std::move(work));
        auto result = task.get_future();
        asio::post(loop_, [&task] { task(); });
        return result.get();
    }

    // --- window operations (on the loop) -----------------------------------------------------
    // The command line, handled once: returns true when the window should hide into the tray.
    bool FormShow(const std::vector<std::string>& arguments);
    void LoadConfiguration(const std::string& path);
    void BtnLoadConfClick(const std::string& chosenPath);  // after the file dialog
    void BtnStartClick();
    void FormClose();
    void WriteLog(const std::string& event, const std::string& details);

    // --- protocol (on the loop) ---------------------------------------------------------------
    // One read event's text: "E1" without a CR, else dispatched. A failing dispatch is
    // logged and leaves the connection as it is.
    void ReceiveText(const std::shared_ptr<ClientLink>& connection, const std::string& text);
    void DispatchCommand(const std::shared_ptr<ClientLink>& connection, const std::string& text);
    void HandleGetRequest(const std::shared_ptr<ClientLink>& connection, const std::string& text);
    void SendView(const std::shared_ptr<ClientLink>& connection, const std::string& text);
    void HandleUpdatePlate(const std::shared_ptr<ClientLink>& connection, const std::string& text);
    void HandleUpdateSlot(const std::shared_ptr<ClientLink>& connection, const std::string& text);
    void RegisterServiceSocket(const std::shared_ptr<ClientLink>& connection,
                               const std::string& text);

    // --- seams for the views, the plate and slot updates and the service notifications -----
    void AddView(std::string name, TViewBuilder builder);  // matched in the order added
    void SetPlateUpdater(TPlateUpdater updater) { plateUpdater_ = std::move(updater); }
    void SetSlotUpdater(TSlotUpdater updater) { slotUpdater_ = std::move(updater); }
    void SetServiceRegistration(TServiceRegistration handler) {
        serviceRegistration_ = std::move(handler);
    }
    std::vector<std::shared_ptr<ClientLink>>& ServiceSockets() { return serviceSockets_; }
    // Called on the loop after every change of the state (listener started or stopped,
    // configuration loaded).
    void AddStateObserver(std::function<void(const TServerState&)> observer);
    // Called with every log line's event and details, from the thread that logs it.
    void AddLogObserver(TLogObserver observer);

    TServerState State() const;  // any thread
    TKRBManager& Manager() { return manager_; }
    TKRBTCPBrowser& TcpBrowser() { return browser_; }
    std::size_t ConnectionCount() const { return connections_.size(); }  // on the loop

  private:
    struct ViewRow {
        std::string Name;
        TViewBuilder Builder;
    };

    void ClientRead(const std::shared_ptr<ClientConnection>& connection,
                    const std::string& text) override;
    void ClientError(const std::shared_ptr<ClientConnection>& connection, int code) override;
    void ClientDisconnect(const std::shared_ptr<ClientConnection>& connection) override;

    void ApplyConfiguration(const std::string& path);
    std::optional<int> PortNumber() const;
    void StartListener(int port);
    void StopListener();
    void CloseClientsAndAcceptor();
    void CloseAllClients();
    std::string LocalDetails() const;
    void Accept();
    void KeepAccepting();
    void OnAccepted(asio::ip::tcp::socket socket);
    bool Admit(asio::ip::tcp::socket& socket);
    void ReadClientAdmission(const platform::ProfileFile& file);
    std::optional<asio::ip::address> BindAddress();
    void LookUpRemoteHost(const std::shared_ptr<ClientConnection>& connection);
    void LogConnect(const std::shared_ptr<ClientConnection>& connection);
    void SendAndClose(const std::shared_ptr<ClientLink>& connection, const std::string& text);
    void RouteUnitCommand(const std::shared_ptr<ClientLink>& connection, const std::string& text);
    void ScheduleRefusalSummary();
    void UpdateState(const std::function<void(TServerState&)>& change);
    void ReportProblem(const std::string& problem);

    asio::io_context loop_;
    asio::executor_work_guard<asio::io_context::executor_type> keepRunning_;
    TKRBTCPBrowser browser_;
    TKRBManager manager_;
    CommandRefusals refusals_;
    asio::steady_timer refusalSummary_{loop_};
    std::optional<asio::ip::tcp::acceptor> acceptor_;
    ClientAdmission admission_;
    std::string bindAddress_;     // [TCP] BindAddress; empty: every interface
    bool acceptPending_ = false;  // an accept (or its retry pause) is on its way
    std::list<std::shared_ptr<ClientConnection>> connections_;
    std::vector<std::shared_ptr<ClientLink>> serviceSockets_;
    std::vector<ViewRow> views_;
    TPlateUpdater plateUpdater_;
    TSlotUpdater slotUpdater_;
    TServiceRegistration serviceRegistration_;
    std::vector<std::function<void(const TServerState&)>> stateObservers_;
    std::mutex logObserversMutex_;
    std::vector<TLogObserver> logObservers_;
    bool firstShowDone_ = false;

    mutable std::mutex stateMutex_;
    TServerState state_;
    std::mutex logMutex_;  // operator messages are logged from the thread that raises them
};

}  // namespace krb::server
