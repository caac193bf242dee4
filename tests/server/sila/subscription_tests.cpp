// Observable properties: the current value at once, then each change, and nothing while the
// value is unknown.
#include "ClimateController.grpc.pb.h"
#include "UnitStatusProvider.grpc.pb.h"
#include "sila_test_support.h"

namespace krb::sila::test {
namespace {

namespace usp = sila2::org::krb::storage::unitstatusprovider::v1;
namespace cc = sila2::org::krb::storage::climatecontroller::v1;

UnitStatus statusWith(std::optional<bool> busy, std::optional<bool> doorOpen = false) {
    UnitStatus status;
    status.activated = true;
    status.busy = busy;
    status.doorOpen = doorOpen;
    status.linkUp = true;
    status.errorCode = 0;
    status.errorMessage = "";
    return status;
}

class SubscriptionTest : public UnitServerTest {};

UnitStatus statusWithCode(std::optional<long> code, bool doorOpen = false) {
    auto status = statusWith(false, doorOpen);
    status.errorCode = code;
    return status;
}

// The first value read tells that the subscription is in place; a value sent where none was
// due would be read before the next one due.
TEST_F(SubscriptionTest, SendsTheKnownValueThenEachChangeOnceAndNeverAnUnknownOne) {
    startServer();
    backend_->setStatus(statusWithCode(5));
    grpc::ClientContext context;
    auto code = usp::UnitStatusProvider::NewStub(channel_)->Subscribe_ErrorCode(&context, {});
    usp::Subscribe_ErrorCode_Responses value;
    ASSERT_TRUE(code->Read(&value));
    EXPECT_EQ(value.errorcode().value(), 5);

    struct Step {
        std::vector<UnitStatus> quiet;  // none of these may send anything
        long next;
    };
    const std::vector<Step> steps = {
        {{statusWithCode(std::nullopt), statusWithCode(5, true)}, 7},
        {{statusWithCode(7, false), statusWithCode(std::nullopt, true)}, 0},
        {{statusWithCode(0, true)}, 9},
    };
    for (const auto& step : steps) {
        for (const auto& status : step.quiet) backend_->setStatus(status);
        backend_->setStatus(statusWithCode(step.next));
        ASSERT_TRUE(code->Read(&value));
        EXPECT_EQ(value.errorcode().value(), step.next);
    }
    context.TryCancel();
    while (code->Read(&value)) {
    }
    EXPECT_EQ(code->Finish().error_code(), grpc::StatusCode::CANCELLED);
}

TEST_F(SubscriptionTest, EachStatusPropertyCarriesItsOwnValue) {
    startServer();
    UnitStatus status;
    status.activated = false;
    status.busy = true;
    status.doorOpen = true;
    status.linkUp = false;
    status.errorCode = 17;
    status.errorMessage = "Shovel blocked";
    backend_->setStatus(status);
    auto stub = usp::UnitStatusProvider::NewStub(channel_);
    const auto first = [](auto reader, auto& value) { EXPECT_TRUE(reader->Read(&value)); };
    grpc::ClientContext c1, c2, c3, c4, c5, c6;
    usp::Subscribe_Activated_Responses activated;
    usp::Subscribe_Busy_Responses busy;
    usp::Subscribe_DoorOpen_Responses door;
    usp::Subscribe_LinkUp_Responses link;
    usp::Subscribe_ErrorCode_Responses code;
    usp::Subscribe_ErrorMessage_Responses message;
    first(stub->Subscribe_Activated(&c1, {}), activated);
    first(stub->Subscribe_Busy(&c2, {}), busy);
    first(stub->Subscribe_DoorOpen(&c3, {}), door);
    first(stub->Subscribe_LinkUp(&c4, {}), link);
    first(stub->Subscribe_ErrorCode(&c5, {}), code);
    first(stub->Subscribe_ErrorMessage(&c6, {}), message);
    EXPECT_FALSE(activated.activated().value());
    EXPECT_TRUE(busy.busy().value());
    EXPECT_TRUE(door.dooropen().value());
    EXPECT_FALSE(link.linkup().value());
    EXPECT_EQ(code.errorcode().value(), 17);
    EXPECT_EQ(message.errormessage().value(), "Shovel blocked");
    for (auto* context : {&c1, &c2, &c3, &c4, &c5, &c6}) context->TryCancel();
}

TEST_F(SubscriptionTest, ManySubscribersOfOneUnitAllSeeAChange) {
    startServer();
    backend_->setStatus(statusWith(false, false));
    auto stub = usp::UnitStatusProvider::NewStub(channel_);
    constexpr int kSubscribers = 32;
    std::vector<std::unique_ptr<grpc::ClientContext>> contexts;
    std::vector<std::unique_ptr<grpc::ClientReader<usp::Subscribe_DoorOpen_Responses>>> readers;
    usp::Subscribe_DoorOpen_Responses value;
    for (int i = 0; i < kSubscribers; ++i) {
        contexts.push_back(std::make_unique<grpc::ClientContext>());
        readers.push_back(stub->Subscribe_DoorOpen(contexts.back().get(), {}));
        ASSERT_TRUE(readers.back()->Read(&value));
        EXPECT_FALSE(value.dooropen().value());
    }
    backend_->setStatus(statusWith(false, true));
    for (auto& reader : readers) {
        ASSERT_TRUE(reader->Read(&value));
        EXPECT_TRUE(value.dooropen().value());
    }
    for (auto& context : contexts) context->TryCancel();
}

TEST_F(SubscriptionTest, ClimateSendsNothingWhileAReadingIsUnknown) {
    startServer(fullUnit());
    backend_->setClimateReadings(ClimateReadings{20.0, 90.0, 5.0, std::nullopt});
    grpc::ClientContext context;
    auto temperature =
        cc::ClimateController::NewStub(channel_)->Subscribe_CurrentTemperature(&context, {});
    cc::Subscribe_CurrentTemperature_Responses value;
    ASSERT_TRUE(temperature->Read(&value));
    EXPECT_EQ(value.currenttemperature().value(), 20.0);

    backend_->setClimateReadings(ClimateReadings{std::nullopt, 90.0, 5.0, std::nullopt});
    backend_->setClimateReadings(std::nullopt);
    backend_->setClimateReadings(ClimateReadings{36.5, 90.0, 5.0, std::nullopt});
    ASSERT_TRUE(temperature->Read(&value));
    EXPECT_EQ(value.currenttemperature().value(), 36.5);
    context.TryCancel();
}

TEST_F(SubscriptionTest, StoppingTheServerEndsOpenSubscriptionsAndDropsTheListener) {
    startServer();
    backend_->setStatus(statusWith(false));
    grpc::ClientContext context;
    auto busy = usp::UnitStatusProvider::NewStub(channel_)->Subscribe_Busy(&context, {});
    usp::Subscribe_Busy_Responses value;
    ASSERT_TRUE(busy->Read(&value));
    EXPECT_TRUE(backend_->hasListener());
    server_->stop();
    EXPECT_FALSE(busy->Read(&value));
    EXPECT_FALSE(busy->Finish().ok());
    EXPECT_FALSE(backend_->hasListener());
}

}  // namespace
}  // namespace krb::sila::test
