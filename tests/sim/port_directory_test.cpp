#include "sim/port_directory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sim/controller_emulator.h"

namespace krb::sim {
namespace {

namespace fs = std::filesystem;

std::string environmentValue() {
    const char* value = std::getenv("KRB_PORT_DIR");
    return value ? value : "<unset>";
}

TEST(PortDirectory, TemporaryFolderLivesWithTheObjectAndSetsTheEnvironment) {
    const std::string before = environmentValue();
    std::string folder;
    {
        PortDirectory ports;
        folder = ports.path();
        EXPECT_TRUE(fs::is_directory(folder));
        EXPECT_EQ(environmentValue(), folder);
        ports.publish(2, "/dev/null");
        EXPECT_EQ(fs::read_symlink(ports.entryPath(2)), "/dev/null");
        EXPECT_EQ(fs::path(ports.entryPath(2)).filename(), "COM2");
    }
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(environmentValue(), before);
}

TEST(PortDirectory, GivenFolderIsCreatedAndKeptWithOthersEntries) {
    PortDirectory scratch;
    const std::string folder = scratch.path() + "/lab";
    {
        PortDirectory ports(folder);
        EXPECT_EQ(environmentValue(), folder);
        ports.publish(1, "/dev/null");
        std::ofstream(folder + "/COM9") << "someone else's";
        ports.unpublish(9);  // never published here: left alone
        EXPECT_TRUE(fs::exists(folder + "/COM9"));
    }
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder + "/COM1")));
    EXPECT_TRUE(fs::exists(folder + "/COM9"));
    fs::remove_all(folder);
}

TEST(PortDirectory, PublishReplacesAStaleEntry) {
    PortDirectory ports;
    fs::create_symlink("/nonexistent/device", ports.entryPath(5));
    ports.publish(5, "/dev/null");
    EXPECT_EQ(fs::read_symlink(ports.entryPath(5)), "/dev/null");
    EXPECT_THROW(ports.publish(0, "/dev/null"), std::invalid_argument);
}

TEST(PortDirectory, EmulatorPublishesWhileAliveOnly) {
    PortDirectory ports;
    {
        ControllerEmulator emulator(ports, 4);
        EXPECT_EQ(fs::read_symlink(ports.entryPath(4)), emulator.devicePath());
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(ports.entryPath(4))));
}

}  // namespace
}  // namespace krb::sim
