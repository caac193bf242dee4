#pragma once
// What every virtual unit's controller does besides answering registers: a motion queue
// run by a worker thread (the ready flag 1915 reads "0" while anything is queued or moving),
// errors with a DM200 code (flag 1814), initialisation and axis references, door and lock,
// scan mode, the barcode trigger relays, climate and the status word. Plate stores, the
// cascader and the tube store add their motions and their meaning of DM0 and DM5.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "sim/controller_emulator.h"
#include "sim/plate_world.h"

namespace krb::sim {

struct MotionTimes {     // nominal milliseconds, scaled by the platform clock
    int motion = 1500;   // one handler motion (relays 1904 to 1909)
    int init = 3000;     // initialisation (relay 1801)
    int turn = 300;      // carousel or cascader turn (a DM0 write outside scan mode)
    int position = 100;  // scan-mode positioning (DM0, DM5, DM6 while 1910 is set)
    int gate = 400;      // gate and transfer completion (relays 1901 to 1903)
    int reader = 50;     // barcode reader: from the trigger to the code
};

enum class Operation {
    None = 0,
    Import = 1,
    Export = 2,
    Set = 3,
    Scan = 4,
    Place = 5,
    Get = 6,
    Pick = 7
};

enum class ErrorKind {
    GeneralHandling = 1,
    MotorTimeout = 3,
    LiftPositioning = 9,
    UserAccess = 10,
    StackerSlot = 11,
    PlateTransfer = 13,
    LiftInitialization = 14,
    PlateOnShovel = 15,
    NoPlateOnShovel = 16,
};

// The DM200 word: operation digit, step digit, kind byte (0x7210: pick, step 2, kind 16).
std::uint16_t errorCode(Operation operation, int step, ErrorKind kind);

struct UnitIdentity {
    std::uint16_t firmware = 7100;  // DM108
    std::uint16_t serial = 1000;    // DM109
    bool lockBeforeInit = false;    // relay 3101
    bool lockedAtStart = false;     // relay 1701 commanded at power-up
};

struct UnitStatus {
    bool ready = false;
    bool error = false;
    std::uint16_t errorCode = 0;
    bool referenced = false;
    bool doorOpen = false;
    bool locked = false;
    bool scanMode = false;
    std::size_t queuedMotions = 0;
};

class UnitModelBase : public UnitModel {
  public:
    using UnsolicitedSink = std::function<void(int delayNominalMs, LineChannel::Producer)>;

    UnitModelBase(int com, RegisterStore& registers, PlateWorld& world, MotionTimes times,
                  UnitIdentity identity);
    ~UnitModelBase() override;
    UnitModelBase(const UnitModelBase&) = delete;
    UnitModelBase& operator=(const UnitModelBase&) = delete;

    std::optional<std::string> handle(const Command& command, RegisterStore& registers) final;

    int com() const { return com_; }
    // Ends the worker thread. The owner calls it before the registers or any unit this one
    // reaches go away; idempotent.
    void stop();

    // The code the reader sees now; nullopt when nothing (or nothing labelled) is in front.
    virtual std::optional<std::string> codeInFrontOfReader() const = 0;
    // A reader on its own port, triggered by relay 1710.
    void setReaderTrigger(std::function<void()> trigger);
    // A reader relayed by the controller: relays 1712 and 1710 make its code follow on the
    // controller line, framed by bytes 2 and 3.
    void setRelayedReader(UnsolicitedSink sink);

    // Faults.
    void failNextMotion(std::uint16_t code);  // next handler motion (1904 to 1909)
    void setMotionTime(int nominalMs);        // 0: as configured
    void setDoorOpen(bool open);
    void controllerReset();  // references lost, queued motions dropped, error cleared
    void clearFaults();

    UnitStatus status() const;
    bool waitUntilIdle(std::chrono::milliseconds realTimeout) const;  // ready or error

  protected:
    // Runs on the worker thread when the motion's time is up: 0 when done, else the DM200
    // code; a failing action must leave the world unchanged.
    using Action = std::function<std::uint16_t()>;
    struct Motion {
        Operation operation = Operation::None;
        int nominalMs = 0;
        Action action;
    };

    virtual std::optional<std::string> handleUnit(const Command&) { return std::nullopt; }
    virtual std::optional<Motion> handlerMotion(int relay) = 0;  // relays 1904 to 1909
    virtual void wordWritten(int address, std::uint16_t value) = 0;
    virtual std::optional<std::uint16_t> parseWord(const std::string& text) const;
    virtual bool detectorReads(int relay) const = 0;  // 1808, 1812 (shovel), 1813, 1807
    virtual bool shovelOccupied() const = 0;
    virtual int handlerSlot() const { return 0; }

    void queue(Motion motion);
    void queuePositioning();
    std::uint16_t readinessError(Operation operation) const;  // references and door; 0 if fine
    bool scanMode() const { return registers_.relay(1910); }

    const int com_;
    RegisterStore& registers_;
    PlateWorld& world_;
    const MotionTimes times_;

  private:
    struct Job {
        Motion motion;
        std::uint64_t generation;
    };
    struct ClimateChannel {
        int setWord;
        int actualWord;
        int ambient;
        double ratePerSecond;  // word units per nominal second
        double actual;
    };

    std::optional<std::string> setRelay(int relay);
    std::optional<std::string> resetRelay(int relay);
    std::optional<std::string> readRelay(int relay);
    std::optional<std::string> readWord(int address);
    std::string writeWord(const Command& command);
    void startHandlerMotion(int relay);
    void startInitialisation();
    void acknowledgeError();
    void abortMotions(bool loseReferences);
    void relayBarcode();
    void raiseError(std::uint16_t code);  // mutex_ held
    void updateReadyLocked();
    void workerLoop();
    void runJob(std::unique_lock<std::mutex>& lock, Job job);
    void updateClimate();
    std::uint16_t statusWord() const;
    bool lockEngaged() const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    mutable std::condition_variable idle_;
    std::deque<Job> jobs_;
    bool running_ = false;
    bool stopping_ = false;
    std::uint64_t generation_ = 0;
    std::optional<std::uint16_t> injectedError_;
    int motionTimeOverride_ = 0;
    bool doorOpen_ = false;
    bool lockCommanded_ = false;

    std::function<void()> readerTrigger_;
    UnsolicitedSink relayedReader_;

    std::mutex climateMutex_;
    std::vector<ClimateChannel> climate_;
    std::chrono::steady_clock::time_point climateUpdated_;

    std::thread worker_;  // last: starts once everything above exists
};

}  // namespace krb::sim
