#include "lab/RecordChanges.h"

#include <map>

#include "lab/ContentsFile.h"
#include "text/TextNumbers.h"

namespace krb::server {
namespace {

struct KeptRecord {
    std::int32_t Cassette = 0;
    std::int32_t Level = 0;
    history::RecordState State;
};

// Keyed by location number; a later line with the same number wins, as it does for readers.
std::map<std::string, KeptRecord> RecordsByLocation(const std::vector<std::string>& lines) {
    std::map<std::string, KeptRecord> records;
    for (const auto& line : lines) {
        const ContentsFields fields = SplitContentsLine(line);
        if (fields[kSlotNoField].empty()) continue;
        records[fields[kSlotNoField]] =
            KeptRecord{Int32Or(fields[kCassetteField], 0),
                       Int32Or(fields[kLevelField], 0),
                       {fields[kPresentField] == "1", fields[kBarcodeField], fields[kUserIdField]}};
    }
    return records;
}

void Report(const std::string& unitId, const std::string& location, const KeptRecord& where,
            const history::RecordState& before, const history::RecordState& after,
            history::ChangeCause cause) {
    history::RecordChange change;
    change.Time = history::Clock::now();
    change.UnitId = unitId;
    change.SlotNo = Int32Or(location, 0);
    change.Cassette = where.Cassette;
    change.Level = where.Level;
    change.Before = before;
    change.After = after;
    change.Cause = cause;
    change.Origin = history::CommandScope::Current();
    history::Sink().Record(std::move(change));
}

// A location missing from one version holds no plate there; its name is not news.
history::RecordState Absent(const history::RecordState& other) { return {false, "", other.Name}; }

}  // namespace

void ReportRecordChanges(const std::string& unitId, const std::vector<std::string>& before,
                         const std::vector<std::string>& after, history::ChangeCause cause) {
    const auto old = RecordsByLocation(before);
    const auto now = RecordsByLocation(after);
    for (const auto& [location, record] : now) {
        const auto was = old.find(location);
        const history::RecordState previous =
            was == old.end() ? Absent(record.State) : was->second.State;
        if (previous != record.State) {
            Report(unitId, location, record, previous, record.State, cause);
        }
    }
    for (const auto& [location, record] : old) {
        if (now.count(location) != 0) continue;
        const history::RecordState gone = Absent(record.State);
        if (gone != record.State) Report(unitId, location, record, record.State, gone, cause);
    }
}

}  // namespace krb::server
