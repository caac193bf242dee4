#pragma once
// What the controller's error word means: kind, operation and step from its four hex digits.
// Header only, so that the server can show the message of a code it polled.
#include <cstdint>
#include <cstdio>
#include <string>

namespace krb::controller_errors {

inline const char* operationText(char digit) {
    switch (digit) {
        case '1':
            return "Error during Import Plate Operation ";
        case '2':
            return "Error during Export Plate Operation ";
        case '3':
            return "Error during Set Plate Operation ";
        case '4':
            return "Error during Plate BCR Mode (1910) ";
        case '5':
            return "Error during Place Plate Operation ";
        case '6':
            return "Error during Get Plate Operation ";
        case '7':
            return "Error during Pick Plate Operation ";
        default:
            return "";
    }
}

inline const char* kindText(int kind) {
    switch (kind) {
        case 1:
            return "General Handling ";
        case 3:
            return "Motor Movement TimeOut ";
        case 7:
            return "Gate Open ";
        case 8:
            return "Gate Close ";
        case 9:
            return "General Lift Positioning ";
        case 10:
            return "User Access ";
        case 11:
            return "Stacker Slot ";
        case 12:
            return "Remote Access Level ";
        case 13:
            return "Plate Transfer Detection ";
        case 14:
            return "Lift Initialization ";
        case 15:
            return "Plate on Shovel Detection ";
        case 16:
            return "No Plate on Shovel Detection ";
        case 17:
            return "No recovery";
        default:
            return "";
    }
}

inline int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

}  // namespace krb::controller_errors

namespace krb {

// "Motor Movement TimeOut Error during Import Plate Operation at step #2." for 0x1203.
inline std::string decodeErrorCode(std::int64_t code) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "%04llX", static_cast<unsigned long long>(code & 0xFFFFFFFF));
    std::string digits(hex);
    using namespace controller_errors;
    int kind = hexDigit(digits[2]) * 16 + hexDigit(digits[3]);
    return std::string(kindText(kind)) + operationText(digits[0]) + "at step #" +
           std::to_string(hexDigit(digits[1])) + ".";
}

}  // namespace krb
