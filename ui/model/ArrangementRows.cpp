#include "ui/model/ArrangementRows.h"

#include <algorithm>

namespace varimel::model {

namespace {

std::string meterText(int key) {
    return std::to_string(key >> 8) + "/" + std::to_string(key & 0xFF);
}

}  // namespace

std::vector<ArrangementRow> arrangementRows(const std::vector<ArrangementGroup>& groups,
                                            int meterKey, ArrangementId selected) {
    std::vector<ArrangementRow> rows;
    rows.reserve(groups.size() + 1);
    bool meterFound = false;
    for (size_t g = 0; g < groups.size(); ++g) {
        const ArrangementGroup& group = groups[g];
        const bool current = group.key == meterKey;
        meterFound = meterFound || current;
        const Rgb colour =
            current ? arrangement_colours::kCurrentMeter : arrangement_colours::kOtherMeter;
        ArrangementRow row{"lmg_" + std::to_string(g), meterText(group.key), colour, current, {}};
        for (size_t e = 0; e < group.entries.size(); ++e) {
            const ArrangementId tag = makeArrangementId(static_cast<int>(g), static_cast<int>(e));
            row.items.push_back(
                {"mi_" + std::to_string(g) + "_" + std::to_string(e), group.entries[e].name, tag,
                 current && tag == selected ? arrangement_colours::kSelected : colour});
        }
        rows.push_back(std::move(row));
    }
    if (!meterFound) {
        const int autoGroup = static_cast<int>(groups.size()) + 1;
        const ArrangementId tag = makeArrangementId(autoGroup, 0);
        ArrangementRow row{"lmg_" + std::to_string(autoGroup),
                           meterText(meterKey),
                           arrangement_colours::kCurrentMeter,
                           true,
                           {}};
        row.items.push_back({"ma_" + std::to_string(autoGroup) + "_0", "Auto", tag,
                             tag == selected ? arrangement_colours::kSelected
                                             : arrangement_colours::kCurrentMeter});
        rows.push_back(std::move(row));
    }
    return rows;
}

bool arrangementSelectable(const std::vector<ArrangementGroup>& groups, int meterKey,
                           ArrangementId id) {
    if (id < 0) return false;
    const int group = arrangementGroupOf(id);
    if (group < static_cast<int>(groups.size()))
        return groups[static_cast<size_t>(group)].key == meterKey &&
               arrangementEntryOf(id) <
                   static_cast<int>(groups[static_cast<size_t>(group)].entries.size());
    // Auto is offered only when no group has the meter.
    return group == static_cast<int>(groups.size()) + 1 &&
           std::none_of(groups.begin(), groups.end(),
                        [meterKey](const ArrangementGroup& g) { return g.key == meterKey; });
}

}  // namespace varimel::model
