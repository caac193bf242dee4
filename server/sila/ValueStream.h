#pragma once
// Server streams that send a value at once and then each change of it: observable property
// subscriptions and the execution info of observable commands. A stream holds no thread; a
// change notification re-reads the value and writes it when it differs from the last one sent
// (a writer that is still busy keeps only the newest value).
#include <grpcpp/support/server_callback.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace krb::sila {

class ChangeListener {
  public:
    virtual ~ChangeListener() = default;
    virtual void onChange() = 0;
};

class ChangeNotifier {
  public:
    void add(std::weak_ptr<ChangeListener> listener) {
        std::lock_guard lock(mutex_);
        std::erase_if(listeners_, [](const auto& weak) { return weak.expired(); });
        listeners_.push_back(std::move(listener));
    }
    void notify() {
        std::vector<std::shared_ptr<ChangeListener>> live;
        {
            std::lock_guard lock(mutex_);
            for (const auto& weak : listeners_) {
                if (auto listener = weak.lock()) live.push_back(std::move(listener));
            }
        }
        for (const auto& listener : live) listener->onChange();
    }

  private:
    std::mutex mutex_;
    std::vector<std::weak_ptr<ChangeListener>> listeners_;
};

template <class Message>
struct StreamReading {
    std::optional<Message> value;  // empty: nothing to send yet
    bool last = false;             // the stream ends after this value
};

template <class Message>
class ValueStreamReactor final : public grpc::ServerWriteReactor<Message>, public ChangeListener {
  public:
    using Read = std::function<StreamReading<Message>()>;

    static grpc::ServerWriteReactor<Message>* start(ChangeNotifier& notifier, Read read) {
        std::shared_ptr<ValueStreamReactor> reactor(new ValueStreamReactor(std::move(read)));
        reactor->self_ = reactor;
        notifier.add(reactor);
        reactor->onChange();
        return reactor.get();
    }

    void onChange() override {
        std::unique_lock lock(mutex_);
        if (ending_) return;
        auto reading = read_();
        if (!reading.value) return;
        std::string bytes = reading.value->SerializeAsString();
        if (sentAny_ && bytes == lastBytes_) return;
        sentAny_ = true;
        lastBytes_ = std::move(bytes);
        queued_ = std::move(reading);
        if (!writing_) writeQueued();
    }

  private:
    explicit ValueStreamReactor(Read read) : read_(std::move(read)) {}

    // Called with mutex_ held.
    void writeQueued() {
        if (!queued_) return;
        current_ = std::move(*queued_->value);
        lastWritten_ = queued_->last;
        queued_.reset();
        writing_ = true;
        this->StartWrite(&current_);
    }
    void end(grpc::Status status) {
        ending_ = true;
        this->Finish(std::move(status));
    }

    void OnWriteDone(bool ok) override {
        std::lock_guard lock(mutex_);
        writing_ = false;
        if (ending_) return;
        if (!ok || cancelled_) return end(grpc::Status::CANCELLED);
        if (lastWritten_) return end(grpc::Status::OK);
        writeQueued();
    }
    void OnCancel() override {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        if (!writing_ && !ending_) end(grpc::Status::CANCELLED);
    }
    void OnDone() override { auto keep = std::move(self_); }

    std::mutex mutex_;
    Read read_;
    std::shared_ptr<ValueStreamReactor> self_;
    Message current_;
    std::optional<StreamReading<Message>> queued_;
    std::string lastBytes_;
    bool sentAny_ = false;
    bool writing_ = false;
    bool lastWritten_ = false;
    bool cancelled_ = false;
    bool ending_ = false;
};

}  // namespace krb::sila
