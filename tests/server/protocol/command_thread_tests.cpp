// The unit command table, argument splitting and routing, against a stand-in library.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <system_error>

#include "fake_library.h"
#include "lab/Unit.h"
#include "protocol/ClientLink.h"
#include "protocol/CommandReference.h"
#include "protocol/CommandRefusals.h"
#include "protocol/CommandRouting.h"
#include "protocol/CommandWorkers.h"
#include "protocol/FailureLog.h"
#include "protocol/UnitCommandThread.h"
#include "recording_link.h"
#include "recording_sink.h"

namespace krb::server {
namespace {

using testing::Fake;
using testing::FakeExports;
using testing::RecordingLink;
using testing::RecordingSink;
namespace fs = std::filesystem;

class UnitCommandTest : public ::testing::Test {
  protected:
    UnitCommandTest() : dll_(FakeExports()) {
        Fake().Reset();
        for (auto [id, port] : {std::pair{"U", 3}, std::pair{"7", 7}, std::pair{"B", 2}}) {
            units_.push_back(std::make_unique<TKRBId>(id, port, "Sys", "", dll_));
            units_.back()->TcpBrowser = &browser_;
            browser_.AddUnit(units_.back().get());
        }
    }
    ~UnitCommandTest() override { TTHRUnitCommand::WaitForRunningCommands(); }

    TKRBId& Unit() { return *units_.front(); }
    std::string Reply(const std::string& command) {
        return TTHRUnitCommand::Reply(Unit(), command);
    }

    TKRBDLL dll_;
    TKRBTCPBrowser browser_;
    std::vector<std::unique_ptr<TKRBId>> units_;
};

TEST(CommandFieldsTest, SplitsFieldsAfterTheUnitIdAndTheLastTakesTheRest) {
    const std::vector<FieldKind> shape{FieldKind::Text, FieldKind::Text};
    const TCommandFields fields("KRB2X(U,a,b,c)\r", shape);
    EXPECT_EQ(fields.Text(0), "a");
    EXPECT_EQ(fields.Text(1), "b,c");
}

TEST(CommandFieldsTest, ArgumentListEndsAtTheFirstClosingParenthesis) {
    EXPECT_EQ(ArgumentList("KRB2X(U,a)b)\r"), "U,a");
    EXPECT_EQ(ArgumentList("KRB2X(U,a\r"), "");   // no ")"
    EXPECT_EQ(ArgumentList("KRB2X)U,a(\r"), "");  // ")" before "("
    EXPECT_EQ(ArgumentList("U,a)\r"), "U,a");     // no "(": from the start
}

TEST(CommandFieldsTest, MissingOrMalformedIntegersAreRefused) {
    const std::vector<FieldKind> two{FieldKind::Integer, FieldKind::Integer};
    EXPECT_THROW(TCommandFields("KRB2X(U,5)", two), TCommandArgumentError);
    EXPECT_THROW(TCommandFields("KRB2X(U)", two), TCommandArgumentError);
    EXPECT_THROW(TCommandFields("KRB2X(U,5,x)", two), TCommandArgumentError);
    EXPECT_THROW(TCommandFields("KRB2X(U,5, 6)", two), TCommandArgumentError);
    EXPECT_THROW(TCommandFields("KRB2X(U,5,99999999999)", two), TCommandArgumentError);
    EXPECT_THROW(TCommandFields("KRB2X(U,5,6,7)", two), TCommandArgumentError);  // "6,7"
    const TCommandFields fields("KRB2X(U,-5,+6)", two);
    EXPECT_EQ(fields.Integer(0), -5);
    EXPECT_EQ(fields.Integer(1), 6);
}

TEST(CommandFieldsTest, FlagsAreOnOnlyForOneAndMissingTextIsEmpty) {
    const std::vector<FieldKind> shape{FieldKind::Text, FieldKind::Flag, FieldKind::Flag};
    const TCommandFields fields("KRB2X(U,file,1)", shape);
    EXPECT_EQ(fields.Text(0), "file");
    EXPECT_TRUE(fields.Flag(1));
    EXPECT_FALSE(fields.Flag(2));
    const TCommandFields other("KRB2X(U,file,01,true)", shape);
    EXPECT_FALSE(other.Flag(1));
    EXPECT_FALSE(other.Flag(2));
}

TEST(CommandTableTest, HasFortyRowsAndLongerNamesComeBeforeTheirPrefixes) {
    const auto& table = UnitCommandTable();
    ASSERT_EQ(table.size(), 40u);
    for (std::size_t i = 0; i < table.size(); ++i) {
        for (std::size_t j = i + 1; j < table.size(); ++j) {
            EXPECT_FALSE(table[j].Name.starts_with(table[i].Name))
                << table[j].Name << " is shadowed by " << table[i].Name;
        }
    }
    EXPECT_EQ(FindUnitCommandRow("KRB2ActivateShaker(U,1)")->Name, "KRB2ActivateShaker");
    EXPECT_EQ(FindUnitCommandRow("KRB2Activate(U)")->Name, "KRB2Activate");
    EXPECT_EQ(FindUnitCommandRow("KRB2InventoryPlateExp(U,f,1,1)")->Name, "KRB2InventoryPlateExp");
    EXPECT_EQ(FindUnitCommandRow("KRB2PartitionInventory(U,f,p,1,1)")->Name,
              "KRB2PartitionInventory");
    EXPECT_EQ(FindUnitCommandRow("krb2Activate(U)"), nullptr);
}

TEST_F(UnitCommandTest, DeactivateAndDeactivateShakerSelectTheirOwnRows) {
    Unit().Activated = true;
    EXPECT_EQ(Reply("KRB2DeactivateShaker(U)\r"), "");
    EXPECT_EQ(Fake().CallNames(), std::vector<std::string>{"KRB2DeactivateShaker"});
    EXPECT_TRUE(Unit().Activated);
    Fake().Reset();
    EXPECT_EQ(Reply("KRB2Deactivate(U)\r"), "");
    EXPECT_EQ(Fake().CallNames(), std::vector<std::string>{"KRB2Deactivate"});
    EXPECT_FALSE(Unit().Activated);
}

TEST_F(UnitCommandTest, ActivateShakerNeverActivates) {
    EXPECT_EQ(Reply("KRB2ActivateShaker(U,250)\r"), "");
    EXPECT_EQ(Fake().CallNames(), std::vector<std::string>{"KRB2ActivateShaker"});
    EXPECT_EQ(Fake().ArgsOf("KRB2ActivateShaker"), (std::vector<std::string>{"3", "250"}));
    EXPECT_EQ(Reply("KRB2ActivateShaker(U,250,300)\r"), "E3");
    EXPECT_EQ(Fake().Count("KRB2ActivateShaker"), 1);
}

TEST_F(UnitCommandTest, RepliesCarryTheOperationsResults) {
    Fake().Reply("KRBReadReadyFlag", {"1"});
    Fake().Reply("KRBReadBackStr", {"00042"});
    Fake().Reply("KRBSwap", {"0"});
    EXPECT_EQ(Reply("KRB2ReadReadyFlag(U)\r"), "1");
    EXPECT_EQ(Reply("KRB2Lock(U)\r"), "");
    EXPECT_EQ(Reply("KRB2ReadBackStr(U,RD DM25)\r"), "00042");
    EXPECT_EQ(Fake().ArgsOf("KRBReadBackStr"), (std::vector<std::string>{"3", "RD DM25"}));
    EXPECT_EQ(Reply("KRB2SwapIn(U)\r"), "-1");
    EXPECT_EQ(Reply("KRB2NoSuchCommand(U)\r"), "E1");
}

TEST_F(UnitCommandTest, ArgumentsReachTheLibraryInOrder) {
    testing::TempFolder clientFiles;
    Unit().ClientFileFolder = clientFiles.path().string();
    const std::string inventory = (fs::canonical(clientFiles.path()) / "inv.txt").string();
    Reply("KRB2WriteSetClimate(U,37.0,90,5.0,0)\r");
    EXPECT_EQ(Fake().ArgsOf("KRB2WriteSetClimate"),
              (std::vector<std::string>{"3", "37.0", "90", "5.0", "0"}));
    Reply("KRB2DefineSector(U,1,5,Top,left)\r");
    EXPECT_EQ(Fake().ArgsOf("KRB2DefineSector"),
              (std::vector<std::string>{"3", "1", "5", "Top,left"}));
    // The library writes through the folder's handle, which leads to the checked folder.
    auto throughHandle = [](std::vector<std::string> args) {
        const fs::path written(args.at(1));
        args[1] = (fs::read_symlink(written.parent_path()) / written.filename()).string();
        return args;
    };
    Fake().Reply("KRB2Inventory", {"1"});
    Fake().Reply("KRB2PartitionInventory", {"1"});
    Reply("KRB2Inventory(U,inv.txt,1,0)\r");
    EXPECT_EQ(throughHandle(Fake().ArgsOf("KRB2Inventory")),
              (std::vector<std::string>{"3", inventory, "1", "0"}));
    Reply("KRB2PartitionInventory(U,inv.txt,Top,0,1)\r");
    EXPECT_EQ(throughHandle(Fake().ArgsOf("KRB2PartitionInventory")),
              (std::vector<std::string>{"3", inventory, "Top", "0", "1"}));
    Reply("KRB2ServiceMovePlate(3,1,2,3,4,5,6,7,8,9,10,11)");
    EXPECT_EQ(
        Fake().ArgsOf("KRB2ServiceMovePlate"),
        (std::vector<std::string>{"3", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"}));
}

TEST_F(UnitCommandTest, ScanFilesOutsideTheClientFileFolderAreRefusedBeforeTheLibrary) {
    testing::TempFolder clientFiles;
    Unit().ClientFileFolder = clientFiles.path().string();
    EXPECT_EQ(Reply("KRB2Inventory(U,/etc/passwd,1,0)\r"), "-1");
    EXPECT_EQ(Reply("KRB2PartitionInventory(U,../inv.txt,Top,0,1)\r"), "-1");
    EXPECT_EQ(Fake().Count("KRB2Inventory") + Fake().Count("KRB2PartitionInventory"), 0);
}

TEST_F(UnitCommandTest, MissingOrNonNumericIntegersAnswerE3WithoutCallingTheUnit) {
    EXPECT_EQ(Reply("KRB2ServiceReadBarcode(U,5)\r"), "E3");
    EXPECT_EQ(Reply("KRB2ManualAccess(U,x)\r"), "E3");
    EXPECT_EQ(Reply("KRB2ServiceMovePlate(3,1,2,3,4,5,6,7,8,9,10,11,12)"), "E3");
    EXPECT_EQ(Reply("KRB2DefineSector(U,1)\r"), "E3");
    EXPECT_TRUE(Fake().Calls().empty());
}

TEST_F(UnitCommandTest, TransferStationPositionAcceptsOnlyZeroOneTwo) {
    EXPECT_EQ(Reply("KRB2TransferStPosition(U,1)\r"), "");
    EXPECT_EQ(Fake().ArgsOf("KRBReadBackStr"), (std::vector<std::string>{"3", "WR DM1778 79"}));
    Fake().Reset();
    EXPECT_EQ(Reply("KRB2TransferStPosition(U,3)\r"), "E1");
    EXPECT_EQ(Reply("KRB2TransferStPosition(U,01)\r"), "E1");
    EXPECT_TRUE(Fake().Calls().empty());
}

TEST_F(UnitCommandTest, AFailingOperationAnswersE3) {
    Unit().ContentsFile.clear();  // nothing to clear: the operation reports -1, no error
    EXPECT_EQ(Reply("KRB2ClearHistory(U)\r"), "-1");
    Fake().OnCall([](const testing::RecordedCall&) { throw std::runtime_error("library"); });
    EXPECT_EQ(Reply("KRB2Lock(U)\r"), "E3");
}

TEST(UnitIdOfCommandTest, TakesTheTextUpToTheFirstCommaOrClosingParenthesis) {
    EXPECT_EQ(UnitIdOfCommand("KRB2ReadReadyFlag(7)\r"), "7");
    EXPECT_EQ(UnitIdOfCommand("KRB2X(U1,2,3)\r"), "U1");
    EXPECT_EQ(UnitIdOfCommand("KRB2X(U1)\r,"), "U1)\r");  // any "," in the text counts
    EXPECT_EQ(UnitIdOfCommand("KRB2X(U1\r"), "");
    EXPECT_EQ(UnitIdOfCommand("KRB2X,(U1)\r"), "");
    EXPECT_EQ(UnitIdOfCommand("KRB2XU1)\r"), "KRB2XU1");
}

TEST_F(UnitCommandTest, RouteAnswersE2ForAnUnknownUnitWithoutAThread) {
    auto link = std::make_shared<RecordingLink>();
    browser_.RouteCommand(link, "KRB2ReadReadyFlag(9)\r");
    browser_.RouteCommand(link, "KRB2ReadReadyFlag(07)\r");
    browser_.RouteCommand(link, "KRB2ReadReadyFlag(u)\r");
    EXPECT_EQ(link->Sent(), (std::vector<std::string>(3, "E2\r\n")));
    EXPECT_EQ(TTHRUnitCommand::RunningCommands(), 0u);
    EXPECT_TRUE(Fake().Calls().empty());
}

TEST_F(UnitCommandTest, RoutedCommandRepliesFromItsThread) {
    Fake().Reply("KRBReadReadyFlag", {"0"});
    auto link = std::make_shared<RecordingLink>();
    browser_.RouteCommand(link, "KRB2ReadReadyFlag(7)\r");
    EXPECT_EQ(link->WaitForReply(), "0\r\n");
    EXPECT_EQ(Fake().ArgsOf("KRBReadReadyFlag"), std::vector<std::string>{"7"});
    EXPECT_TRUE(link->Sent().empty());
}

TEST_F(UnitCommandTest, ACommandThreadThatCannotBeCreatedAnswersE3) {
    const std::function<void()> failures[] = {
        [] {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        },
        [] { throw std::bad_alloc(); },
    };
    for (const auto& fail : failures) {
        std::vector<std::string> logged;
        SetResourceFailureSink(
            [&](const std::string& where, const std::string&) { logged.push_back(where); });
        TTHRUnitCommand::SetThreadStarter([&](std::function<void()>) { fail(); });
        auto link = std::make_shared<RecordingLink>();
        browser_.RouteCommand(link, "KRB2ReadReadyFlag(U)\r");
        TTHRUnitCommand::SetThreadStarter({});
        SetResourceFailureSink({});
        EXPECT_EQ(link->Sent(), std::vector<std::string>{"E3\r\n"});
        EXPECT_EQ(logged, std::vector<std::string>{"command thread"});
        EXPECT_EQ(TTHRUnitCommand::RunningCommands(), 0u);
        EXPECT_TRUE(Fake().Calls().empty());
    }
}

// A link whose first reply cannot be posted for want of memory.
class OutOfMemoryOnceLink : public RecordingLink {
  public:
    void PostReply(std::string text) override {
        if (!failed_.exchange(true)) throw std::bad_alloc();
        RecordingLink::PostReply(std::move(text));
    }

  private:
    std::atomic<bool> failed_{false};
};

TEST_F(UnitCommandTest, ACommandThreadOutOfMemoryAnswersE3AndEnds) {
    std::vector<std::string> logged;
    SetResourceFailureSink(
        [&](const std::string& where, const std::string&) { logged.push_back(where); });
    TTHRUnitCommand::SetThreadStarter([](std::function<void()> body) { body(); });
    auto link = std::make_shared<OutOfMemoryOnceLink>();
    browser_.RouteCommand(link, "KRB2ReadReadyFlag(U)\r");
    TTHRUnitCommand::SetThreadStarter({});
    SetResourceFailureSink({});
    EXPECT_EQ(link->WaitForReply(), "E3\r\n");
    EXPECT_EQ(logged, std::vector<std::string>{"command thread"});
    EXPECT_EQ(TTHRUnitCommand::RunningCommands(), 0u);
}

// Commands beyond the bound on workers are answered "E3" at once; the running ones go on.
TEST_F(UnitCommandTest, ACommandBeyondTheBoundOnWorkersAnswersE3) {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    Fake().OnCall([&](const testing::RecordedCall&) {
        std::unique_lock lock(mutex);
        opened.wait(lock, [&] { return open; });
    });
    const std::size_t bound = TCommandWorkersOptions{}.MaxWorkers;
    auto held = std::make_shared<RecordingLink>();
    for (std::size_t i = 0; i < bound; ++i) {
        browser_.RouteCommand(held, "KRB2IsOperationRunning(U)\r");
    }
    auto refused = std::make_shared<RecordingLink>();
    browser_.RouteCommand(refused, "KRB2IsOperationRunning(U)\r");
    EXPECT_EQ(refused->Sent(), std::vector<std::string>{"E3\r\n"});
    EXPECT_TRUE(held->Sent().empty());
    EXPECT_EQ(TTHRUnitCommand::RunningCommands(), bound);
    {
        std::lock_guard lock(mutex);
        open = true;
    }
    opened.notify_all();
    TTHRUnitCommand::WaitForRunningCommands();
    EXPECT_EQ(Fake().Count("KRBIsOperationRunning"), static_cast<int>(bound));
}

TEST(CommandTableTest, EveryRowNamesTheLockItTakes) {
    for (const auto& row : UnitCommandTable()) {
        const std::string_view lock = UnitCommandLock(row.Name);
        EXPECT_TRUE(lock == "device" || lock == "operation" || lock == "none") << row.Name;
    }
    EXPECT_TRUE(TTHRUnitCommand::TakesUnitLock("KRB2ReadReadyFlag(U)\r"));
    EXPECT_TRUE(TTHRUnitCommand::TakesUnitLock("KRB2ServiceMovePlate(U,1)\r"));
    EXPECT_FALSE(TTHRUnitCommand::TakesUnitLock("KRB2IsOperationRunning(U)\r"));
    EXPECT_FALSE(TTHRUnitCommand::TakesUnitLock("KRB2NoSuchCommand(U)\r"));
}

// A flood of locking commands to one unit, all waiting behind its first: the unit keeps its
// bound, and other units and lock-free commands still get workers.
TEST_F(UnitCommandTest, AFloodToOneUnitLeavesWorkersForOtherUnitsAndLockFreeCommands) {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    Fake().OnCall([&](const testing::RecordedCall& call) {
        if (call.name != "KRBReadReadyFlag" || call.args.front() != "3") return;
        std::unique_lock lock(mutex);
        opened.wait(lock, [&] { return open; });
    });
    const std::size_t bound = TTHRUnitCommand::kMaxLockingCommandsPerUnit;
    const std::size_t flood = TCommandWorkersOptions{}.MaxWorkers + 50;
    auto flooding = std::make_shared<RecordingLink>();
    std::size_t refused = 0;
    for (std::size_t i = 0; i < flood; ++i) {
        std::string unitId;
        const auto start = browser_.RouteCommand(flooding, "KRB2ReadReadyFlag(U)\r", &unitId);
        if (start == TCommandStart::UnitAtBound) ++refused;
        EXPECT_EQ(unitId, "U");
    }
    EXPECT_EQ(refused, flood - bound);
    EXPECT_EQ(flooding->Sent(), std::vector<std::string>(flood - bound, "E3\r\n"));

    Fake().Reply("KRBReadReadyFlag", {"1"});
    auto other = std::make_shared<RecordingLink>();
    EXPECT_EQ(browser_.RouteCommand(other, "KRB2ReadReadyFlag(7)\r"), TCommandStart::Started);
    EXPECT_EQ(other->WaitForReply(), "1\r\n");
    auto lockFree = std::make_shared<RecordingLink>();
    EXPECT_EQ(browser_.RouteCommand(lockFree, "KRB2IsOperationRunning(U)\r"),
              TCommandStart::Started);
    EXPECT_TRUE(lockFree->Sent().empty());
    {
        std::lock_guard lock(mutex);
        open = true;
    }
    opened.notify_all();
    TTHRUnitCommand::WaitForRunningCommands();
    EXPECT_EQ(Fake().Count("KRBReadReadyFlag"), static_cast<int>(bound) + 1);
    EXPECT_EQ(Fake().Count("KRBIsOperationRunning"), 1);
    // Places come back as commands end.
    auto later = std::make_shared<RecordingLink>();
    EXPECT_EQ(browser_.RouteCommand(later, "KRB2ReadReadyFlag(U)\r"), TCommandStart::Started);
}

TEST(CommandRefusalsTest, SummarisesRefusalsPerUnitAndStartsAfreshAfterEachSummary) {
    CommandRefusals refusals;
    EXPECT_EQ(refusals.TakeSummary(), std::nullopt);
    EXPECT_TRUE(refusals.Count("Store4", TCommandStart::UnitAtBound));
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(refusals.Count("Store4", TCommandStart::UnitAtBound));
    EXPECT_FALSE(refusals.Count("Store4", TCommandStart::NoWorker));
    EXPECT_FALSE(refusals.Count("Base1", TCommandStart::NoWorker));
    EXPECT_EQ(refusals.TakeSummary(),
              "7 commands answered E3: Base1 1 no worker; Store4 5 at its bound, 1 no worker");
    EXPECT_EQ(refusals.TakeSummary(), std::nullopt);
    EXPECT_TRUE(refusals.Count("Ext1", TCommandStart::UnitAtBound));
    EXPECT_EQ(refusals.TakeSummary(), "1 commands answered E3: Ext1 1 at its bound");
}

TEST_F(UnitCommandTest, ServiceMoveNamesUnitsByTheirPorts) {
    EXPECT_EQ(browser_.RewriteServiceMove("KRB2ServiceMovePlate(U,1,2,3,4,5,B,7,8,9,10,11)\r"),
              "KRB2ServiceMovePlate(3,1,2,3,4,5,2,7,8,9,10,11)");
    EXPECT_EQ(browser_.RewriteServiceMove("KRB2ServiceMovePlate(U,1,2,3,4,5,X,7,8,9,10,11)\r"),
              "KRB2ServiceMovePlate(3,1,2,3,4,5,0,7,8,9,10,11)");
    EXPECT_EQ(browser_.RewriteServiceMove("KRB2ServiceMovePlate(U,1,2,3,4,5,B,7,8,9,10,11,12)"),
              "KRB2ServiceMovePlate(3,1,2,3,4,5,2,7,8,9,10,11,12)");
    EXPECT_EQ(browser_.RewriteServiceMove("KRB2ServiceMovePlate(U,1,2)\r"),
              "KRB2ServiceMovePlate(3,1,2)");
}

TEST_F(UnitCommandTest, ServiceMoveReachesTheLibraryWithPortsAndRepliesWithUnitIds) {
    Fake().Reply("KRB2ServiceMovePlate", {"23"});
    auto link = std::make_shared<RecordingLink>();
    browser_.RouteCommand(link, "KRB2ServiceMovePlate(U,1,2,3,4,5,B,7,8,9,10,11)\r");
    EXPECT_EQ(link->WaitForReply(), "-B;3\r\n");
    EXPECT_EQ(Fake().ArgsOf("KRB2ServiceMovePlate")[6], "2");
}

// The trail keeps what a client made a unit do, with the client, the arguments as sent and
// the reply, before the reply goes out; reads of states, flags and detectors are not kept.
TEST_F(UnitCommandTest, CommandsThatActAreRecordedAndReadsAreNot) {
    Fake().Reply("KRB2ServiceMovePlate", {"23"});
    Fake().Reply("KRBReadBackStr", {"00042"});
    Fake().Reply("KRBReadReadyFlag", {"1"});
    const struct {
        std::string text;
        std::string command;  // "" when not recorded
        std::string arguments;
        std::string reply;
    } cases[] = {
        {"KRB2ServiceMovePlate(U,1,2,3,4,5,B,7,8,9,10,11)\r", "KRB2ServiceMovePlate",
         "1,2,3,4,5,B,7,8,9,10,11", "-B;3"},
        {"KRB2ReadBackStr(U,WR DM25 1)\r", "KRB2ReadBackStr", "WR DM25 1", "00042"},
        {"KRB2ClearHistory(U)\r", "KRB2ClearHistory", "", "-1"},
        {"KRB2ReadReadyFlag(U)\r", "", "", ""},
        {"KRB2GetSysStatus(U)\r", "", "", ""},
        {"KRB2ServiceIsPlateAtLocation(U,1,1)\r", "", "", ""},
    };
    for (const auto& c : cases) {
        RecordingSink sink;
        auto link = std::make_shared<RecordingLink>();
        browser_.RouteCommand(link, c.text);
        link->WaitForReply();
        const auto commands = sink.Commands();
        if (c.command.empty()) {
            EXPECT_TRUE(commands.empty()) << c.text;
            continue;
        }
        ASSERT_EQ(commands.size(), 1u) << c.text;
        const auto& origin = commands[0].Origin;
        EXPECT_EQ(origin.Door, history::Interface::Text);
        EXPECT_EQ(origin.Client, "test:0");
        EXPECT_EQ(origin.UnitId, "U");
        EXPECT_EQ(origin.Command, c.command);
        EXPECT_EQ(origin.Arguments, c.arguments);
        EXPECT_EQ(commands[0].Reply, c.reply);
        EXPECT_NE(origin.Id, 0u);
    }
}

}  // namespace
}  // namespace krb::server
