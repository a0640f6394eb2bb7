// harmonise --explain: how well each bar's chord fits its melody, and the draft choice.
#include <cmath>
#include <cstdio>
#include <sstream>

#include "cli_harmonise.h"
#include "engine/ChordFit.h"
#include "engine/Tonality.h"

namespace varimel::cli {

int draftNumber(const std::string& name) {
    if (name == "I") return kDraftI;
    if (name == "II") return kDraftII;
    if (name == "III") return kDraftIII;
    if (name == "IV") return kDraftIV;
    return 0;
}

ChordMethod chordMethod(int draft) {
    return draft == kDraftIV ? ChordMethod::kDraftFour : ChordMethod::kHarmonizer;
}

std::vector<double> chordFitOf(const HarmoniseOutcome& outcome) {
    const Composition* c = outcome.master ? outcome.master->composition() : nullptr;
    return c && outcome.harmonised ? chordFit(*c) : std::vector<double>{};
}

double roundedFit(double fit) {
    return std::round(fit * 1000.0) / 1000.0;
}

std::string fitChart(const HarmoniseOutcome& outcome) {
    const std::string chart = chordChart(outcome);
    const Composition* c = outcome.master ? outcome.master->composition() : nullptr;
    if (!c || !c->hasChordTrack()) return chart;
    std::ostringstream out;
    out << chart << "\n bar  chord      fit   (share of the bar's melody on the chord's tones)\n";
    const std::vector<double> fit = chordFitOf(outcome);
    for (size_t bar = 0; bar < c->chordTrack.size(); ++bar) {
        char row[64];
        const double value = bar < fit.size() ? fit[bar] : -1.0;
        if (value >= 0) {
            std::snprintf(row, sizeof row, "%4zu  %-7s  %6.1f%%\n", bar + 1,
                          chordName(c->chordTrack[bar].chord, c->pieceKey()).c_str(),
                          value * 100.0);
        } else {
            std::snprintf(row, sizeof row, "%4zu  %-7s        -\n", bar + 1,
                          chordName(c->chordTrack[bar].chord, c->pieceKey()).c_str());
        }
        out << row;
    }
    return out.str();
}

}  // namespace varimel::cli
