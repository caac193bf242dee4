#include "platform/operator_message.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace krb::platform {
namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<const OperatorMessageSink>& installedSink() {
    static std::shared_ptr<const OperatorMessageSink> sink;
    return sink;
}

std::shared_ptr<const OperatorMessageSink>& installedDisplay() {
    static std::shared_ptr<const OperatorMessageSink> display;
    return display;
}

std::shared_ptr<const OperatorMessageSink> current(
    std::shared_ptr<const OperatorMessageSink>& installed) {
    std::lock_guard lock(sinkMutex());
    return installed;
}

void install(std::shared_ptr<const OperatorMessageSink>& installed, OperatorMessageSink sink) {
    auto replacement =
        sink ? std::make_shared<const OperatorMessageSink>(std::move(sink)) : nullptr;
    std::lock_guard lock(sinkMutex());
    installed = std::move(replacement);
}

// Message texts break their lines with CR (or CR LF); a terminal wants a newline.
std::string withNewlines(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            result += '\n';
        } else {
            result += text[i];
        }
    }
    return result;
}

}  // namespace

void showOperatorMessage(const std::string& caption, const std::string& text) {
    std::string line = caption + ": " + withNewlines(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    // Called outside the lock, so a sink may itself show a message or replace the sink.
    if (auto sink = current(installedSink())) (*sink)(caption, text);
    if (auto display = current(installedDisplay())) (*display)(caption, text);
}

void setOperatorMessageSink(OperatorMessageSink sink) { install(installedSink(), std::move(sink)); }

void setOperatorMessageDisplay(OperatorMessageSink display) {
    install(installedDisplay(), std::move(display));
}

}  // namespace krb::platform
