#pragma once
// What the dashboard shows: an immutable picture of the lab that the event loop takes and the
// web threads only read. Values are copied out of the model; nothing here points into it.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace krb::server::web {

struct LocationView {
    std::int32_t Slot = 0;  // the location's line number in the contents file
    std::int32_t Cassette = 0;
    std::int32_t Level = 0;
    bool Present = false;
    std::string Barcode;
    std::string Name;
};

struct CassetteView {
    std::int32_t Number = 0;
    std::int32_t Levels = 0;
    std::vector<LocationView> Locations;  // as the contents file lists them
};

struct SectorView {
    std::string Name;
    std::vector<std::int32_t> Cassettes;
};

struct UnitView {
    std::string Id;
    std::string Name;
    std::int32_t ComPort = 0;
    bool Activated = false;
    bool Busy = false;
    bool HasDoor = true;  // a cascader has none
    bool DoorOpen = false;
    bool Error = false;
    std::int32_t ErrorCode = 0;
    std::string ErrorMessage;  // the code decoded, while Error
    // "up" while the unit answers, "not answering" while its exchanges time out, "down" while
    // the line is gone, empty before the line was first used.
    std::string Link;
    std::string LinkEvent;                                     // the last loss or recovery, if any
    std::vector<std::pair<std::string, std::string>> Climate;  // name, actual value ("": unknown)
    std::vector<std::pair<std::string, std::string>> ClimateSet;  // name, set value ("": unknown)
    // When the door was first seen open; none while it is closed or its state is unknown.
    std::optional<std::chrono::steady_clock::time_point> DoorOpenSince;
    std::vector<SectorView> Sectors;
    std::vector<CassetteView> Cassettes;

    // Door and error flags are only as fresh as the last answered poll.
    bool Answering() const { return Link.empty() || Link == "up"; }
};

struct SystemView {
    std::string Name;
    std::string Id;
    std::vector<UnitView> Units;
};

struct LabSnapshot {
    bool Listening = false;
    int Port = -1;
    std::size_t Connections = 0;
    std::size_t ServiceListeners = 0;
    std::vector<SystemView> Systems;
    std::vector<std::string> Log;  // oldest first
};

std::string JsonString(std::string_view text);
std::string SnapshotJson(const LabSnapshot& snapshot);

}  // namespace krb::server::web
