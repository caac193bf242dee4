#include "sim/unit_model_base.h"

#include <algorithm>
#include <cmath>

#include "platform/clock.h"

namespace krb::sim {
namespace {

constexpr int kReadyRelay = 1915;
constexpr int kErrorRelay = 1814;
constexpr int kErrorWord = 200;
constexpr int kInitRelay = 1801;
constexpr int kLockRelay = 1701;
constexpr int kScanRelay = 1910;
constexpr int kReferenceRelays[] = {6500, 6501, 6502, 6503, 6504, 6505};

constexpr char kStartOfText = 2;
constexpr char kEndOfText = 3;

bool isHandlerMotionRelay(int relay) { return relay >= 1904 && relay <= 1909; }

std::uint16_t signedToWord(int value) { return static_cast<std::uint16_t>(value & 0xFFFF); }

int wordToSigned(std::uint16_t word) { return word > 32767 ? word - 65536 : word; }

}  // namespace

std::uint16_t errorCode(Operation operation, int step, ErrorKind kind) {
    return static_cast<std::uint16_t>((static_cast<int>(operation) & 0xF) << 12 |
                                      (step & 0xF) << 8 | (static_cast<int>(kind) & 0xFF));
}

UnitModelBase::UnitModelBase(int com, RegisterStore& registers, PlateWorld& world,
                             MotionTimes times, UnitIdentity identity)
    : com_(com), registers_(registers), world_(world), times_(times) {
    registers_.setDm(108, identity.firmware);
    registers_.setDm(109, identity.serial);
    registers_.setRelay(3101, identity.lockBeforeInit);
    lockCommanded_ = identity.lockedAtStart;
    registers_.setRelay(kLockRelay, identity.lockedAtStart);
    registers_.setRelay(kReadyRelay, true);
    // Set word, actual word, ambient value, rate: temperature and humidity in tenths,
    // gases in hundredths of a percent.
    climate_ = {{890, 982, 220, 5.0, 220},
                {893, 983, 400, 20.0, 400},
                {894, 984, 4, 50.0, 4},
                {895, 985, 7800, 50.0, 7800},
                {896, 986, 2090, 50.0, 2090}};
    climateUpdated_ = std::chrono::steady_clock::now();
    for (const auto& channel : climate_)
        registers_.setDm(channel.actualWord, signedToWord(channel.ambient));
    worker_ = std::thread([this] { workerLoop(); });
}

UnitModelBase::~UnitModelBase() { stop(); }

void UnitModelBase::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
}

std::optional<std::string> UnitModelBase::handle(const Command& command, RegisterStore&) {
    if (auto reply = handleUnit(command)) return reply;
    switch (command.kind) {
        case Command::Kind::SetRelay:
            return setRelay(command.address);
        case Command::Kind::ResetRelay:
            return resetRelay(command.address);
        case Command::Kind::ReadRelay:
            return readRelay(command.address);
        case Command::Kind::ReadDm:
            return readWord(command.address);
        case Command::Kind::WriteDm:
            return writeWord(command);
        default:
            return std::nullopt;
    }
}

std::optional<std::string> UnitModelBase::setRelay(int relay) {
    if (isHandlerMotionRelay(relay)) {
        startHandlerMotion(relay);
        return "OK";
    }
    switch (relay) {
        case kInitRelay:
            startInitialisation();
            return "OK";
        case 1900:
            acknowledgeError();
            return "OK";
        case 1800:
            abortMotions(false);
            return "OK";
        case 1901:
        case 1902:
        case 1903:
            queue(
                {Operation::None, times_.gate, [this] { return readinessError(Operation::None); }});
            return "OK";
        case kScanRelay:
            registers_.setRelay(kScanRelay, true);
            queuePositioning();
            return "OK";
        case 1911:
            registers_.setRelay(1812, shovelOccupied());
            return "OK";
        case kLockRelay: {
            std::lock_guard lock(mutex_);
            lockCommanded_ = true;
            registers_.setRelay(kLockRelay, true);
            return "OK";
        }
        case 1710:
        case 1712:
            relayBarcode();
            if (relay == 1710) {
                std::function<void()> trigger;
                {
                    std::lock_guard lock(mutex_);
                    trigger = readerTrigger_;
                }
                if (trigger) trigger();
            }
            return "OK";
        default:
            return std::nullopt;
    }
}

std::optional<std::string> UnitModelBase::resetRelay(int relay) {
    if (relay == kLockRelay) {
        std::lock_guard lock(mutex_);
        lockCommanded_ = false;
        registers_.setRelay(kLockRelay, false);
        return "OK";
    }
    return std::nullopt;
}

bool UnitModelBase::lockEngaged() const { return lockCommanded_ && !doorOpen_; }

std::optional<std::string> UnitModelBase::readRelay(int relay) {
    switch (relay) {
        case kLockRelay:
        case 1811: {
            std::lock_guard lock(mutex_);
            return lockEngaged() ? "1" : "0";
        }
        case 1808:
        case 200:
        case 1813:
        case 1807:
            return detectorReads(relay == 200 ? 1808 : relay) ? "1" : "0";
        default:
            return std::nullopt;
    }
}

std::optional<std::string> UnitModelBase::readWord(int address) {
    if (address == 202) return formatWord(statusWord());
    if (address == 1) return formatWord(signedToWord(handlerSlot()));
    if (address >= 982 && address <= 986) updateClimate();
    return std::nullopt;
}

std::optional<std::uint16_t> UnitModelBase::parseWord(const std::string& text) const {
    return parseWordValue(text);
}

std::string UnitModelBase::writeWord(const Command& command) {
    auto value = parseWord(command.value);
    if (!value) return "E1";
    if (command.address >= 890 && command.address <= 896) updateClimate();
    registers_.setDm(command.address, *value);
    if (command.address == 0 || command.address == 5) {
        wordWritten(command.address, *value);
    } else if (command.address == 6 && scanMode()) {
        queuePositioning();
    }
    return "OK";
}

// Bits as the library's relay form of the status: error 128, door closed and locked 32,
// initialising 4, ready 1.
std::uint16_t UnitModelBase::statusWord() const {
    std::uint16_t word = 0;
    if (registers_.relay(kErrorRelay)) word |= 128;
    {
        std::lock_guard lock(mutex_);
        if (lockEngaged()) word |= 32;
    }
    if (registers_.relay(kInitRelay)) word |= 4;
    if (registers_.relay(kReadyRelay)) word |= 1;
    return word;
}

// Actual values approach their set values (ambient when the set word is 0) at a fixed rate
// of nominal time; computed when read, so no thread is needed.
void UnitModelBase::updateClimate() {
    std::lock_guard lock(climateMutex_);
    const auto now = std::chrono::steady_clock::now();
    const double realSeconds = std::chrono::duration<double>(now - climateUpdated_).count();
    const double nominalSeconds = realSeconds / std::max(platform::timeScale(), 1e-6);
    climateUpdated_ = now;
    for (auto& channel : climate_) {
        const int set = wordToSigned(registers_.dm(channel.setWord));
        const double target = set == 0 ? channel.ambient : set;
        const double step = channel.ratePerSecond * nominalSeconds;
        if (std::abs(target - channel.actual) <= step) {
            channel.actual = target;
        } else {
            channel.actual += target > channel.actual ? step : -step;
        }
        registers_.setDm(channel.actualWord,
                         signedToWord(static_cast<int>(std::lround(channel.actual))));
    }
}

void UnitModelBase::startHandlerMotion(int relay) {
    auto motion = handlerMotion(relay);
    if (!motion) return;
    std::optional<std::uint16_t> injected;
    {
        std::lock_guard lock(mutex_);
        injected.swap(injectedError_);
        if (motionTimeOverride_ > 0) motion->nominalMs = motionTimeOverride_;
    }
    if (injected) {
        const std::uint16_t code = *injected;
        motion->action = [code] { return code; };
    }
    queue(std::move(*motion));
}

void UnitModelBase::startInitialisation() {
    registers_.setRelay(kInitRelay, true);
    queue({Operation::None, times_.init, [this]() -> std::uint16_t {
               registers_.setRelay(kInitRelay, false);
               {
                   std::lock_guard lock(mutex_);
                   const bool lockMissing = registers_.relay(3101) && !lockEngaged();
                   if (doorOpen_ || lockMissing)
                       return errorCode(Operation::None, 1, ErrorKind::UserAccess);
               }
               for (int relay : kReferenceRelays) registers_.setRelay(relay, true);
               return 0;
           }});
}

void UnitModelBase::queuePositioning() {
    queue({Operation::Scan, times_.position, [] { return std::uint16_t{0}; }});
}

std::uint16_t UnitModelBase::readinessError(Operation operation) const {
    for (int relay : kReferenceRelays) {
        if (!registers_.relay(relay)) return errorCode(operation, 1, ErrorKind::LiftInitialization);
    }
    std::lock_guard lock(mutex_);
    if (doorOpen_) return errorCode(operation, 1, ErrorKind::UserAccess);
    return 0;
}

// While an error is pending the controller takes no new motion; it waits for 1900.
void UnitModelBase::queue(Motion motion) {
    {
        std::lock_guard lock(mutex_);
        if (registers_.relay(kErrorRelay)) return;
        jobs_.push_back({std::move(motion), generation_});
        registers_.setRelay(kReadyRelay, false);
    }
    changed_.notify_all();
}

void UnitModelBase::acknowledgeError() {
    std::lock_guard lock(mutex_);
    registers_.setRelay(kErrorRelay, false);
    registers_.setDm(kErrorWord, 0);
    updateReadyLocked();
}

void UnitModelBase::abortMotions(bool loseReferences) {
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        jobs_.clear();
        registers_.setRelay(kErrorRelay, false);
        registers_.setDm(kErrorWord, 0);
        registers_.setRelay(kInitRelay, false);
        if (loseReferences) {
            for (int relay : kReferenceRelays) registers_.setRelay(relay, false);
            registers_.setRelay(kScanRelay, false);
        }
        running_ = false;
        updateReadyLocked();
    }
    changed_.notify_all();
}

void UnitModelBase::raiseError(std::uint16_t code) {
    jobs_.clear();
    registers_.setDm(kErrorWord, code);
    registers_.setRelay(kErrorRelay, true);
    registers_.setRelay(kReadyRelay, false);
    idle_.notify_all();
}

void UnitModelBase::updateReadyLocked() {
    const bool ready = jobs_.empty() && !running_ && !registers_.relay(kErrorRelay);
    registers_.setRelay(kReadyRelay, ready);
    if (ready) idle_.notify_all();
}

void UnitModelBase::workerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_) return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        runJob(lock, std::move(job));
    }
}

void UnitModelBase::runJob(std::unique_lock<std::mutex>& lock, Job job) {
    running_ = true;
    const auto due = std::chrono::steady_clock::now() + platform::scaled(job.motion.nominalMs);
    const auto aborted = [&] { return stopping_ || generation_ != job.generation; };
    changed_.wait_until(lock, due, aborted);
    if (aborted()) return;  // abortMotions already cleared running_
    lock.unlock();
    const std::uint16_t code = job.motion.action ? job.motion.action() : 0;
    lock.lock();
    if (generation_ != job.generation) return;
    running_ = false;
    if (code != 0) {
        raiseError(code);
    } else {
        updateReadyLocked();
    }
}

void UnitModelBase::relayBarcode() {
    UnsolicitedSink sink;
    {
        std::lock_guard lock(mutex_);
        sink = relayedReader_;
    }
    if (!sink) return;
    sink(times_.reader, [this]() -> std::optional<std::string> {
        auto code = codeInFrontOfReader();
        if (!code) return std::nullopt;
        return std::string(1, kStartOfText) + *code + std::string(1, kEndOfText) + "\r\n";
    });
}

void UnitModelBase::setReaderTrigger(std::function<void()> trigger) {
    std::lock_guard lock(mutex_);
    readerTrigger_ = std::move(trigger);
}

void UnitModelBase::setRelayedReader(UnsolicitedSink sink) {
    std::lock_guard lock(mutex_);
    relayedReader_ = std::move(sink);
}

void UnitModelBase::failNextMotion(std::uint16_t code) {
    std::lock_guard lock(mutex_);
    injectedError_ = code;
}

void UnitModelBase::setMotionTime(int nominalMs) {
    std::lock_guard lock(mutex_);
    motionTimeOverride_ = std::max(nominalMs, 0);
}

void UnitModelBase::setDoorOpen(bool open) {
    std::lock_guard lock(mutex_);
    doorOpen_ = open;
}

void UnitModelBase::controllerReset() { abortMotions(true); }

void UnitModelBase::clearFaults() {
    std::lock_guard lock(mutex_);
    injectedError_.reset();
    motionTimeOverride_ = 0;
    doorOpen_ = false;
}

UnitStatus UnitModelBase::status() const {
    UnitStatus status;
    status.ready = registers_.relay(kReadyRelay);
    status.error = registers_.relay(kErrorRelay);
    status.errorCode = registers_.dm(kErrorWord);
    status.referenced = std::all_of(std::begin(kReferenceRelays), std::end(kReferenceRelays),
                                    [this](int relay) { return registers_.relay(relay); });
    status.scanMode = registers_.relay(kScanRelay);
    std::lock_guard lock(mutex_);
    status.doorOpen = doorOpen_;
    status.locked = lockEngaged();
    status.queuedMotions = jobs_.size() + (running_ ? 1 : 0);
    return status;
}

bool UnitModelBase::waitUntilIdle(std::chrono::milliseconds realTimeout) const {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, realTimeout, [this] {
        return (jobs_.empty() && !running_) || registers_.relay(kErrorRelay);
    });
}

}  // namespace krb::sim
