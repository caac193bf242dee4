#include "platform/profile_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace krb::platform {
namespace {

using test_support::readWholeFile;
using test_support::TempDir;
using test_support::writeWholeFile;
using Lines = std::vector<std::string>;

template <std::size_t N>
std::string bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

class ProfileFileTest : public ::testing::Test {
  protected:
    ProfileFile fileWith(const std::string& content) {
        writeWholeFile(path_, content);
        return ProfileFile(path_);
    }

    TempDir dir_;
    std::string path_ = dir_.file("Unit.lni");
};

TEST_F(ProfileFileTest, NamesMatchWithoutCaseAndValuesAreTrimmed) {
    auto ini = fileWith("[Unit]\r\nComPort = 3 \r\n\tUnitId=\tIncubator A\t\r\nEmpty=\r\n");
    EXPECT_EQ(ini.readString("UNIT", "comport"), "3");
    EXPECT_EQ(ini.readString("unit", "UNITID"), "Incubator A");
    EXPECT_EQ(ini.findString("Unit", "Empty"), "");
    EXPECT_EQ(ini.findString("Unit", "Missing"), std::nullopt);
    EXPECT_EQ(ini.findString("Other", "ComPort"), std::nullopt);
    EXPECT_EQ(ini.readString("Unit", "Missing", "7"), "7");
}

TEST_F(ProfileFileTest, OneOuterPairOfMatchingQuotesIsStripped) {
    auto ini = fileWith(
        "[Q]\na=\"C:\\Lab\\x.lni\"\nb='single'\nc=\"mixed'\nd=\"\"inner\"\"\ne=\"\nf= \" padded \" "
        "\n");
    EXPECT_EQ(ini.readString("Q", "a"), "C:\\Lab\\x.lni");
    EXPECT_EQ(ini.readString("Q", "b"), "single");
    EXPECT_EQ(ini.readString("Q", "c"), "\"mixed'");
    EXPECT_EQ(ini.readString("Q", "d"), "\"inner\"");
    EXPECT_EQ(ini.readString("Q", "e"), "\"");
    EXPECT_EQ(ini.readString("Q", "f"), " padded ");
    EXPECT_EQ(ini.readSection("Q")[0], "a=\"C:\\Lab\\x.lni\"");
}

TEST_F(ProfileFileTest, CommentsOnlyWhenSemicolonComesFirst) {
    auto ini = fileWith("[S]\n  ; note=1\n#hash=2\na=b ;c\n;[Hidden]\n");
    EXPECT_EQ(ini.findString("S", "; note"), std::nullopt);
    EXPECT_EQ(ini.findString("S", "note"), std::nullopt);
    EXPECT_EQ(ini.readString("S", "#hash"), "2");
    EXPECT_EQ(ini.readString("S", "a"), "b ;c");
    EXPECT_FALSE(ini.sectionExists("Hidden"));
    EXPECT_EQ(ini.readSection("S"), (Lines{"#hash=2", "a=b ;c"}));
}

TEST_F(ProfileFileTest, SectionHeadersAreTrimmedAndEndAtTheFirstBracket) {
    auto ini = fileWith("[ Spaced Name ]\nk=1\n[A]b]\nk=2\n[Open\nk2=3\n");
    EXPECT_EQ(ini.readString("spaced name", "k"), "1");
    EXPECT_EQ(ini.readString("A", "k"), "2");
    EXPECT_FALSE(ini.sectionExists("Open"));
    // A header without ']' is an ordinary line of the section before it.
    EXPECT_EQ(ini.readSection("A"), (Lines{"k=2", "[Open", "k2=3"}));
    EXPECT_EQ(ini.readString("A", "k2"), "3");
}

TEST_F(ProfileFileTest, FirstKeyAndFirstSectionWin) {
    auto ini = fileWith("[S]\nk=first\nK=second\n[s]\nk=third\nonly=later\n");
    EXPECT_EQ(ini.readString("S", "k"), "first");
    EXPECT_EQ(ini.findString("S", "only"), std::nullopt);
    EXPECT_EQ(ini.readSection("S"), (Lines{"k=first", "K=second"}));
    EXPECT_TRUE(ini.sectionExists("s"));
}

TEST_F(ProfileFileTest, ReadSectionKeepsFileOrderAndBareLines) {
    auto ini = fileWith(
        "top=outside\r\n[Units]\r\n\r\n  Unit2 = B.lni  \r\n; off\r\nloose line \r\nUnit1=A.lni\r\n"
        "=novalue\r\n[Next]\r\nx=1\r\n");
    EXPECT_EQ(ini.readSection("units"),
              (Lines{"Unit2=B.lni", "loose line", "Unit1=A.lni", "=novalue"}));
    EXPECT_EQ(ini.findString("Units", "loose line"), "");
    EXPECT_TRUE(ini.readSection("Absent").empty());
    EXPECT_EQ(ini.findString("", "top"), std::nullopt);
}

TEST_F(ProfileFileTest, EmptyMissingAndBinaryFilesReadAsEmpty) {
    EXPECT_EQ(fileWith("").findString("S", "k"), std::nullopt);
    ProfileFile missing(dir_.file("nowhere.lni"));
    EXPECT_EQ(missing.readString("S", "k", "dflt"), "dflt");
    EXPECT_FALSE(missing.sectionExists("S"));
    EXPECT_TRUE(missing.readSection("S").empty());

    std::string binary = bytes("[S]\nk=a\0b\n\0\0\0\n");
    binary += "long=" + std::string(1 << 20, 'v') + "\n";
    auto ini = fileWith(binary);
    EXPECT_EQ(ini.readString("S", "k"), bytes("a\0b"));
    EXPECT_EQ(ini.readString("S", "long").size(), 1u << 20);
}

TEST_F(ProfileFileTest, WriteReplacesAnExistingKeyInPlaceKeepingItsSpelling) {
    auto ini = fileWith("; head\n[Cfg]\n  TcpPort = 1 \nLog=x.log\n[Other]\nTcpPort=9\n");
    ASSERT_TRUE(ini.writeString("cfg", "TCPPORT", "2000"));
    EXPECT_EQ(readWholeFile(path_),
              "; head\r\n[Cfg]\r\nTcpPort=2000\r\nLog=x.log\r\n[Other]\r\nTcpPort=9\r\n");
}

TEST_F(ProfileFileTest, WriteAddsNewKeyAfterTheLastLineOfItsSection) {
    auto ini = fileWith("[A]\r\na=1\r\n\r\n\r\n[B]\r\nb=1\r\n[a]\r\nlate=1\r\n");
    ASSERT_TRUE(ini.writeString("A", "new", "v"));
    ASSERT_TRUE(ini.writeString("B", "b2", "w"));
    EXPECT_EQ(readWholeFile(path_),
              "[A]\r\na=1\r\nnew=v\r\n\r\n\r\n[B]\r\nb=1\r\nb2=w\r\n[a]\r\nlate=1\r\n");
    EXPECT_EQ(ini.readString("A", "new"), "v");
}

TEST_F(ProfileFileTest, WriteAppendsNewSectionAndCreatesMissingFile) {
    ProfileFile ini(path_);
    ASSERT_TRUE(ini.writeString("CassettesConfiguration", "UseCassConfTable", "1"));
    ASSERT_TRUE(ini.writeString("CassettesConfiguration", "1", "10,28"));
    ASSERT_TRUE(ini.writeString("Extra", "k", ""));
    EXPECT_EQ(readWholeFile(path_),
              "[CassettesConfiguration]\r\nUseCassConfTable=1\r\n1=10,28\r\n[Extra]\r\nk=\r\n");
    EXPECT_FALSE(ProfileFile(dir_.file("no/such/folder.lni")).writeString("S", "k", "v"));
}

TEST_F(ProfileFileTest, WriteRefusesTextsThatWouldBreakTheFile) {
    const std::string original = "[S]\nk=v\n";
    auto ini = fileWith(original);
    EXPECT_FALSE(ini.writeString("S", "k", "two\r\nlines"));
    EXPECT_FALSE(ini.writeString("S", "a=b", "v"));
    EXPECT_FALSE(ini.writeString("S", "", "v"));
    EXPECT_FALSE(ini.writeString("S", "[x", "v"));
    EXPECT_FALSE(ini.writeString("S", ";x", "v"));
    EXPECT_FALSE(ini.writeString("S]", "k", "v"));
    EXPECT_FALSE(ini.writeString(" ", "k", "v"));
    EXPECT_EQ(readWholeFile(path_), original);
}

TEST_F(ProfileFileTest, EraseRemovesEveryCopyOfTheSection) {
    auto ini = fileWith("[Keep]\nx=1\n[Gone]\na=1\n; c\n\n[keep2]\n[GONE]\nb=2\n");
    ASSERT_TRUE(ini.eraseSection("gone"));
    EXPECT_EQ(readWholeFile(path_), "[Keep]\r\nx=1\r\n[keep2]\r\n");
    EXPECT_FALSE(ini.sectionExists("Gone"));
    EXPECT_TRUE(ini.eraseSection("Gone"));
    EXPECT_TRUE(ProfileFile(dir_.file("missing.lni")).eraseSection("S"));
    EXPECT_FALSE(std::filesystem::exists(dir_.file("missing.lni")));
}

TEST_F(ProfileFileTest, ReplaceSectionRewritesItInPlaceInOneWrite) {
    struct Case {
        std::string before;
        Lines entries;
        std::string after;
    };
    const std::vector<Case> cases{
        {"[A]\nx=1\n[Gone]\na=1\n[B]\n[GONE]\nb=2\n",
         {"k=v", "1=3,25"},
         "[A]\r\nx=1\r\n[Gone]\r\nk=v\r\n1=3,25\r\n[B]\r\n"},
        {"[A]\nx=1\n", {"k=v"}, "[A]\r\nx=1\r\n[Gone]\r\nk=v\r\n"},
        {"[Gone]\na=1\n", {}, "[Gone]\r\n"},
    };
    for (const auto& c : cases) {
        auto ini = fileWith(c.before);
        EXPECT_TRUE(ini.replaceSection("Gone", c.entries)) << c.before;
        EXPECT_EQ(readWholeFile(path_), c.after) << c.before;
    }
    for (const Lines& refused : {Lines{"no equals"}, Lines{"k=v\nx"}, Lines{"=v"}}) {
        auto ini = fileWith("[Gone]\na=1\n");
        EXPECT_FALSE(ini.replaceSection("Gone", refused)) << refused[0];
        EXPECT_EQ(readWholeFile(path_), "[Gone]\na=1\n");
    }
}

TEST_F(ProfileFileTest, RewriteKeepsUnrelatedBytesAndPermissions) {
    auto ini = fileWith(bytes("\xEF\xBB\xBF[S]\nk=a\0b\n"));
    std::filesystem::permissions(path_, std::filesystem::perms(0640));
    ASSERT_TRUE(ini.writeString("S", "n", "1"));
    EXPECT_EQ(readWholeFile(path_), bytes("\xEF\xBB\xBF[S]\r\nk=a\0b\r\nn=1\r\n"));
    EXPECT_EQ(std::filesystem::status(path_).permissions(), std::filesystem::perms(0640));
    std::vector<std::string> leftovers;
    for (auto& entry : std::filesystem::directory_iterator(dir_.path())) {
        leftovers.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(leftovers, (Lines{"Unit.lni"}));
}

TEST(ReplaceFileWithoutFollowing, ALinkAtTheNameIsReplacedNotFollowed) {
    TempDir dir;
    const std::string target = dir.file("target");
    writeWholeFile(target, "kept");
    std::filesystem::create_symlink(target, dir.file("name"));
    EXPECT_TRUE(replaceFileWithoutFollowing(dir.file("name"), "new"));
    EXPECT_EQ(readWholeFile(target), "kept");
    EXPECT_FALSE(std::filesystem::is_symlink(dir.file("name")));
    EXPECT_EQ(readWholeFile(dir.file("name")), "new");
}

TEST(ReplaceFileAtomically, OldFileSurvivesWhenTheFolderIsReadOnly) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    TempDir dir;
    const std::string path = dir.file("Contents.txt");
    writeWholeFile(path, "old");
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0555));
    EXPECT_FALSE(replaceFileAtomically(path, "new"));
    EXPECT_FALSE(ProfileFile(path).writeString("S", "k", "v"));
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    EXPECT_EQ(readWholeFile(path), "old");
}

TEST(ReplaceFileAtomically, OldFileSurvivesWhenTheTemporaryCannotBeWritten) {
    TempDir dir;
    const std::string path = dir.file("Contents.txt");
    writeWholeFile(path, "old");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved;
    tight.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    bool replaced = replaceFileAtomically(path, std::string(4096, 'n'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(replaced);
    EXPECT_EQ(readWholeFile(path), "old");
    std::size_t entries = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1u);
    EXPECT_TRUE(replaceFileAtomically(path, "new"));
    EXPECT_EQ(readWholeFile(path), "new");
}

}  // namespace
}  // namespace krb::platform
