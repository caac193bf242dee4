#include "chaos_lab.h"

#include <stdexcept>

#include "KRB_lib.h"
#include "platform/profile_file.h"
#include "support/lab_files.h"
#include "support/tcp_client.h"

namespace krb::chaos {
namespace {

constexpr auto kReplyLimit = std::chrono::seconds(300);
constexpr const char* kNoReply = "<no reply>";

std::string withoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

std::string awaitLine(test_support::TestClient& client) {
    const auto deadline = std::chrono::steady_clock::now() + kReplyLimit;
    std::string line = client.ReadLine();
    while (line == kNoReply && std::chrono::steady_clock::now() < deadline)
        line = client.ReadLine();
    return line;
}

}  // namespace

const std::vector<DemoUnit>& demoUnits() {
    static const std::vector<DemoUnit> units{
        {"Base1",
         1,
         "Lab/System1/Unit1.lni",
         "Lab/System1/Unit1Contents.csv",
         {{"Assay", {1, 2, 3, 4, 5, 6}}, {"Stock", {7, 8, 9, 10, 11, 12, 15}}}},
        {"Cascader1", 2, "Lab/System1/Unit2.lni", "", {}},
        {"Ext1",
         3,
         "Lab/System1/Unit3.lni",
         "Lab/System1/Unit3Contents.csv",
         {{"Library", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}}},
        {"Store4",
         4,
         "Lab/System2/Unit4.lni",
         "Lab/System2/Unit4Contents.csv",
         {{"Racks", {1, 2}}, {"Plates", {3, 4, 5, 6, 7, 8, 9, 10}}}},
        {"Tubes5", 5, "Lab/System2/Unit5.lni", "", {}},
    };
    return units;
}

const DemoUnit& demoUnit(const std::string& id) {
    for (const auto& unit : demoUnits())
        if (unit.id == id) return unit;
    throw std::out_of_range("no demo unit " + id);
}

std::vector<const DemoUnit*> plateStores() {
    return {&demoUnit("Base1"), &demoUnit("Ext1"), &demoUnit("Store4")};
}

std::string cassettePartition(int cassette) { return "Cassette" + std::to_string(cassette); }

ChaosLab::ChaosLab(bool cassettePartitions) {
    test_support::copyDemoLab(root_.path());
    const std::string config = root_.file("DriverConfig.lni");
    if (!platform::ProfileFile(config).writeString("TCP", "port", "0"))
        throw std::runtime_error("cannot write " + config);
    lab_ = sim::VirtualLab::fromFiles(config, root_.file("Simulation.lni"));
    if (cassettePartitions) addCassettePartitions();
    putReaderBehindDeviceServer();
    noteDevices();
    server_ = std::make_unique<test_support::RunningServer>();
    server_->Start(config);
}

void ChaosLab::addCassettePartitions() {
    for (const DemoUnit* unit : plateStores()) {
        const std::string file = root_.file(unit->unitFile);
        for (const auto& cassette : lab_->unit(unit->com).cassettes) {
            if (!platform::ProfileFile(file).writeString(
                    "Partitions", cassettePartition(cassette.slot), std::to_string(cassette.slot)))
                throw std::runtime_error("cannot write " + file);
        }
    }
}

const DemoUnit& ChaosLab::deviceServerUnit() const { return demoUnit("Store4"); }

void ChaosLab::putReaderBehindDeviceServer() {
    const int readerCom = lab_->unit(deviceServerUnit().com).readerCom;
    const std::string entry = lab_->portDirectory() + "/COM" + std::to_string(readerCom);
    startDeviceServer();
    test_support::writeWholeFile(entry + ".address", deviceServer_->address() + "\n");
    std::filesystem::rename(entry + ".address", entry);
}

void ChaosLab::startDeviceServer() {
    if (deviceServer_) return;
    deviceServer_ =
        std::make_unique<sim::NetworkBridge>(lab_->reader(deviceServerUnit().com)->devicePath(),
                                             deviceServerPort_, sim::BridgeMode::Raw);
    deviceServerPort_ = deviceServer_->port();
}

void ChaosLab::stopDeviceServer() { deviceServer_.reset(); }

ChaosLab::~ChaosLab() {
    server_.reset();  // waits for every unit command still running
    if (lab_)
        for (int com : lab_->unitPorts()) KRBDisconnect(std::to_string(com).c_str());
    deviceServer_.reset();
    lab_.reset();
}

std::string ChaosLab::ask(const std::string& command, bool scanReply) {
    try {
        test_support::TestClient client(server_->Port());
        client.Send(command + "\r");
        std::string reply = awaitLine(client);
        if (scanReply && reply != kNoReply) awaitLine(client);
        return reply == kNoReply ? reply : withoutLineEnd(reply);
    } catch (const std::exception& failure) {
        return std::string("<") + failure.what() + ">";
    }
}

std::string ChaosLab::control(const std::string& line) {
    const auto reply = lab_->control(line);
    return reply.empty() ? "ERR no reply" : reply.back();
}

std::vector<Record> ChaosLab::contents(const DemoUnit& unit) const {
    return parseContents(test_support::readWholeFile((root_.path() / unit.contentsFile).string()));
}

PlateLabels ChaosLab::slotLabels(int com) const {
    PlateLabels labels;
    for (const auto& placed : lab_->world().platesOf(com)) {
        if (placed.place.kind != sim::PlaceKind::Slot) continue;
        labels[{placed.place.first, placed.place.second}] =
            placed.plate.labelled ? placed.plate.barcode : "";
    }
    return labels;
}

std::optional<int> ChaosLab::plateIdAt(const sim::Place& place) const {
    const auto plate = lab_->world().plateAt(place);
    if (!plate) return std::nullopt;
    return plate->id;
}

std::vector<Position> ChaosLab::positions(int com) const {
    std::vector<Position> all;
    for (const auto& cassette : lab_->unit(com).cassettes)
        for (int level = 1; level <= cassette.levels; ++level)
            all.push_back({cassette.slot, level});
    return all;
}

std::set<std::string> ChaosLab::labDevices() {
    std::lock_guard lock(devicesMutex_);
    return devices_;
}

void ChaosLab::noteDevices() {
    std::lock_guard lock(devicesMutex_);
    for (int com : lab_->unitPorts()) {
        const std::string controller = lab_->controller(com).devicePath();
        if (!controller.empty()) devices_.insert(controller);
        if (auto* reader = lab_->reader(com)) devices_.insert(reader->devicePath());
    }
}

}  // namespace krb::chaos
