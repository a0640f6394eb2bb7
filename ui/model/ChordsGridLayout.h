// ChordsGridLayout: where the elements of one bar's column of the chords grid stand, which tag
// each carries, and what a tag designates. A column is as wide as the bar's section of the notes
// view's header, so the grid lines up with the piano roll.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/ChordCode.h"

namespace varimel {
struct HarmonySlot;
}

namespace varimel::model {

enum class GridElementKind { Applied, Candidate, Other, ListButton };

struct GridRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool contains(int px, int py) const {
        return px >= x && px < x + width && py >= y && py < y + height;
    }
};

struct GridElement {
    GridElementKind kind = GridElementKind::Applied;
    std::string name;  // "AChr_12", "Chr_12_2", "NCChr_12", "SCChr_12"
    GridRect rect;
    int index = 0;  // candidate number 1..n; 255 none / " Other"; 101 the list button
};

inline constexpr int kWideColumn = 82;  // a column wider than this shows glyphs left of names
inline constexpr int kMaxCandidateButtons = 3;
inline constexpr int kNoIndex = 255;
inline constexpr int kListButtonIndex = 101;

// Tags: (bar << 8) | index.
inline int gridTag(int bar, int index) {
    return (bar << 8) | (index & 0xFF);
}
inline int tagBar(int tag) {
    return tag >> 8;
}
inline int tagIndex(int tag) {
    return tag & 0xFF;
}

// The elements of the column of `bar` at x with width w, with `candidateButtons` candidate
// buttons (at most three).
std::vector<GridElement> columnElements(int bar, int x, int width, int candidateButtons);

// A bar's candidates as the grid shows them: up to three buttons, the rest (and the harmony's
// extra candidates) as further chords.
struct BarCandidates {
    int buttons = 0;  // n
    int further = 0;  // m
    std::vector<ChordCode> codes;
    // Code of index i (0-based), or -1; -k stands for the k-th further chord (index n + k - 1).
    ChordCode lookup(int i) const;
    // The chord an element's index designates: 1..n a candidate, n+1.. a further chord.
    ChordCode chordOfIndex(int index) const;
};
BarCandidates barCandidates(const HarmonySlot& slot);

// A candidate's caption: its name padded with blanks to eight characters (narrow columns
// indent it by two blanks).
std::string candidateCaption(ChordCode code, bool narrow, KeyIndex pieceKey = kNoKey);

}  // namespace varimel::model
