#include "accompaniment/PartPlan.h"

#include <algorithm>
#include <array>

#include "engine/Apperr.h"

namespace varimel {

namespace {

constexpr int32_t kShortPhrase = 4;
constexpr int32_t kLongPhrase = 8;
constexpr int32_t kShortPieceBars = 9;
constexpr int32_t kSlowBelowBpm = 71;
constexpr int32_t kMicrosecondsPerMinute = 60000000;

// Phrase mark of a bar: the cadence kind of its slot; 0 outside the piece or the slots.
int phraseMark(const Composition& composition, int32_t bar) {
    if (bar < 0 || bar >= composition.barCount) return 0;
    if (static_cast<size_t>(bar) >= composition.slots.size()) return 0;
    return composition.slots[static_cast<size_t>(bar)].cadenceKind;
}

// Held bars and the cadences of rules 2 and 3 close a phrase more strongly.
bool strongMark(int mark) {
    return mark == 1 || mark == 3 || mark == 4;
}

}  // namespace

void buildPartPlan(Composition& composition) {
    const int32_t barCount = std::max(composition.barCount, 0);
    auto& plan = composition.partPlan;
    plan.assign(static_cast<size_t>(barCount), plan_part::kNone);
    if (barCount == 0) return;

    const auto& melody = composition.noteTracks().notes(0);
    const int32_t start = melody.empty() ? 0 : melody.front().position.bar;
    const int32_t tempo = composition.tempo > 0 ? composition.tempo : Composition::kDefaultTempo;
    const int32_t bpm = kMicrosecondsPerMinute / tempo;
    const int32_t step =
        (barCount - start < kShortPieceBars || bpm < kSlowBelowBpm) ? kShortPhrase : kLongPhrase;

    for (int32_t bar = start + step; bar < barCount; bar += step) {
        for (const int32_t offset : std::array<int32_t, 5>{0, 1, -1, 2, -2}) {
            if (phraseMark(composition, bar + offset) == 0) continue;
            plan[static_cast<size_t>(bar)] = strongMark(phraseMark(composition, bar))
                                                 ? plan_part::kStrongFill
                                                 : plan_part::kFill;
            break;
        }
    }

    int16_t main = plan_part::kMainA;
    for (int32_t bar = std::max(start, 0); bar < barCount; ++bar) {
        int16_t& part = plan[static_cast<size_t>(bar)];
        if (part == plan_part::kNone) {
            part = main;
        } else {
            main = main == plan_part::kMainA ? plan_part::kMainB : plan_part::kMainA;
        }
    }
}

}  // namespace varimel
