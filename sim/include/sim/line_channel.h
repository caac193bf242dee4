#pragma once
// One virtual serial device: a pseudo-terminal published as COM<n>, a reader thread that
// splits what arrives into CR-terminated lines (LF ignored), a transcript of those lines,
// and a writer thread that delivers each answer, optionally late or in chunks.
// The controller emulator is one; a barcode reader is another.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/port_directory.h"
#include "sim/pseudo_terminal.h"

namespace krb::sim {

struct TranscriptEntry {
    std::chrono::steady_clock::time_point time;
    std::string line;
};

class LineChannel {
  public:
    // Called on the reader thread for every line; returns the bytes to send back
    // (terminator included) or nullopt for no answer.
    using Responder = std::function<std::optional<std::string>(const std::string& line)>;
    // Produces the bytes of a message when it falls due; nullopt sends nothing.
    using Producer = std::function<std::optional<std::string>()>;

    LineChannel(PortDirectory& ports, int comNumber, Responder responder);
    ~LineChannel();
    // Ends both threads (nothing is heard or sent any more); the port stays published
    // until destruction. Idempotent.
    void stop();
    LineChannel(const LineChannel&) = delete;
    LineChannel& operator=(const LineChannel&) = delete;

    const std::string& devicePath() const { return terminal_.slavePath(); }
    int comNumber() const { return comNumber_; }

    std::vector<TranscriptEntry> transcript() const;
    std::vector<std::string> lines() const;
    void clearTranscript();
    // Waits (real time) until at least `count` lines were received and answered;
    // returns the number seen.
    std::size_t waitForLines(std::size_t count, std::chrono::milliseconds timeout) const;

    void setReplyDelay(int nominalMs);
    void setReplyChunks(std::size_t chunkSize, int gapNominalMs);  // chunkSize 0 = whole

    // Unsolicited output (a device that talks on its own): `produce` runs on the writer
    // thread once the delay has passed, behind any reply queued before it.
    void sendLater(int delayNominalMs, Producer produce);

  private:
    struct Delivery {
        std::chrono::steady_clock::time_point due;
        std::string bytes;
        std::size_t chunkSize;
        int gapNominalMs;
        Producer produce;  // set for unsolicited output
    };

    void readLoop();
    void consume(const char* data, std::size_t count);
    void finishLine();
    void enqueue(std::string bytes);
    void writeLoop();
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point when);
    void writeAll(const std::string& bytes);

    PortDirectory& ports_;
    int comNumber_;
    Responder responder_;
    PseudoTerminal terminal_;
    int wakeFd_ = -1;
    std::string pending_;  // reader thread only
    // Output scheduled while a line is being answered goes out after that line's reply.
    std::vector<Delivery> heldBack_;  // reader thread only
    std::atomic<std::thread::id> readerId_{};

    mutable std::mutex transcriptMutex_;
    mutable std::condition_variable transcriptChanged_;
    std::vector<TranscriptEntry> transcript_;

    std::mutex deliveryMutex_;
    std::condition_variable deliveryChanged_;
    std::deque<Delivery> deliveries_;
    int replyDelayMs_ = 0;
    std::size_t chunkSize_ = 0;
    int chunkGapMs_ = 0;
    bool stopping_ = false;

    std::thread writer_;
    std::thread reader_;
};

}  // namespace krb::sim
