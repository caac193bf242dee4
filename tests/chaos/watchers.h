#pragma once
// What runs beside the workload for the whole chaos run: a service listener that must stay
// connected and hear only well-formed lines, a client that keeps fetching XML views that must
// be well-formed, and a look at the devices the process holds open.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "chaos_lab.h"
#include "invariants.h"

namespace krb::chaos {

class Watchers {
  public:
    explicit Watchers(ChaosLab& lab);
    ~Watchers();
    Watchers(const Watchers&) = delete;
    Watchers& operator=(const Watchers&) = delete;

    // Ends the threads; the server must not have disconnected the listener meanwhile.
    void stop();
    // What the run is doing, to go with each violation found meanwhile.
    void setContext(const std::string& context);
    Findings notifications();
    Findings views();
    Findings devices();
    int notificationLines();
    int viewsFetched();

  private:
    void listen();
    void fetchViews();
    void watchDevices();
    void note(Findings& findings, bool ok, const std::string& violation);

    ChaosLab& lab_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> listenerLost_{false};
    std::mutex mutex_;
    Findings notifications_;
    Findings views_;
    Findings devices_;
    std::vector<std::string> foreignSeen_;  // foreign devices open at the last look
    std::string context_ = "at the start";
    int notificationLines_ = 0;
    int viewsFetched_ = 0;
    std::thread listener_;
    std::thread viewer_;
    std::thread deviceWatcher_;
};

// Targets of the process's open file descriptors ("/dev/pts/3", "socket:[123]", ...).
std::vector<std::string> openFileTargets();

}  // namespace krb::chaos
