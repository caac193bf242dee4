#pragma once
// The demo lab for a chaos run: a copy of examples/demo-lab in a temporary folder, the
// simulator built from it and the server in front of it on a loopback port. The run talks to
// the server as a lab scheduler does (one connection per command) and to the simulator
// through its control protocol, as an operator at the bench would.
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "invariants.h"
#include "sim/network_bridge.h"
#include "sim/virtual_lab.h"
#include "support/running_server.h"
#include "support/temp_dir.h"

namespace krb::chaos {

struct Partition {
    std::string name;
    std::set<int> cassettes;
};

// A unit of the demo lab as the run uses it.
struct DemoUnit {
    std::string id;
    int com;
    std::string unitFile;      // relative to the lab's folder
    std::string contentsFile;  // relative to the lab's folder; empty: not scanned
    std::vector<Partition> partitions;
};

const std::vector<DemoUnit>& demoUnits();
const DemoUnit& demoUnit(const std::string& id);
// The units that store plates in slots (moves, scans, detector and barcode questions).
std::vector<const DemoUnit*> plateStores();

// The name of the partition of one cassette that a lab with cassette partitions has.
std::string cassettePartition(int cassette);

class ChaosLab {
  public:
    // With `cassettePartitions`, each plate store also gets a partition per cassette, so that
    // a short run can scan a few positions at a time.
    explicit ChaosLab(bool cassettePartitions);
    ~ChaosLab();
    ChaosLab(const ChaosLab&) = delete;
    ChaosLab& operator=(const ChaosLab&) = delete;

    // Sends one command on a connection of its own and gives its reply line without CR LF
    // ("<no reply>" when none came in time). A scan's reply has a second, empty line.
    std::string ask(const std::string& command, bool scanReply = false);
    // One control line of the simulator; gives its last line ("OK ..." or "ERR ...").
    std::string control(const std::string& line);
    int serverPort() { return server_->Port(); }
    sim::VirtualLab& sim() { return *lab_; }

    std::vector<Record> contents(const DemoUnit& unit) const;
    PlateLabels slotLabels(int com) const;
    std::optional<int> plateIdAt(const sim::Place& place) const;
    // Every slot position of the unit's cassettes, in order.
    std::vector<Position> positions(int com) const;

    // The plate store's barcode reader is reached through a serial device server (raw TCP);
    // restarting that server cuts the reader's connection until it listens again.
    void stopDeviceServer();
    void startDeviceServer();
    const DemoUnit& deviceServerUnit() const;

    // The pseudo-terminals the lab has published so far (a power cycle adds new ones).
    std::set<std::string> labDevices();
    void noteDevices();

  private:
    void addCassettePartitions();
    void putReaderBehindDeviceServer();

    test_support::TempDir root_{"krb-chaos"};
    std::unique_ptr<sim::VirtualLab> lab_;
    std::unique_ptr<test_support::RunningServer> server_;
    std::unique_ptr<sim::NetworkBridge> deviceServer_;
    int deviceServerPort_ = 0;
    std::mutex devicesMutex_;
    std::set<std::string> devices_;
};

}  // namespace krb::chaos
