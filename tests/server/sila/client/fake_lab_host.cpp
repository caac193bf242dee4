// The project's SiLA 2 servers over an in-memory demo lab, for running the standard-only client
// and its scenario against the real gRPC servers without the serial units:
//     sila_fake_lab_host DriverConfig.lni      ([SiLA] section as the server reads it)
// Prints "ready" once every unit is served; SIGINT or SIGTERM stops it.
#include <csignal>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sila/SilaHost.h"

namespace {

using krb::sila::Outcome;
using Place = std::pair<long, long>;  // cassette, level

// What every unit sees: the plates of the demo lab's set-up.
struct FakeLab {
    std::mutex mutex;
    std::map<std::string, std::map<Place, std::string>> plates = {
        {"Base1",
         {{{1, 1}, "P0001"},
          {{1, 2}, "P0002"},
          {{3, 1}, "P0003"},
          {{5, 5}, "P0004"},
          {{12, 3}, "P0005"}}},
        {"Cascader1", {}},
        {"Ext1", {{{2, 1}, "E0001"}, {{4, 4}, "E0002"}}},
        {"Store4", {{{1, 1}, "R0001"}, {{2, 1}, "R0002"}, {{3, 3}, "P4001"}}},
        {"Tubes5", {}},
    };
};

// Partition "Racks" is cassettes 1-2 as in the demo; the fake unit has three levels.
const std::map<std::string, std::set<long>> kPartitions = {{"Racks", {1, 2}},
                                                           {"Plates", {3, 4, 5, 6, 7, 8, 9, 10}}};
constexpr long kLevels = 3;

Outcome failed(Outcome::Kind kind, std::string message) { return {kind, std::move(message)}; }

class FakeUnit : public krb::sila::UnitBackend {
  public:
    FakeUnit(FakeLab& lab, std::string id, std::string type, bool hasReader)
        : lab_(lab), id_(std::move(id)) {
        identity_.unitId = id_;
        identity_.serverType = std::move(type);
        identity_.hasReader = hasReader;
        identity_.isTubeStore = identity_.serverType == "TubeStore";
        identity_.description = "Fake unit " + id_ + " of the client's test lab";
    }

    krb::sila::UnitIdentity identity() const override { return identity_; }

    krb::sila::UnitStatus status() const override {
        std::lock_guard lock(statusMutex_);
        krb::sila::UnitStatus status;
        status.activated = activated_;
        status.busy = busy_;
        status.doorOpen = false;
        status.linkUp = true;
        status.errorCode = 0;
        status.errorMessage = "";
        return status;
    }

    void setStatusListener(std::function<void()> listener) override {
        std::lock_guard lock(listenerMutex_);
        listener_ = std::move(listener);
    }

    krb::sila::ActivationResult activate() override {
        setStatus([this] { activated_ = true; });
        return {Outcome::done(), identity_.hasReader};
    }

    Outcome deactivate() override {
        setStatus([this] { activated_ = false; });
        return Outcome::done();
    }

    Outcome softReset() override { return Outcome::done(); }

    Outcome movePlate(const krb::sila::PlateMove& move,
                      const krb::sila::ProgressFn& progress) override {
        const std::string target = move.targetUnit.empty() ? id_ : move.targetUnit;
        const Place from{move.sourceCassette, move.sourceLevel};
        const Place to{move.targetCassette, move.targetLevel};
        if (!isActivated()) return failed(Outcome::Kind::UnitNotActivated, id_);
        {
            std::lock_guard lock(lab_.mutex);
            if (!lab_.plates.count(target)) return failed(Outcome::Kind::UnknownUnit, target);
            if (!lab_.plates[id_].count(from)) return failed(Outcome::Kind::SourceEmpty, id_);
            if (lab_.plates[target].count(to)) return failed(Outcome::Kind::TargetOccupied, target);
        }
        setStatus([this] { busy_ = true; });
        progress(0.5);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        {
            std::lock_guard lock(lab_.mutex);
            lab_.plates[target][to] = lab_.plates[id_][from];
            lab_.plates[id_].erase(from);
        }
        progress(1.0);
        setStatus([this] { busy_ = false; });
        return Outcome::done();
    }

    krb::sila::InventoryResult scanInventory(const std::string& partition,
                                             const krb::sila::ProgressFn& progress) override {
        std::set<long> cassettes = {1, 2, 3};
        if (!partition.empty()) {
            auto found = kPartitions.find(partition);
            if (found == kPartitions.end())
                return {failed(Outcome::Kind::UnknownPartition, partition), {}};
            cassettes = found->second;
        }
        progress(1.0);
        return {Outcome::done(), locations(cassettes)};
    }

    krb::sila::ContentsResult contents() override {
        return {Outcome::done(), locations({1, 2, 3})};
    }

    krb::sila::BarcodeResult readBarcode(long cassette, long level) override {
        std::lock_guard lock(lab_.mutex);
        auto& plates = lab_.plates[id_];
        auto found = plates.find({cassette, level});
        if (found == plates.end()) return {failed(Outcome::Kind::NoBarcode, "empty"), {}};
        return {Outcome::done(), found->second};
    }

    std::optional<krb::sila::ClimateReadings> climate() const override { return std::nullopt; }
    Outcome setClimate(const krb::sila::TargetClimate&) override {
        return failed(Outcome::Kind::Failed, "no climate");
    }
    Outcome moveVial(const krb::sila::TubeMove&, const krb::sila::ProgressFn&) override {
        return failed(Outcome::Kind::Failed, "no tubes");
    }
    Outcome moveTube(const krb::sila::TubeMove&, const krb::sila::ProgressFn&) override {
        return failed(Outcome::Kind::Failed, "no tubes");
    }
    krb::sila::BarcodeResult readVialBarcode(long, long) override {
        return {failed(Outcome::Kind::Failed, "no tubes"), {}};
    }

  private:
    bool isActivated() const {
        std::lock_guard lock(statusMutex_);
        return activated_;
    }

    template <typename Change>
    void setStatus(Change change) {
        {
            std::lock_guard lock(statusMutex_);
            change();
        }
        std::function<void()> listener;
        {
            std::lock_guard lock(listenerMutex_);
            listener = listener_;
        }
        if (listener) listener();
    }

    std::vector<krb::sila::PlateLocation> locations(const std::set<long>& cassettes) {
        std::lock_guard lock(lab_.mutex);
        const auto& plates = lab_.plates[id_];
        std::vector<krb::sila::PlateLocation> result;
        for (long cassette : cassettes) {
            for (long level = 1; level <= kLevels; ++level) {
                auto found = plates.find({cassette, level});
                const bool present = found != plates.end();
                result.push_back({cassette, level, present, present ? found->second : ""});
            }
        }
        return result;
    }

    FakeLab& lab_;
    std::string id_;
    krb::sila::UnitIdentity identity_;
    mutable std::mutex statusMutex_;
    bool activated_ = false;
    bool busy_ = false;
    std::mutex listenerMutex_;
    std::function<void()> listener_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: sila_fake_lab_host DriverConfig.lni\n";
        return 2;
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    FakeLab lab;
    std::vector<std::shared_ptr<krb::sila::UnitBackend>> units;
    struct Kind {
        const char* id;
        const char* type;
        bool hasReader;
    };
    for (const Kind& kind :
         {Kind{"Base1", "PlateStore", true}, Kind{"Cascader1", "Cascader", false},
          Kind{"Ext1", "PlateStore", false}, Kind{"Store4", "PlateStore", true},
          Kind{"Tubes5", "TubeStore", false}})
        units.push_back(std::make_shared<FakeUnit>(lab, kind.id, kind.type, kind.hasReader));

    krb::sila::SiLAHost host(argv[1], [](const std::string& line) { std::cerr << line << "\n"; });
    if (!host.start(units)) {
        std::cerr << "no SiLA servers started\n";
        return 1;
    }
    std::cout << "ready" << std::endl;
    int signal = 0;
    sigwait(&stopSignals, &signal);
    host.stop();
    return 0;
}
