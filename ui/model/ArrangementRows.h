// ArrangementRows: the arrangement dialog's rows for a meter — one row per library group with
// its meter and entries, an "Auto" row when no group has the meter, and the colour of each text.
#pragma once

#include <string>
#include <vector>

#include "accompaniment/PatternFiles.h"
#include "ui/model/Rgb.h"

namespace varimel::model {

namespace arrangement_colours {
inline constexpr Rgb kCurrentMeter{0, 128, 0};
inline constexpr Rgb kOtherMeter{128, 128, 128};
inline constexpr Rgb kSelected{0, 255, 0};
inline constexpr Rgb kBackground{241, 247, 234};
}  // namespace arrangement_colours

struct ArrangementItem {
    std::string name;     // "mi_" group "_" entry, or "ma_" (groups + 1) "_0" for Auto
    std::string caption;  // the entry's name, or "Auto"
    ArrangementId tag = kNoArrangement;
    Rgb colour;
};

struct ArrangementRow {
    std::string name;       // "lmg_" group
    std::string meterText;  // numerator "/" denominator
    Rgb colour;
    bool currentMeter = false;
    std::vector<ArrangementItem> items;
};

std::vector<ArrangementRow> arrangementRows(const std::vector<ArrangementGroup>& groups,
                                            int meterKey, ArrangementId selected);

// A right click selects only an arrangement of the current meter, or Auto.
bool arrangementSelectable(const std::vector<ArrangementGroup>& groups, int meterKey,
                           ArrangementId id);

}  // namespace varimel::model
