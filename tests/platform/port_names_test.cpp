#include "platform/port_names.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace krb::platform {
namespace {

using test_support::ScopedEnv;
using test_support::TempDir;

TEST(ComPortNumber, AcceptsPlainAndDevicePathNames) {
    EXPECT_EQ(comPortNumber("COM1"), 1);
    EXPECT_EQ(comPortNumber("\\\\.\\COM12"), 12);
    EXPECT_EQ(comPortNumber("com7"), 7);
    EXPECT_EQ(comPortNumber("\\\\.\\cOm255"), 255);
}

TEST(ComPortNumber, RefusesEverythingElse) {
    for (const char* name :
         {"", "COM", "COM0", "COM256", "COM1000", "COM-1", "COM+1", "COM 1", "COM1 ", "COMx",
          "LPT1", "\\\\.\\", "\\\\?\\COM1", "\\COM1", "/dev/ttyS0", "COM99999999999999999999"}) {
        EXPECT_FALSE(comPortNumber(name).has_value()) << name;
    }
}

TEST(ResolvePortName, FallsBackToTtySWithoutPortFolder) {
    ScopedEnv env("KRB_PORT_DIR", std::nullopt);
    EXPECT_EQ(resolvePortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(resolvePortName("\\\\.\\COM12"), "/dev/ttyS11");
    EXPECT_EQ(resolvePortName("LPT1"), "");
}

TEST(ResolvePortName, FollowsEntriesOfThePortFolder) {
    TempDir dir;
    test_support::writeWholeFile(dir.file("device"), "");
    std::filesystem::create_symlink(dir.file("device"), dir.file("COM3"));
    std::filesystem::create_symlink(dir.file("nothing-here"), dir.file("COM4"));
    ScopedEnv env("KRB_PORT_DIR", dir.path().string());

    EXPECT_EQ(resolvePortName("COM3"), std::filesystem::canonical(dir.file("device")).string());
    EXPECT_EQ(resolvePortName("\\\\.\\COM3"), resolvePortName("COM3"));
    // A dangling entry must not fall back to a real port of the same number.
    EXPECT_EQ(resolvePortName("COM4"), dir.file("COM4"));
    // With a port folder a name means only what the folder holds, even without an entry.
    EXPECT_EQ(resolvePortName("COM5"), dir.file("COM5"));
}

TEST(ResolvePortTarget, IsTheAddressOfADeviceServerOrTheDevicePath) {
    TempDir dir;
    std::filesystem::create_symlink("/dev/null", dir.file("COM3"));  // a character device
    test_support::writeWholeFile(dir.file("COM6"), " rfc2217://127.0.0.1:4001 \n");
    test_support::writeWholeFile(dir.file("COM7"), "/dev/ttyS0\n");
    ScopedEnv env("KRB_PORT_DIR", dir.path().string());
    const struct {
        const char* name;
        std::string target;
    } cases[] = {
        {"COM3", "/dev/null"},
        {"COM6", "rfc2217://127.0.0.1:4001"},
        {"COM7", ""},  // a file that is no address leads nowhere, not to the path it names
        {"COM8", dir.file("COM8")},
        {"LPT1", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(resolvePortTarget(c.name), c.target) << c.name;
}

}  // namespace
}  // namespace krb::platform
