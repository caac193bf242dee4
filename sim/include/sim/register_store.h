#pragma once
#include <cstdint>
#include <map>
#include <mutex>

namespace krb::sim {

// The controller's memory: relays (bits), 16-bit DM words, timer values and presets,
// and whether the link was opened ("CR"). Everything reads 0 / false until written.
// Thread-safe, so unit physics running on threads of its own may share it.
class RegisterStore {
  public:
    bool relay(int n) const;
    void setRelay(int n, bool on);

    std::uint16_t dm(int address) const;
    void setDm(int address, std::uint16_t value);

    std::uint16_t timer(int n) const;
    void setTimer(int n, std::uint16_t value);
    std::uint16_t timerPreset(int n) const;
    void setTimerPreset(int n, std::uint16_t value);

    bool linkOpen() const;
    void setLinkOpen(bool open);

  private:
    mutable std::mutex mutex_;
    std::map<int, bool> relays_;
    std::map<int, std::uint16_t> dm_;
    std::map<int, std::uint16_t> timers_;
    std::map<int, std::uint16_t> timerPresets_;
    bool linkOpen_ = false;
};

}  // namespace krb::sim
