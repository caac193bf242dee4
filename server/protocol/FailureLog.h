#pragma once
// Resource failures (out of memory, no thread, no descriptor) that the server survives: the
// affected command or connection is given up, and the failure goes to the server's log.
#include <functional>
#include <string>

namespace krb::server {

using TFailureSink = std::function<void(const std::string& where, const std::string& what)>;

// Any thread. Never throws: when even the log line cannot be made, a fixed text goes to
// stderr.
void LogResourceFailure(const char* where, const std::exception& failure) noexcept;
void SetResourceFailureSink(TFailureSink sink);  // empty: stderr only

}  // namespace krb::server
