#include "serial_log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <string_view>
#include <system_error>

#include "platform/port_names.h"

namespace krb::platform {
namespace {

namespace fs = std::filesystem;
constexpr std::uintmax_t kLogLimitBytes = 4u * 1024 * 1024;

std::string timestampNow() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis.count()));
    return text;
}

std::string escapeBytes(const char* data, std::size_t count) {
    std::string text;
    text.reserve(count + 8);
    for (std::size_t i = 0; i < count; ++i) {
        auto byte = static_cast<unsigned char>(data[i]);
        if (byte == '\r') {
            text += "\\r";
        } else if (byte == '\n') {
            text += "\\n";
        } else if (byte == '"' || byte == '\\') {
            text += '\\';
            text += static_cast<char>(byte);
        } else if (byte >= 0x20 && byte < 0x7f) {
            text += static_cast<char>(byte);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            text += hex;
        }
    }
    return text;
}

// One file per port, shared by every open of that port in the process.
class SerialLogFile {
  public:
    explicit SerialLogFile(fs::path path) : path_(std::move(path)) {}
    ~SerialLogFile() { closeFile(); }
    SerialLogFile(const SerialLogFile&) = delete;
    SerialLogFile& operator=(const SerialLogFile&) = delete;

    void append(std::string_view direction, std::string_view payload, std::string_view note) {
        std::string line = timestampNow();
        line.append(" ").append(direction).append(" \"").append(payload).append("\"");
        line.append(note).append("\n");
        std::lock_guard lock(mutex_);
        if (!ensureOpen()) return;
        if (std::fwrite(line.data(), 1, line.size(), file_) == line.size()) size_ += line.size();
        std::fflush(file_);
        if (size_ > kLogLimitBytes) rotate();
    }

  private:
    bool ensureOpen() {
        if (file_ != nullptr) return true;
        file_ = std::fopen(path_.c_str(), "ab");
        if (file_ == nullptr) return false;
        std::error_code error;
        auto existing = fs::file_size(path_, error);
        size_ = error ? 0 : existing;
        return true;
    }

    void rotate() {
        closeFile();
        std::error_code error;
        fs::rename(path_, fs::path(path_.string() + ".1"), error);
    }

    void closeFile() {
        if (file_ != nullptr) std::fclose(file_);
        file_ = nullptr;
        size_ = 0;
    }

    std::mutex mutex_;
    fs::path path_;
    std::FILE* file_ = nullptr;
    std::uintmax_t size_ = 0;
};

std::shared_ptr<SerialLogFile> sharedLogFile(const fs::path& path) {
    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<SerialLogFile>> files;
    std::lock_guard lock(mutex);
    auto& slot = files[path.string()];
    auto file = slot.lock();
    if (!file) {
        file = std::make_shared<SerialLogFile>(path);
        slot = file;
    }
    return file;
}

std::string logFileStem(const std::string& windowsName) {
    if (auto number = comPortNumber(windowsName)) return "COM" + std::to_string(*number);
    std::string stem;
    for (char c : windowsName) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_';
        stem += plain ? c : '_';
    }
    return stem.empty() ? "port" : stem;
}

class LoggingSerialPort : public SerialPort {
  public:
    LoggingSerialPort(std::unique_ptr<SerialPort> inner, std::shared_ptr<SerialLogFile> log)
        : inner_(std::move(inner)), log_(std::move(log)) {}

    bool configure(const LineSettings& settings) override { return inner_->configure(settings); }
    void setQueueSizes(std::size_t input, std::size_t output) override {
        inner_->setQueueSizes(input, output);
    }
    void purgeInput() override { inner_->purgeInput(); }
    void purgeAll() override { inner_->purgeAll(); }

    long read(char* buffer, std::size_t count, long timeoutMs) override {
        long received = inner_->read(buffer, count, timeoutMs);
        if (received > 0) {
            log_->append("RX", escapeBytes(buffer, static_cast<std::size_t>(received)), "");
        } else if (received < 0) {
            log_->append("RX", "", " read failed");
        }
        return received;
    }

    bool write(const char* data, std::size_t count) override {
        bool written = inner_->write(data, count);
        log_->append("TX", escapeBytes(data, count), written ? "" : " write failed");
        return written;
    }

    const std::string& name() const override { return inner_->name(); }
    long shortestReplyWindowMs() const override { return inner_->shortestReplyWindowMs(); }

  private:
    std::unique_ptr<SerialPort> inner_;
    std::shared_ptr<SerialLogFile> log_;
};

// The port's log file when KRB_SERIAL_LOG names a usable folder.
std::shared_ptr<SerialLogFile> logFileOf(const std::string& windowsName) {
    const char* folder = std::getenv("KRB_SERIAL_LOG");
    if (folder == nullptr || *folder == '\0') return nullptr;
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder, error)) return nullptr;
    return sharedLogFile(fs::path(folder) / (logFileStem(windowsName) + ".log"));
}

}  // namespace

std::unique_ptr<SerialPort> attachSerialLog(std::unique_ptr<SerialPort> port,
                                            const std::string& windowsName) {
    if (port == nullptr) return port;
    auto log = logFileOf(windowsName);
    if (!log) return port;
    return std::make_unique<LoggingSerialPort>(std::move(port), std::move(log));
}

void noteSerialLogEvent(const std::string& windowsName, const std::string& text) {
    if (auto log = logFileOf(windowsName))
        log->append("LINK", escapeBytes(text.data(), text.size()), "");
}

}  // namespace krb::platform
