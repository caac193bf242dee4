#pragma once
// A virtual unit controller on a pseudo-terminal: answers the register protocol from a
// RegisterStore, lets a UnitModel (unit physics) answer first, and can be scripted
// to misbehave for tests.
#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/line_channel.h"
#include "sim/port_directory.h"
#include "sim/protocol.h"
#include "sim/register_store.h"

namespace krb::sim {

class UnitModel {  // hook for unit physics; the emulator asks it first
  public:
    virtual ~UnitModel() = default;
    // A reply (without CR LF) overrides the register store's default answer; nullopt falls
    // through to it. Called on the emulator's reader thread, one command at a time.
    virtual std::optional<std::string> handle(const Command& command, RegisterStore& registers) = 0;
};

class ControllerEmulator {
  public:
    ControllerEmulator(PortDirectory& ports, int comNumber);  // publishes COM<n> and starts
    ~ControllerEmulator();                                    // stops and unpublishes
    ControllerEmulator(const ControllerEmulator&) = delete;
    ControllerEmulator& operator=(const ControllerEmulator&) = delete;

    RegisterStore& registers() { return registers_; }
    void stop();                     // stops hearing and answering; idempotent
    std::string devicePath() const;  // empty while powered off
    void setModel(std::shared_ptr<UnitModel> model);

    // Every line received (CR stripped) with its arrival time; a line is listed once it was
    // answered and before its reply goes out.
    std::vector<TranscriptEntry> transcript() const;
    std::vector<std::string> lines() const;
    void clearTranscript();
    std::size_t waitForLines(std::size_t count, std::chrono::milliseconds timeout) const;

    // Scripting. A command that is not answered (silence) is not carried out either:
    // the controller never heard it. Fixed replies and injected words also replace the
    // command's effect.
    void staySilent(int commands);  // no reply at all to the next N commands
    void setFixedReply(const std::string& command, const std::string& reply);
    void silenceCommand(const std::string& command);  // never answers that exact line
    void clearFixedReplies();                         // and the silenced lines
    void answerOpenWithE1(int times);                 // the next N "CR" get "E1"
    void setNonNumericWord(int dmAddress, const std::string& text, int times = -1);
    void setReplyDelay(int nominalMs);
    void setReplyChunks(std::size_t chunkSize, int gapNominalMs);
    void setSilent(bool silent);
    void garbleReplies(int commands);  // the next N replies arrive corrupted
    // Text the controller sends on its own (a relayed barcode, say); see LineChannel::sendLater.
    void sendLater(int delayNominalMs, LineChannel::Producer produce);

    // Power: switched off, the device disappears (its entry is removed and a client's reads
    // fail); switched on again, it comes back as a new device under the same entry. The
    // transcript runs on across the cycle. Both idempotent.
    void powerOff();
    void powerOn();
    bool poweredOn() const;

  private:
    struct InjectedWord {
        std::string text;
        int remaining;  // < 0: always
    };

    struct ScriptDecision {
        bool decided = false;              // scripting took the command
        std::optional<std::string> reply;  // nullopt: stay silent
    };

    std::optional<std::string> respond(const std::string& line);
    std::optional<std::string> answer(const Command& command);
    ScriptDecision scriptedReply(const Command& command);
    std::shared_ptr<UnitModel> currentModel() const;
    std::string garbleIfScripted(std::string reply);
    std::shared_ptr<LineChannel> currentLine() const;
    std::shared_ptr<LineChannel> makeLine();

    RegisterStore registers_;
    mutable std::mutex scriptMutex_;
    std::shared_ptr<UnitModel> model_;
    bool silent_ = false;
    int silentCommands_ = 0;
    int openErrors_ = 0;
    int garbledReplies_ = 0;
    std::map<std::string, std::string> fixedReplies_;
    std::set<std::string> silencedCommands_;
    std::map<int, InjectedWord> injectedWords_;

    PortDirectory& ports_;
    const int comNumber_;
    mutable std::mutex lineMutex_;
    std::vector<TranscriptEntry> earlierTranscript_;  // of the lines before a power cycle
    int replyDelayMs_ = 0;
    std::size_t chunkSize_ = 0;
    int chunkGapMs_ = 0;
    // Last: its threads stop before the state above goes away. Null while powered off.
    std::shared_ptr<LineChannel> channel_;
};

}  // namespace krb::sim
