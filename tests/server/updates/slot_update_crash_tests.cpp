// A server killed at any rename of a slot update restarts with every cassette of the unit.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "update_lab.h"
#include "updates/SlotUpdate.h"

namespace {

// The rename at which the process kills itself (counted from 1); 0 never.
int killAtRename = 0;
int renamesSeen = 0;

}  // namespace

// Every rename of the process, the platform's atomic replacements included, passes here.
extern "C" int rename(const char* from, const char* to) {
    using Rename = int (*)(const char*, const char*);
    static const auto next = reinterpret_cast<Rename>(::dlsym(RTLD_NEXT, "rename"));
    if (killAtRename != 0 && ++renamesSeen == killAtRename) ::raise(SIGKILL);
    return next(from, to);
}

namespace krb::server::testing {
namespace {

// Runs `update` in a child killed at rename `at`; true when the kill happened.
template <class Update>
bool KilledAtRename(int at, Update update) {
    const pid_t child = ::fork();
    if (child == 0) {
        killAtRename = at;
        update();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

TEST(SlotUpdateCrash, AKillAtEveryRenameLeavesAUnitFileWithAllItsCassettes) {
    struct Case {
        const char* text;
        std::int32_t cassette1Levels;
        std::int32_t cassette1Pitch;
    };
    const Case cases[] = {
        {"UpdateSlotLevels(U1,1,5)\r", 5, 25},
        {"UpdateSlotLevels(U1,3,2)\r", 3, 25},
        {"UpdateSlotZPitch(U1,1,40)\r", 3, 40},
    };
    for (const auto& c : cases) {
        int at = 1;
        for (;; ++at) {
            SCOPED_TRACE(std::string(c.text) + " killed at rename " + std::to_string(at));
            UpdateLab lab;
            const bool killed = KilledAtRename(at, [&] {
                TKRBModifySlot slot(lab.Manager());
                std::string_view(c.text).starts_with("UpdateSlotZPitch")
                    ? slot.UpdateZPitch(c.text)
                    : slot.UpdateLevels(c.text);
            });
            UnitDirectory browser;
            TKRBManager restarted(FakeExports(), &browser);
            Fake().Reply("KRBConnect", {"1"});
            restarted.LoadSystems(lab.DriverConfig());
            const TKRBId& unit = *restarted.Lab().FindUnit("U1");
            ASSERT_EQ(unit.Cassettes.size(), 3u) << lab.UnitFile(1);
            const TKRBCassette& first = *unit.Cassettes[0];
            const bool before = first.Levels == 3 && first.ZPitch == 25;
            const bool after =
                first.Levels == c.cassette1Levels && first.ZPitch == c.cassette1Pitch;
            EXPECT_TRUE(before || after) << lab.UnitFile(1);
            if (!killed) {
                EXPECT_TRUE(after) << lab.UnitFile(1);
                break;
            }
        }
        EXPECT_GT(at, 1) << c.text << ": no rename was killed";
    }
}

}  // namespace
}  // namespace krb::server::testing
