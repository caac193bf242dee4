#include "watchers.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "support/tcp_client.h"
#include "xml_check.h"

namespace krb::chaos {
namespace {

constexpr int kPollMs = 100;
constexpr auto kViewPause = std::chrono::milliseconds(150);
constexpr auto kDevicePause = std::chrono::milliseconds(20);

const std::regex kNotification(
    R"(I_(DeviceBisy|DeviceNotBisy|DeviceActivated|DeviceDeActivated|DeviceDeactivated|)"
    R"(DoorOpened|DoorClosed|E#-?[0-9]+)\((Base1|Cascader1|Ext1|Store4|Tubes5)\))");

const std::vector<std::string> kViews{
    "DrawLab",
    "DrawTree",
    "DrawSys?id=1",
    "DrawUnit?id=Base1",
    "DrawSector?unitid=Store4&id=Plates",
    "DrawCassette?unitid=Store4&id=9",
    "UnitContent?id=Ext1",
    "DrawPlate?unitid=Base1&id=2",
};

}  // namespace

// Standard input and output may be the terminal the run was started from.
std::vector<std::string> openFileTargets() {
    std::vector<std::string> targets;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::string fd = entry.path().filename().string();
        if (fd == "0" || fd == "1" || fd == "2") continue;
        std::error_code linkError;
        const auto target = std::filesystem::read_symlink(entry.path(), linkError);
        if (!linkError) targets.push_back(target.string());
    }
    return targets;
}

Watchers::Watchers(ChaosLab& lab) : lab_(lab) {
    listener_ = std::thread([this] { listen(); });
    viewer_ = std::thread([this] { fetchViews(); });
    deviceWatcher_ = std::thread([this] { watchDevices(); });
}

Watchers::~Watchers() { stop(); }

void Watchers::stop() {
    if (stopping_.exchange(true)) return;
    for (auto* thread : {&listener_, &viewer_, &deviceWatcher_})
        if (thread->joinable()) thread->join();
    note(notifications_, !listenerLost_, "the server disconnected the service listener");
}

void Watchers::setContext(const std::string& context) {
    std::lock_guard lock(mutex_);
    context_ = context;
}

void Watchers::note(Findings& findings, bool ok, const std::string& violation) {
    std::lock_guard lock(mutex_);
    ++findings.checks;
    if (!ok) findings.violations.push_back(context_ + ": " + violation);
}

// Reads with short polls so that the run can end it at once.
void Watchers::listen() {
    const int fd = test_support::ConnectLoopback(lab_.serverPort());
    if (fd < 0 || !test_support::SendAll(fd, "KRBServiceSocket\r")) {
        note(notifications_, false, "the service listener could not register");
        if (fd >= 0) ::close(fd);
        return;
    }
    std::string pending;
    char buffer[4096];
    while (!stopping_) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, kPollMs) <= 0) continue;
        const auto count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count <= 0) {
            listenerLost_ = true;
            break;
        }
        pending.append(buffer, static_cast<std::size_t>(count));
        for (auto end = pending.find("\r\n"); end != std::string::npos;
             end = pending.find("\r\n")) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 2);
            note(notifications_, std::regex_match(line, kNotification),
                 "the listener received '" + line + "'");
            std::lock_guard lock(mutex_);
            ++notificationLines_;
        }
    }
    ::close(fd);
}

void Watchers::fetchViews() {
    for (std::size_t turn = 0; !stopping_; ++turn) {
        const std::string& view = kViews[turn % kViews.size()];
        std::string reply;
        try {
            test_support::TestClient client(lab_.serverPort());
            client.Send("GET /PlateExp/" + view + " HTTP/1.1\r\n\r\n");
            reply = client.ReadToEnd();
        } catch (const std::exception& failure) {
            reply = failure.what();
        }
        const auto parsed = server::testing::ParseXml(server::testing::BodyOf(reply));
        note(views_, parsed.WellFormed && parsed.Root == "MyLabPlate",
             "the view " + view + " is no well-formed document: " + parsed.Error);
        {
            std::lock_guard lock(mutex_);
            ++viewsFetched_;
        }
        std::this_thread::sleep_for(kViewPause);
    }
}

// Each opening of a foreign device is reported once, however long it stays open. A device the lab
// has just published (a unit powered on again) may be open before the run has noted it: a second
// look after noting the lab's devices tells the two apart.
void Watchers::watchDevices() {
    while (!stopping_) {
        auto found = checkOpenDevices(openFileTargets(), lab_.labDevices());
        if (!found.violations.empty()) {
            std::this_thread::sleep_for(kDevicePause);
            lab_.noteDevices();
            found = checkOpenDevices(openFileTargets(), lab_.labDevices());
        }
        {
            std::lock_guard lock(mutex_);
            devices_.checks += found.checks;
            for (const auto& violation : found.violations) {
                if (std::find(foreignSeen_.begin(), foreignSeen_.end(), violation) ==
                    foreignSeen_.end())
                    devices_.violations.push_back(context_ + ": " + violation);
            }
            foreignSeen_ = found.violations;
        }
        std::this_thread::sleep_for(kDevicePause);
    }
}

Findings Watchers::notifications() {
    std::lock_guard lock(mutex_);
    return notifications_;
}
Findings Watchers::views() {
    std::lock_guard lock(mutex_);
    return views_;
}
Findings Watchers::devices() {
    std::lock_guard lock(mutex_);
    return devices_;
}
int Watchers::notificationLines() {
    std::lock_guard lock(mutex_);
    return notificationLines_;
}
int Watchers::viewsFetched() {
    std::lock_guard lock(mutex_);
    return viewsFetched_;
}

}  // namespace krb::chaos
