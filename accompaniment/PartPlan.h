// PartPlan: which arrangement part plays in each bar — main parts 0 and 2 taking turns, a fill
// (1 or 3) at each change where the melody marks a phrase end, -1 before the melody starts.
#pragma once

#include <cstdint>

namespace varimel {

class Composition;

namespace plan_part {
inline constexpr int16_t kNone = -1;
inline constexpr int16_t kMainA = 0;
inline constexpr int16_t kFill = 1;
inline constexpr int16_t kMainB = 2;
inline constexpr int16_t kStrongFill = 3;
}  // namespace plan_part

// Rebuilds the composition's part plan from its bars, tempo and phrase marks (the slots'
// cadence kinds).
void buildPartPlan(Composition& composition);

}  // namespace varimel
