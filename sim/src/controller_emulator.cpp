#include "sim/controller_emulator.h"

#include <algorithm>

namespace krb::sim {

ControllerEmulator::ControllerEmulator(PortDirectory& ports, int comNumber)
    : ports_(ports), comNumber_(comNumber), channel_(makeLine()) {}

ControllerEmulator::~ControllerEmulator() { stop(); }

std::shared_ptr<LineChannel> ControllerEmulator::makeLine() {
    return std::make_shared<LineChannel>(ports_, comNumber_,
                                         [this](const std::string& line) { return respond(line); });
}

std::shared_ptr<LineChannel> ControllerEmulator::currentLine() const {
    std::lock_guard lock(lineMutex_);
    return channel_;
}

void ControllerEmulator::stop() {
    if (auto line = currentLine()) line->stop();
}

std::string ControllerEmulator::devicePath() const {
    auto line = currentLine();
    return line ? line->devicePath() : std::string();
}

// The line is taken out under the lock but stopped outside it: its reader thread may be
// waiting for that lock (a relayed reading scheduled while answering).
void ControllerEmulator::powerOff() {
    std::shared_ptr<LineChannel> line;
    {
        std::lock_guard lock(lineMutex_);
        line = std::move(channel_);
    }
    if (!line) return;
    line->stop();
    auto transcript = line->transcript();
    line.reset();  // closes the terminal and removes the entry
    std::lock_guard lock(lineMutex_);
    earlierTranscript_.insert(earlierTranscript_.end(), transcript.begin(), transcript.end());
}

void ControllerEmulator::powerOn() {
    std::lock_guard lock(lineMutex_);
    if (channel_) return;
    channel_ = makeLine();
    channel_->setReplyDelay(replyDelayMs_);
    channel_->setReplyChunks(chunkSize_, chunkGapMs_);
}

bool ControllerEmulator::poweredOn() const { return currentLine() != nullptr; }

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
    if (auto line = currentLine()) line->sendLater(delayNominalMs, std::move(produce));
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
    std::vector<TranscriptEntry> entries;
    {
        std::lock_guard lock(lineMutex_);
        entries = earlierTranscript_;
    }
    if (auto line = currentLine()) {
        auto current = line->transcript();
        entries.insert(entries.end(), current.begin(), current.end());
    }
    return entries;
}

std::vector<std::string> ControllerEmulator::lines() const {
    std::vector<std::string> texts;
    for (auto& entry : transcript()) texts.push_back(std::move(entry.line));
    return texts;
}

void ControllerEmulator::clearTranscript() {
    {
        std::lock_guard lock(lineMutex_);
        earlierTranscript_.clear();
    }
    if (auto line = currentLine()) line->clearTranscript();
}

std::size_t ControllerEmulator::waitForLines(std::size_t count,
                                             std::chrono::milliseconds timeout) const {
    std::size_t earlier = 0;
    {
        std::lock_guard lock(lineMutex_);
        earlier = earlierTranscript_.size();
    }
    auto line = currentLine();
    if (!line) return earlier;
    const std::size_t wanted = count > earlier ? count - earlier : 0;
    return earlier + line->waitForLines(wanted, timeout);
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

void ControllerEmulator::setReplyDelay(int nominalMs) {
    std::lock_guard lock(lineMutex_);
    replyDelayMs_ = nominalMs;
    if (channel_) channel_->setReplyDelay(nominalMs);
}

void ControllerEmulator::setReplyChunks(std::size_t chunkSize, int gapNominalMs) {
    std::lock_guard lock(lineMutex_);
    chunkSize_ = chunkSize;
    chunkGapMs_ = gapNominalMs;
    if (channel_) channel_->setReplyChunks(chunkSize, gapNominalMs);
}

void ControllerEmulator::setSilent(bool silent) {
    std::lock_guard lock(scriptMutex_);
    silent_ = silent;
}

}  // namespace krb::sim
