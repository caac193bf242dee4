#include "platform/operator_message.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace krb::platform {
namespace {

class OperatorMessageTest : public ::testing::Test {
  protected:
    void TearDown() override {
        setOperatorMessageSink({});
        setOperatorMessageDisplay({});
    }
};

TEST_F(OperatorMessageTest, GoesToStderrAndTheInstalledSink) {
    std::vector<std::pair<std::string, std::string>> seen;
    setOperatorMessageSink([&seen](const std::string& caption, const std::string& text) {
        seen.emplace_back(caption, text);
    });
    ::testing::internal::CaptureStderr();
    showOperatorMessage("Error!", "Filed to open a serial communication for BCR, Unit: U1");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error!: Filed to open a serial communication for BCR, Unit: U1\n");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, "Error!");
    EXPECT_EQ(seen[0].second, "Filed to open a serial communication for BCR, Unit: U1");

    setOperatorMessageSink({});
    ::testing::internal::CaptureStderr();
    showOperatorMessage("Info", "no sink");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Info: no sink\n");
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(OperatorMessageTest, StderrGetsNewlinesAndTheSinkTheTextAsItIs) {
    const std::string text = "Configuration File:\r\r/x/DriverConfig.lni\r\nDoes not exist!";
    std::string sunk;
    setOperatorMessageSink([&sunk](const std::string&, const std::string& t) { sunk = t; });
    ::testing::internal::CaptureStderr();
    showOperatorMessage("Error!", text);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error!: Configuration File:\n\n/x/DriverConfig.lni\nDoes not exist!\n");
    EXPECT_EQ(sunk, text);
}

TEST_F(OperatorMessageTest, SinkMayShowMessagesAndReplaceItself) {
    int calls = 0;
    setOperatorMessageSink([&calls](const std::string&, const std::string& text) {
        ++calls;
        if (text == "outer") {
            showOperatorMessage("Nested", "inner");
            setOperatorMessageSink({});
        }
    });
    ::testing::internal::CaptureStderr();
    showOperatorMessage("Outer", "outer");
    showOperatorMessage("After", "removed");
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(calls, 2);
}

TEST_F(OperatorMessageTest, TheDisplayGetsEveryMessageNextToTheSink) {
    std::vector<std::string> sunk;
    std::vector<std::string> shown;
    setOperatorMessageSink([&sunk](const std::string& caption, const std::string& text) {
        sunk.push_back(caption + "|" + text);
    });
    setOperatorMessageDisplay([&shown](const std::string& caption, const std::string& text) {
        shown.push_back(caption + "|" + text);
    });
    ::testing::internal::CaptureStderr();
    showOperatorMessage("Error", "both");
    setOperatorMessageSink({});
    showOperatorMessage("Error", "display only");
    setOperatorMessageDisplay({});
    showOperatorMessage("Error", "neither");
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(sunk, std::vector<std::string>{"Error|both"});
    EXPECT_EQ(shown, (std::vector<std::string>{"Error|both", "Error|display only"}));
}

TEST_F(OperatorMessageTest, ManyThreadsEachDeliverEveryMessage) {
    std::atomic<int> delivered{0};
    setOperatorMessageSink([&delivered](const std::string&, const std::string&) { ++delivered; });
    ::testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 50; ++i) showOperatorMessage("Scan", "move error");
        });
    }
    for (auto& thread : threads) thread.join();
    std::string output = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(delivered.load(), 200);
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = output.find("Scan: move error\n", at)) != std::string::npos;
         ++at) {
        ++lines;
    }
    EXPECT_EQ(lines, 200u);
}

// The server removes its sink before it goes away while a library thread may be inside it.
TEST_F(OperatorMessageTest, RemovingTheSinkWaitsForACallInProgressOnAnotherThread) {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false, release = false;
    std::atomic<bool> callEnded{false};
    setOperatorMessageSink([&](const std::string&, const std::string&) {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
        callEnded = true;
    });
    ::testing::internal::CaptureStderr();
    std::thread scan([] { showOperatorMessage("Error", "Inventory Error"); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return entered; });
    }
    std::atomic<bool> removerSawCallEnded{false};
    std::thread remover([&] {
        setOperatorMessageSink({});
        removerSawCallEnded = callEnded.load();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the remover is waiting
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    scan.join();
    remover.join();
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(removerSawCallEnded.load());
}

}  // namespace
}  // namespace krb::platform
