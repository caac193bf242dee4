#include "sila/UnitFeatures.h"

#include <algorithm>

#include "BarcodeReaderController.grpc.pb.h"
#include "ClimateController.grpc.pb.h"
#include "InventoryController.grpc.pb.h"
#include "PlateTransferController.grpc.pb.h"
#include "TubeTransferController.grpc.pb.h"
#include "UnitController.grpc.pb.h"
#include "UnitStatusProvider.grpc.pb.h"
#include "sila/SilaService.h"

namespace krb::sila {
namespace {

using Cx = grpc::CallbackServerContext;
using grpc::ServerUnaryReactor;
using grpc::ServerWriteReactor;
using grpc::Status;
namespace usp = sila2::org::krb::storage::unitstatusprovider::v1;
namespace uc = sila2::org::krb::storage::unitcontroller::v1;
namespace ptc = sila2::org::krb::storage::platetransfercontroller::v1;
namespace ic = sila2::org::krb::storage::inventorycontroller::v1;
namespace brc = sila2::org::krb::storage::barcodereadercontroller::v1;
namespace cc = sila2::org::krb::storage::climatecontroller::v1;
namespace ttc = sila2::org::krb::storage::tubetransfercontroller::v1;

// The status a command of `feature` answers for an outcome of the backend.
Status outcomeStatus(const char* feature, const char* command, const Outcome& outcome) {
    const auto& model = featureModel(feature);
    return statusFor(model, model.command(command), outcome);
}

// An unobservable command: parameters checked on gRPC's thread, the backend called on a worker.
template <class Parameters>
ServerUnaryReactor* runUnobservable(UnitContext& unit, Cx* context, const char* feature,
                                    const char* command, const Parameters& parameters,
                                    std::function<Status()> work) {
    const auto& model = featureModel(feature);
    if (auto invalid = checkParameters(model, model.command(command), parameters)) {
        return answer(context, *invalid);
    }
    return answerFromWorker(unit, context, std::move(work));
}

template <class Structure>
void fillLocation(Structure& structure, const PlateLocation& location) {
    structure.mutable_cassette()->set_value(location.cassette);
    structure.mutable_level()->set_value(location.level);
    structure.mutable_present()->set_value(location.present);
    structure.mutable_barcode()->set_value(location.barcode);
}

class UnitStatusFeature final : public usp::UnitStatusProvider::CallbackService {
  public:
    explicit UnitStatusFeature(UnitContext& unit) : unit_(unit) {}

    ServerWriteReactor<usp::Subscribe_Activated_Responses>* Subscribe_Activated(
        Cx*, const usp::Subscribe_Activated_Parameters*) override {
        return stream<usp::Subscribe_Activated_Responses>(
            &UnitStatus::activated, [](auto& r, bool v) { r.mutable_activated()->set_value(v); });
    }
    ServerWriteReactor<usp::Subscribe_Busy_Responses>* Subscribe_Busy(
        Cx*, const usp::Subscribe_Busy_Parameters*) override {
        return stream<usp::Subscribe_Busy_Responses>(
            &UnitStatus::busy, [](auto& r, bool v) { r.mutable_busy()->set_value(v); });
    }
    ServerWriteReactor<usp::Subscribe_DoorOpen_Responses>* Subscribe_DoorOpen(
        Cx*, const usp::Subscribe_DoorOpen_Parameters*) override {
        return stream<usp::Subscribe_DoorOpen_Responses>(
            &UnitStatus::doorOpen, [](auto& r, bool v) { r.mutable_dooropen()->set_value(v); });
    }
    ServerWriteReactor<usp::Subscribe_LinkUp_Responses>* Subscribe_LinkUp(
        Cx*, const usp::Subscribe_LinkUp_Parameters*) override {
        return stream<usp::Subscribe_LinkUp_Responses>(
            &UnitStatus::linkUp, [](auto& r, bool v) { r.mutable_linkup()->set_value(v); });
    }
    ServerWriteReactor<usp::Subscribe_ErrorCode_Responses>* Subscribe_ErrorCode(
        Cx*, const usp::Subscribe_ErrorCode_Parameters*) override {
        return stream<usp::Subscribe_ErrorCode_Responses>(
            &UnitStatus::errorCode, [](auto& r, long v) { r.mutable_errorcode()->set_value(v); });
    }
    ServerWriteReactor<usp::Subscribe_ErrorMessage_Responses>* Subscribe_ErrorMessage(
        Cx*, const usp::Subscribe_ErrorMessage_Parameters*) override {
        return stream<usp::Subscribe_ErrorMessage_Responses>(
            &UnitStatus::errorMessage,
            [](auto& r, const std::string& v) { r.mutable_errormessage()->set_value(v); });
    }

  private:
    template <class Responses, class T, class Set>
    ServerWriteReactor<Responses>* stream(std::optional<T> UnitStatus::*member, Set set) {
        UnitBackend& backend = unit_.backend();
        return subscribe<Responses>(unit_, [&backend, member, set]() -> std::optional<Responses> {
            const auto value = backend.status().*member;
            if (!value) return std::nullopt;
            Responses responses;
            set(responses, *value);
            return responses;
        });
    }

    UnitContext& unit_;
};

class UnitControllerFeature final : public uc::UnitController::CallbackService {
  public:
    explicit UnitControllerFeature(UnitContext& unit) : unit_(unit) {}

    ServerUnaryReactor* Activate(Cx* context, const uc::Activate_Parameters* request,
                                 CommandConfirmation* confirmation) override {
        UnitBackend& backend = unit_.backend();
        return startObservable<uc::Activate_Responses, uc::Activate_Parameters>(
            unit_, context, model(), "Activate", *request, confirmation,
            [&backend](const auto&, uc::Activate_Responses& responses, const ProgressFn&) {
                const auto result = backend.activate();
                if (!result.outcome.ok())
                    return outcomeStatus(kFeature, "Activate", result.outcome);
                responses.mutable_readerconnected()->set_value(result.readerConnected);
                return Status::OK;
            });
    }
    ServerWriteReactor<ExecutionInfo>* Activate_Info(Cx*, const CommandExecutionUUID* id) override {
        return executionInfo(unit_, model(), "Activate", *id);
    }
    ServerUnaryReactor* Activate_Result(Cx* context, const CommandExecutionUUID* id,
                                        uc::Activate_Responses* responses) override {
        return executionResult(unit_, context, model(), "Activate", *id, responses);
    }

    ServerUnaryReactor* Deactivate(Cx* context, const uc::Deactivate_Parameters* request,
                                   uc::Deactivate_Responses*) override {
        UnitBackend& backend = unit_.backend();
        return runUnobservable(unit_, context, kFeature, "Deactivate", *request, [&backend] {
            return outcomeStatus(kFeature, "Deactivate", backend.deactivate());
        });
    }

    ServerUnaryReactor* SoftReset(Cx* context, const uc::SoftReset_Parameters* request,
                                  CommandConfirmation* confirmation) override {
        UnitBackend& backend = unit_.backend();
        return startObservable<uc::SoftReset_Responses, uc::SoftReset_Parameters>(
            unit_, context, model(), "SoftReset", *request, confirmation,
            [&backend](const auto&, uc::SoftReset_Responses&, const ProgressFn&) {
                return outcomeStatus(kFeature, "SoftReset", backend.softReset());
            });
    }
    ServerWriteReactor<ExecutionInfo>* SoftReset_Info(Cx*,
                                                      const CommandExecutionUUID* id) override {
        return executionInfo(unit_, model(), "SoftReset", *id);
    }
    ServerUnaryReactor* SoftReset_Result(Cx* context, const CommandExecutionUUID* id,
                                         uc::SoftReset_Responses* responses) override {
        return executionResult(unit_, context, model(), "SoftReset", *id, responses);
    }

  private:
    static constexpr const char* kFeature = "UnitController";
    static const FeatureModel& model() { return featureModel(kFeature); }
    UnitContext& unit_;
};

class PlateTransferFeature final : public ptc::PlateTransferController::CallbackService {
  public:
    explicit PlateTransferFeature(UnitContext& unit) : unit_(unit) {}

    ServerUnaryReactor* MovePlate(Cx* context, const ptc::MovePlate_Parameters* request,
                                  CommandConfirmation* confirmation) override {
        UnitBackend& backend = unit_.backend();
        return startObservable<ptc::MovePlate_Responses, ptc::MovePlate_Parameters>(
            unit_, context, model(), "MovePlate", *request, confirmation,
            [&backend](const ptc::MovePlate_Parameters& p, ptc::MovePlate_Responses&,
                       const ProgressFn& progress) {
                const PlateMove move{p.sourcecassette().value(), p.sourcelevel().value(),
                                     p.targetunit().value(), p.targetcassette().value(),
                                     p.targetlevel().value()};
                return outcomeStatus(kFeature, "MovePlate", backend.movePlate(move, progress));
            });
    }
    ServerWriteReactor<ExecutionInfo>* MovePlate_Info(Cx*,
                                                      const CommandExecutionUUID* id) override {
        return executionInfo(unit_, model(), "MovePlate", *id);
    }
    ServerUnaryReactor* MovePlate_Result(Cx* context, const CommandExecutionUUID* id,
                                         ptc::MovePlate_Responses* responses) override {
        return executionResult(unit_, context, model(), "MovePlate", *id, responses);
    }

  private:
    static constexpr const char* kFeature = "PlateTransferController";
    static const FeatureModel& model() { return featureModel(kFeature); }
    UnitContext& unit_;
};

class InventoryFeature final : public ic::InventoryController::CallbackService {
  public:
    explicit InventoryFeature(UnitContext& unit) : unit_(unit) {}

    ServerUnaryReactor* ScanInventory(Cx* context, const ic::ScanInventory_Parameters* request,
                                      CommandConfirmation* confirmation) override {
        UnitBackend& backend = unit_.backend();
        return startObservable<ic::ScanInventory_Responses, ic::ScanInventory_Parameters>(
            unit_, context, model(), "ScanInventory", *request, confirmation,
            [&backend](const ic::ScanInventory_Parameters& p,
                       ic::ScanInventory_Responses& responses, const ProgressFn& progress) {
                const auto result = backend.scanInventory(p.partition().value(), progress);
                if (!result.outcome.ok()) {
                    return outcomeStatus(kFeature, "ScanInventory", result.outcome);
                }
                for (const auto& location : result.locations) {
                    fillLocation(*responses.add_locations(), location);
                }
                return Status::OK;
            });
    }
    ServerWriteReactor<ExecutionInfo>* ScanInventory_Info(Cx*,
                                                          const CommandExecutionUUID* id) override {
        return executionInfo(unit_, model(), "ScanInventory", *id);
    }
    ServerUnaryReactor* ScanInventory_Result(Cx* context, const CommandExecutionUUID* id,
                                             ic::ScanInventory_Responses* responses) override {
        return executionResult(unit_, context, model(), "ScanInventory", *id, responses);
    }

    ServerUnaryReactor* Get_Contents(Cx* context, const ic::Get_Contents_Parameters*,
                                     ic::Get_Contents_Responses* responses) override {
        UnitBackend& backend = unit_.backend();
        return answerFromWorker(unit_, context, [&backend, responses] {
            const auto result = backend.contents();
            if (!result.outcome.ok()) {
                return undefinedExecutionError(result.outcome.message.empty()
                                                   ? "The contents file could not be read."
                                                   : result.outcome.message);
            }
            for (const auto& location : result.locations) {
                fillLocation(*responses->add_contents(), location);
            }
            return Status::OK;
        });
    }

  private:
    static constexpr const char* kFeature = "InventoryController";
    static const FeatureModel& model() { return featureModel(kFeature); }
    UnitContext& unit_;
};

class BarcodeReaderFeature final : public brc::BarcodeReaderController::CallbackService {
  public:
    explicit BarcodeReaderFeature(UnitContext& unit) : unit_(unit) {}

    ServerUnaryReactor* ReadBarcode(Cx* context, const brc::ReadBarcode_Parameters* request,
                                    brc::ReadBarcode_Responses* responses) override {
        UnitBackend& backend = unit_.backend();
        const long cassette = request->cassette().value();
        const long level = request->level().value();
        return runUnobservable(unit_, context, kFeature, "ReadBarcode", *request,
                               [&backend, responses, cassette, level] {
                                   const auto result = backend.readBarcode(cassette, level);
                                   if (!result.outcome.ok())
                                       return outcomeStatus(kFeature, "ReadBarcode",
                                                            result.outcome);
                                   responses->mutable_barcode()->set_value(result.barcode);
                                   return Status::OK;
                               });
    }

  private:
    static constexpr const char* kFeature = "BarcodeReaderController";
    UnitContext& unit_;
};

class ClimateFeature final : public cc::ClimateController::CallbackService {
  public:
    explicit ClimateFeature(UnitContext& unit) : unit_(unit) {}

    ServerUnaryReactor* SetTargetClimate(Cx* context,
                                         const cc::SetTargetClimate_Parameters* request,
                                         cc::SetTargetClimate_Responses*) override {
        UnitBackend& backend = unit_.backend();
        const TargetClimate target{request->temperature().value(), request->humidity().value(),
                                   request->co2().value(), request->n2().value()};
        return runUnobservable(
            unit_, context, kFeature, "SetTargetClimate", *request, [&backend, target] {
                return outcomeStatus(kFeature, "SetTargetClimate", backend.setClimate(target));
            });
    }
    ServerWriteReactor<cc::Subscribe_CurrentTemperature_Responses>* Subscribe_CurrentTemperature(
        Cx*, const cc::Subscribe_CurrentTemperature_Parameters*) override {
        return stream<cc::Subscribe_CurrentTemperature_Responses>(
            &ClimateReadings::temperature,
            [](auto& r, double v) { r.mutable_currenttemperature()->set_value(v); });
    }
    ServerWriteReactor<cc::Subscribe_CurrentHumidity_Responses>* Subscribe_CurrentHumidity(
        Cx*, const cc::Subscribe_CurrentHumidity_Parameters*) override {
        return stream<cc::Subscribe_CurrentHumidity_Responses>(
            &ClimateReadings::humidity,
            [](auto& r, double v) { r.mutable_currenthumidity()->set_value(v); });
    }
    ServerWriteReactor<cc::Subscribe_CurrentCO2_Responses>* Subscribe_CurrentCO2(
        Cx*, const cc::Subscribe_CurrentCO2_Parameters*) override {
        return stream<cc::Subscribe_CurrentCO2_Responses>(
            &ClimateReadings::co2, [](auto& r, double v) { r.mutable_currentco2()->set_value(v); });
    }
    ServerWriteReactor<cc::Subscribe_CurrentN2_Responses>* Subscribe_CurrentN2(
        Cx*, const cc::Subscribe_CurrentN2_Parameters*) override {
        return stream<cc::Subscribe_CurrentN2_Responses>(
            &ClimateReadings::n2, [](auto& r, double v) { r.mutable_currentn2()->set_value(v); });
    }

  private:
    template <class Responses, class Set>
    ServerWriteReactor<Responses>* stream(std::optional<double> ClimateReadings::*member, Set set) {
        UnitBackend& backend = unit_.backend();
        return subscribe<Responses>(unit_, [&backend, member, set]() -> std::optional<Responses> {
            const auto readings = backend.climate();
            if (!readings || !((*readings).*member)) return std::nullopt;
            Responses responses;
            set(responses, *((*readings).*member));
            return responses;
        });
    }

    static constexpr const char* kFeature = "ClimateController";
    UnitContext& unit_;
};

class TubeTransferFeature final : public ttc::TubeTransferController::CallbackService {
  public:
    explicit TubeTransferFeature(UnitContext& unit) : unit_(unit) {}

    ServerUnaryReactor* MoveVial(Cx* context, const ttc::MoveVial_Parameters* request,
                                 CommandConfirmation* confirmation) override {
        UnitBackend& backend = unit_.backend();
        return startObservable<ttc::MoveVial_Responses, ttc::MoveVial_Parameters>(
            unit_, context, model(), "MoveVial", *request, confirmation,
            [&backend](const ttc::MoveVial_Parameters& p, ttc::MoveVial_Responses&,
                       const ProgressFn& progress) {
                const TubeMove move{{p.sourcekind().value(), 0, 0, p.sourcefirst().value(),
                                     p.sourcesecond().value()},
                                    {p.targetkind().value(), 0, 0, p.targetfirst().value(),
                                     p.targetsecond().value()},
                                    p.number().value()};
                return outcomeStatus(kFeature, "MoveVial", backend.moveVial(move, progress));
            });
    }
    ServerWriteReactor<ExecutionInfo>* MoveVial_Info(Cx*, const CommandExecutionUUID* id) override {
        return executionInfo(unit_, model(), "MoveVial", *id);
    }
    ServerUnaryReactor* MoveVial_Result(Cx* context, const CommandExecutionUUID* id,
                                        ttc::MoveVial_Responses* responses) override {
        return executionResult(unit_, context, model(), "MoveVial", *id, responses);
    }

    ServerUnaryReactor* MoveTube(Cx* context, const ttc::MoveTube_Parameters* request,
                                 CommandConfirmation* confirmation) override {
        UnitBackend& backend = unit_.backend();
        return startObservable<ttc::MoveTube_Responses, ttc::MoveTube_Parameters>(
            unit_, context, model(), "MoveTube", *request, confirmation,
            [&backend](const ttc::MoveTube_Parameters& p, ttc::MoveTube_Responses&,
                       const ProgressFn& progress) {
                const TubeMove move{
                    {p.sourcekind().value(), p.sourcecassette().value(), p.sourcelevel().value(),
                     p.sourcefirst().value(), p.sourcesecond().value()},
                    {p.targetkind().value(), p.targetcassette().value(), p.targetlevel().value(),
                     p.targetfirst().value(), p.targetsecond().value()},
                    p.number().value()};
                return outcomeStatus(kFeature, "MoveTube", backend.moveTube(move, progress));
            });
    }
    ServerWriteReactor<ExecutionInfo>* MoveTube_Info(Cx*, const CommandExecutionUUID* id) override {
        return executionInfo(unit_, model(), "MoveTube", *id);
    }
    ServerUnaryReactor* MoveTube_Result(Cx* context, const CommandExecutionUUID* id,
                                        ttc::MoveTube_Responses* responses) override {
        return executionResult(unit_, context, model(), "MoveTube", *id, responses);
    }

    ServerUnaryReactor* ReadVialBarcode(Cx* context, const ttc::ReadVialBarcode_Parameters* request,
                                        ttc::ReadVialBarcode_Responses* responses) override {
        UnitBackend& backend = unit_.backend();
        const long first = request->first().value();
        const long second = request->second().value();
        return runUnobservable(unit_, context, kFeature, "ReadVialBarcode", *request,
                               [&backend, responses, first, second] {
                                   const auto result = backend.readVialBarcode(first, second);
                                   if (!result.outcome.ok()) {
                                       return outcomeStatus(kFeature, "ReadVialBarcode",
                                                            result.outcome);
                                   }
                                   responses->mutable_barcode()->set_value(result.barcode);
                                   return Status::OK;
                               });
    }

  private:
    static constexpr const char* kFeature = "TubeTransferController";
    static const FeatureModel& model() { return featureModel(kFeature); }
    UnitContext& unit_;
};

}  // namespace

std::vector<std::unique_ptr<grpc::Service>> makeFeatureServices(UnitContext& unit) {
    using Make = std::unique_ptr<grpc::Service> (*)(UnitContext&);
    static const std::vector<std::pair<std::string, Make>> table = {
        {"SiLAService",
         [](UnitContext& u) -> std::unique_ptr<grpc::Service> {
             return std::make_unique<SiLAServiceFeature>(u);
         }},
        {"UnitStatusProvider",
         [](UnitContext& u) -> std::unique_ptr<grpc::Service> {
             return std::make_unique<UnitStatusFeature>(u);
         }},
        {"UnitController",
         [](UnitContext& u) -> std::unique_ptr<grpc::Service> {
             return std::make_unique<UnitControllerFeature>(u);
         }},
        {"PlateTransferController",
         [](UnitContext& u) -> std::unique_ptr<grpc::Service> {
             return std::make_unique<PlateTransferFeature>(u);
         }},
        {"InventoryController",
         [](UnitContext& u) -> std::unique_ptr<grpc::Service> {
             return std::make_unique<InventoryFeature>(u);
         }},
        {"BarcodeReaderController",
         [](UnitContext& u) -> std::unique_ptr<grpc::Service> {
             return std::make_unique<BarcodeReaderFeature>(u);
         }},
        {"ClimateController",
         [](UnitContext& u) -> std::unique_ptr<grpc::Service> {
             return std::make_unique<ClimateFeature>(u);
         }},
        {"TubeTransferController",
         [](UnitContext& u) -> std::unique_ptr<grpc::Service> {
             return std::make_unique<TubeTransferFeature>(u);
         }},
    };
    std::vector<std::unique_ptr<grpc::Service>> services;
    for (const auto& identifier : unit.features()) {
        const auto it = std::find_if(table.begin(), table.end(),
                                     [&](const auto& row) { return row.first == identifier; });
        if (it != table.end()) services.push_back(it->second(unit));
    }
    return services;
}

}  // namespace krb::sila
