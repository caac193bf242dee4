#include "UnitRegistry.h"

#include "text_numbers.h"

namespace krb {

TKRB_Browser& TKRB_Browser::Instance() {
    static TKRB_Browser* browser = new TKRB_Browser();  // outlives every background thread
    return *browser;
}

TResultSlots& TKRB_Browser::Slots() {
    static thread_local TResultSlots slots;
    return slots;
}

std::string TKRB_Browser::findUnitLocked(const std::string& id) const {
    auto number = parseInt32(id);
    if (!number) return "";
    std::string position;
    for (std::size_t i = 0; i < UnitList.size(); ++i)
        if (UnitList[i]->portNumber() == *number) position = std::to_string(i);
    return position;
}

std::string TKRB_Browser::FindUnit(const std::string& id) const {
    std::lock_guard guard(lock_);
    return findUnitLocked(id);
}

UnitPtr TKRB_Browser::UnitFor(const std::string& id) const {
    std::lock_guard guard(lock_);
    auto position = parseInt32(findUnitLocked(id));
    return position ? UnitList[*position] : nullptr;
}

std::vector<UnitPtr> TKRB_Browser::Units() const {
    std::lock_guard guard(lock_);
    return UnitList;
}

UnitPtr TKRB_Browser::TubeStore() const {
    std::lock_guard guard(lock_);
    for (const auto& unit : UnitList)
        if (unit->isTubeStore()) return unit;
    return nullptr;
}

std::string TKRB_Browser::Connect(const std::string& id) {
    return Slots().ResultText = connectUnit(id);
}

std::string TKRB_Browser::connectUnit(const std::string& id) {
    auto number = parseInt32(id);
    if (!number) return "3";
    std::string portName = "COM" + id;
    std::lock_guard guard(lock_);
    auto position = parseInt32(findUnitLocked(id));
    if (position) return UnitList[*position]->OpenPort();
    auto unit = std::make_shared<TKRB_Class>();
    unit->SetPortName(portName);
    std::string result = unit->OpenPort();
    if (result != "1") return result;
    UnitList.push_back(unit);
    unit->setRegistration(*number, static_cast<std::int32_t>(UnitList.size()));
    return result;
}

void TKRB_Browser::Disconnect(const std::string& id) {
    UnitPtr unit = UnitFor(id);
    if (!unit) return;
    unit->Disconnect();
    std::lock_guard guard(lock_);
    std::erase(UnitList, unit);
}

std::string TKRB_Browser::Activate2(const std::string& id) {
    std::string& activateText = Slots().ActivateText;
    if (!UnitFor(id)) {
        activateText = Connect(id);
        if (activateText != "1") return activateText;
    }
    UnitPtr unit = UnitFor(id);
    if (!unit) return "0";
    unit->OpenPort();  // a line that is down is opened afresh
    activateText = unit->OpenCommunication();
    if (activateText != "1") {
        auto code = parseInt32(activateText);
        if (code == 0) return "3";
        if (code == 2) return "4";
        return "0";
    }
    activateText = unit->Initialize();
    if (activateText == "1") return activateText;
    auto code = parseInt32(activateText);
    if (code == 2) return "5";
    if (code == 3) return "6";
    return "7";
}

}  // namespace krb
