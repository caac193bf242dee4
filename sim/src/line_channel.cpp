#include "sim/line_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <stdexcept>

#include "platform/clock.h"

namespace krb::sim {
namespace {

constexpr std::size_t kMaxLineLength = 4096;  // a line without CR this long is taken as garbage
constexpr int kWriteStallLimitMs = 200;       // real ms a full client queue may block a reply

void setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        throw std::runtime_error("cannot make the pseudo-terminal non-blocking");
    }
}

}  // namespace

LineChannel::LineChannel(PortDirectory& ports, int comNumber, Responder responder)
    : ports_(ports), comNumber_(comNumber), responder_(std::move(responder)) {
    setNonBlocking(terminal_.masterFd());
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) throw std::runtime_error("cannot create the channel's wake-up event");
    try {
        ports_.publish(comNumber_, terminal_.slavePath());
        writer_ = std::thread([this] { writeLoop(); });
        reader_ = std::thread([this] { readLoop(); });
    } catch (...) {
        {
            std::lock_guard lock(deliveryMutex_);
            stopping_ = true;
        }
        deliveryChanged_.notify_all();
        if (writer_.joinable()) writer_.join();
        ports_.unpublish(comNumber_);
        close(wakeFd_);
        throw;
    }
}

LineChannel::~LineChannel() {
    stop();
    ports_.unpublish(comNumber_);
    close(wakeFd_);
}

void LineChannel::stop() {
    {
        std::lock_guard lock(deliveryMutex_);
        stopping_ = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto ignored = write(wakeFd_, &one, sizeof one);
    deliveryChanged_.notify_all();
    if (reader_.joinable()) reader_.join();
    if (writer_.joinable()) writer_.join();
}

void LineChannel::readLoop() {
    readerId_ = std::this_thread::get_id();
    pollfd watched[2] = {{terminal_.masterFd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    char buffer[512];
    for (;;) {
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watched[1].revents != 0) return;
        const ssize_t count = read(terminal_.masterFd(), buffer, sizeof buffer);
        if (count > 0) {
            consume(buffer, static_cast<std::size_t>(count));
        } else if (count < 0 && errno != EAGAIN && errno != EINTR) {
            // Cannot happen while we hold the slave open; avoid spinning if it does.
            platform::sleepMs(10);
        }
    }
}

void LineChannel::consume(const char* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const char c = data[i];
        if (c == '\r') {
            finishLine();
        } else if (c != '\n') {
            pending_.push_back(c);
            if (pending_.size() >= kMaxLineLength) finishLine();
        }
    }
}

// The entry carries the time the line arrived. It is added after the line was answered
// (so a waiter sees the command's effect) and before the answer is sent (so a client
// holding the reply finds its command in the transcript).
void LineChannel::finishLine() {
    const auto arrived = std::chrono::steady_clock::now();
    std::string line;
    line.swap(pending_);
    auto reply = responder_(line);
    {
        std::lock_guard lock(transcriptMutex_);
        transcript_.push_back({arrived, std::move(line)});
    }
    transcriptChanged_.notify_all();
    if (reply) enqueue(std::move(*reply));
    if (!heldBack_.empty()) {
        {
            std::lock_guard lock(deliveryMutex_);
            for (auto& delivery : heldBack_) deliveries_.push_back(std::move(delivery));
        }
        heldBack_.clear();
        deliveryChanged_.notify_all();
    }
}

void LineChannel::enqueue(std::string bytes) {
    {
        std::lock_guard lock(deliveryMutex_);
        const auto due = std::chrono::steady_clock::now() + platform::scaled(replyDelayMs_);
        deliveries_.push_back({due, std::move(bytes), chunkSize_, chunkGapMs_, {}});
    }
    deliveryChanged_.notify_all();
}

void LineChannel::sendLater(int delayNominalMs, Producer produce) {
    const auto due =
        std::chrono::steady_clock::now() + platform::scaled(std::max(delayNominalMs, 0));
    Delivery delivery{due, {}, 0, 0, std::move(produce)};
    if (std::this_thread::get_id() == readerId_.load()) {
        heldBack_.push_back(std::move(delivery));
        return;
    }
    {
        std::lock_guard lock(deliveryMutex_);
        deliveries_.push_back(std::move(delivery));
    }
    deliveryChanged_.notify_all();
}

bool LineChannel::waitUntil(std::unique_lock<std::mutex>& lock,
                            std::chrono::steady_clock::time_point when) {
    deliveryChanged_.wait_until(lock, when, [this] { return stopping_; });
    return !stopping_;
}

void LineChannel::writeLoop() {
    std::unique_lock lock(deliveryMutex_);
    for (;;) {
        deliveryChanged_.wait(lock, [this] { return stopping_ || !deliveries_.empty(); });
        if (stopping_) return;
        Delivery delivery = std::move(deliveries_.front());
        deliveries_.pop_front();
        if (!waitUntil(lock, delivery.due)) return;
        if (delivery.produce) {
            lock.unlock();
            auto produced = delivery.produce();
            lock.lock();
            if (!produced) continue;
            delivery.bytes = std::move(*produced);
        }
        const std::size_t step =
            delivery.chunkSize == 0 ? delivery.bytes.size() : delivery.chunkSize;
        for (std::size_t offset = 0; offset < delivery.bytes.size(); offset += step) {
            if (offset > 0) {
                const auto gapEnd =
                    std::chrono::steady_clock::now() + platform::scaled(delivery.gapNominalMs);
                if (!waitUntil(lock, gapEnd)) return;
            }
            const std::string chunk = delivery.bytes.substr(offset, step);
            lock.unlock();
            writeAll(chunk);
            lock.lock();
        }
    }
}

void LineChannel::writeAll(const std::string& bytes) {
    // The master is non-blocking: while no client drains the port its queue may fill,
    // and a stuck reply must not stall the emulator.
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count =
            write(terminal_.masterFd(), bytes.data() + written, bytes.size() - written);
        if (count > 0) {
            written += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && errno != EAGAIN) return;
        pollfd writable{terminal_.masterFd(), POLLOUT, 0};
        if (poll(&writable, 1, kWriteStallLimitMs) <= 0) return;
    }
}

std::vector<TranscriptEntry> LineChannel::transcript() const {
    std::lock_guard lock(transcriptMutex_);
    return transcript_;
}

std::vector<std::string> LineChannel::lines() const {
    std::lock_guard lock(transcriptMutex_);
    std::vector<std::string> texts;
    texts.reserve(transcript_.size());
    for (const auto& entry : transcript_) texts.push_back(entry.line);
    return texts;
}

void LineChannel::clearTranscript() {
    std::lock_guard lock(transcriptMutex_);
    transcript_.clear();
}

std::size_t LineChannel::waitForLines(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(transcriptMutex_);
    transcriptChanged_.wait_for(lock, timeout, [&] { return transcript_.size() >= count; });
    return transcript_.size();
}

void LineChannel::setReplyDelay(int nominalMs) {
    std::lock_guard lock(deliveryMutex_);
    replyDelayMs_ = std::max(nominalMs, 0);
}

void LineChannel::setReplyChunks(std::size_t chunkSize, int gapNominalMs) {
    std::lock_guard lock(deliveryMutex_);
    chunkSize_ = chunkSize;
    chunkGapMs_ = std::max(gapNominalMs, 0);
}

}  // namespace krb::sim
