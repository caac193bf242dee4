#pragma once
// The demo lab in-process, driven through the library's exports; every outcome is read back
// from the simulator's plate world. Each test gets a lab of its own, so no test sees another
// test's plates, faults or registry entries.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "KRB_lib.h"
#include "sim/virtual_lab.h"
#include "support/demo_lab.h"
#include "support/eventually.h"
#include "support/time_scale.h"

namespace krb::sim {
inline void PrintTo(const Place& place, std::ostream* out) {
    *out << "COM" << place.unit << " " << describePlace(place);
}
}  // namespace krb::sim

namespace krb::integration {

using sim::Place;
using test_support::eventually;

inline std::string unitId(int com) { return std::to_string(com); }

class DemoLab : public ::testing::Test {
  protected:
    void SetUp() override {
        (void)test_support::kTimeScaleChosen;
        sim::MotionTimes times;
        times.init = 1000;
        times.motion = 500;
        times.turn = 100;
        times.position = 50;
        times.gate = 100;
        lab_ = test_support::makeDemoLab(times);
    }

    void TearDown() override {
        for (int com : lab_->unitPorts()) KRBDisconnect(unitId(com).c_str());
        lab_.reset();
    }

    // Activates the unit and sends what the server sends from the unit file (cassette table,
    // role, identity), then locks its door so that handler motions are allowed.
    void activate(int com) {
        const std::string id = unitId(com);
        ASSERT_STREQ(KRB2Activate(id.c_str()), "1") << "COM" << com;
        const sim::UnitConfig& unit = lab_->unit(com);
        KRBUseCassetteConfTable(id.c_str(), unit.cassettes.empty() ? "0" : "1");
        for (const auto& cassette : unit.cassettes)
            KRBSetCassetteConfig(id.c_str(), std::to_string(cassette.slot).c_str(),
                                 std::to_string(cassette.levels).c_str(),
                                 std::to_string(cassette.pitch).c_str());
        const sim::UnitRole role = lab_->role(com);
        KRBSetBase(id.c_str(), role == sim::UnitRole::Base ? "1" : "0");
        KRBSetExt(id.c_str(), role == sim::UnitRole::Extension ? "1" : "0");
        KRBSetCascader(id.c_str(), role == sim::UnitRole::Cascader ? "1" : "0");
        KRBSetId(id.c_str(), unit.unitId.c_str());
        KRBSetIdSys(id.c_str(), unit.systemName.c_str());
        ASSERT_STREQ(KRBLock(id.c_str()), "1") << "COM" << com;
    }

    sim::PlateWorld& world() { return lab_->world(); }

    void control(const std::string& line) {
        ASSERT_EQ(test_support::controlRefusal(*lab_, line), "");
    }

    std::optional<Place> placeOf(const std::string& barcode) {
        auto found = world().findBarcode(barcode);
        if (found.size() != 1) return std::nullopt;
        return found.front().place;
    }

    bool empty(const Place& place) { return !world().occupied(place); }

    bool idle(int com) {
        const std::string id = unitId(com);
        return eventually([&] { return std::string(KRBIsOperationRunning(id.c_str())) == "0"; });
    }

    // Handler motions the controller was told to start ("ST 1904" to "ST 1909").
    std::vector<std::string> handlerMotions(int com) {
        std::vector<std::string> motions;
        for (const auto& line : lab_->controller(com).lines())
            if (line.rfind("ST 190", 0) == 0 && line.size() == 7 && line[6] >= '4')
                motions.push_back(line);
        return motions;
    }

    std::unique_ptr<sim::VirtualLab> lab_;
};

}  // namespace krb::integration
