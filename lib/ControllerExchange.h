#pragma once
// What one command to the controller gave back. A reply was read, no reply came (failed), or
// a reply came that cannot be what was asked for (unreadable). Nothing converts it to a text
// or a number on its own: every caller says what a failure means for its operation.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "text_numbers.h"

namespace krb {

class [[nodiscard]] TExchange {
  public:
    enum class Outcome { Read, Failed, Unreadable };

    // The link gives an empty text when no reply came.
    static TExchange fromReply(std::string reply) {
        Outcome outcome = reply.empty() ? Outcome::Failed : Outcome::Read;
        return TExchange(outcome, std::move(reply));
    }

    Outcome outcome() const { return outcome_; }
    bool isRead() const { return outcome_ == Outcome::Read; }
    bool failed() const { return outcome_ == Outcome::Failed; }
    bool unreadable() const { return outcome_ == Outcome::Unreadable; }

    // The reply as it came, "" when none came: for the exports that hand it on unchanged.
    const std::string& text() const { return reply_; }
    bool is(std::string_view expected) const { return isRead() && reply_ == expected; }
    // A write or a relay command the controller acknowledged.
    bool accepted() const { return is("OK"); }

    // The same exchange judged as a number: any other reply is unreadable.
    TExchange asNumber() const {
        if (!isRead() || parseInt64(reply_)) return *this;
        return TExchange(Outcome::Unreadable, reply_);
    }
    // The same exchange judged as a relay bit: only "1" and "0" are read.
    TExchange asBit() const {
        if (!isRead() || reply_ == "1" || reply_ == "0") return *this;
        return TExchange(Outcome::Unreadable, reply_);
    }
    std::optional<std::int64_t> number() const {
        return isRead() ? parseInt64(reply_) : std::nullopt;
    }
    std::optional<std::int32_t> number32() const {
        return isRead() ? parseInt32(reply_) : std::nullopt;
    }

    // For the exchanges whose outcome changes nothing: an export that gives the caller no
    // answer, or a clean-up on a path whose result is already decided.
    void outcomeNotNeeded() const {}

  private:
    TExchange(Outcome outcome, std::string reply) : outcome_(outcome), reply_(std::move(reply)) {}

    Outcome outcome_;
    std::string reply_;
};

}  // namespace krb
