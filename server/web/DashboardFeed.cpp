#include "web/DashboardFeed.h"

#include <map>
#include <system_error>

#include "ControllerErrors.h"
#include "lab/ContentsFile.h"
#include "lab/System.h"
#include "lab/Unit.h"
#include "platform/link_metrics.h"
#include "protocol/ServerCore.h"
#include "text/TextNumbers.h"
#include "web/ClimateReadings.h"
#include "web/MetricsPage.h"

namespace krb::server::web {
namespace {

// Read as the views read a contents line, so the page and the XML never disagree.
LocationView LocationOf(const ContentsFields& fields) {
    const TKRBPlate plate = PlateFromContentsLine(fields);
    LocationView location;
    location.Slot = plate.SlotNo;
    location.Cassette = plate.Cassette;
    location.Level = plate.Level;
    location.Present = plate.PP;
    location.Barcode = plate.PlateBCR;
    location.Name = plate.PlateUserId;
    return location;
}

std::vector<LocationView> ReadLocations(const std::string& path) {
    std::vector<LocationView> locations;
    const auto lines = LoadTextLines(path);
    if (!lines) return locations;
    for (const auto& line : *lines) {
        if (!line.empty()) locations.push_back(LocationOf(SplitContentsLine(line)));
    }
    return locations;
}

using LinkStates = std::map<std::string, platform::LinkCounters>;

std::string LinkStateOf(const platform::LinkCounters& link) {
    if (link.Down) return "down";
    return link.Answering() ? "up" : "not answering";
}

// A unit's line as the library last found it; ports are named "COM3" or "\\.\COM12" there.
void AddLinkState(UnitView& view, const LinkStates& links) {
    for (const auto& [port, link] : links) {
        if (ComPortOf(port) != view.ComPort) continue;
        view.Link = LinkStateOf(link);
        view.LinkEvent = link.LastLinkEvent;
    }
}

// What was read while the unit did not answer is not known, whatever the reading says.
ClimateReading ClimateOf(const UnitView& view, const ClimateReading& reading) {
    if (!view.Answering()) return ClimateReading{reading.Taken, false, {}};
    return reading;
}

UnitView UnitViewOf(const TKRBId& unit, ContentsCache& contents, const ClimateReadings& climate,
                    const LinkStates& links) {
    UnitView view;
    view.Id = unit.UnitId;
    view.Name = unit.UnitName;
    view.ComPort = unit.ComPort;
    view.Activated = unit.Activated;
    view.Busy = unit.Busy;
    view.HasDoor = !unit.Cascader;
    view.DoorOpen = view.HasDoor && unit.DoorOpened;
    view.Error = unit.Error;
    view.ErrorCode = unit.ErrorCode;
    // The poll sets the flag before it has read the code: no message until the code is there.
    if (view.Error && view.ErrorCode != 0) view.ErrorMessage = decodeErrorCode(view.ErrorCode);
    AddLinkState(view, links);
    const ClimateOptions options = ClimateOptionsOf(unit);
    view.Climate = ClimateValuesOf(options, ClimateOf(view, climate.LastReading(unit)));
    view.ClimateSet = ClimateValuesOf(options, ClimateOf(view, climate.LastSetReading(unit)));
    for (const auto& sector : unit.Sectors) {
        SectorView sectorView{sector->Name, {}};
        for (const auto* cassette : sector->Cassettes)
            sectorView.Cassettes.push_back(cassette->Number);
        view.Sectors.push_back(std::move(sectorView));
    }
    const auto& locations = contents.LocationsOf(unit);
    for (const auto& cassette : unit.Cassettes) {
        CassetteView cassetteView{cassette->Number, cassette->Levels, {}};
        for (const auto& location : locations) {
            if (location.Cassette == cassette->Number) cassetteView.Locations.push_back(location);
        }
        view.Cassettes.push_back(std::move(cassetteView));
    }
    return view;
}

}  // namespace

// --- log -------------------------------------------------------------------------------------

void RecentLog::Add(const std::string& event, const std::string& details) {
    std::string line = FormatLogLine(std::chrono::system_clock::now(), event, details);
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
    if (lines_.size() > kLines) lines_.pop_front();
}

std::vector<std::string> RecentLog::Lines() const {
    std::lock_guard lock(mutex_);
    return {lines_.begin(), lines_.end()};
}

RecentLog& DashboardLog() {
    static auto* log = new RecentLog;  // threads may log at exit
    return *log;
}

// --- contents --------------------------------------------------------------------------------

const std::vector<LocationView>& ContentsCache::LocationsOf(const TKRBId& unit) {
    Entry& entry = files_[unit.ContentsFile];
    std::error_code error;
    const auto modified = std::filesystem::last_write_time(unit.ContentsFile, error);
    const auto size = error ? 0 : std::filesystem::file_size(unit.ContentsFile, error);
    if (error) {
        entry = Entry{};
        return entry.Locations;
    }
    if (!entry.Read || entry.Modified != modified || entry.Size != size) {
        entry.Locations = ReadLocations(unit.ContentsFile);
        entry.Modified = modified;
        entry.Size = size;
        entry.Read = true;
    }
    return entry.Locations;
}

// --- snapshot --------------------------------------------------------------------------------

LabSnapshot TakeLabSnapshot(ServerCore& core, ContentsCache& contents,
                            const ClimateReadings& climate) {
    LabSnapshot snapshot;
    const TServerState state = core.State();
    snapshot.Listening = state.Listening;
    snapshot.Port = state.LocalPort;
    snapshot.Connections = core.ConnectionCount();
    snapshot.ServiceListeners = core.ServiceSockets().size();
    const LinkStates links = platform::linkCounters();
    for (const auto& system : core.Manager().Lab().Systems) {
        SystemView systemView{system->Name, system->Id, {}};
        for (const auto& unit : system->Units) {
            systemView.Units.push_back(UnitViewOf(*unit, contents, climate, links));
        }
        snapshot.Systems.push_back(std::move(systemView));
    }
    snapshot.Log = DashboardLog().Lines();
    return snapshot;
}

// --- door -----------------------------------------------------------------------------------

namespace {

enum class DoorState { NotPolled, Stale, Closed, Open };

// Door states are polled on activated units only, and are stale while the unit does not answer.
DoorState DoorStateOf(const UnitView& unit) {
    if (!unit.HasDoor || !unit.Activated) return DoorState::NotPolled;
    if (!unit.Answering()) return DoorState::Stale;
    return unit.DoorOpen ? DoorState::Open : DoorState::Closed;
}

}  // namespace

void DoorOpenings::Stamp(LabSnapshot& snapshot, std::chrono::steady_clock::time_point now) {
    for (auto& system : snapshot.Systems) {
        for (auto& unit : system.Units) {
            switch (DoorStateOf(unit)) {
                case DoorState::Open:
                    unit.DoorOpenSince = openSince_.try_emplace(unit.Id, now).first->second;
                    break;
                case DoorState::Stale:  // a door open before a silence has been open since
                    break;
                case DoorState::NotPolled:
                case DoorState::Closed:
                    openSince_.erase(unit.Id);
                    break;
            }
        }
    }
}

// --- hub -------------------------------------------------------------------------------------

SnapshotHub::SnapshotHub() {
    latest_.Snapshot = std::make_shared<const LabSnapshot>();
    latest_.Json = SnapshotJson(*latest_.Snapshot);
}

bool SnapshotHub::Publish(LabSnapshot snapshot) {
    std::string json = SnapshotJson(snapshot);
    {
        std::lock_guard lock(mutex_);
        if (json == latest_.Json) return false;
        ++latest_.Version;
        latest_.Snapshot = std::make_shared<const LabSnapshot>(std::move(snapshot));
        latest_.Json = std::move(json);
    }
    changed_.notify_all();
    return true;
}

PublishedSnapshot SnapshotHub::Latest() const {
    std::lock_guard lock(mutex_);
    return latest_;
}

std::uint64_t SnapshotHub::Version() const {
    std::lock_guard lock(mutex_);
    return latest_.Version;
}

PublishedSnapshot SnapshotHub::WaitNewerThan(std::uint64_t seen,
                                             std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return closed_ || latest_.Version > seen; });
    return latest_;
}

void SnapshotHub::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

bool SnapshotHub::Closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

}  // namespace krb::server::web
