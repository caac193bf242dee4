#include "protocol/FailureLog.h"

#include <cstdio>
#include <exception>
#include <mutex>

namespace krb::server {
namespace {

std::mutex& SinkMutex() {
    static std::mutex mutex;
    return mutex;
}

TFailureSink& InstalledSink() {
    static TFailureSink sink;
    return sink;
}

}  // namespace

void LogResourceFailure(const char* where, const std::exception& failure) noexcept {
    std::fprintf(stderr, "KRBServer: %s: %s\n", where, failure.what());
    try {
        std::lock_guard lock(SinkMutex());
        if (InstalledSink()) InstalledSink()(where, failure.what());
    } catch (...) {
        std::fputs("KRBServer: a resource failure could not be logged\n", stderr);
    }
}

void SetResourceFailureSink(TFailureSink sink) {
    std::lock_guard lock(SinkMutex());
    InstalledSink() = std::move(sink);
}

}  // namespace krb::server
