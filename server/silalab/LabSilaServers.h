#pragma once
// The lab's units as SiLA 2 servers, while the text protocol listens and the configuration's
// [SiLA] section enables them. A watcher hands the
// servers every change of what the polls read, and reads the climate of climate units.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace krb::sila {
class SiLAHost;
}

namespace krb::server {

class LabUnitBackend;
class ServerCore;
struct TServerState;

class LabSilaServers {
  public:
    explicit LabSilaServers(ServerCore& core);
    ~LabSilaServers();
    LabSilaServers(const LabSilaServers&) = delete;
    LabSilaServers& operator=(const LabSilaServers&) = delete;

    void FollowConfiguration(const TServerState& state);  // on the loop
    std::size_t ServerCount() const;

  private:
    void Start(const std::string& configFile);
    void Stop();
    void WatchStatus();
    void ReadClimates();

    ServerCore& core_;
    std::string configFile_;
    std::unique_ptr<sila::SiLAHost> host_;
    std::vector<std::shared_ptr<LabUnitBackend>> backends_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread statusWatcher_;
    std::thread climateReader_;
};

std::shared_ptr<LabSilaServers> InstallSila(ServerCore& core);

}  // namespace krb::server
