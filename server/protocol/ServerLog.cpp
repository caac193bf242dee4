// The log file: one line per event, appended in place (same content as rewriting the whole
// file with the new line at its end).
#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <typeinfo>

#include "protocol/ServerCore.h"

namespace krb::server {
namespace {

// A file whose last line has no line end gets one before the new line, as a rewrite would.
bool EndsWithoutLineBreak(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file || file.tellg() <= 0) return false;
    file.seekg(-1, std::ios::end);
    char last = '\0';
    file.get(last);
    return last != '\n';
}

}  // namespace

std::string LogTimeStamp(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto sinceEpoch = time.time_since_epoch();
    auto millisecond =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
    if (millisecond < 0) millisecond += 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d %02d.%02d.%02d", local.tm_hour,
                  local.tm_min, local.tm_sec, static_cast<int>(millisecond), local.tm_mday,
                  local.tm_mon + 1, local.tm_year % 100);
    return text;
}

std::string FormatLogLine(std::chrono::system_clock::time_point time, const std::string& event,
                          const std::string& details) {
    return LogTimeStamp(time) + ";" + event + ";" + details;
}

std::string ErrorEvent(const std::string& className, const std::string& message) {
    return "Error=" + className + ",Message=" + message;
}

std::string ErrorEvent(const std::exception& error) {
    const char* mangled = typeid(error).name();
    int status = 0;
    char* readable = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    const std::string className = status == 0 && readable ? readable : mangled;
    std::free(readable);
    return ErrorEvent(className, error.what());
}

void ServerCore::AddLogObserver(TLogObserver observer) {
    std::lock_guard lock(logObserversMutex_);
    logObservers_.push_back(std::move(observer));
}

void ServerCore::WriteLog(const std::string& event, const std::string& details) {
    {
        std::lock_guard lock(logObserversMutex_);
        for (const auto& observer : logObservers_) observer(event, details);
    }
    const TServerState state = State();
    if (!state.LogEnabled) return;
    std::string line = FormatLogLine(std::chrono::system_clock::now(), event, details) + "\r\n";
    std::lock_guard lock(logMutex_);
    if (EndsWithoutLineBreak(state.LogFileName)) line.insert(0, "\r\n");
    std::ofstream file(state.LogFileName, std::ios::binary | std::ios::app);
    file << line;  // a failed write loses the line, nothing more
}

}  // namespace krb::server
