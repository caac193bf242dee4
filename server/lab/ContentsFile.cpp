#include "lab/ContentsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "lab/Unit.h"
#include "metrics/ServerMetrics.h"
#include "platform/profile_file.h"
#include "text/DateTimeText.h"
#include "text/TextNumbers.h"

namespace krb::server {

ContentsFields SplitContentsLine(std::string_view line) {
    ContentsFields fields;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < kContentsFieldCount; ++i) {
        auto comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            fields[i] = std::string(line.substr(start));
            return fields;
        }
        fields[i] = std::string(line.substr(start, comma - start));
        start = comma + 1;
    }
    fields[kDateUnloadField] = std::string(line.substr(start));
    return fields;
}

std::string JoinContentsLine(const ContentsFields& fields) {
    std::string line = fields[0];
    for (std::size_t i = 1; i < kContentsFieldCount; ++i) line.append(",").append(fields[i]);
    return line;
}

std::string DefaultLocationName(const std::string& slotText, bool present) {
    return (present ? "Plate " : "Location ") + slotText;
}

bool IsDefaultLocationName(std::string_view name) {
    return name.substr(0, 6) == "Plate " || name.substr(0, 9) == "Location ";
}

// One read of the file's size: the views read every contents file on every request.
std::optional<std::string> LoadText(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && status.st_size > 0) {
        text.resize(static_cast<std::size_t>(status.st_size));
    }
    std::size_t filled = 0;
    bool failed = false;
    while (true) {
        if (filled == text.size()) text.resize(std::max<std::size_t>(4096, 2 * text.size()));
        const auto count = ::read(fd, text.data() + filled, text.size() - filled);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            failed = count < 0;
            break;
        }
        filled += static_cast<std::size_t>(count);
    }
    ::close(fd);
    if (failed) return std::nullopt;
    text.resize(filled);
    return text;
}

std::optional<std::vector<std::string>> LoadTextLines(const std::string& path) {
    const auto text = LoadText(path);
    if (!text) return std::nullopt;
    const std::string& content = *text;
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        auto end = content.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(content.substr(start));
            break;
        }
        lines.push_back(content.substr(start, end - start));
        start =
            end + ((content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n')
                       ? 2
                       : 1);
    }
    return lines;
}

bool SaveTextLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string content;
    for (const auto& line : lines) content.append(line).append("\r\n");
    return web::Metrics().RecordContentsWrite(platform::replaceFileAtomically(path, content));
}

TKRBPlate PlateFromContentsLine(const ContentsFields& fields) {
    TKRBPlate plate;
    plate.SlotNo = Int32Or(fields[kSlotNoField], 0);
    plate.Cassette = Int32Or(fields[kCassetteField], 0);
    plate.Level = Int32Or(fields[kLevelField], 0);
    plate.PP = fields[kPresentField] == "1";
    plate.PlateBCR = fields[kBarcodeField];
    plate.PlateUserId = fields[kUserIdField];
    plate.SectorName = fields[kSectorField];
    plate.DateCheck = ParseDateTime(fields[kDateCheckField]);
    plate.DateLoad = ParseDateTime(fields[kDateLoadField]);
    plate.DateUnload = ParseDateTime(fields[kDateUnloadField]);
    return plate;
}

std::vector<TKRBPlate> ReadPlates(const TKRBId& unit, const std::string& cassetteText) {
    std::vector<TKRBPlate> plates;
    if (unit.ContentsFile.empty()) return plates;
    auto lines = LoadTextLines(unit.ContentsFile);
    if (!lines) return plates;
    for (const auto& line : *lines) {
        ContentsFields fields = SplitContentsLine(line);
        if (fields[kCassetteField] == cassetteText) plates.push_back(PlateFromContentsLine(fields));
    }
    return plates;
}

}  // namespace krb::server
