#include "ui/model/ChordsGridLayout.h"

#include <algorithm>

#include "engine/Apperr.h"
#include "engine/Tonality.h"

namespace varimel::model {

std::vector<GridElement> columnElements(int bar, int x, int width, int candidateButtons) {
    const bool wide = width > kWideColumn;
    const int centre = x + width / 2 - 1;
    std::vector<GridElement> elements;

    elements.push_back({GridElementKind::Applied,
                        "AChr_" + std::to_string(bar),
                        {x, 0, std::max(width - 1, 1), 17},
                        kNoIndex});

    const int buttonWidth = wide ? 80 : 41;
    const int buttonHeight = wide ? 37 : 49;
    const int buttons = std::clamp(candidateButtons, 0, kMaxCandidateButtons);
    for (int k = 1; k <= buttons; ++k) {
        elements.push_back(
            {GridElementKind::Candidate,
             "Chr_" + std::to_string(bar) + "_" + std::to_string(k),
             {centre - buttonWidth / 2, 29 + (k - 1) * 53, buttonWidth, buttonHeight},
             k});
    }

    const GridRect other{centre - 27, wide ? 190 : 188, 54, 17};
    elements.push_back({GridElementKind::Other, "NCChr_" + std::to_string(bar), other, kNoIndex});
    const GridRect list = wide ? GridRect{other.x + other.width, 188, 20, 20}
                               : GridRect{other.x + other.width - 20, 206, 20, 20};
    elements.push_back(
        {GridElementKind::ListButton, "SCChr_" + std::to_string(bar), list, kListButtonIndex});
    return elements;
}

ChordCode BarCandidates::lookup(int i) const {
    if (i < 0) i = buttons + (-i) - 1;
    if (i < 0 || i >= static_cast<int>(codes.size())) return kNoChord;
    return codes[static_cast<size_t>(i)];
}

ChordCode BarCandidates::chordOfIndex(int index) const {
    if (index < 1 || index >= kListButtonIndex) return kNoChord;
    return lookup(index - 1);
}

BarCandidates barCandidates(const HarmonySlot& slot) {
    BarCandidates bar;
    const int total =
        std::min<int>(slot.mainCount + slot.extraCount, static_cast<int>(slot.candidates.size()));
    bar.buttons = std::min<int>({slot.mainCount, kMaxCandidateButtons, total});
    bar.further = total - bar.buttons;
    bar.codes.assign(slot.candidates.begin(), slot.candidates.begin() + total);
    return bar;
}

std::string candidateCaption(ChordCode code, bool narrow, KeyIndex pieceKey) {
    std::string name = chordName(code, pieceKey);
    if (name.size() < 8) name.append(8 - name.size(), ' ');
    return narrow ? "  " + name : name;
}

}  // namespace varimel::model
