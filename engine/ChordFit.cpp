#include "engine/ChordFit.h"

#include <numeric>

#include "engine/DraftFour.h"
#include "engine/Tonality.h"

namespace varimel {

std::vector<double> chordFit(const Composition& composition) {
    std::vector<double> fit(composition.chordTrack.size(), -1.0);
    if (!composition.notes) return fit;
    const draft_four::BarDurations durations =
        draft_four::barDurations(draft_four::melodyOf(composition));
    for (size_t bar = 0; bar < fit.size() && bar < durations.size(); ++bar) {
        const ChordCode chord = composition.chordTrack[bar].chord;
        const auto& ticks = durations[bar];
        const int64_t total = std::accumulate(ticks.begin(), ticks.end(), int64_t{0});
        if (chord < 0 || total <= 0) continue;
        uint16_t tones = 0;
        for (const int tone : chordTones(chordKey(chord), chordType(chord))) {
            tones |= static_cast<uint16_t>(1u << (tone % kPitchClassCount));
        }
        int64_t onChord = 0;
        for (int pc = 0; pc < kPitchClassCount; ++pc) {
            if (tones & (1u << pc)) onChord += ticks[static_cast<size_t>(pc)];
        }
        fit[bar] = static_cast<double>(onChord) / static_cast<double>(total);
    }
    return fit;
}

}  // namespace varimel
