// KRBServer killed with SIGKILL in the middle of contents rewrites, then started again: the
// file is always the old or the new version, every update answered "1" is in it, and no
// temporary file survives the restart.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "frontend_support.h"
#include "lab/ContentsFile.h"
#include "server_process.h"

namespace krb::server::frontend_testing {
namespace {

namespace fs = std::filesystem;

constexpr int kKills = 30;
constexpr int kLocations = 6;  // cassettes 1 and 2, three levels each

std::vector<std::string> InitialContents() {
    std::vector<std::string> lines;
    for (int slot = 1; slot <= kLocations; ++slot) {
        lines.push_back(std::to_string(slot) + "," + std::to_string((slot - 1) / 3 + 1) + "," +
                        std::to_string((slot - 1) % 3 + 1) + ",0,,Location " +
                        std::to_string(slot) + ",,,,");
    }
    return lines;
}

std::size_t TemporariesIn(const fs::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find(".tmp") != std::string::npos) ++count;
    return count;
}

// Location names in file order; nullopt when the file is not a whole contents file.
std::optional<std::vector<std::string>> NamesOnDisk(const fs::path& file) {
    auto lines = LoadTextLines(file.string());
    if (!lines || lines->size() != kLocations) return std::nullopt;
    std::vector<std::string> names;
    for (const auto& line : *lines) names.push_back(SplitContentsLine(line)[kUserIdField]);
    return names;
}

struct Update {
    int location;
    std::string name;
};

// One client after the other renames locations until the server goes away. Every update
// answered "1" is confirmed; the one without an answer may or may not have happened.
class RenamingClient {
  public:
    RenamingClient(int port, int round) : port_(port), round_(round) {}

    void Run(std::vector<std::string>& confirmed, std::optional<Update>& unanswered) {
        for (int i = 0;; ++i) {
            const Update update{i % kLocations + 1,
                                "R" + std::to_string(round_) + "-" + std::to_string(i)};
            unanswered = update;
            std::string reply;
            try {
                TestClient client(port_);
                client.Send("UpdatePlateName(U1," + std::to_string(update.location) + "," +
                            update.name + ")\r");
                reply = client.ReadLine();
            } catch (const std::exception&) {
                return;
            }
            if (reply != "1\r\n") return;
            confirmed[update.location - 1] = update.name;
            unanswered.reset();
            ++answered_;
        }
    }

    int Answered() const { return answered_; }

  private:
    int port_;
    int round_;
    int answered_ = 0;
};

TEST(CrashRestart, KilledDuringRewritesTheContentsFileIsOldOrNewAndNoTemporaryRemains) {
    EmulatedLab lab;
    const fs::path contents = lab.Root() / "lab" / "System1" / "U1.txt";
    ASSERT_TRUE(SaveTextLines(contents.string(), InitialContents()));
    std::vector<std::string> confirmed;
    for (int slot = 1; slot <= kLocations; ++slot)
        confirmed.push_back("Location " + std::to_string(slot));
    std::optional<Update> unanswered;

    std::mt19937 random(14);
    std::size_t temporariesLeft = 0;
    int updatesConfirmed = 0;
    const int port = FreeLoopbackPort();
    for (int kill = 0; kill <= kKills; ++kill) {
        ServerProcess server(lab.ConfigPath(), port);
        ASSERT_TRUE(server.Listening()) << "restart " << kill;
        ASSERT_EQ(TemporariesIn(contents.parent_path()), 0u) << "after restart " << kill;
        const auto names = NamesOnDisk(contents);
        ASSERT_TRUE(names) << "torn file after kill " << kill;
        for (int i = 0; i < kLocations; ++i) {
            const bool old = (*names)[i] == confirmed[i];
            const bool updated =
                unanswered && unanswered->location == i + 1 && (*names)[i] == unanswered->name;
            ASSERT_TRUE(old || updated) << "location " << i + 1 << " reads " << (*names)[i];
            confirmed[i] = (*names)[i];
        }
        unanswered.reset();
        if (kill == kKills) break;

        RenamingClient client(server.Port(), kill);
        std::thread renaming([&] { client.Run(confirmed, unanswered); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 60));
        server.Kill();
        renaming.join();
        updatesConfirmed += client.Answered();
        temporariesLeft += TemporariesIn(contents.parent_path());
    }
    std::printf(
        "[ counts   ] %d kills, %d updates answered 1, %zu temporary files "
        "left by the kills and removed at restart\n",
        kKills, updatesConfirmed, temporariesLeft);
}

}  // namespace
}  // namespace krb::server::frontend_testing
