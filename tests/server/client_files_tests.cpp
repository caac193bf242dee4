#include <gtest/gtest.h>

#include <filesystem>

#include "ClientFiles.h"
#include "fake_library.h"

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
