// The part plan: which arrangement part plays in each bar (-1 for none).
#pragma once

namespace varimel {

class Composition;

// Rebuilds the composition's part plan from its chord track and phrase marks.
void buildPartPlan(Composition& composition);

}  // namespace varimel
