#include "platform/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string_view>
#include <system_error>

namespace krb::platform {
namespace {

namespace fs = std::filesystem;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct Document {
    std::vector<std::string> lines;
    bool byteOrderMark = false;
};

enum class LineKind { Blank, Comment, Header, Entry };

struct ParsedLine {
    LineKind kind = LineKind::Blank;
    std::string name;  // section name of a header, key of an entry
    std::string value;
    bool hasEquals = false;
};

// Lines [header + 1, end) belong to the section.
struct SectionSpan {
    std::size_t header = 0;
    std::size_t end = 0;
};

std::string_view trimmed(std::string_view text) {
    auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

char lowered(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowered(a[i]) != lowered(b[i])) return false;
    }
    return true;
}

std::string withoutOuterQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

ParsedLine parseLine(std::string_view line) {
    ParsedLine parsed;
    std::string_view text = trimmed(line);
    if (text.empty()) return parsed;
    if (text.front() == ';') {
        parsed.kind = LineKind::Comment;
        return parsed;
    }
    auto close = text.find(']');
    if (text.front() == '[' && close != std::string_view::npos) {
        parsed.kind = LineKind::Header;
        parsed.name = trimmed(text.substr(1, close - 1));
        return parsed;
    }
    // Anything else, a '[' line without ']' included, is an entry of the current section.
    parsed.kind = LineKind::Entry;
    auto equals = text.find('=');
    parsed.hasEquals = equals != std::string_view::npos;
    parsed.name = trimmed(text.substr(0, equals));
    if (parsed.hasEquals) parsed.value = trimmed(text.substr(equals + 1));
    return parsed;
}

Document parseDocument(std::string content) {
    Document document;
    if (std::string_view(content).substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        document.byteOrderMark = true;
        content.erase(0, kByteOrderMark.size());
    }
    std::size_t start = 0;
    while (start < content.size()) {
        auto end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        document.lines.push_back(std::move(line));
        start = end + 1;
    }
    return document;
}

std::string renderDocument(const Document& document) {
    std::string content = document.byteOrderMark ? std::string(kByteOrderMark) : std::string();
    for (const auto& line : document.lines) content.append(line).append("\r\n");
    return content;
}

// The file's bytes; empty when it does not exist; nullopt when it exists but cannot be read.
std::optional<std::string> readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code error;
        bool exists = fs::exists(path, error);
        return (exists || error) ? std::nullopt : std::optional<std::string>(std::string());
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return content.str();
}

Document loadForReading(const std::string& path) {
    return parseDocument(readFileBytes(path).value_or(std::string()));
}

std::vector<SectionSpan> sectionSpans(const Document& document, std::string_view section) {
    std::vector<SectionSpan> spans;
    bool inside = false;
    for (std::size_t i = 0; i < document.lines.size(); ++i) {
        ParsedLine parsed = parseLine(document.lines[i]);
        if (parsed.kind != LineKind::Header) continue;
        if (inside) spans.back().end = i;
        inside = sameName(parsed.name, trimmed(section));
        if (inside) spans.push_back({i, document.lines.size()});
    }
    return spans;
}

std::optional<std::size_t> entryLine(const Document& document, const SectionSpan& span,
                                     std::string_view key) {
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        ParsedLine parsed = parseLine(document.lines[i]);
        if (parsed.kind == LineKind::Entry && sameName(parsed.name, trimmed(key))) return i;
    }
    return std::nullopt;
}

std::size_t insertionPoint(const Document& document, const SectionSpan& span) {
    std::size_t point = span.header + 1;
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        if (!trimmed(document.lines[i]).empty()) point = i + 1;
    }
    return point;
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool writableNames(std::string_view section, std::string_view key, std::string_view value) {
    if (section.empty() || hasLineBreak(section) || section.find(']') != std::string_view::npos) {
        return false;
    }
    if (key.empty() || hasLineBreak(key) || key.find('=') != std::string_view::npos) return false;
    if (key.front() == '[' || key.front() == ';') return false;
    return !hasLineBreak(value);
}

// Serialises read-modify-write cycles of profile files within the process.
std::mutex& rewriteMutex() {
    static std::mutex mutex;
    return mutex;
}

bool writeAll(int fd, const std::string& content) {
    std::size_t written = 0;
    while (written < content.size()) {
        ssize_t done = ::write(fd, content.data() + written, content.size() - written);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        written += static_cast<std::size_t>(done);
    }
    return true;
}

fs::path temporaryBeside(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    std::string name = "." + target.filename().string() + ".tmp" + std::to_string(::getpid()) +
                       "." + std::to_string(counter++);
    return target.parent_path() / name;
}

void syncFolder(const fs::path& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

std::optional<std::string> ProfileFile::findString(const std::string& section,
                                                   const std::string& key) const {
    Document document = loadForReading(path_);
    auto spans = sectionSpans(document, section);
    if (spans.empty()) return std::nullopt;
    auto line = entryLine(document, spans.front(), key);
    if (!line) return std::nullopt;
    return withoutOuterQuotes(parseLine(document.lines[*line]).value);
}

std::string ProfileFile::readString(const std::string& section, const std::string& key,
                                    const std::string& fallback) const {
    return findString(section, key).value_or(fallback);
}

std::vector<std::string> ProfileFile::readSection(const std::string& section) const {
    Document document = loadForReading(path_);
    auto spans = sectionSpans(document, section);
    std::vector<std::string> entries;
    if (spans.empty()) return entries;
    for (std::size_t i = spans.front().header + 1; i < spans.front().end; ++i) {
        ParsedLine parsed = parseLine(document.lines[i]);
        if (parsed.kind != LineKind::Entry) continue;
        entries.push_back(parsed.hasEquals ? parsed.name + "=" + parsed.value : parsed.name);
    }
    return entries;
}

bool ProfileFile::sectionExists(const std::string& section) const {
    return !sectionSpans(loadForReading(path_), section).empty();
}

bool ProfileFile::eraseSection(const std::string& section) {
    std::lock_guard lock(rewriteMutex());
    auto bytes = readFileBytes(path_);
    if (!bytes) return false;
    Document document = parseDocument(std::move(*bytes));
    auto spans = sectionSpans(document, section);
    if (spans.empty()) return true;
    for (auto span = spans.rbegin(); span != spans.rend(); ++span) {
        auto first = document.lines.begin() + static_cast<std::ptrdiff_t>(span->header);
        document.lines.erase(first, first + static_cast<std::ptrdiff_t>(span->end - span->header));
    }
    return replaceFileAtomically(path_, renderDocument(document));
}

bool ProfileFile::writeString(const std::string& section, const std::string& key,
                              const std::string& value) {
    const std::string sectionName(trimmed(section));
    const std::string keyName(trimmed(key));
    if (!writableNames(sectionName, keyName, value)) return false;
    std::lock_guard lock(rewriteMutex());
    auto bytes = readFileBytes(path_);
    if (!bytes) return false;  // never overwrite a file we could not read
    Document document = parseDocument(std::move(*bytes));
    auto spans = sectionSpans(document, sectionName);
    if (spans.empty()) {
        document.lines.push_back("[" + sectionName + "]");
        document.lines.push_back(keyName + "=" + value);
    } else if (auto line = entryLine(document, spans.front(), keyName)) {
        document.lines[*line] = parseLine(document.lines[*line]).name + "=" + value;
    } else {
        auto at = document.lines.begin() +
                  static_cast<std::ptrdiff_t>(insertionPoint(document, spans.front()));
        document.lines.insert(at, keyName + "=" + value);
    }
    return replaceFileAtomically(path_, renderDocument(document));
}

bool ProfileFile::replaceSection(const std::string& section,
                                 const std::vector<std::string>& entries) {
    const std::string sectionName(trimmed(section));
    for (const auto& entry : entries) {
        const auto equals = entry.find('=');
        if (equals == std::string::npos ||
            !writableNames(sectionName, trimmed(entry.substr(0, equals)), entry.substr(equals + 1)))
            return false;
    }
    std::lock_guard lock(rewriteMutex());
    auto bytes = readFileBytes(path_);
    if (!bytes) return false;
    Document document = parseDocument(std::move(*bytes));
    const auto spans = sectionSpans(document, sectionName);
    std::vector<std::string> replacement{"[" + sectionName + "]"};
    replacement.insert(replacement.end(), entries.begin(), entries.end());
    std::size_t at = document.lines.size();
    for (auto span = spans.rbegin(); span != spans.rend(); ++span) {
        auto first = document.lines.begin() + static_cast<std::ptrdiff_t>(span->header);
        document.lines.erase(first, first + static_cast<std::ptrdiff_t>(span->end - span->header));
        at = span->header;
    }
    document.lines.insert(document.lines.begin() + static_cast<std::ptrdiff_t>(at),
                          replacement.begin(), replacement.end());
    return replaceFileAtomically(path_, renderDocument(document));
}

namespace {

// `existing` is the mode to keep, if any.
bool writeBesideAndRename(const fs::path& target, const std::string& content,
                          std::optional<mode_t> existing) {
    fs::path temporary = temporaryBeside(target);
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool written = writeAll(fd, content) && (!existing || ::fchmod(fd, *existing & 07777) == 0) &&
                   ::fsync(fd) == 0;
    written = (::close(fd) == 0) && written;
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    syncFolder(target.parent_path());
    return true;
}

}  // namespace

bool replaceFileAtomically(const std::string& path, const std::string& content) {
    fs::path target(path);
    std::error_code error;
    if (fs::is_symlink(target, error)) {
        auto resolved = fs::canonical(target, error);
        if (!error) target = resolved;
    }
    struct stat existing {};
    const bool keepMode = ::stat(target.c_str(), &existing) == 0;
    return writeBesideAndRename(target, content,
                                keepMode ? std::optional<mode_t>(existing.st_mode) : std::nullopt);
}

bool replaceFileWithoutFollowing(const std::string& path, const std::string& content) {
    struct stat existing {};
    const bool keepMode = ::lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    return writeBesideAndRename(path, content,
                                keepMode ? std::optional<mode_t>(existing.st_mode) : std::nullopt);
}

}  // namespace krb::platform
