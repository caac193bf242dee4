#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/link_metrics.h"
#include "platform/serial_port.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace krb::platform {
namespace {

using test_support::ScopedEnv;
using test_support::TempDir;

// Answers every read with the next scripted reply.
class ScriptedPort : public SerialPort {
  public:
    explicit ScriptedPort(std::vector<std::string> replies) : replies_(std::move(replies)) {}
    bool configure(const LineSettings&) override { return true; }
    void setQueueSizes(std::size_t, std::size_t) override {}
    void purgeInput() override {}
    void purgeAll() override {}
    long read(char* buffer, std::size_t count, long) override {
        if (next_ >= replies_.size()) return -1;
        const std::string& reply = replies_[next_++];
        std::size_t size = std::min(count, reply.size());
        reply.copy(buffer, size);
        return static_cast<long>(size);
    }
    bool write(const char*, std::size_t) override { return true; }
    const std::string& name() const override { return name_; }

  private:
    std::vector<std::string> replies_;
    std::size_t next_ = 0;
    std::string name_ = "scripted";
};

// "2026-12-08 09:01:02.345 ": '0' stands for any digit.
bool startsWithTimeStamp(const std::string& line) {
    const std::string shape = "0000-00-00 00:00:00.000 ";
    if (line.size() < shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        bool digit = line[i] >= '0' && line[i] <= '9';
        if (shape[i] == '0' ? !digit : line[i] != shape[i]) return false;
    }
    return true;
}

class SerialLogTest : public ::testing::Test {
  protected:
    void TearDown() override { setSerialPortOpener({}); }

    void script(std::vector<std::string> replies) {
        setSerialPortOpener([replies](const std::string&) -> std::unique_ptr<SerialPort> {
            return std::make_unique<ScriptedPort>(replies);
        });
    }

    std::vector<std::string> logLines(const std::string& file) const {
        std::istringstream in(test_support::readWholeFile(logDir_ + "/" + file));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    TempDir dir_;
    std::string logDir_ = dir_.file("serial/logs");
    ScopedEnv log_{"KRB_SERIAL_LOG", logDir_};
};

TEST_F(SerialLogTest, RecordsBothDirectionsWithTimeStampsAndEscapes) {
    script({"00042\r\n",
            std::string("\x02"
                        "AB\"\\\x03\0",
                        7),
            ""});
    auto port = openSerialPort("\\\\.\\COM12");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->name(), "scripted");
    char buffer[32];
    ASSERT_TRUE(port->write("RD DM200\r", 9));
    EXPECT_EQ(port->read(buffer, sizeof buffer, 55), 7);
    EXPECT_EQ(port->read(buffer, sizeof buffer, 55), 7);
    EXPECT_EQ(port->read(buffer, sizeof buffer, 55), 0);  // nothing came: no line
    EXPECT_EQ(port->read(buffer, sizeof buffer, 55), -1);

    auto lines = logLines("COM12.log");
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines) EXPECT_TRUE(startsWithTimeStamp(line)) << line;
    EXPECT_EQ(lines[0].substr(24), R"(TX "RD DM200\r")");
    EXPECT_EQ(lines[1].substr(24), R"(RX "00042\r\n")");
    EXPECT_EQ(lines[2].substr(24), R"(RX "\x02AB\"\\\x03\x00")");
    EXPECT_EQ(lines[3].substr(24), R"(RX "" read failed)");
}

TEST_F(SerialLogTest, LinkLossAndRecoveryStandBetweenTheBytes) {
    script({"1\r\n"});
    auto port = openSerialPort("COM5");
    ASSERT_NE(port, nullptr);
    char buffer[32];
    ASSERT_TRUE(port->write("RD 1907\r", 8));
    EXPECT_EQ(port->read(buffer, sizeof buffer, 55), 3);
    EXPECT_EQ(port->read(buffer, sizeof buffer, 55), -1);
    recordLinkLost("COM5", "read failed");
    recordLinkBack("COM5", 2);

    auto lines = logLines("COM5.log");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2].substr(24), R"(RX "" read failed)");
    EXPECT_EQ(lines[3].substr(24), R"x(LINK "link lost (read failed)")x");
    EXPECT_EQ(lines[4].substr(24), R"x(LINK "link back after 2 attempt(s)")x");
    EXPECT_TRUE(startsWithTimeStamp(lines[4])) << lines[4];
    EXPECT_TRUE(linkCounters().at("COM5").Down == false);
    EXPECT_EQ(linkCounters().at("COM5").LastLinkEvent, "back after 2 attempt(s)");
}

TEST_F(SerialLogTest, KeepsOneOldGenerationWhenTheFileGrowsTooLarge) {
    script({});
    auto port = openSerialPort("COM3");
    ASSERT_NE(port, nullptr);
    const std::string chunk(1024 * 1024, 'A');
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(port->write(chunk.data(), chunk.size()));
    ASSERT_TRUE(std::filesystem::exists(logDir_ + "/COM3.log.1"));
    EXPECT_EQ(logLines("COM3.log.1").size(), 4u);
    EXPECT_FALSE(std::filesystem::exists(logDir_ + "/COM3.log"));

    ASSERT_TRUE(port->write("CR\r", 3));
    auto fresh = logLines("COM3.log");
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_EQ(fresh[0].substr(24), R"(TX "CR\r")");

    for (int i = 0; i < 4; ++i) ASSERT_TRUE(port->write(chunk.data(), chunk.size()));
    EXPECT_EQ(logLines("COM3.log.1").size(), 5u);
    EXPECT_FALSE(std::filesystem::exists(logDir_ + "/COM3.log.2"));
}

TEST_F(SerialLogTest, LoggingTroubleNeverBreaksThePort) {
    script({"OK\r"});
    std::filesystem::create_directories(logDir_ + "/COM4.log");  // the log cannot be opened
    auto port = openSerialPort("COM4");
    ASSERT_NE(port, nullptr);
    char buffer[8];
    EXPECT_TRUE(port->write("ST 1910\r", 8));
    EXPECT_EQ(port->read(buffer, sizeof buffer, 55), 3);

    test_support::writeWholeFile(dir_.file("not-a-folder"), "");
    ScopedEnv badFolder("KRB_SERIAL_LOG", dir_.file("not-a-folder"));
    auto unlogged = openSerialPort("COM4");
    ASSERT_NE(unlogged, nullptr);
    EXPECT_TRUE(unlogged->write("CR\r", 3));
}

TEST_F(SerialLogTest, NoLogWithoutTheVariable) {
    ScopedEnv off("KRB_SERIAL_LOG", std::nullopt);
    script({});
    auto port = openSerialPort("COM6");
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->write("CR\r", 3));
    EXPECT_FALSE(std::filesystem::exists(logDir_));
}

}  // namespace
}  // namespace krb::platform
