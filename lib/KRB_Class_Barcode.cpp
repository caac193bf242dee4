// Barcode reader: its own serial port ("LON"/"LOFF"), or relayed by the controller
// between the start-of-text and end-of-text bytes.
#include "BarcodeText.h"
#include "ControllerRegisters.h"
#include "KRB_Class.h"
#include "platform/clock.h"
#include "platform/link_metrics.h"
#include "platform/port_names.h"
#include "text_numbers.h"

namespace krb {

using namespace controller;

using barcode::codeBetweenMarkers;
using barcode::hasMarker;
using barcode::withoutAcknowledgement;
using platform::sleepMs;

namespace {

constexpr std::size_t kReaderBufferSize = 65;
constexpr int kReaderReadMs = 200;
constexpr int kDefaultReadingMs = 200;

}  // namespace

// --- the reader port

namespace {

std::unique_ptr<platform::SerialPort> openReaderAt(const std::string& name,
                                                   const std::string& target) {
    auto port = platform::openSerialPortAt(name, target);
    if (!port) return nullptr;
    port->configure(platform::kReaderLine);  // a pty reports other settings back: not an error
    port->setQueueSizes(300, 0);
    port->purgeAll();
    return port;
}

}  // namespace

// A reader found dead (its device server restarted, say) is opened again here, so that
// activation answers by what the reader did, not by a handle that only looks open.
std::string TKRB_Class::BCRPath(const std::string& portNumber) {
    std::lock_guard guard(ReaderLock);
    if (ReaderOpen && readerLineAlive()) return "3";
    if (ReaderOpen) return openReader(ReaderPortName);
    if (!isDecimal(portNumber)) return "2";
    std::string name = ReaderPortName;
    if (portNumber.size() == 2)
        name = "\\\\.\\COM" + portNumber;
    else if (portNumber.size() == 1)
        name = "COM" + portNumber;
    return openReader(name);
}

std::string TKRB_Class::openReader(const std::string& portName) {
    if (ReaderSupervisor) ReaderSupervisor->stop();
    ReaderHandle.reset();
    ++ReaderOpenings;
    ReaderPortName = portName;
    const std::string target = platform::resolvePortTarget(portName);
    auto port = openReaderAt(portName, target);
    ReaderOpen = port != nullptr;
    if (!port) return "0";
    if (!ReaderSupervisor)
        ReaderSupervisor = std::make_unique<LinkSupervisor>(
            [this] {
                std::unique_lock reader(ReaderLock);
                const std::string name = ReaderPortName, target = ReaderTarget;
                reader.unlock();  // a connect may take a while: readings fail meanwhile
                return openReaderAt(name, target);
            },
            [this](std::unique_ptr<platform::SerialPort> reopened) {
                return restoreReader(std::move(reopened));
            });
    ReaderTarget = target;
    ReaderHandle = std::move(port);
    return "1";
}

// A look without waiting: a line whose peer has gone fails even an empty read. A byte taken
// here is one a reading would have purged anyway.
bool TKRB_Class::readerLineAlive() {
    if (!ReaderHandle || readerDown()) return false;
    char byte;
    return ReaderHandle->read(&byte, 1, 0) >= 0;
}

bool TKRB_Class::readerDown() const {
    std::lock_guard guard(ReaderLock);
    return ReaderSupervisor && ReaderSupervisor->isDown();
}

bool TKRB_Class::restoreReader(std::unique_ptr<platform::SerialPort> port) {
    std::lock_guard guard(ReaderLock);
    if (!ReaderOpen || ReaderLostOpening != ReaderOpenings) return false;
    ReaderHandle = std::move(port);
    return true;
}

void TKRB_Class::readerLineFailed(const char* cause) {
    ReaderReadingFailed = true;
    if (!ReaderHandle) return;  // already down
    ReaderHandle.reset();
    ReaderLostOpening = ReaderOpenings;
    platform::noteReaderLine(ReaderPortName, PortNumber);
    ReaderSupervisor->linkLost(ReaderPortName, cause);
}

std::string TKRB_Class::readerPortName() const {
    std::lock_guard guard(ReaderLock);
    return ReaderPortName;
}

void TKRB_Class::CloseBCRSerial() {
    std::lock_guard guard(ReaderLock);
    if (ReaderSupervisor) ReaderSupervisor->stop();
    ReaderHandle.reset();
    ++ReaderOpenings;
    ReaderOpen = false;
}

// A purge starts a fresh reading: the text of an earlier one is never given again.
void TKRB_Class::purgeReader() {
    std::lock_guard guard(ReaderLock);
    if (ReaderHandle) ReaderHandle->purgeAll();
    ReaderText.clear();
    ReaderReadingFailed = false;
}

bool TKRB_Class::readerReadingFailed() const {
    std::lock_guard guard(ReaderLock);
    return ReaderReadingFailed;
}

void TKRB_Class::SendReaderLine(const std::string& command) {
    std::lock_guard guard(ReaderLock);
    if (!ReaderHandle) return readerLineFailed("reader line down");
    std::string line = command + '\r';
    for (char byte : line)
        if (!ReaderHandle->write(&byte, 1)) return readerLineFailed("write failed");
}

std::string TKRB_Class::ReadReaderReply() {
    std::lock_guard guard(ReaderLock);
    if (!ReaderHandle) {
        readerLineFailed("reader line down");
        return ReaderText;
    }
    char buffer[kReaderBufferSize];
    long count = ReaderHandle->read(buffer, sizeof buffer,
                                    platform::replyWindowMs(*ReaderHandle, kReaderReadMs));
    if (count < 0) {
        readerLineFailed("read failed: device gone or connection closed");
        return ReaderText;
    }
    std::string text = withoutLineEnds(buffer, count);
    if (!text.empty()) ReaderText = text;
    return ReaderText;
}

std::string TKRB_Class::readerTriggerSequence(int waitMs) {
    purgeReader();
    SendReaderLine("LON");
    sleepMs(waitMs);
    return ReadReaderReply();
}

// --- readings

std::string TKRB_Class::ReadBCR(const std::string& waitMs) {
    if (!ReaderOpen) return "BCRError";
    if (!Initialized) return "InitError";
    std::string code = readerTriggerSequence(parseInt32(waitMs).value_or(kDefaultReadingMs));
    SendReaderLine("LOFF");
    if (readerReadingFailed()) return barcode::kReaderFailed;
    if (code.empty()) code = "No Barcode";
    LastBarcode.set(code);
    return code;
}

std::string TKRB_Class::ReadReaderQuick() {
    std::string code = readerTriggerSequence(100);
    SendReaderLine("LOFF");
    return readerReadingFailed() ? barcode::kReaderFailed : code;
}

// The reader on its own port, triggered once more by the controller when it stayed silent.
std::string TKRB_Class::readThroughReader() {
    std::string code = readerTriggerSequence(300);
    if (code.empty()) {
        // The reply read afterwards is the judge of the trigger.
        ReadBackStr(setRelay(relay::kReaderTrigger)).outcomeNotNeeded();
        if (motionCompleted()) code = ReadReaderReply();
    }
    SendReaderLine("LOFF");
    return readerReadingFailed() ? barcode::kReaderFailed : code;
}

std::string TKRB_Class::ReadSlotBarcode() {
    return IsCompSv ? ReadControllerBarcode() : readThroughReader();
}

// Holds CommandLock throughout: no other command of this unit falls between the steps.
std::string TKRB_Class::ReadControllerBarcode() {
    auto held = Link.holdCommands();
    std::string collected =
        withoutAcknowledgement(ReadBackStr(setRelay(relay::kControllerBarcodeBegin)).text());
    sleepMs(300);
    collected += Link.readFollowingReply();
    if (!hasMarker(collected)) {
        collected += withoutAcknowledgement(ReadBackStr(setRelay(relay::kReaderTrigger)).text());
        sleepMs(2000);
        collected += Link.readFollowingReply();
    }
    std::string code = codeBetweenMarkers(collected);
    ReadBackStr(setRelay(relay::kControllerBarcodeEnd)).outcomeNotNeeded();
    return code.empty() && !portOpen() ? barcode::kReaderFailed : code;
}

std::string TKRB_Class::barcodeConfigurationError() const {
    bool ownPort = ReaderOpen && !IsCompSv;
    bool relayed = !ReaderOpen && IsBCR && IsCompSv;
    if (Initialized && (ownPort || relayed)) return "";
    if (!Initialized) return "InitError";
    if (ReaderOpen || IsCompSv) return "TSET Error";
    return "BCRError";
}

bool TKRB_Class::positionForBarcode(std::int32_t slot, std::int32_t level) {
    if (!writeAccepted(setRelay(relay::kScanMode))) return false;
    sleepMs(150);
    if (!wordWritten(word::kTargetSlot, slot)) return false;
    sleepMs(150);
    if (int pitch = cassettePitch(slot); UseCassetteConfTable && pitch != 0) {
        if (!wordWritten(word::kHandlerZPitch, pitch)) return false;
        sleepMs(150);
    }
    if (!wordWritten(word::kTargetLevel, level)) return false;
    sleepMs(100);
    return motionCompleted();
}

std::string TKRB_Class::ReadBarcode(const std::string& slotText, const std::string& levelText) {
    if (std::string refusal = barcodeConfigurationError(); !refusal.empty()) return refusal;
    if (!busyClearsStepped()) return "Synchronization Error";
    auto offset = barcodeZOffset();
    auto slot = parseInt32(slotText);
    auto level = parseInt32(levelText);
    if (!slot || !level) return "Error";
    // A position not reached would read the barcode of another plate.
    if (!positionForBarcode(*slot, *level) || !correctBarcodeHeight(offset)) {
        leaveScanMode();
        return "Error";
    }
    if (CheckSlotPlate && replyIs(readRelay(relay::kSlotPlate), "0")) {
        leaveScanMode();
        return "No Plate";
    }
    std::string code = ReadSlotBarcode();
    leaveScanMode();
    if (code == barcode::kReaderFailed) return code;
    if (code.empty()) code = "No Barcode";
    LastBarcode.set(code);
    return code;
}

void TKRB_Class::SetIsBCR(const std::string& flag) { IsBCR = flag == "1"; }
std::string TKRB_Class::GetIsBCR() const { return IsBCR ? "1" : "0"; }
void TKRB_Class::SetIsCompSv(const std::string& flag) { IsCompSv = flag == "1"; }

}  // namespace krb
