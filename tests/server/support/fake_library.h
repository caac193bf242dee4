#pragma once
// A stand-in for KRB_lib behind the binding: scripted replies per export and a record of
// every call, with whether the binding lock was held during it.
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "binding/LibraryBinding.h"
#include "lab/Unit.h"
#include "support/temp_dir.h"

namespace krb::server::testing {

struct RecordedCall {
    std::string name;
    std::vector<std::string> args;  // unit first
    bool bindingLockHeld = false;
};

class FakeLibrary {
  public:
    static constexpr const char* kNoText = "<no text>";  // the export returns a null pointer

    void Reset();
    // Replies are used in order; the last one repeats. Exports without replies answer "".
    void Reply(const std::string& name, std::vector<std::string> replies);
    // Runs during the call (outside the fake's own lock).
    void OnCall(std::function<void(const RecordedCall&)> hook);

    std::vector<RecordedCall> Calls();
    std::vector<std::string> CallNames();
    std::vector<std::string> ArgsOf(const std::string& name);  // args of the first call
    int Count(const std::string& name);

    const char* Call(const char* name, std::vector<std::string> args);

  private:
    std::mutex mutex_;
    std::map<std::string, std::deque<std::string>> replies_;
    std::vector<RecordedCall> calls_;
    std::function<void(const RecordedCall&)> hook_;
};

FakeLibrary& Fake();
const KRBExports& FakeExports();

// True when another thread cannot take the lock right now.
bool BindingLockHeld(int port);
bool IsHeld(std::recursive_mutex& mutex);
// Whether another thread than the caller holds one of the unit's locks.
bool IsHeld(TKRBId& unit, TKRBId::UnitLock lock);

// A fresh folder under the test temp folder, removed by the destructor.
class TempFolder : public test_support::TempDir {
  public:
    TempFolder() : TempDir("krb_server_tests") {}
    std::string File(const std::string& relative, const std::string& content) const {
        return write(relative, content);
    }
    std::string Read(const std::string& relative) const {
        return test_support::readWholeFile(file(relative));
    }
};

// Captures operator messages while alive.
class MessageCapture {
  public:
    MessageCapture();
    ~MessageCapture();
    std::vector<std::pair<std::string, std::string>> Messages();

  private:
    std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> messages_;
};

}  // namespace krb::server::testing
