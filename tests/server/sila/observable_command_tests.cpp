// Observable commands: confirmation, execution info, result; the error classes as the standard
// encodes them.
#include <thread>

#include "BarcodeReaderController.grpc.pb.h"
#include "ClimateController.grpc.pb.h"
#include "InventoryController.grpc.pb.h"
#include "PlateTransferController.grpc.pb.h"
#include "TubeTransferController.grpc.pb.h"
#include "UnitController.grpc.pb.h"
#include "sila_test_support.h"
#include "support/eventually.h"

namespace krb::sila::test {
namespace {

namespace fw = sila2::org::silastandard;
namespace ptc = sila2::org::krb::storage::platetransfercontroller::v1;
namespace uc = sila2::org::krb::storage::unitcontroller::v1;
namespace ic = sila2::org::krb::storage::inventorycontroller::v1;
namespace brc = sila2::org::krb::storage::barcodereadercontroller::v1;
namespace cc = sila2::org::krb::storage::climatecontroller::v1;
namespace ttc = sila2::org::krb::storage::tubetransfercontroller::v1;

const std::string kTransfer = "org.krb/storage/PlateTransferController/v1";

ptc::MovePlate_Parameters move(long sourceCassette, long sourceLevel, const std::string& unit,
                               long targetCassette, long targetLevel) {
    ptc::MovePlate_Parameters p;
    p.mutable_sourcecassette()->set_value(sourceCassette);
    p.mutable_sourcelevel()->set_value(sourceLevel);
    p.mutable_targetunit()->set_value(unit);
    p.mutable_targetcassette()->set_value(targetCassette);
    p.mutable_targetlevel()->set_value(targetLevel);
    return p;
}

class ObservableCommandTest : public UnitServerTest {
  protected:
    std::unique_ptr<ptc::PlateTransferController::Stub> transfer() {
        return ptc::PlateTransferController::NewStub(channel_);
    }
    grpc::Status startMove(const ptc::MovePlate_Parameters& parameters, std::string& uuid) {
        grpc::ClientContext context;
        fw::CommandConfirmation confirmation;
        const auto status = transfer()->MovePlate(&context, parameters, &confirmation);
        uuid = confirmation.commandexecutionuuid().value();
        if (status.ok()) {
            EXPECT_GT(confirmation.lifetimeofexecution().seconds(), 0);
        }
        return status;
    }
    grpc::Status moveResult(const std::string& uuid) {
        grpc::ClientContext context;
        fw::CommandExecutionUUID id;
        id.set_value(uuid);
        ptc::MovePlate_Responses responses;
        return transfer()->MovePlate_Result(&context, id, &responses);
    }
    // The move's execution infos until the stream ends, and how it ended.
    grpc::Status followMove(const std::string& uuid, std::vector<fw::ExecutionInfo>& infos,
                            const std::function<void(const fw::ExecutionInfo&)>& onInfo = {}) {
        grpc::ClientContext context;
        fw::CommandExecutionUUID id;
        id.set_value(uuid);
        auto reader = transfer()->MovePlate_Info(&context, id);
        fw::ExecutionInfo info;
        while (reader->Read(&info)) {
            infos.push_back(info);
            if (onInfo) onInfo(info);
        }
        return reader->Finish();
    }
    // Runs a move to its end and gives the result call's status.
    grpc::Status runMove(const ptc::MovePlate_Parameters& parameters) {
        std::string uuid;
        const auto started = startMove(parameters, uuid);
        if (!started.ok()) return started;
        std::vector<fw::ExecutionInfo> infos;
        EXPECT_TRUE(followMove(uuid, infos).ok());
        return moveResult(uuid);
    }
};

TEST_F(ObservableCommandTest, MoveReportsProgressThenItsResultThroughTheExecution) {
    startServer();
    backend_->hold();
    std::string uuid;
    ASSERT_TRUE(startMove(move(3, 1, "Ext1", 6, 1), uuid).ok());
    EXPECT_EQ(uuid.size(), 36u);

    std::vector<fw::ExecutionInfo> infos;
    bool resultWhileRunningRefused = false;
    const auto ended = followMove(uuid, infos, [&](const fw::ExecutionInfo& info) {
        if (info.commandstatus() == fw::ExecutionInfo::running &&
            info.progressinfo().value() == 0.5) {
            const auto early = siLAErrorOf(moveResult(uuid));
            resultWhileRunningRefused = early.has_frameworkerror() &&
                                        early.frameworkerror().errortype() ==
                                            fw::FrameworkError::COMMAND_EXECUTION_NOT_FINISHED;
            backend_->release();
        }
    });
    ASSERT_TRUE(ended.ok());
    EXPECT_TRUE(resultWhileRunningRefused);
    ASSERT_FALSE(infos.empty());
    EXPECT_EQ(infos.back().commandstatus(), fw::ExecutionInfo::finishedSuccessfully);
    EXPECT_EQ(infos.back().progressinfo().value(), 1.0);
    EXPECT_TRUE(moveResult(uuid).ok());
    const auto sent = backend_->lastMove();
    EXPECT_EQ(std::tie(sent.sourceCassette, sent.sourceLevel, sent.targetUnit, sent.targetCassette,
                       sent.targetLevel),
              std::make_tuple(3L, 1L, std::string("Ext1"), 6L, 1L));
}

TEST_F(ObservableCommandTest, InfoAfterTheEndGivesTheFinalStatusAndCloses) {
    startServer();
    std::string uuid;
    ASSERT_TRUE(startMove(move(1, 1, "", 2, 2), uuid).ok());
    std::vector<fw::ExecutionInfo> first, second;
    ASSERT_TRUE(followMove(uuid, first).ok());
    ASSERT_TRUE(followMove(uuid, second).ok());
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second.front().commandstatus(), fw::ExecutionInfo::finishedSuccessfully);
}

TEST_F(ObservableCommandTest, UnknownExecutionUuidsAreAFrameworkError) {
    startServer();
    // An Activate execution is no MovePlate execution.
    grpc::ClientContext context;
    fw::CommandConfirmation confirmation;
    ASSERT_TRUE(uc::UnitController::NewStub(channel_)->Activate(&context, {}, &confirmation).ok());
    for (const std::string& uuid : {std::string("00000000-0000-4000-8000-000000000000"),
                                    confirmation.commandexecutionuuid().value(), std::string()}) {
        const auto fromResult = siLAErrorOf(moveResult(uuid));
        EXPECT_EQ(fromResult.frameworkerror().errortype(),
                  fw::FrameworkError::INVALID_COMMAND_EXECUTION_UUID)
            << uuid;
        std::vector<fw::ExecutionInfo> infos;
        const auto fromInfo = siLAErrorOf(followMove(uuid, infos));
        EXPECT_EQ(fromInfo.frameworkerror().errortype(),
                  fw::FrameworkError::INVALID_COMMAND_EXECUTION_UUID)
            << uuid;
        EXPECT_TRUE(infos.empty());
    }
}

TEST_F(ObservableCommandTest, OutcomesBecomeDefinedErrorsWhereDeclaredElseUndefined) {
    using K = Outcome::Kind;
    struct Case {
        Outcome outcome;
        std::string definedError;  // empty: undefined
    };
    const std::vector<Case> cases = {
        {{K::TargetOccupied, "6/1 holds P0007"}, "TargetOccupied"},
        {{K::SourceEmpty, ""}, "SourceEmpty"},
        {{K::UnitNotActivated, ""}, "UnitNotActivated"},
        {{K::UnitBusy, "a text command moves"}, "UnitBusy"},
        {{K::MotionFailed, "Ext1 step 3"}, "MotionFailed"},
        {{K::UnknownUnit, "Nowhere"}, "UnknownUnit"},
        {{K::ReaderFailed, "reader silent"}, ""},
        {{K::Failed, "the port closed"}, ""},
    };
    startServer();
    for (const auto& c : cases) {
        backend_->setOutcome(c.outcome);
        const auto error = siLAErrorOf(runMove(move(3, 1, "", 6, 1)));
        const std::string expectedMessage =
            c.outcome.message.empty() ? outcomeKindName(c.outcome.kind) : c.outcome.message;
        if (c.definedError.empty()) {
            ASSERT_TRUE(error.has_undefinedexecutionerror()) << c.outcome.message;
            EXPECT_EQ(error.undefinedexecutionerror().message(), expectedMessage);
        } else {
            ASSERT_TRUE(error.has_definedexecutionerror()) << c.definedError;
            EXPECT_EQ(error.definedexecutionerror().erroridentifier(),
                      kTransfer + "/DefinedExecutionError/" + c.definedError);
            EXPECT_EQ(error.definedexecutionerror().message(), expectedMessage);
        }
    }
}

TEST_F(ObservableCommandTest, InvalidParametersAreRefusedBeforeTheUnitIsAsked) {
    struct Case {
        std::string name;
        ptc::MovePlate_Parameters parameters;
        std::string parameter;
    };
    auto missingLevel = move(3, 1, "", 6, 1);
    missingLevel.clear_sourcelevel();
    auto missingUnit = move(3, 1, "", 6, 1);
    missingUnit.clear_targetunit();
    const std::vector<Case> cases = {
        {"missing level", missingLevel, "SourceLevel"},
        {"missing unit", missingUnit, "TargetUnit"},
        {"cassette 0", move(0, 1, "", 6, 1), "SourceCassette"},
        {"cassette 100", move(3, 1, "", 100, 1), "TargetCassette"},
        {"level 0", move(3, 1, "", 6, 0), "TargetLevel"},
        {"negative level", move(3, -1, "", 6, 1), "SourceLevel"},
        {"unit name too long", move(3, 1, std::string(65, 'U'), 6, 1), "TargetUnit"},
    };
    startServer();
    for (const auto& c : cases) {
        std::string uuid;
        const auto error = siLAErrorOf(startMove(c.parameters, uuid));
        ASSERT_TRUE(error.has_validationerror()) << c.name;
        EXPECT_EQ(error.validationerror().parameter(),
                  kTransfer + "/Command/MovePlate/Parameter/" + c.parameter)
            << c.name;
    }
    EXPECT_EQ(backend_->calls(), 0);
    EXPECT_TRUE(runMove(move(99, 999, std::string(64, 'U'), 1, 1)).ok());
}

TEST_F(ObservableCommandTest, CommandsBeyondTheWorkersQueueAreNotAccepted) {
    settings_.workerThreads = 1;
    settings_.workerQueueLimit = 1;
    startServer();
    backend_->hold();
    std::string running, queued, refused;
    ASSERT_TRUE(startMove(move(1, 1, "", 2, 1), running).ok());
    ASSERT_TRUE(test_support::eventually([&] { return backend_->calls() == 1; }));
    ASSERT_TRUE(startMove(move(1, 2, "", 2, 2), queued).ok());
    const auto error = siLAErrorOf(startMove(move(1, 3, "", 2, 3), refused));
    EXPECT_EQ(error.frameworkerror().errortype(),
              fw::FrameworkError::COMMAND_EXECUTION_NOT_ACCEPTED);

    backend_->release();
    std::vector<fw::ExecutionInfo> infos;
    ASSERT_TRUE(followMove(queued, infos).ok());
    EXPECT_TRUE(moveResult(running).ok());
    EXPECT_TRUE(moveResult(queued).ok());
    EXPECT_EQ(backend_->calls(), 2);
}

TEST_F(ObservableCommandTest, StoppingFailsTheQueuedCommandAndLetsTheRunningOneEnd) {
    settings_.workerThreads = 1;
    settings_.workerQueueLimit = 4;
    startServer();
    backend_->hold();
    std::string running, queued;
    ASSERT_TRUE(startMove(move(1, 1, "", 2, 1), running).ok());
    ASSERT_TRUE(test_support::eventually([&] { return backend_->calls() == 1; }));
    ASSERT_TRUE(startMove(move(1, 2, "", 2, 2), queued).ok());
    const auto key = "org.krb/storage/PlateTransferController/v1/Command/MovePlate";
    const auto queuedExecution = server_->context().executions().find(queued, key);
    ASSERT_TRUE(queuedExecution);

    std::thread stop([&] { server_->stop(); });
    EXPECT_TRUE(test_support::eventually([&] { return queuedExecution->finished(); }));
    backend_->release();
    stop.join();
    EXPECT_EQ(queuedExecution->info().commandstatus(), fw::ExecutionInfo::finishedWithError);
    EXPECT_TRUE(server_->context().executions().find(running, key)->finished());
    EXPECT_EQ(backend_->calls(), 1);
}

TEST_F(ObservableCommandTest, EachCommandCarriesItsArgumentsAndResponses) {
    startServer(fullUnit());
    backend_->setLocations({{2, 1, true, "P0002"}, {2, 2, false, ""}});

    grpc::ClientContext activateContext;
    fw::CommandConfirmation activation;
    ASSERT_TRUE(
        uc::UnitController::NewStub(channel_)->Activate(&activateContext, {}, &activation).ok());

    grpc::ClientContext scanContext;
    fw::CommandConfirmation scan;
    ic::ScanInventory_Parameters partition;
    partition.mutable_partition()->set_value("Left");
    auto inventory = ic::InventoryController::NewStub(channel_);
    ASSERT_TRUE(inventory->ScanInventory(&scanContext, partition, &scan).ok());

    const auto waitFor = [&](auto info, const fw::CommandConfirmation& confirmation) {
        grpc::ClientContext context;
        auto reader = info(&context, confirmation.commandexecutionuuid());
        fw::ExecutionInfo last;
        while (reader->Read(&last)) {
        }
        EXPECT_TRUE(reader->Finish().ok());
    };
    auto controller = uc::UnitController::NewStub(channel_);
    waitFor([&](grpc::ClientContext* c,
                const fw::CommandExecutionUUID& id) { return controller->Activate_Info(c, id); },
            activation);
    waitFor(
        [&](grpc::ClientContext* c, const fw::CommandExecutionUUID& id) {
            return inventory->ScanInventory_Info(c, id);
        },
        scan);

    grpc::ClientContext activatedContext;
    uc::Activate_Responses activated;
    ASSERT_TRUE(
        controller
            ->Activate_Result(&activatedContext, activation.commandexecutionuuid(), &activated)
            .ok());
    EXPECT_TRUE(activated.readerconnected().value());

    grpc::ClientContext scannedContext;
    ic::ScanInventory_Responses scanned;
    ASSERT_TRUE(
        inventory->ScanInventory_Result(&scannedContext, scan.commandexecutionuuid(), &scanned)
            .ok());
    EXPECT_EQ(backend_->lastPartition(), "Left");
    ASSERT_EQ(scanned.locations_size(), 2);
    EXPECT_EQ(scanned.locations(0).barcode().value(), "P0002");
    EXPECT_FALSE(scanned.locations(1).present().value());

    grpc::ClientContext contentsContext;
    ic::Get_Contents_Responses contents;
    ASSERT_TRUE(inventory->Get_Contents(&contentsContext, {}, &contents).ok());
    ASSERT_EQ(contents.contents_size(), 2);
    EXPECT_EQ(contents.contents(0).cassette().value(), 2);
    EXPECT_EQ(contents.contents(1).level().value(), 2);

    grpc::ClientContext readContext;
    brc::ReadBarcode_Parameters where;
    where.mutable_cassette()->set_value(4);
    where.mutable_level()->set_value(7);
    brc::ReadBarcode_Responses barcode;
    ASSERT_TRUE(brc::BarcodeReaderController::NewStub(channel_)
                    ->ReadBarcode(&readContext, where, &barcode)
                    .ok());
    EXPECT_EQ(barcode.barcode().value(), "P4/7");

    grpc::ClientContext climateContext;
    cc::SetTargetClimate_Parameters target;
    target.mutable_temperature()->set_value(37);
    target.mutable_humidity()->set_value(95);
    target.mutable_co2()->set_value(5);
    target.mutable_n2()->set_value(1.5);
    cc::SetTargetClimate_Responses none;
    ASSERT_TRUE(cc::ClimateController::NewStub(channel_)
                    ->SetTargetClimate(&climateContext, target, &none)
                    .ok());
    EXPECT_EQ(backend_->lastTarget().n2, 1.5);

    grpc::ClientContext vialContext;
    ttc::ReadVialBarcode_Parameters vial;
    vial.mutable_first()->set_value(3);
    vial.mutable_second()->set_value(8);
    ttc::ReadVialBarcode_Responses vialCode;
    ASSERT_TRUE(ttc::TubeTransferController::NewStub(channel_)
                    ->ReadVialBarcode(&vialContext, vial, &vialCode)
                    .ok());
    EXPECT_EQ(vialCode.barcode().value(), "V3/8");
}

TEST_F(ObservableCommandTest, UnobservableCommandsAnswerTheirErrorsAtOnce) {
    startServer(fullUnit());
    backend_->setOutcome({Outcome::Kind::NoBarcode, "no label"});
    grpc::ClientContext readContext;
    brc::ReadBarcode_Parameters where;
    where.mutable_cassette()->set_value(4);
    where.mutable_level()->set_value(7);
    brc::ReadBarcode_Responses barcode;
    const auto error = siLAErrorOf(brc::BarcodeReaderController::NewStub(channel_)->ReadBarcode(
        &readContext, where, &barcode));
    EXPECT_EQ(error.definedexecutionerror().erroridentifier(),
              "org.krb/storage/BarcodeReaderController/v1/DefinedExecutionError/NoBarcode");

    grpc::ClientContext climateContext;
    cc::SetTargetClimate_Parameters hot;
    hot.mutable_temperature()->set_value(81);
    hot.mutable_humidity()->set_value(50);
    hot.mutable_co2()->set_value(5);
    hot.mutable_n2()->set_value(0);
    cc::SetTargetClimate_Responses none;
    const auto invalid = siLAErrorOf(
        cc::ClimateController::NewStub(channel_)->SetTargetClimate(&climateContext, hot, &none));
    EXPECT_EQ(
        invalid.validationerror().parameter(),
        "org.krb/storage/ClimateController/v1/Command/SetTargetClimate/Parameter/Temperature");
}

}  // namespace
}  // namespace krb::sila::test
