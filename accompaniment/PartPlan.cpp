#include "accompaniment/PartPlan.h"

#include <algorithm>

#include "engine/Apperr.h"

namespace varimel {

// Until the arrangement renderer chooses parts, no bar has one.
void buildPartPlan(Composition& composition) {
    composition.partPlan.assign(static_cast<size_t>(std::max(composition.barCount, 0)), -1);
}

}  // namespace varimel
