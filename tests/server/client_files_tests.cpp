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

}  // namespace
}  // namespace krb::server::testing
