// ChordFit: how well each bar's chord fits its melody — the share of the bar's melody, by
// duration, that lies on the chord's tones. Shown to users to explain a harmony, whichever
// draft made it.
#pragma once

#include <vector>

#include "engine/Apperr.h"

namespace varimel {

// One value per bar of the chord track, 0..1; -1 for a bar without a chord or without melody.
std::vector<double> chordFit(const Composition& composition);

}  // namespace varimel
