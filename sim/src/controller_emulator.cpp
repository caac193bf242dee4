#include "sim/controller_emulator.h"

#include <algorithm>

namespace krb::sim {

ControllerEmulator::ControllerEmulator(PortDirectory& ports, int comNumber)
    : channel_(ports, comNumber, [this](const std::string& line) { return respond(line); }) {}

ControllerEmulator::~ControllerEmulator() = default;

const std::string& ControllerEmulator::devicePath() const { return channel_.devicePath(); }

void ControllerEmulator::setModel(std::shared_ptr<UnitModel> model) {
    std::lock_guard lock(scriptMutex_);
    model_ = std::move(model);
}

std::shared_ptr<UnitModel> ControllerEmulator::currentModel() const {
    std::lock_guard lock(scriptMutex_);
    return model_;
}

std::optional<std::string> ControllerEmulator::respond(const std::string& line) {
    auto reply = answer(parseCommand(line));
    if (!reply) return std::nullopt;
    return garbleIfScripted(std::move(*reply)) + "\r\n";
}

// Line noise: each character gets a flipped high bit and the text is reversed, so the
// reply is neither a number nor any reply the library knows.
std::string ControllerEmulator::garbleIfScripted(std::string reply) {
    std::lock_guard lock(scriptMutex_);
    if (garbledReplies_ <= 0) return reply;
    --garbledReplies_;
    std::string garbled(reply.rbegin(), reply.rend());
    for (char& c : garbled) c = static_cast<char>(static_cast<unsigned char>(c) ^ 0x80u);
    return "?" + garbled;
}

void ControllerEmulator::garbleReplies(int commands) {
    std::lock_guard lock(scriptMutex_);
    garbledReplies_ = std::max(commands, 0);
}

void ControllerEmulator::sendLater(int delayNominalMs, LineChannel::Producer produce) {
    channel_.sendLater(delayNominalMs, std::move(produce));
}

// Scripted faults first, then the unit's physics, then the plain register answer.
std::optional<std::string> ControllerEmulator::answer(const Command& command) {
    if (auto scripted = scriptedReply(command); scripted.decided) return scripted.reply;
    if (auto model = currentModel()) {
        if (auto reply = model->handle(command, registers_)) return reply;
    }
    return defaultReply(command, registers_);
}

ControllerEmulator::ScriptDecision ControllerEmulator::scriptedReply(const Command& command) {
    std::lock_guard lock(scriptMutex_);
    if (silent_) return {true, std::nullopt};
    if (silentCommands_ > 0) {
        --silentCommands_;
        return {true, std::nullopt};
    }
    if (silencedCommands_.count(command.raw)) return {true, std::nullopt};
    if (command.kind == Command::Kind::Open && openErrors_ > 0) {
        --openErrors_;
        return {true, "E1"};
    }
    if (auto fixed = fixedReplies_.find(command.raw); fixed != fixedReplies_.end()) {
        return {true, fixed->second};
    }
    if (command.kind == Command::Kind::ReadDm) {
        if (auto word = injectedWords_.find(command.address); word != injectedWords_.end()) {
            std::string text = word->second.text;
            if (word->second.remaining > 0 && --word->second.remaining == 0)
                injectedWords_.erase(word);
            return {true, std::move(text)};
        }
    }
    return {};
}

std::vector<TranscriptEntry> ControllerEmulator::transcript() const {
    return channel_.transcript();
}

std::vector<std::string> ControllerEmulator::lines() const { return channel_.lines(); }

void ControllerEmulator::clearTranscript() { channel_.clearTranscript(); }

std::size_t ControllerEmulator::waitForLines(std::size_t count,
                                             std::chrono::milliseconds timeout) const {
    return channel_.waitForLines(count, timeout);
}

void ControllerEmulator::staySilent(int commands) {
    std::lock_guard lock(scriptMutex_);
    silentCommands_ = std::max(commands, 0);
}

void ControllerEmulator::setFixedReply(const std::string& command, const std::string& reply) {
    std::lock_guard lock(scriptMutex_);
    fixedReplies_[command] = reply;
}

void ControllerEmulator::silenceCommand(const std::string& command) {
    std::lock_guard lock(scriptMutex_);
    silencedCommands_.insert(command);
}

void ControllerEmulator::clearFixedReplies() {
    std::lock_guard lock(scriptMutex_);
    fixedReplies_.clear();
    silencedCommands_.clear();
}

void ControllerEmulator::answerOpenWithE1(int times) {
    std::lock_guard lock(scriptMutex_);
    openErrors_ = std::max(times, 0);
}

void ControllerEmulator::setNonNumericWord(int dmAddress, const std::string& text, int times) {
    std::lock_guard lock(scriptMutex_);
    if (times == 0) {
        injectedWords_.erase(dmAddress);
    } else {
        injectedWords_[dmAddress] = {text, times};
    }
}

void ControllerEmulator::setReplyDelay(int nominalMs) { channel_.setReplyDelay(nominalMs); }

void ControllerEmulator::setReplyChunks(std::size_t chunkSize, int gapNominalMs) {
    channel_.setReplyChunks(chunkSize, gapNominalMs);
}

void ControllerEmulator::setSilent(bool silent) {
    std::lock_guard lock(scriptMutex_);
    silent_ = silent;
}

}  // namespace krb::sim
