#pragma once
// Plate moves within one unit and across a cascade (base unit, cascader, extension unit),
// planned as fixed sequences of transport steps. A manager lives for one move.
#include <array>
#include <string>

#include "UnitRegistry.h"

namespace krb {

// Source unit ID, type, slot, level, cascade slot, cascade code; then the same for the target.
using TMovePlateTexts = std::array<std::string, 12>;

class TCascadeMngr {
  public:
    explicit TCascadeMngr(TKRB_Browser& browser) : Browser(browser) {}
    // "1" delivered; a refusal digit before anything moved; or unit ID + failed step digit.
    std::string MovePlate(const TMovePlateTexts& texts);

    enum class TSide { Base, Ext };
    struct TMoveSide {
        int UnitId = 0, Type = 0, Slot = 0, Level = 0, CascadeSlot = 0, CascadeCode = 0;
        UnitPtr Unit;
    };
    static int LevelOfCode(int code);
    int CarouselTurn(int cascadeSlot, TSide side) const;

  private:
    struct TRoles {
        UnitPtr Base, Cascader, Ext;
        bool Complete() const { return Base && Cascader && Ext; }
    };
    TRoles findRoles() const;
    bool bothIdle(const TKRB_Class& source, const TKRB_Class& target) const;
    std::string dispatch(TMoveSide& source, TMoveSide& target, const TRoles& roles);

    std::string singleUnitMove(TMoveSide& source, TMoveSide& target, TSide side);
    std::string crossMove(const TMoveSide& source, const TMoveSide& target, TKRB_Class& cascader,
                          TSide sourceSide);
    std::string exchangeIntoCascader(const TMoveSide& source, const TMoveSide& target,
                                     TKRB_Class& cascader, TSide side);
    std::string exchangeOutOfCascader(const TMoveSide& target, TKRB_Class& cascader, TSide side);

    // Steps: a transport operation and its wait, then until the unit is idle.
    bool step(TKRB_Class& unit, const std::string& started, char digit);
    bool turnCarousel(TKRB_Class& unit, int cascadeSlot, TSide side);
    bool positionCascader(TKRB_Class& cascader, int position);
    bool bringToCascadePosition(const TMoveSide& source, bool viaLoad);
    bool deliverFromCascadePosition(const TMoveSide& target);
    std::string outcome() const;

    TKRB_Browser& Browser;
    std::string MoveResult;
    int ExtCarouselSize = 20;
    int BaseCarouselSize = 20;
};

// Behind KRBMovePlate2 and KRB2ServiceMovePlate: the tube-store route or the manager.
std::string MovePlate2(TKRB_Browser& browser, const TMovePlateTexts& texts);

}  // namespace krb
