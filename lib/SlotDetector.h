#pragma once
// The plate detector's answer. Only "1" is a plate and only "0" is none: silence or line
// noise must never let a plate be placed onto a slot, nor make a scan record a plate.
#include <string>

namespace krb {

enum class TSlotDetector { Free, Occupied, Unreadable };

inline TSlotDetector slotDetectorReading(const std::string& reply) {
    if (reply == "1") return TSlotDetector::Occupied;
    if (reply == "0") return TSlotDetector::Free;
    return TSlotDetector::Unreadable;
}

}  // namespace krb
