#include "lab/ContentsLeftovers.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <vector>

#include "lab/ConfigPath.h"
#include "lab/Unit.h"
#include "text/TextNumbers.h"

namespace krb::server {
namespace {

namespace fs = std::filesystem;

bool ProcessIsRunning(long pid) {
    if (pid <= 0) return false;
    if (pid == ::getpid()) return true;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

// The scan's stamp and the unit's port, from "ddhhnnsszzz_<port>_<count>".
struct InventoryName {
    std::string Stamp;
    std::int32_t Port = 0;
};

std::optional<InventoryName> ParseInventoryName(const std::string& name) {
    static const std::regex pattern(R"(^(\d{11})_(\d{1,9})_\d{1,10}$)");
    std::smatch match;
    if (!std::regex_match(name, match, pattern)) return std::nullopt;
    return InventoryName{match[1].str(), ParseInt32(match[2].str()).value_or(0)};
}

// Unit IDs come from configuration files: nothing in them may lead out of the folder.
std::string FileNamePart(const std::string& text) {
    std::string part = text.empty() ? "unit" : text;
    std::replace_if(
        part.begin(), part.end(), [](char c) { return c == '/' || c == '\\' || c == '\0'; }, '_');
    return part;
}

std::string UnitNameOfPort(const std::vector<const TKRBId*>& units, std::int32_t port) {
    for (const TKRBId* unit : units)
        if (unit->ComPort == port) return FileNamePart(unit->UnitId);
    return "COM" + std::to_string(port);
}

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file(error)) files.push_back(it->path());
    std::sort(files.begin(), files.end());  // the same order at every start
    return files;
}

void RemoveStaleTemporaries(const fs::path& folder, const TLeftoverReport& report) {
    for (const auto& file : FilesIn(folder)) {
        if (!IsStaleTemporaryName(file.filename().string())) continue;
        std::error_code error;
        if (fs::remove(file, error)) report("Leftover removed", file.string());
    }
}

// Moves `file` to `kept`, or to "<kept stem>-2<suffix>", "-3" ... when that name is taken:
// an earlier inventory kept under the same stamp is never overwritten.
std::optional<fs::path> KeepWithoutOverwriting(const fs::path& file, const std::string& stem) {
    constexpr int kMaxNumber = 1000;
    for (int number = 1; number <= kMaxNumber; ++number) {
        const std::string suffix = number == 1 ? "" : "-" + std::to_string(number);
        const fs::path kept = file.parent_path() / (stem + suffix + kUnmergedInventorySuffix);
        // link() never replaces an existing name, unlike rename().
        if (::link(file.c_str(), kept.c_str()) == 0) {
            ::unlink(file.c_str());
            return kept;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

void KeepUnmergedInventories(const fs::path& folder, const std::vector<const TKRBId*>& units,
                             const TLeftoverReport& report) {
    for (const auto& file : FilesIn(folder)) {
        auto name = ParseInventoryName(file.filename().string());
        if (!name) continue;
        const auto kept =
            KeepWithoutOverwriting(file, UnitNameOfPort(units, name->Port) + "." + name->Stamp);
        if (kept) report("Inventory not merged", file.string() + " kept as " + kept->string());
    }
}

void RemoveOldUnmergedInventories(const fs::path& folder, const TLeftoverReport& report) {
    std::vector<std::pair<fs::file_time_type, fs::path>> kept;
    for (const auto& file : FilesIn(folder)) {
        const std::string name = file.filename().string();
        if (name.size() <= std::string_view(kUnmergedInventorySuffix).size() ||
            !name.ends_with(kUnmergedInventorySuffix)) {
            continue;
        }
        std::error_code error;
        auto time = fs::last_write_time(file, error);
        if (!error) kept.emplace_back(time, file);
    }
    if (kept.size() <= kKeptUnmergedInventories) return;
    std::sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a > b; });
    for (std::size_t i = kKeptUnmergedInventories; i < kept.size(); ++i) {
        std::error_code error;
        if (fs::remove(kept[i].second, error)) {
            report("Unmerged inventory removed", kept[i].second.string());
        }
    }
}

}  // namespace

bool IsStaleTemporaryName(const std::string& name) {
    static const std::regex pattern(R"(^\..+\.tmp(\d{1,9})\.\d{1,10}$)");
    std::smatch match;
    if (!std::regex_match(name, match, pattern)) return false;
    return !ProcessIsRunning(std::stol(match[1].str()));
}

void TidyContentsFolders(const TKRBLab& lab, const TLeftoverReport& report) {
    std::map<std::string, std::vector<const TKRBId*>> unitsByFolder;
    for (const auto& system : lab.Systems) {
        for (const auto& unit : system->Units) {
            if (unit->ContentsFile.empty()) continue;
            unitsByFolder[FolderOf(unit->ContentsFile)].push_back(unit.get());
        }
    }
    for (const auto& [folderText, units] : unitsByFolder) {
        const fs::path folder = folderText.empty() ? fs::path(".") : fs::path(folderText);
        RemoveStaleTemporaries(folder, report);
        KeepUnmergedInventories(folder, units, report);
        RemoveOldUnmergedInventories(folder, report);
    }
}

}  // namespace krb::server
