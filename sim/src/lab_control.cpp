// The control protocol of a virtual lab: one command per line, words separated by blanks.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <sstream>

#include "sim/virtual_lab.h"

namespace krb::sim {
namespace {

constexpr std::size_t kMaxLineLength = 4096;

std::vector<std::string> words(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> result;
    for (std::string word; stream >> word;) result.push_back(word);
    return result;
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::optional<int> number(const std::string& text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::uint16_t> hexWord(std::string text) {
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text = text.substr(2);
    if (text.empty() || text.size() > 4) return std::nullopt;
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::string hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

std::vector<std::string> error(const std::string& message) { return {"ERR " + message}; }
std::vector<std::string> ok(const std::string& detail = "") {
    return {detail.empty() ? "OK" : "OK " + detail};
}

// "<slot> <level>", "STATION [n]", "SHOVEL" or "POSITION <n>" starting at words[at];
// `used` counts the words taken.
std::optional<Place> parsePlace(int unit, const std::vector<std::string>& words, std::size_t at,
                                std::size_t& used) {
    if (at >= words.size()) return std::nullopt;
    const std::string first = upper(words[at]);
    auto numberAt = [&](std::size_t index) {
        return index < words.size() ? number(words[index]) : std::nullopt;
    };
    if (first == "SHOVEL") {
        used = 1;
        return Place::shovel(unit);
    }
    if (first == "STATION") {
        auto station = numberAt(at + 1);
        if (station && (*station == 1 || *station == 2)) {
            used = 2;
            return Place::station(unit, *station);
        }
        used = 1;
        return Place::station(unit, 1);
    }
    if (first == "POSITION") {
        auto position = numberAt(at + 1);
        if (!position || (*position != 1 && *position != 2)) return std::nullopt;
        used = 2;
        return Place::rackPosition(unit, *position);
    }
    auto slot = numberAt(at);
    auto level = numberAt(at + 1);
    if (!slot || !level || *slot < 1 || *level < 1) return std::nullopt;
    used = 2;
    return Place::slot(unit, *slot, *level);
}

std::string plateLine(const PlacedPlate& placed) {
    return "PLATE COM" + std::to_string(placed.place.unit) + " " + describePlace(placed.place) +
           " " + (placed.plate.barcode.empty() ? "-" : placed.plate.barcode) +
           (placed.plate.labelled ? "" : " NOLABEL");
}

const char* kHelp[] = {
    "UNITS",
    "STATUS <com>",
    "PLATES [<com>]",
    "WHERE <barcode>",
    "PUT <com> <slot> <level>|STATION [n]|SHOVEL|POSITION <n> <barcode or ->",
    "TAKE <com> <slot> <level>|STATION [n]|SHOVEL|POSITION <n>",
    "TUBE <rack barcode> <row> <column> <tube barcode>",
    "TUBES <rack barcode>",
    "COUNT",
    "FAULT <com> silent|drop <n>|late <ms>|garble <n>|error <hex code>|slow <ms>|"
    "door open|door closed|reset|nolabel <barcode>|reader silent|stray <text>|"
    "power off|power on",
    "CLEAR <com>",
};

}  // namespace

std::vector<std::string> VirtualLab::control(const std::string& line) {
    if (line.size() > kMaxLineLength) return error("line too long");
    const auto parts = words(line);
    if (parts.empty()) return error("empty command");
    try {
        return controlCommand(parts);
    } catch (const std::exception& failure) {
        return error(failure.what());
    }
}

VirtualLab::Unit* VirtualLab::findByToken(const std::string& token) {
    std::string text = upper(token);
    if (text.rfind("COM", 0) == 0) text = text.substr(3);
    auto com = number(text);
    if (!com) return nullptr;
    for (auto& unit : units_)
        if (unit.config.com == *com) return &unit;
    return nullptr;
}

std::vector<std::string> VirtualLab::controlCommand(const std::vector<std::string>& parts) {
    const std::string verb = upper(parts[0]);
    if (verb == "HELP") {
        std::vector<std::string> reply(std::begin(kHelp), std::end(kHelp));
        reply.push_back("OK");
        return reply;
    }
    if (verb == "UNITS") {
        std::vector<std::string> reply;
        for (const auto& unit : units_) {
            reply.push_back("UNIT COM" + std::to_string(unit.config.com) + " " +
                            (unit.config.unitId.empty() ? "-" : unit.config.unitId) + " " +
                            roleName(unit.role));
        }
        reply.push_back("OK " + std::to_string(units_.size()));
        return reply;
    }
    if (verb == "COUNT") {
        return ok("plates=" + std::to_string(world_.plateCount()) +
                  " tubes=" + std::to_string(world_.tubeCount()));
    }
    if (verb == "WHERE") {
        if (parts.size() != 2) return error("usage: WHERE <barcode>");
        auto found = world_.findBarcode(parts[1]);
        if (found.empty()) return error("no plate with barcode " + parts[1]);
        std::vector<std::string> reply;
        for (const auto& placed : found) reply.push_back(plateLine(placed));
        reply.push_back("OK " + std::to_string(found.size()));
        return reply;
    }
    if (verb == "PLATES") {
        if (parts.size() > 2) return error("usage: PLATES [<com>]");
        std::vector<PlacedPlate> plates;
        if (parts.size() == 2) {
            Unit* unit = findByToken(parts[1]);
            if (unit == nullptr) return error("no unit " + parts[1]);
            plates = world_.platesOf(unit->config.com);
        } else {
            plates = world_.all();
        }
        std::vector<std::string> reply;
        for (const auto& placed : plates) reply.push_back(plateLine(placed));
        reply.push_back("OK " + std::to_string(plates.size()));
        return reply;
    }
    if (verb == "PUT") return putCommand(parts);
    if (verb == "TAKE") return takeCommand(parts);
    if (verb == "TUBE" || verb == "TUBES") return tubeCommand(parts);
    if (verb == "STATUS" || verb == "FAULT" || verb == "CLEAR") {
        if (parts.size() < 2) return error("usage: " + verb + " <com> ...");
        Unit* unit = findByToken(parts[1]);
        if (unit == nullptr) return error("no unit " + parts[1]);
        if (verb == "STATUS")
            return parts.size() == 2 ? statusCommand(*unit) : error("usage: STATUS <com>");
        if (verb == "CLEAR")
            return parts.size() == 2 ? clearCommand(*unit) : error("usage: CLEAR <com>");
        return faultCommand(*unit, parts);
    }
    return error("unknown command " + parts[0]);
}

// The place that words 2.. of a PUT or TAKE name, when exactly `trailing` words follow it;
// otherwise none, and `problem` (the usage line when it is not the unit) says why.
std::optional<Place> VirtualLab::commandPlace(const std::vector<std::string>& parts,
                                              std::size_t trailing, std::string& problem) {
    if (parts.size() < 3 + trailing) return std::nullopt;
    Unit* unit = findByToken(parts[1]);
    if (unit == nullptr) {
        problem = "no unit " + parts[1];
        return std::nullopt;
    }
    std::size_t used = 0;
    auto place = parsePlace(unit->config.com, parts, 2, used);
    if (!place || 2 + used + trailing != parts.size()) return std::nullopt;
    return place;
}

std::vector<std::string> VirtualLab::putCommand(const std::vector<std::string>& parts) {
    std::string problem = "usage: PUT <com> <place> <barcode>";
    const auto place = commandPlace(parts, 1, problem);
    if (!place) return error(problem);
    const std::string& barcode = parts.back();
    const bool labelled = barcode != "-";
    if (!world_.add(*place, labelled ? barcode : "", labelled))
        return error(describePlace(*place) + " of COM" + std::to_string(place->unit) + " is taken");
    return ok();
}

std::vector<std::string> VirtualLab::takeCommand(const std::vector<std::string>& parts) {
    std::string problem = "usage: TAKE <com> <place>";
    const auto place = commandPlace(parts, 0, problem);
    if (!place) return error(problem);
    if (!world_.remove(*place)) return error("no plate at " + describePlace(*place));
    return ok();
}

std::vector<std::string> VirtualLab::tubeCommand(const std::vector<std::string>& parts) {
    const bool list = upper(parts[0]) == "TUBES";
    if ((list && parts.size() != 2) || (!list && parts.size() != 5))
        return error(list ? "usage: TUBES <rack barcode>"
                          : "usage: TUBE <rack barcode> <row> <column> <tube barcode>");
    auto racks = world_.findBarcode(parts[1]);
    if (racks.empty()) return error("no plate with barcode " + parts[1]);
    const PlacedPlate& rack = racks.front();
    if (list) {
        std::vector<std::string> reply;
        for (const auto& [position, code] : rack.plate.tubes) {
            reply.push_back("TUBE " + std::to_string(position.first) + " " +
                            std::to_string(position.second) + " " + code);
        }
        reply.push_back("OK " + std::to_string(rack.plate.tubes.size()));
        return reply;
    }
    auto row = number(parts[2]);
    auto column = number(parts[3]);
    if (!row || !column || *row < 1 || *column < 1 || *row > 99 || *column > 99)
        return error("row and column must be numbers from 1 to 99");
    if (!world_.putTube(rack.place, {*row, *column}, parts[4]))
        return error("position " + parts[2] + " " + parts[3] + " of " + parts[1] + " is taken");
    return ok();
}

std::vector<std::string> VirtualLab::statusCommand(Unit& unit) {
    const UnitStatus status = unit.model->status();
    return ok(std::string("ready=") + (status.ready ? "1" : "0") +
              " error=" + (status.error ? "1" : "0") + " code=" + hex4(status.errorCode) +
              " referenced=" + (status.referenced ? "1" : "0") +
              " door=" + (status.doorOpen ? "open" : "closed") +
              " locked=" + (status.locked ? "1" : "0") + " scan=" + (status.scanMode ? "1" : "0") +
              " queued=" + std::to_string(status.queuedMotions));
}

std::vector<std::string> VirtualLab::faultCommand(Unit& unit,
                                                  const std::vector<std::string>& parts) {
    if (parts.size() < 3) return error("usage: FAULT <com> <fault> ...");
    const std::string kind = upper(parts[2]);
    const std::string argument = parts.size() > 3 ? parts[3] : "";
    const bool oneArgument = parts.size() == 4;
    auto count = [&]() { return oneArgument ? number(argument) : std::nullopt; };
    if (kind == "SILENT" && parts.size() == 3) {
        unit.controller->setSilent(true);
    } else if (kind == "RESET" && parts.size() == 3) {
        unit.model->controllerReset();
    } else if (kind == "DROP" && count() && *count() >= 0) {
        unit.controller->staySilent(*count());
    } else if (kind == "GARBLE" && count() && *count() >= 0) {
        unit.controller->garbleReplies(*count());
    } else if (kind == "LATE" && count() && *count() >= 0) {
        unit.controller->setReplyDelay(*count());
    } else if (kind == "SLOW" && count() && *count() >= 0) {
        unit.model->setMotionTime(*count());
    } else if (kind == "ERROR" && oneArgument && hexWord(argument) && *hexWord(argument) != 0) {
        unit.model->failNextMotion(*hexWord(argument));
    } else if (kind == "DOOR" && oneArgument &&
               (upper(argument) == "OPEN" || upper(argument) == "CLOSED")) {
        unit.model->setDoorOpen(upper(argument) == "OPEN");
    } else if (kind == "NOLABEL" && oneArgument) {
        if (!world_.setLabelled(argument, false)) return error("no plate with barcode " + argument);
    } else if (kind == "STRAY" && oneArgument) {
        unit.controller->sendLater(0, [argument] { return argument + "\r\n"; });
    } else if (kind == "POWER" && oneArgument && upper(argument) == "OFF") {
        unit.controller->powerOff();
    } else if (kind == "POWER" && oneArgument && upper(argument) == "ON") {
        powerOn(unit);
    } else if (kind == "READER" && oneArgument && upper(argument) == "SILENT") {
        if (!unit.reader)
            return error("COM" + std::to_string(unit.config.com) + " has no reader port");
        unit.reader->setSilent(true);
    } else {
        return error("unknown or malformed fault: " + kind);
    }
    return ok();
}

// A unit that was switched off comes back without its references, as after any power cycle.
void VirtualLab::powerOn(Unit& unit) {
    if (unit.controller->poweredOn()) return;
    unit.model->controllerReset();
    unit.controller->powerOn();
}

std::vector<std::string> VirtualLab::clearCommand(Unit& unit) {
    powerOn(unit);
    unit.controller->setSilent(false);
    unit.controller->staySilent(0);
    unit.controller->garbleReplies(0);
    unit.controller->setReplyDelay(0);
    unit.model->clearFaults();
    if (unit.reader) unit.reader->setSilent(false);
    return ok();
}

}  // namespace krb::sim
