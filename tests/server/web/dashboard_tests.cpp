#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "web/ClimateReadings.h"
#include "web/DashboardFeed.h"
#include "web/DashboardServer.h"
#include "web/LabSnapshot.h"
#include "web/WebConfig.h"

namespace krb::server::web {
namespace {

TEST(JsonString, EscapesWhatCouldBreakTheDocumentOrThePage) {
    const struct {
        std::string Text;
        std::string Json;
    } cases[] = {
        {"plain", R"("plain")"},
        {"<b>&x", R"("\u003cb\u003e\u0026x")"},
        {"say \"hi\"", R"("say \"hi\"")"},
        {"back\\slash", R"("back\\slash")"},
        {"a\r\nb\tc", R"("a??b\tc")"},
        {std::string("nul\0bell\a", 9), R"("nul?bell?")"},
        {"</script>", R"("\u003c/script\u003e")"},
        {"Grüße", "\"Grüße\""},
        {"\xF0\x9F\xA7\xAA tube", "\"\xF0\x9F\xA7\xAA tube\""},
        // Bytes that are no UTF-8 are Latin-1 characters, so the document stays valid JSON.
        {"R&D \xE9tag\xC3\xA8re", R"("R\u0026D \u00e9tag)"
                                  "\xC3\xA8"
                                  R"(re")"},
        {"\xC0\xAF overlong", R"("\u00c0\u00af overlong")"},
        {"\xED\xA0\x80 surrogate", R"("\u00ed\u00a0\u0080 surrogate")"},
        {"cut \xE2\x82", R"("cut \u00e2\u0082")"},
        {"\xFF\xFE", R"("\u00ff\u00fe")"},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonString(c.Text), c.Json) << c.Text;
}

TEST(SnapshotJson, CarriesTheLabWithEveryTextEscaped) {
    LabSnapshot lab;
    lab.Listening = true;
    lab.Port = 3100;
    UnitView unit;
    unit.Id = "Base1";
    unit.ComPort = 1;
    unit.DoorOpen = true;
    unit.Climate.emplace_back("temperature", "37.0");
    unit.ClimateSet.emplace_back("temperature", "37.5");
    unit.Sectors.push_back({"Assay", {1, 2}});
    unit.Cassettes.push_back({1, 2, {{1, 1, 1, true, "P\"1", "<b>&x"}}});
    lab.Systems.push_back({"S1", "7", {unit}});
    lab.Log.push_back("12:00:00.000 01.01.26;Connect;RH=<x>");
    EXPECT_EQ(SnapshotJson(lab),
              R"({"listening":true,"port":3100,"connections":0,"serviceListeners":0,)"
              R"("systems":[{"name":"S1","id":"7","units":[{"id":"Base1","name":"","comPort":1,)"
              R"("activated":false,"busy":false,"hasDoor":true,"doorOpen":true,"error":false,)"
              R"("errorCode":0,)"
              R"("errorMessage":"","link":"","linkEvent":"",)"
              R"("climate":[{"name":"temperature","value":"37.0"}],)"
              R"("climateSet":[{"name":"temperature","value":"37.5"}],)"
              R"("sectors":[{"name":"Assay","cassettes":[1,2]}],)"
              R"("cassettes":[{"number":1,"levels":2,"locations":[{"slot":1,"level":1,)"
              R"("present":true,"barcode":"P\"1","name":"\u003cb\u003e\u0026x"}]}]}]}],)"
              R"("log":["12:00:00.000 01.01.26;Connect;RH=\u003cx\u003e"]})");
}

TEST(ClimateValues, TakeTheUnitsOwnValuesFromAReading) {
    using Values = std::vector<std::pair<std::string, std::string>>;
    const ClimateOptions all{true, true, true, true};
    const ClimateOptions temperatureAndCO2{true, false, true, false};
    const ClimateOptions none{false, false, false, false};
    const struct {
        ClimateOptions Options;
        const char* Reading;
        Values Expected;
    } cases[] = {
        {all,
         "037.00;090.00;005.00;000.00",
         {{"temperature", "037.00"}, {"humidity", "090.00"}, {"CO2", "005.00"}, {"N2", "000.00"}}},
        {temperatureAndCO2,
         "037.00;090.00;005.00;000.00",
         {{"temperature", "037.00"}, {"CO2", "005.00"}}},
        {none, "037.00;090.00;005.00;000.00", {}},
        {all, "", {}},
        {all, "037.00", {{"temperature", "037.00"}, {"humidity", ""}, {"CO2", ""}, {"N2", ""}}},
        {all, ";;;", {{"temperature", ""}, {"humidity", ""}, {"CO2", ""}, {"N2", ""}}},
        {temperatureAndCO2, "1;2;3;4;5;6", {{"temperature", "1"}, {"CO2", "3"}}},
        {all, "-1", {{"temperature", "-1"}, {"humidity", ""}, {"CO2", ""}, {"N2", ""}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClimateValuesOf(c.Options, c.Reading), c.Expected) << c.Reading;
}

TEST(ClimateValues, AreUnknownWhenTheUnitDidNotAnswer) {
    using Values = std::vector<std::pair<std::string, std::string>>;
    const ClimateOptions temperatureAndCO2{true, false, true, false};
    const struct {
        ClimateReading Reading;
        Values Expected;
    } cases[] = {
        {{false, false, ""}, {}},
        {{true, true, "037.00;090.00;005.00;000.00"},
         {{"temperature", "037.00"}, {"CO2", "005.00"}}},
        {{true, false, "000.00;000.00;000.00;000.00"}, {{"temperature", ""}, {"CO2", ""}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClimateValuesOf(temperatureAndCO2, c.Reading), c.Expected) << c.Reading.Text;
    }
}

class WebConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("krb-web-config-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    WebConfig Read(const std::string& text) {
        const auto path = folder_ / "DriverConfig.lni";
        std::ofstream(path, std::ios::binary) << "[TCP]\r\nport=3100\r\n" << text;
        return ReadWebConfig(path.string());
    }
    std::filesystem::path folder_;
};

TEST_F(WebConfigTest, ReadsTheWebSectionAndRefusesMalformedValues) {
    const struct {
        const char* Section;
        bool Enabled;
        int Port;
        const char* Address;
        bool Problem;
    } cases[] = {
        {"", false, 0, "127.0.0.1", false},
        {"[Web]\r\n", false, 0, "127.0.0.1", false},
        {"[Web]\r\nPort=3180\r\n", true, 3180, "127.0.0.1", false},
        {"[web]\r\nport = 3180 \r\nbindaddress=0.0.0.0\r\n", true, 3180, "0.0.0.0", false},
        {"[Web]\r\nPort=0\r\nBindAddress=::1\r\n", true, 0, "::1", false},
        {"[Web]\r\nPort=\r\n", false, 0, "127.0.0.1", true},
        {"[Web]\r\nPort=31a0\r\n", false, 0, "127.0.0.1", true},
        {"[Web]\r\nPort=-1\r\n", false, 0, "127.0.0.1", true},
        {"[Web]\r\nPort=65536\r\n", false, 0, "127.0.0.1", true},
        {"[Web]\r\nPort=99999999999\r\n", false, 0, "127.0.0.1", true},
        {"[Web]\r\nPort= 0x50\r\n", false, 0, "127.0.0.1", true},
        {"[Web]\r\nPort=3180\r\nBindAddress=localhost\r\n", false, 0, "127.0.0.1", true},
        {"[Web]\r\nPort=3180\r\nBindAddress=1.2.3\r\n", false, 0, "127.0.0.1", true},
        {"[Web]\r\nBindAddress=0.0.0.0\r\n", false, 0, "127.0.0.1", true},
    };
    for (const auto& c : cases) {
        const WebConfig config = Read(c.Section);
        EXPECT_EQ(config.Enabled, c.Enabled) << c.Section;
        EXPECT_EQ(config.Port, c.Port) << c.Section;
        EXPECT_EQ(config.BindAddress, c.Address) << c.Section;
        EXPECT_EQ(!config.Problem.empty(), c.Problem) << c.Section << " -> " << config.Problem;
    }
}

TEST_F(WebConfigTest, ReadsTheHostNamesBrowsersMayUse) {
    const struct {
        const char* Section;
        std::vector<std::string> Names;
    } cases[] = {
        {"[Web]\r\nPort=3180\r\n", {}},
        {"[Web]\r\nPort=3180\r\nHostNames=lab.example\r\n", {"lab.example"}},
        {"[Web]\r\nPort=3180\r\nhostnames= lab.example , ,krb-pc \r\n", {"lab.example", "krb-pc"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Read(c.Section).HostNames, c.Names) << c.Section;
}

TEST(WebConfig, TellsAListenerOnEveryInterface) {
    const struct {
        const char* Address;
        bool Everywhere;
    } cases[] = {{"127.0.0.1", false},
                 {"192.168.1.5", false},
                 {"::1", false},
                 {"0.0.0.0", true},
                 {"::", true}};
    for (const auto& c : cases) {
        WebConfig config;
        config.BindAddress = c.Address;
        EXPECT_EQ(ListensOnAllInterfaces(config), c.Everywhere) << c.Address;
    }
}

TEST(SnapshotHub, PublishesOnlyChangesAndWakesWaiters) {
    SnapshotHub hub;
    LabSnapshot lab;
    lab.Port = 1;
    EXPECT_TRUE(hub.Publish(lab));
    const auto first = hub.Latest();
    EXPECT_FALSE(hub.Publish(lab));
    EXPECT_EQ(hub.Latest().Version, first.Version);

    std::thread publisher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        LabSnapshot changed;
        changed.Port = 2;
        hub.Publish(changed);
    });
    const auto next = hub.WaitNewerThan(first.Version, std::chrono::seconds(30));
    publisher.join();
    EXPECT_GT(next.Version, first.Version);
    EXPECT_EQ(next.Snapshot->Port, 2);
}

LabSnapshot LabWithPlateName(const std::string& name) {
    LabSnapshot lab;
    UnitView unit;
    unit.Id = "Base1";
    unit.Cassettes.push_back({1, 1, {{1, 1, 1, true, "", name}}});
    lab.Systems.push_back({"S1", "1", {unit}});
    return lab;
}

class DashboardServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        hub_.Publish(LabWithPlateName("<b>&x"));
        std::string problem;
        ASSERT_TRUE(server_.Start("127.0.0.1", 0, problem)) << problem;
        client_ = std::make_unique<httplib::Client>("127.0.0.1", server_.Port());
    }
    SnapshotHub hub_;
    DashboardServer server_{hub_};
    std::unique_ptr<httplib::Client> client_;
};

TEST_F(DashboardServerTest, ServesThePageTheSnapshotAndTheMetrics) {
    const auto page = client_->Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("new EventSource(\"events\")"), std::string::npos);
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'none'"),
              std::string::npos);
    const auto snapshot = client_->Get("/snapshot.json");
    ASSERT_TRUE(snapshot);
    EXPECT_NE(snapshot->body.find(R"("name":"\u003cb\u003e\u0026x")"), std::string::npos);
    const auto metrics = client_->Get("/metrics");
    ASSERT_TRUE(metrics);
    EXPECT_EQ(metrics->status, 200);
    EXPECT_NE(metrics->body.find("krb_listener_up{listener=\"web\"} 1"), std::string::npos);
}

TEST_F(DashboardServerTest, IsReadOnly) {
    for (const char* path : {"/", "/snapshot.json", "/metrics", "/events"}) {
        const auto post = client_->Post(path, "KRB2Activate(Base1)\r", "text/plain");
        ASSERT_TRUE(post) << path;
        EXPECT_NE(post->status, 200) << path;
        const auto put = client_->Put(path, "x", "text/plain");
        ASSERT_TRUE(put) << path;
        EXPECT_NE(put->status, 200) << path;
    }
    const auto unknown = client_->Get("/KRB2Activate(Base1)");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
}

TEST_F(DashboardServerTest, EventStreamSendsTheSnapshotThenEachChange) {
    std::string received;
    int events = 0;
    const auto result = client_->Get("/events", [&](const char* data, std::size_t length) {
        received.append(data, length);
        std::size_t end;
        while ((end = received.find("\n\n")) != std::string::npos) {
            const std::string event = received.substr(0, end);
            received.erase(0, end + 2);
            if (!event.starts_with("event: lab\ndata: ")) continue;
            ++events;
            if (events == 1) {
                EXPECT_NE(event.find("\\u003cb\\u003e"), std::string::npos);
                hub_.Publish(LabWithPlateName("moved"));
            } else {
                EXPECT_NE(event.find("\"moved\""), std::string::npos);
                return false;
            }
        }
        return true;
    });
    EXPECT_EQ(events, 2);
    server_.Stop();  // returns although streams were open
}

}  // namespace
}  // namespace krb::server::web
