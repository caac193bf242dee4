#pragma once
// The frame every export shares: find the unit, run the operation, copy its
// text into the export's result slot, or give the family's not-registered result.
// Nothing is thrown across the C boundary.
#include <string>

#include "UnitRegistry.h"
#include "text_numbers.h"

namespace krb::frame {

using Unit = TKRB_Class;
using Slot = std::string TResultSlots::*;

template <class Operation>
const char* answerIn(Slot slot, const char* id, const char* notRegistered, Operation operation) {
    std::string& text = TKRB_Browser::Slots().*slot;
    try {
        UnitPtr unit = TKRB_Browser::Instance().UnitFor(argText(id));
        text = unit ? operation(*unit) : std::string(notRegistered);
    } catch (...) {
        text = notRegistered;
    }
    return text.c_str();
}

template <class Operation>
const char* result(const char* id, Operation operation) {
    return answerIn(&TResultSlots::ResultText, id, "", operation);
}

// Texts the unit hands back itself, without a browser slot.
template <class Operation>
const char* direct(const char* id, const char* notRegistered, Operation operation) {
    return answerIn(&TResultSlots::DirectText, id, notRegistered, operation);
}

template <class Operation>
void act(const char* id, Operation operation) {
    try {
        if (UnitPtr unit = TKRB_Browser::Instance().UnitFor(argText(id))) operation(*unit);
    } catch (...) {
    }
}

// Browser-level operations that need no registered unit.
template <class Operation>
const char* browserAnswer(Slot slot, const char* fallback, Operation operation) {
    std::string& text = TKRB_Browser::Slots().*slot;
    try {
        text = operation(TKRB_Browser::Instance());
    } catch (...) {
        text = fallback;
    }
    return text.c_str();
}

inline std::string arg(const char* text) { return argText(text); }
inline bool flagOn(const char* text) { return argText(text) == "1"; }
inline bool flagNotZero(const char* text) { return argText(text) != "0"; }

}  // namespace krb::frame
