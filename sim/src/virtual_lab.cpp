#include "sim/virtual_lab.h"

#include <algorithm>
#include <stdexcept>

#include "sim/cascader_model.h"
#include "sim/plate_store_model.h"
#include "sim/tube_store_model.h"

namespace krb::sim {
namespace {

constexpr int kDefaultCount = 10;
constexpr int kDefaultCarousel = 20;

PlateStoreGeometry plateStoreGeometry(const UnitConfig& config, const UnitOverrides& overrides) {
    PlateStoreGeometry geometry;
    geometry.cassettes = config.cassettes;
    int highestSlot = 0;
    int mostLevels = 0;
    for (const auto& cassette : config.cassettes) {
        highestSlot = std::max(highestSlot, cassette.slot);
        mostLevels = std::max(mostLevels, cassette.levels);
    }
    geometry.slots = overrides.slots.value_or(highestSlot > 0 ? highestSlot : kDefaultCount);
    geometry.levels = overrides.levels.value_or(mostLevels > 0 ? mostLevels : kDefaultCount);
    geometry.carouselPositions = overrides.carouselPositions.value_or(kDefaultCarousel);
    if (!config.cassettes.empty()) geometry.handlerPitch = config.cassettes.front().pitch;
    return geometry;
}

CascadeSide sideOf(UnitRole role) {
    if (role == UnitRole::Base) return CascadeSide::Base;
    if (role == UnitRole::Extension) return CascadeSide::Extension;
    return CascadeSide::None;
}

}  // namespace

VirtualLab::VirtualLab(LabConfig config, SimSettings settings, const std::string& portDir)
    : config_(std::move(config)),
      ports_(portDir.empty() ? std::make_unique<PortDirectory>()
                             : std::make_unique<PortDirectory>(portDir)) {
    try {
        build(settings);
        wire();
        // Only now do commands reach the models: everything wired above is in place.
        for (auto& unit : units_) unit.controller->setModel(unit.model);
        runSetup(settings.setup);
    } catch (...) {
        stopAll();
        throw;
    }
}

std::unique_ptr<VirtualLab> VirtualLab::fromFiles(const std::string& driverConfig,
                                                  const std::string& simFile,
                                                  const std::string& portDir) {
    LabConfig config = loadLabConfig(driverConfig);
    SimSettings settings;
    if (!simFile.empty()) {
        std::vector<int> ports;
        for (const auto& unit : config.units) ports.push_back(unit.com);
        settings = loadSimFile(simFile, ports);
    }
    return std::make_unique<VirtualLab>(std::move(config), std::move(settings), portDir);
}

// Every thread stops before any object goes: controllers call readers (trigger), readers call
// models, models read the controllers' registers.
VirtualLab::~VirtualLab() { stopAll(); }

void VirtualLab::stopAll() {
    for (auto& unit : units_) {
        if (unit.model) unit.model->stop();
    }
    for (auto& unit : units_) {
        if (unit.controller) unit.controller->stop();
        if (unit.reader) unit.reader->stop();
    }
}

void VirtualLab::build(const SimSettings& settings) {
    units_.reserve(config_.units.size());
    for (const auto& config : config_.units) {
        Unit& unit = units_.emplace_back();
        unit.config = config;
        unit.role = config.com == settings.tubeStoreCom ? UnitRole::TubeStore : config.role;
        unit.controller = std::make_unique<ControllerEmulator>(*ports_, config.com);
        unit.model = makeModel(unit, settings);
        if (config.readerCom > 0) {
            UnitModelBase* model = unit.model.get();
            unit.reader = std::make_unique<BarcodeReader>(
                *ports_, config.readerCom, [model] { return model->codeInFrontOfReader(); },
                settings.times.reader);
            BarcodeReader* reader = unit.reader.get();
            model->setReaderTrigger([reader] { reader->trigger(); });
        }
        if (config.relayedReader) {
            ControllerEmulator* controller = unit.controller.get();
            unit.model->setRelayedReader([controller](int delay, LineChannel::Producer produce) {
                controller->sendLater(delay, std::move(produce));
            });
        }
    }
}

std::shared_ptr<UnitModelBase> VirtualLab::makeModel(Unit& unit, const SimSettings& settings) {
    UnitOverrides overrides;
    if (auto found = settings.units.find(unit.config.com); found != settings.units.end())
        overrides = found->second;
    MotionTimes times = settings.times;
    if (overrides.motionMs) times.motion = *overrides.motionMs;
    UnitIdentity identity;
    identity.firmware = static_cast<std::uint16_t>(overrides.firmware.value_or(7100));
    identity.serial = static_cast<std::uint16_t>(overrides.serial.value_or(1000 + unit.config.com));
    identity.lockBeforeInit = overrides.lockBeforeInit.value_or(false);
    identity.lockedAtStart = overrides.locked.value_or(false);
    const int com = unit.config.com;
    RegisterStore& registers = unit.controller->registers();
    switch (unit.role) {
        case UnitRole::TubeStore: {
            TubeStoreGeometry geometry;
            geometry.rows = overrides.rows.value_or(geometry.rows);
            geometry.columns = overrides.columns.value_or(geometry.columns);
            return std::make_shared<TubeStoreModel>(com, registers, world_, times, identity,
                                                    geometry);
        }
        case UnitRole::Cascader:
            return std::make_shared<CascaderModel>(com, registers, world_, times, identity);
        default:
            return std::make_shared<PlateStoreModel>(com, registers, world_, times, identity,
                                                     plateStoreGeometry(unit.config, overrides),
                                                     sideOf(unit.role));
    }
}

// Plate stores reach the lab's tube store; a cascader serves the base and extension units
// of its own system, or of the lab when its system has none.
void VirtualLab::wire() {
    TubeStoreModel* tubeStore = nullptr;
    for (auto& unit : units_) {
        if (unit.role == UnitRole::TubeStore)
            tubeStore = static_cast<TubeStoreModel*>(unit.model.get());
    }
    auto member = [&](UnitRole role, const std::string& system) -> PlateStoreModel* {
        PlateStoreModel* anywhere = nullptr;
        for (auto& unit : units_) {
            if (unit.role != role) continue;
            auto* model = static_cast<PlateStoreModel*>(unit.model.get());
            if (unit.config.systemName == system) return model;
            if (anywhere == nullptr) anywhere = model;
        }
        return anywhere;
    };
    for (auto& unit : units_) {
        if (unit.role == UnitRole::Cascader) {
            static_cast<CascaderModel*>(unit.model.get())
                ->setSides(member(UnitRole::Base, unit.config.systemName),
                           member(UnitRole::Extension, unit.config.systemName));
        } else if (unit.role != UnitRole::TubeStore) {
            static_cast<PlateStoreModel*>(unit.model.get())->setTubeStore(tubeStore);
        }
    }
}

void VirtualLab::runSetup(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        auto reply = control(line);
        if (reply.empty() || reply.back().rfind("ERR", 0) == 0) {
            throw ConfigError("simulation [Setup] line \"" + line +
                              "\": " + (reply.empty() ? std::string("no reply") : reply.back()));
        }
    }
}

std::vector<int> VirtualLab::unitPorts() const {
    std::vector<int> ports;
    for (const auto& unit : units_) ports.push_back(unit.config.com);
    return ports;
}

VirtualLab::Unit& VirtualLab::find(int com) {
    for (auto& unit : units_)
        if (unit.config.com == com) return unit;
    throw std::out_of_range("COM" + std::to_string(com) + " is no unit of the lab");
}

const VirtualLab::Unit& VirtualLab::find(int com) const {
    for (const auto& unit : units_)
        if (unit.config.com == com) return unit;
    throw std::out_of_range("COM" + std::to_string(com) + " is no unit of the lab");
}

const UnitConfig& VirtualLab::unit(int com) const { return find(com).config; }
ControllerEmulator& VirtualLab::controller(int com) { return *find(com).controller; }
UnitModelBase& VirtualLab::model(int com) { return *find(com).model; }
BarcodeReader* VirtualLab::reader(int com) { return find(com).reader.get(); }
UnitRole VirtualLab::role(int com) const { return find(com).role; }

std::vector<std::string> VirtualLab::statusLines() const {
    std::vector<std::string> lines;
    for (const auto& unit : units_) {
        const UnitConfig& config = unit.config;
        std::string reader = "no reader";
        if (unit.reader) {
            reader =
                "reader COM" + std::to_string(config.readerCom) + " " + unit.reader->devicePath();
        } else if (config.relayedReader) {
            reader = "reader relayed by the controller";
        }
        const auto& registers = unit.controller->registers();
        std::string geometry = unit.role == UnitRole::TubeStore
                                   ? std::to_string(registers.dm(29)) + " rows x " +
                                         std::to_string(registers.dm(25)) + " columns"
                                   : std::to_string(registers.dm(29)) + " slots x " +
                                         std::to_string(registers.dm(25)) + " levels";
        lines.push_back("COM" + std::to_string(config.com) + " " + config.unitId + " (" +
                        config.systemName + ", " + roleName(unit.role) + "): controller " +
                        unit.controller->devicePath() + ", " + reader + ", " + geometry + ", " +
                        std::to_string(world_.platesOf(config.com).size()) + " plates");
    }
    return lines;
}

}  // namespace krb::sim
