#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "fake_library.h"
#include "lab/ClientFiles.h"
#include "platform/profile_file.h"

namespace krb::server::testing {
namespace {

namespace fs = std::filesystem;

TEST(ClientFiles, NamesStayInsideTheirFolder) {
    TempFolder outside;
    TempFolder folder;
    const fs::path root = fs::canonical(folder.path());
    fs::create_directory(root / "sub");
    fs::create_directory_symlink(outside.path(), root / "out");
    fs::create_symlink(outside.path() / "x.inv", root / "link.inv");
    struct Case {
        std::string name;
        std::optional<fs::path> expected;
    };
    const std::vector<Case> cases{
        {"inv.txt", root / "inv.txt"},
        {"sub/inv.txt", root / "sub/inv.txt"},
        {"sub\\inv.txt", root / "sub/inv.txt"},
        {"sub/../inv.txt", root / "inv.txt"},
        {(root / "abs.inv").string(), root / "abs.inv"},
        {"", std::nullopt},
        {".", std::nullopt},
        {"..", std::nullopt},
        {"../inv.txt", std::nullopt},
        {"sub/../../inv.txt", std::nullopt},
        {"/etc/passwd", std::nullopt},
        {(outside.path() / "x.inv").string(), std::nullopt},
        {"out/x.inv", std::nullopt},
        {"link.inv", std::nullopt},
        {"C:\\data\\inv.txt", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto confined = ConfinedClientFile(c.name, folder.path().string());
        if (c.expected) {
            EXPECT_EQ(confined, c.expected->string()) << c.name;
        } else {
            EXPECT_EQ(confined, std::nullopt) << c.name;
        }
    }
}

TEST(ClientFiles, NamesOfTheServersOwnFilesAreRefusedWhateverTheirSpelling) {
    TempFolder folder;
    const fs::path root = fs::canonical(folder.path());
    TServerOwnedFiles owned;
    owned.Add(folder.File("DriverConfig.lni", "[paths]\r\n"));
    owned.Add(folder.File("lab/Unit1Contents.csv", ""));
    owned.Add((root / "server.log").string());  // not written yet
    fs::create_symlink(root / "DriverConfig.lni", root / "config-link");
    struct Case {
        std::string name;
        bool refused;
    };
    const std::vector<Case> cases{
        {"DriverConfig.lni", true},
        {"lab/../DriverConfig.lni", true},
        {"lab\\Unit1Contents.csv", true},
        {(root / "lab/Unit1Contents.csv").string(), true},
        {"config-link", true},
        {"server.log", true},
        {"lab/scan.csv", false},
        {"DriverConfig.lni.csv", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConfinedClientFile(c.name, root.string(), &owned) == std::nullopt, c.refused)
            << c.name;
    }
}

// The library's write goes through the handle opened at the check; links planted between the
// check and the write (seconds later) lead nowhere else.
TEST(ClientFiles, AWriteThroughTheHandleFollowsNoLinkPlantedAfterTheCheck) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& root, const fs::path& outside)> plant;
        const char* written;  // where the scan must land, inside the folder as it was checked
    };
    const std::vector<Case> cases{
        {"inv.txt",
         [](const fs::path& root, const fs::path& outside) {
             fs::create_symlink(outside / "victim", root / "inv.txt");
         },
         "inv.txt"},
        {"sub/inv.txt",
         [](const fs::path& root, const fs::path& outside) {
             fs::rename(root / "sub", root / "moved");
             fs::create_directory_symlink(outside, root / "sub");
         },
         "moved/inv.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder outside;
        TempFolder folder;
        const fs::path root = fs::canonical(folder.path());
        fs::create_directory(root / "sub");
        outside.File("victim", "precious");
        const auto confined = ConfinedClientFile(c.name, root.string());
        ASSERT_TRUE(confined);
        auto handle = TClientFileHandle::Open(*confined);
        ASSERT_TRUE(handle);
        c.plant(root, outside.path());
        EXPECT_TRUE(platform::replaceFileWithoutFollowing(handle->WritePath(), "scan\r\n"));
        EXPECT_EQ(outside.Read("victim"), "precious");
        EXPECT_FALSE(fs::exists(outside.path() / "inv.txt"));
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(root / c.written)));
        EXPECT_EQ(folder.Read(c.written), "scan\r\n");
    }
}

TEST(ClientFiles, AFolderSwappedBeforeItIsOpenedIsRefused) {
    TempFolder outside;
    TempFolder folder;
    const fs::path root = fs::canonical(folder.path());
    fs::create_directory(root / "sub");
    const auto confined = ConfinedClientFile("sub/inv.txt", root.string());
    ASSERT_TRUE(confined);
    fs::rename(root / "sub", root / "moved");
    fs::create_directory_symlink(outside.path(), root / "sub");
    EXPECT_FALSE(TClientFileHandle::Open(*confined));
}

TEST(ClientFiles, TheFolderIsCreatedWhenFirstNeeded) {
    TempFolder folder;
    const fs::path clientFolder = folder.path() / "ClientFiles/inner";
    EXPECT_TRUE(EnsureClientFolder(clientFolder.string()));
    EXPECT_TRUE(fs::is_directory(clientFolder));
    EXPECT_TRUE(EnsureClientFolder(clientFolder.string()));
    folder.File("plain", "");
    EXPECT_FALSE(EnsureClientFolder((folder.path() / "plain/sub").string()));
}

}  // namespace
}  // namespace krb::server::testing
