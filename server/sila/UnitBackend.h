#pragma once
// What a unit's SiLA 2 server asks of the lab, in the lab's own terms (no gRPC types).
//
// Threads: status(), climate() and identity() are called on gRPC's threads and must only read
// what the server already polls (cheap, never a serial exchange). Every other call runs on the
// unit server's own workers and may block for as long as the operation takes; it must take the
// same locks, in the same order, as the text protocol's command for the same operation.
// A progress callback may be called from any thread, with a fraction in 0..1.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace krb::sila {

struct UnitIdentity {
    std::string unitId;      // ServerName until a client sets another, e.g. "Base1"
    std::string serverType;  // [A-Z][a-zA-Z0-9]*, e.g. "PlateStore"
    std::string description;
    bool hasReader = false;
    bool hasClimate = false;
    bool isTubeStore = false;
};

// Every value is empty while it is not known (never a default).
struct UnitStatus {
    std::optional<bool> activated;
    std::optional<bool> busy;
    std::optional<bool> doorOpen;
    std::optional<bool> linkUp;
    std::optional<long> errorCode;            // 0 = none
    std::optional<std::string> errorMessage;  // empty = none
};

struct ClimateReadings {
    std::optional<double> temperature;
    std::optional<double> humidity;
    std::optional<double> co2;
    std::optional<double> n2;
};

// How an operation ended. The kinds other than Done and Failed are reported to clients as the
// defined execution error of the same name where the command declares it; `message` says more
// (for MotionFailed: the failing unit and step, e.g. "Ext1 step 3: shovel did not reach").
struct Outcome {
    enum class Kind {
        Done,
        UnitNotActivated,
        UnitBusy,
        TargetOccupied,
        SourceEmpty,
        MotionFailed,
        UnknownUnit,
        UnknownPartition,
        ActivationFailed,
        NoBarcode,
        ReaderFailed,
        ClimateFailed,
        GetFailed,
        PutFailed,
        TransferFailed,
        Failed,  // anything else: an undefined execution error with `message`
    };
    Kind kind = Kind::Failed;
    std::string message;

    static Outcome done() { return {Kind::Done, {}}; }
    bool ok() const { return kind == Kind::Done; }
};

using ProgressFn = std::function<void(double fraction)>;

struct PlateMove {
    long sourceCassette = 0;
    long sourceLevel = 0;
    std::string targetUnit;  // empty = this unit; another unit's ID moves through the cascade
    long targetCassette = 0;
    long targetLevel = 0;
};

struct PlateLocation {
    long cassette = 0;
    long level = 0;
    bool present = false;
    std::string barcode;  // empty when none is known
};

struct ActivationResult {
    Outcome outcome;
    bool readerConnected = false;
};

struct InventoryResult {
    Outcome outcome;
    std::vector<PlateLocation> locations;  // merged into the contents file as the plate scans do
};

struct ContentsResult {
    Outcome outcome;
    std::vector<PlateLocation> locations;
};

struct BarcodeResult {
    Outcome outcome;
    std::string barcode;
};

struct TargetClimate {
    double temperature = 0;
    double humidity = 0;
    double co2 = 0;
    double n2 = 0;
};

// A tube store's place: the library's kind code, cassette and level where the kind has them
// (0 otherwise), the first and second coordinates of the tube or vial there.
struct TubePlace {
    long kind = 0;
    long cassette = 0;
    long level = 0;
    long first = 0;
    long second = 0;
};

struct TubeMove {
    TubePlace source;
    TubePlace target;
    long number = 1;
};

class UnitBackend {
  public:
    virtual ~UnitBackend() = default;

    virtual UnitIdentity identity() const = 0;
    virtual UnitStatus status() const = 0;
    // Called whenever a status or climate value may have changed; one listener, replaced by a
    // later call, cleared with an empty function before the server goes. Call it without
    // holding any lock that status() or climate() take: it reads them again at once.
    virtual void setStatusListener(std::function<void()> listener) = 0;

    virtual ActivationResult activate() = 0;
    virtual Outcome deactivate() = 0;
    virtual Outcome softReset() = 0;
    virtual Outcome movePlate(const PlateMove& move, const ProgressFn& progress) = 0;
    virtual InventoryResult scanInventory(const std::string& partition,
                                          const ProgressFn& progress) = 0;
    virtual ContentsResult contents() = 0;

    // Units with a reader.
    virtual BarcodeResult readBarcode(long cassette, long level) = 0;

    // Units with climate; the climate listener is the status listener.
    virtual std::optional<ClimateReadings> climate() const = 0;
    virtual Outcome setClimate(const TargetClimate& target) = 0;

    // Tube stores.
    virtual Outcome moveVial(const TubeMove& move, const ProgressFn& progress) = 0;
    virtual Outcome moveTube(const TubeMove& move, const ProgressFn& progress) = 0;
    virtual BarcodeResult readVialBarcode(long first, long second) = 0;
};

}  // namespace krb::sila
