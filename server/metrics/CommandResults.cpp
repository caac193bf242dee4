#include "metrics/CommandResults.h"

#include <algorithm>
#include <array>

namespace krb::server::web {
namespace {

enum class Codes {
    Empty,       // nothing to tell: an empty reply is done
    One,         // "1" done, any other number failed
    Activation,  // "1" or "1;1" done; "1;-..." (reader path failed) and negatives failed
    Flag,        // a read of "0" or "1"; anything else could not be read
    Count,       // a read of a number from 0 up; negative or no number failed
    Text,        // a text; empty when the call failed
};

struct CommandCodes {
    std::string_view Name;
    Codes Family;
};

// clang-format off
constexpr std::array<CommandCodes, 40> kCommandCodes{{
    {"KRB2ActivateShaker", Codes::Empty},           {"KRB2DeactivateShaker", Codes::Empty},
    {"KRB2Activate", Codes::Activation},            {"KRB2Deactivate", Codes::Empty},
    {"KRB2Reset", Codes::Empty},                    {"KRB2ReadActualClimate", Codes::Text},
    {"KRB2WriteSetClimate", Codes::Empty},          {"KRB2ReadSetClimate", Codes::Text},
    {"KRB2ServiceReadBarcode", Codes::Text},        {"KRB2InventoryPlateExp", Codes::One},
    {"KRB2Inventory", Codes::One},                  {"KRB2PartitionInventoryExp", Codes::One},
    {"KRB2PartitionInventory", Codes::One},         {"KRB2GetSysStatus", Codes::Count},
    {"KRB2ReadSetShakerSpeed", Codes::Count},       {"KRB2SwapIn", Codes::Count},
    {"KRB2SwapOut", Codes::Count},                  {"KRB2ServiceMovePlate", Codes::One},
    {"KRB2Lock", Codes::Empty},                     {"KRB2UnLock", Codes::Empty},
    {"KRB2DefineSector", Codes::Empty},             {"KRB2AbandonAccess", Codes::Empty},
    {"KRB2ContinueAccess", Codes::Empty},           {"KRB2ReadBackStr", Codes::Text},
    {"KRB2ServiceIsPlateAtLocation", Codes::Flag},  {"KRB2AlternateXferStation", Codes::Text},
    {"KRB2TransferStPosition", Codes::Empty},       {"KRB2ReadReadyFlag", Codes::Count},
    {"KRB2ReadErrorFlag", Codes::Flag},             {"KRB2ReadErrorCode", Codes::Count},
    {"KRB2ReadUserDoorFlag", Codes::Flag},          {"KRB2IsOperationRunning", Codes::Flag},
    {"KRB2ClearHistory", Codes::One},               {"KRB2ReadShovelDetector", Codes::Flag},
    {"KRB2ReadXferStationDetector1", Codes::Flag},  {"KRB2ReadXferStationDetector2", Codes::Flag},
    {"KRB2SoftReset", Codes::Count},                {"KRB2ManualAccess", Codes::One},
    {"KRB2BeeperOn", Codes::Empty},                 {"KRB2BeeperOff", Codes::Empty},
}};
// clang-format on

const CommandCodes* CodesOf(std::string_view command) {
    const auto row = std::find_if(kCommandCodes.begin(), kCommandCodes.end(),
                                  [&](const CommandCodes& codes) { return codes.Name == command; });
    return row == kCommandCodes.end() ? nullptr : &*row;
}

bool IsDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool IsNegativeNumber(std::string_view reply) {
    return reply.size() > 1 && reply[0] == '-' && IsDigits(reply.substr(1));
}

bool Succeeded(Codes family, std::string_view reply) {
    switch (family) {
        case Codes::Empty:
            return reply.empty();
        case Codes::One:
            return reply == "1";
        case Codes::Activation:
            return reply == "1" || reply == "1;1";
        case Codes::Flag:
            return reply == "0" || reply == "1";
        case Codes::Count:
            return IsDigits(reply);
        case Codes::Text:
            return !reply.empty();
    }
    return false;
}

}  // namespace

std::string CommandResultOf(std::string_view command, std::string_view reply, bool allAnswered) {
    std::string result = CommandResultOf(command, reply);
    const CommandCodes* codes = CodesOf(command);
    const bool replyTellsFailure =
        codes && codes->Family != Codes::Empty && codes->Family != Codes::Text;
    if (!allAnswered && result == "ok" && !replyTellsFailure) result = "failed";
    return result;
}

bool HasResultCodes(std::string_view command) { return CodesOf(command) != nullptr; }

std::string CommandResultOf(std::string_view command, std::string_view reply) {
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.remove_suffix(1);
    if (reply == "E1" || reply == "E2" || reply == "E3") return std::string(reply);
    const CommandCodes* codes = CodesOf(command);
    const bool succeeded = codes ? Succeeded(codes->Family, reply) : !IsNegativeNumber(reply);
    return succeeded ? "ok" : "failed";
}

}  // namespace krb::server::web
