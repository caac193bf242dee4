// The barcode reader on its own port and relayed through the controller.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "BarcodeText.h"
#include "operation_support.h"
#include "platform/link_metrics.h"
#include "sim/line_channel.h"
#include "sim/network_bridge.h"

namespace krb::test {
namespace {

constexpr char kStx = 2;
constexpr char kEtx = 3;

// Answers "LON" with the current code (nothing when empty) and ignores "LOFF".
class FakeReader {
  public:
    explicit FakeReader(sim::PortDirectory& ports)
        : channel_(ports, 12, [this](const std::string& line) { return answer(line); }) {}
    void setCode(std::string code) {
        std::lock_guard guard(mutex_);
        code_ = std::move(code);
    }
    // A purge of the next reading would discard an unread "LOFF": tests wait for it first.
    Lines linesOnceThere(std::size_t count) const {
        channel_.waitForLines(count, std::chrono::seconds(5));
        return channel_.lines();
    }
    Lines lines() const { return channel_.lines(); }

  private:
    std::optional<std::string> answer(const std::string& line) {
        std::lock_guard guard(mutex_);
        if (line != "LON" || code_.empty()) return std::nullopt;
        return code_ + "\r\n";
    }

    std::mutex mutex_;
    std::string code_;
    sim::LineChannel channel_;
};

// Relays the given text to "ST 1712" or to the trigger "ST 1710".
class RelayingModel : public MotionModel {
  public:
    void relay(std::string onStart, std::string onTrigger) {
        std::lock_guard guard(mutex_);
        onStart_ = std::move(onStart);
        onTrigger_ = std::move(onTrigger);
    }
    std::optional<std::string> handle(const sim::Command& command,
                                      sim::RegisterStore& registers) override {
        {
            std::lock_guard guard(mutex_);
            if (command.raw == "ST 1712") return "OK" + onStart_;
            if (command.raw == "ST 1710" && !onTrigger_.empty()) return "OK" + onTrigger_;
        }
        return MotionModel::handle(command, registers);
    }

  private:
    std::mutex mutex_;
    std::string onStart_, onTrigger_;
};

class Barcode : public UnitOnEmulator {
  protected:
    void openReader() { ASSERT_EQ(unit->BCRPath("12"), "1"); }
    FakeReader reader{ports};
};

TEST_F(Barcode, ReaderPortOpensOnceByItsDevicePath) {
    EXPECT_EQ(unit->BCRPath("x"), "2");
    EXPECT_EQ(unit->BCRPath("13"), "0") << "no such port";
    EXPECT_FALSE(unit->readerOpen());
    EXPECT_EQ(unit->BCRPath("12"), "1");
    EXPECT_EQ(unit->readerPortName(), "\\\\.\\COM12");
    EXPECT_EQ(unit->BCRPath("12"), "3");
    unit->CloseBCRSerial();
    EXPECT_FALSE(unit->readerOpen());
    EXPECT_EQ(unit->BCRPath("12"), "1");
}

TEST_F(Barcode, TriggeredReadingGivesTheCodeAndNeverAStaleOne) {
    ScopedTimeScale slower(0.5);
    EXPECT_EQ(unit->ReadBCR(""), "BCRError");
    openReader();
    unit->markInitialized(false);
    EXPECT_EQ(unit->ReadBCR(""), "InitError");
    unit->markInitialized(true);
    reader.setCode("ABC123");
    EXPECT_EQ(unit->ReadBCR("abc"), "ABC123");
    EXPECT_EQ(reader.linesOnceThere(2), (Lines{"LON", "LOFF"}));
    reader.setCode("");
    EXPECT_EQ(unit->ReadBCR("50"), "No Barcode") << "the earlier code is not given again";
    EXPECT_EQ(reader.linesOnceThere(4), (Lines{"LON", "LOFF", "LON", "LOFF"}));
    EXPECT_TRUE(controller.lines().empty());
}

// The reader reached through a serial device server that can restart (a bridge to its pty).
class ReaderBehindDeviceServer : public Barcode {
  protected:
    void SetUp() override {
        Barcode::SetUp();
        unit->setRegistration(7, 1);
        const std::string entry = ports.entryPath(12);
        device_ = std::filesystem::read_symlink(entry).string();
        startServer(0);
        std::ofstream(entry + ".new") << server_->address() << "\n";
        std::filesystem::rename(entry + ".new", entry);
        openReader();
        reader.setCode("R0001");
    }
    void startServer(int port) {
        server_ = std::make_unique<sim::NetworkBridge>(device_, port, sim::BridgeMode::Raw);
    }
    void restartServer() {
        const int port = server_->port();
        server_.reset();
        startServer(port);
    }

    ScopedTimeScale slower{0.5};  // the bridge's latency is real
    std::string device_;
    std::unique_ptr<sim::NetworkBridge> server_;
};

TEST_F(ReaderBehindDeviceServer, ActivationReopensADeadReaderAndSaysSo) {
    ASSERT_EQ(unit->ReadBCR("200"), "R0001");
    restartServer();
    EXPECT_EQ(unit->BCRPath("12"), "1") << "a dead reader is reopened, not reported open";
    EXPECT_EQ(unit->ReadBCR("200"), "R0001");
    EXPECT_EQ(unit->BCRPath("12"), "3");

    const int port = server_->port();
    server_.reset();
    EXPECT_EQ(unit->BCRPath("12"), "0") << "the reader could not be reopened";
    startServer(port);
}

TEST_F(ReaderBehindDeviceServer, AFailedReadingIsNoEmptyLabelAndTheLineHeals) {
    const int port = server_->port();
    server_.reset();
    EXPECT_EQ(unit->ReadBCR("200"), barcode::kReaderFailed);
    EXPECT_EQ(unit->ReadReaderQuick(), barcode::kReaderFailed);
    EXPECT_TRUE(unit->readerDown());
    const auto line = platform::linkCounters().at(unit->readerPortName());
    EXPECT_TRUE(line.Down) << "the status surfaces see the reader gone";
    EXPECT_EQ(line.ReaderOfUnit, 7);
    EXPECT_EQ(unit->lastBarcode(), "") << "a failed reading leaves the last code alone";

    startServer(port);
    ASSERT_TRUE(eventually([&] { return !unit->readerDown(); }));
    EXPECT_FALSE(platform::linkCounters().at(unit->readerPortName()).Down);
    EXPECT_EQ(unit->ReadBCR("200"), "R0001");
}

TEST_F(Barcode, ConfigurationMismatchesAreRefused) {
    EXPECT_EQ(unit->ReadBarcode("1", "1"), "BCRError");
    unit->SetIsCompSv("1");
    EXPECT_EQ(unit->ReadBarcode("1", "1"), "TSET Error") << "relayed but no reader fitted";
    openReader();
    unit->SetIsBCR("1");
    EXPECT_EQ(unit->ReadBarcode("1", "1"), "TSET Error") << "own port and relayed at once";
    unit->SetIsCompSv("0");
    EXPECT_EQ(unit->ReadBarcode("1", "x"), "Error");
    unit->markInitialized(false);
    EXPECT_EQ(unit->ReadBarcode("1", "1"), "InitError");
    EXPECT_EQ(unit->GetIsBCR(), "1");
}

TEST_F(Barcode, ReadingAtASlotPositionsCorrectsTheHeightAndLeavesScanMode) {
    ScopedTimeScale slower(0.5);
    openReader();
    reader.setCode("P-0042");
    controller.registers().setDm(27, 100);
    controller.registers().setDm(6, 300);
    unit->SetUseCassetteConfTable(true);
    unit->setCassette(3, 0, 17);
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->ReadBarcode("3", "4"), "P-0042"); });
    EXPECT_EQ(lines, (Lines{"RD DM27", "ST 1910", "WR DM0 3", "WR DM23 17", "WR DM5 4", "RD 1915",
                            "RD DM6", "WR DM6 700", "RD 1915", "RS 1910"}));
    EXPECT_EQ(unit->lastBarcode(), "P-0042");

    controller.registers().setDm(27, 450);
    lines = linesAfter([&] { unit->ReadBarcode("3", "4"); });
    EXPECT_FALSE(contains(lines, "RD DM6")) << "an offset of 450 skips the correction";
}

TEST_F(Barcode, EmptySlotGivesNoPlateAndSilentReaderIsTriggeredOnce) {
    openReader();
    unit->SetPlateDetector("1");
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->ReadBarcode("3", "4"), "No Plate"); });
    EXPECT_EQ(lines.back(), "RS 1910");
    EXPECT_TRUE(reader.lines().empty());

    controller.registers().setRelay(1808, true);
    lines = linesAfter([&] { EXPECT_EQ(unit->ReadBarcode("3", "4"), "No Barcode"); });
    EXPECT_TRUE(contains(lines, "ST 1710"));
    EXPECT_EQ(lines.back(), "RS 1910");
    EXPECT_EQ(reader.linesOnceThere(2), (Lines{"LON", "LOFF"}));
}

TEST_F(Barcode, BusyUnitIsNotRead) {
    openReader();
    ASSERT_TRUE(unit->tryClaimBusy());
    EXPECT_EQ(unit->ReadBarcode("1", "1"), "Synchronization Error");
    unit->releaseBusy();
}

class RelayedBarcode : public UnitOnEmulator {
  protected:
    void SetUp() override {
        UnitOnEmulator::SetUp();
        controller.setModel(relay);
        unit->SetIsBCR("1");
        unit->SetIsCompSv("1");
    }
    std::shared_ptr<RelayingModel> relay = std::make_shared<RelayingModel>();
};

TEST_F(RelayedBarcode, CodeBetweenStartAndEndOfText) {
    relay->relay(std::string(1, kStx) + "12345" + kEtx, "");
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->ReadControllerBarcode(), "12345"); });
    EXPECT_EQ(lines, (Lines{"ST 1712", "ST 1713"}));
}

TEST_F(RelayedBarcode, SilentRelayIsTriggeredAndAnUnfinishedTextGivesNoCode) {
    relay->relay("", std::string(1, kStx) + "777" + kEtx);
    Lines lines = linesAfter([&] { EXPECT_EQ(unit->ReadControllerBarcode(), "777"); });
    EXPECT_EQ(lines, (Lines{"ST 1712", "ST 1710", "ST 1713"}));

    relay->relay("", std::string(1, kStx) + "777");
    EXPECT_EQ(unit->ReadControllerBarcode(), "");
    EXPECT_EQ(unit->ReadBarcode("2", "1"), "No Barcode");
    relay->relay("", "12" + std::string(1, kEtx));
    EXPECT_EQ(unit->ReadControllerBarcode(), "12") << "no start byte: all before the end";
}

// The controller's "OK" to "ST 1712" or "ST 1710" is never taken into a code.
TEST_F(RelayedBarcode, AcknowledgementsAreNoPartOfTheCode) {
    const std::string etx(1, kEtx);
    struct Case {
        std::string onStart, onTrigger, code, reading;
    };
    for (const Case& c : {Case{"ABC" + etx, "", "ABC", "ABC"}, Case{"OK7" + etx, "", "OK7", "OK7"},
                          Case{etx, "", "", "No Barcode"}, Case{"", etx, "", "No Barcode"}}) {
        SCOPED_TRACE(c.onStart + "|" + c.onTrigger);
        relay->relay(c.onStart, c.onTrigger);
        EXPECT_EQ(unit->ReadControllerBarcode(), c.code);
        EXPECT_EQ(unit->ReadBarcode("2", "1"), c.reading);
    }
}

TEST_F(RelayedBarcode, NoOtherCommandFallsBetweenTheSteps) {
    relay->relay("", std::string(1, kStx) + "9" + kEtx);
    std::atomic<bool> stop{false};
    std::thread hammer([&] {
        while (!stop) unit->ReadBackStr("RD DM1").outcomeNotNeeded();
    });
    for (int round = 0; round < 3; ++round) EXPECT_EQ(unit->ReadControllerBarcode(), "9");
    stop = true;
    hammer.join();
    bool inside = false;
    int sequences = 0;
    for (const auto& line : controller.lines()) {
        if (line == "ST 1712") {
            inside = true;
            ++sequences;
        }
        if (inside) {
            EXPECT_NE(line, "RD DM1");
        }
        if (line == "ST 1713") inside = false;
    }
    EXPECT_EQ(sequences, 3);
}

}  // namespace
}  // namespace krb::test
