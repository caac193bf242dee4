#include "sim/lab_config.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lab_test_support.h"
#include "support/temp_dir.h"

namespace krb::sim {
namespace {

namespace fs = std::filesystem;

// A small lab in a temporary folder, written file by file.
class ConfigFolder {
  public:
    std::string write(const std::string& relative, const std::string& text) {
        return folder_.write(relative, text);
    }
    std::string driver() const { return path("DriverConfig.lni"); }
    std::string path(const std::string& relative) const { return folder_.file(relative); }

    // DriverConfig with a "\"-separated main folder, one system, the given unit files.
    void basicLab(const std::string& unit1, const std::string& unit2 = "") {
        write("DriverConfig.lni", "[paths]\r\nKrbMainFolder=.\\Main\\\r\n");
        write("Main/System1/System.lni",
              std::string("[System]\nSystemName=S1\n[Unit]\nUnit1=Unit1.lni\n") +
                  (unit2.empty() ? "" : "Unit2=Sub\\Unit2.lni\n"));
        write("Main/System1/Unit1.lni", unit1);
        if (!unit2.empty()) write("Main/System1/Sub/Unit2.lni", unit2);
    }

  private:
    test_support::TempDir folder_{"krb-config"};
};

std::string errorOf(const std::function<void()>& load) {
    try {
        load();
    } catch (const ConfigError& error) {
        return error.what();
    }
    return "";
}

TEST(LabConfig, LoadsTheDemoLab) {
    const LabConfig lab = loadLabConfig(testing::demoLabFile("DriverConfig.lni"));
    ASSERT_EQ(lab.systems.size(), 2u);
    EXPECT_EQ(lab.systems[0].name, "Incubators");
    EXPECT_EQ(lab.systems[1].units, (std::vector<int>{4, 5}));
    ASSERT_EQ(lab.units.size(), 5u);
    EXPECT_EQ(lab.units[0].role, UnitRole::Base);
    EXPECT_EQ(lab.units[0].readerCom, 11);
    EXPECT_EQ(lab.units[1].role, UnitRole::Cascader);
    EXPECT_EQ(lab.units[2].role, UnitRole::Extension);
    EXPECT_TRUE(lab.units[2].relayedReader);
    EXPECT_EQ(lab.units[2].readerCom, 0);
    ASSERT_EQ(lab.units[0].cassettes.size(), 20u);
    EXPECT_EQ(lab.units[0].cassettes[12].levels, 10);  // "11-20 = 10 , 32 , 2"
    EXPECT_EQ(lab.units[0].cassettes[12].pitch, 32);
    EXPECT_EQ(lab.units[0].cassettes[12].type, 2);
    EXPECT_TRUE(lab.warnings.empty());
}

TEST(LabConfig, CassetteEntriesFollowTheUnitFileRules) {
    auto one = [](const std::string& line) {
        auto cassettes = parseCassetteEntry(line);
        return cassettes.size() == 1 ? cassettes.front() : CassetteGeometry{-1, -1, -1, -1};
    };
    EXPECT_EQ(parseCassetteEntry("1-3=10,25,2").size(), 3u);
    EXPECT_EQ(one("5=8 , 30").levels, 8);
    EXPECT_EQ(one("5=8 , 30").pitch, 30);
    EXPECT_EQ(one("5=8").levels, 0);  // no comma: the value is the pitch
    EXPECT_EQ(one("5=8").pitch, 8);
    EXPECT_EQ(one("5=1,2,3,4").type, 4);
    EXPECT_EQ(one("5=x,2,y").levels, 0);
    EXPECT_TRUE(parseCassetteEntry("5-3=1,2,3").empty());
    EXPECT_TRUE(parseCassetteEntry("a=1,2,3").empty());
    EXPECT_TRUE(parseCassetteEntry("1-b=1,2,3").empty());
}

TEST(LabConfig, ResolvesBackslashPathsRelativeToTheFileAndIgnoringCase) {
    ConfigFolder folder;
    folder.basicLab("[Unit]\nUnitComPort=7\n", "[unit]\nunitcomport=8\nUnitBCRPort=18\n");
    folder.write("Main/System1/System.lni",
                 "[System]\nSystemName=S1\n[Unit]\nUnit1=unit1.LNI\nUnit2=SUB\\Unit2.lni\n");
    const LabConfig lab = loadLabConfig(folder.driver());
    ASSERT_EQ(lab.units.size(), 2u);
    EXPECT_EQ(lab.units[1].readerCom, 18);
}

TEST(LabConfig, SkipsMissingUnitFilesAndUnitsWithoutPortWithAWarning) {
    ConfigFolder folder;
    folder.basicLab("[Unit]\nUnitId=NoPort\n", "[Unit]\nUnitComPort=8\n");
    folder.write("Main/System1/System.lni",
                 "[System]\n[Unit]\nUnit1=Unit1.lni\nUnit2=Sub\\Unit2.lni\nUnit3=Missing.lni\n");
    const LabConfig lab = loadLabConfig(folder.driver());
    ASSERT_EQ(lab.units.size(), 1u);
    EXPECT_EQ(lab.units[0].com, 8);
    EXPECT_EQ(lab.warnings.size(), 2u);
}

TEST(LabConfig, MalformedConfigurationsGiveAClearError) {
    ConfigFolder folder;
    EXPECT_NE(errorOf([&] { loadLabConfig(folder.driver()); }).find("not found"),
              std::string::npos);
    folder.write("DriverConfig.lni", "[paths]\n");
    EXPECT_NE(errorOf([&] { loadLabConfig(folder.driver()); }).find("KrbMainFolder"),
              std::string::npos);
    folder.write("DriverConfig.lni", "[paths]\nKrbMainFolder=Nowhere\n");
    EXPECT_NE(errorOf([&] { loadLabConfig(folder.driver()); }).find("System1"), std::string::npos);
    folder.basicLab("[Unit]\nUnitComPort=abc\n");
    EXPECT_NE(errorOf([&] { loadLabConfig(folder.driver()); }).find("UnitComPort"),
              std::string::npos);
    folder.basicLab("[Unit]\nUnitComPort=0\n");
    EXPECT_NE(errorOf([&] { loadLabConfig(folder.driver()); }).find("UnitComPort"),
              std::string::npos);
    folder.basicLab("[Unit]\nUnitComPort=3\nUnitBCRPort=x3\n");
    EXPECT_NE(errorOf([&] { loadLabConfig(folder.driver()); }).find("UnitBCRPort"),
              std::string::npos);
    folder.basicLab("[Unit]\nUnitComPort=3\n", "[Unit]\nUnitComPort=4\nUnitBCRPort=3\n");
    EXPECT_NE(errorOf([&] { loadLabConfig(folder.driver()); }).find("used twice"),
              std::string::npos);
    folder.basicLab("[Unit]\nUnitId=x\n");
    EXPECT_NE(errorOf([&] { loadLabConfig(folder.driver()); }).find("no unit"), std::string::npos);
    folder.write("DriverConfig.lni", std::string("\0\xff[[[=\n", 6));
    EXPECT_FALSE(errorOf([&] { loadLabConfig(folder.driver()); }).empty());
}

TEST(SimFile, ReadsTimesTubeStoreOverridesAndSetup) {
    const SimSettings settings =
        loadSimFile(testing::demoLabFile("Simulation.lni"), {1, 2, 3, 4, 5});
    EXPECT_EQ(settings.times.motion, 1500);
    EXPECT_EQ(settings.tubeStoreCom, 5);
    EXPECT_EQ(settings.units.at(5).rows, 8);
    EXPECT_EQ(settings.units.at(1).serial, 1101);
    ASSERT_FALSE(settings.setup.empty());
    EXPECT_EQ(settings.setup.front(), "PUT COM1 1 1 P0001");
}

TEST(SimFile, MalformedSettingsGiveAClearError) {
    ConfigFolder folder;
    const std::string path = folder.write("sim.lni", "[Times]\nMotion=fast\n");
    EXPECT_NE(errorOf([&] { loadSimFile(path, {1}); }).find("[Times] Motion"), std::string::npos);
    folder.write("sim.lni", "[Lab]\nTubeStore=9\n");
    EXPECT_NE(errorOf([&] { loadSimFile(path, {1}); }).find("COM9"), std::string::npos);
    folder.write("sim.lni", "[COM1]\nSlots=500\n");
    EXPECT_NE(errorOf([&] { loadSimFile(path, {1}); }).find("99"), std::string::npos);
    folder.write("sim.lni", "[COM1]\nSerial=-4\n");
    EXPECT_NE(errorOf([&] { loadSimFile(path, {1}); }).find("Serial"), std::string::npos);
    EXPECT_NE(errorOf([&] { loadSimFile(folder.driver(), {1}); }).find("not found"),
              std::string::npos);
}

TEST(SimFile, AFailingSetupLineStopsTheLab) {
    ConfigFolder folder;
    folder.basicLab("[Unit]\nUnitComPort=7\n");
    const std::string path = folder.write("sim.lni", "[Setup]\nPUT COM7 1 1 A\nPUT COM7 1 1 B\n");
    EXPECT_NE(errorOf([&] { VirtualLab::fromFiles(folder.driver(), path); }).find("is taken"),
              std::string::npos);
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

ProgramRun runKrbSim(const ConfigFolder& folder, const std::string& arguments) {
    const std::string errFile = folder.path("krb-sim.err");
    const std::string command = std::string(KRB_SIM_PROGRAM) + " " + arguments + " 2>" + errFile;
    ProgramRun run;
    FILE* output = popen(command.c_str(), "r");
    if (output == nullptr) return run;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, output) != nullptr) run.out += buffer;
    const int status = pclose(output);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream errStream(errFile);
    run.err.assign(std::istreambuf_iterator<char>(errStream), {});
    return run;
}

// krb-sim itself: help on stdout with success; a wrong command line or a bad configuration
// ends it with a message on stderr and exit code 2, no crash.
TEST(KrbSimProgram, AnswersItsCommandLine) {
    ConfigFolder folder;
    folder.basicLab("[Unit]\nUnitComPort=nine\n");
    const std::string portDir = " --port-dir " + folder.path("ports") + " ";
    struct Case {
        std::string arguments;
        int status;
        std::string inOut;
        std::string inErr;
    };
    const std::vector<Case> cases{
        {"--help", 0, "usage: krb-sim", ""},
        {"-h", 0, "usage: krb-sim", ""},
        {"", 2, "", "usage: krb-sim"},
        {"--port-dir", 2, "", "usage: krb-sim"},
        {"--unknown " + folder.driver(), 2, "", "usage: krb-sim"},
        {portDir + folder.driver(), 2, "", "UnitComPort"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = runKrbSim(folder, c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.out << run.err;
        if (c.inOut.empty())
            EXPECT_EQ(run.out, "") << c.arguments;
        else
            EXPECT_NE(run.out.find(c.inOut), std::string::npos) << c.arguments << "\n" << run.out;
        if (c.inErr.empty())
            EXPECT_EQ(run.err, "") << c.arguments;
        else
            EXPECT_NE(run.err.find(c.inErr), std::string::npos) << c.arguments << "\n" << run.err;
    }
}

}  // namespace
}  // namespace krb::sim
