// LibrarySource: the readable text form of styles and arrangements (one file each, in
// data/styles/src and data/arrangements/src) and how it becomes the library's binary files.
//
// A style:
//   style     PnWaltz        # file stem, at most 15 characters
//   category  piano          # piano | guitar | other
//   program   0              # General MIDI program, counted from 0
//   program2  0              # optional; the preview's second program (default: program)
//   octave    4              # reference octave of the pattern
//   beats     3              # felt beats per bar
//   meter     3/4            # the meter the pattern is written in
//   ppq       120            # ticks per quarter note of positions and lengths
//   bars      1              # pattern length
//   fits      3/4            # up to four meters the style may be applied to
//   #     at      tone  oct  length  velocity
//   note  1.1     1     3    q       96
//   note  1.2+60  3     4    e       72/64
//
// An arrangement:
//   arrangement  Rock44      # file stem
//   meter        4/4
//   ppq          120
//   tempo        medium      # slow | medium | fast | any, or a mask 0..7 (1 slow, 2 medium, 4
//   fast) organ-program 16 / organ-volume 70 / bass-program 33 / bass-volume 100 / drums-volume 100
//   part 0                   # parts numbered 0.. in order; 0 and 2 main, 1 and 3 fills
//   organ 1.1   1   h   80   # organ events have no octave: the organ plays at the piece's octave
//   bass  1.1   1   3   q   100
//   drum  1.1   kick    s   100   # a GM drum name (see drumNote) or note number
//
// Positions are bar.beat counted from 1 in the pattern's meter (in 6/8 the beat is an eighth),
// with an optional +ticks. Lengths are ticks, a number of beats ("1.5b"), or a note value
// w h q e s with an optional dot ("q."). A velocity is on[/off]; off defaults to 64. Tones are
// the chord-tone selectors: 1 root, 3 third, 5 fifth, 7 seventh (or the octave of a triad's
// root). '#' starts a comment.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "accompaniment/PatternFiles.h"

namespace varimel::stylec {

struct SourceError {
    std::string file;
    int line = 0;
    std::string message;
    std::string text() const;
};

struct StyleSource {
    std::string file;
    std::string name;
    int category = 0;
    Style style;
};

struct ArrangementSource {
    std::string file;
    std::string name;
    int16_t tempoMask = 0;
    Arrangement arrangement;
};

// The General MIDI percussion note of a drum name ("kick", "snare", "closed-hat", ...), or -1.
int drumNote(std::string_view name);

bool parseStyleSource(std::string_view text, const std::string& file, StyleSource& out,
                      std::vector<SourceError>& errors);
bool parseArrangementSource(std::string_view text, const std::string& file, ArrangementSource& out,
                            std::vector<SourceError>& errors);

// Every *.txt of a folder, in file-name order.
bool readStyleSources(const std::filesystem::path& folder, std::vector<StyleSource>& out,
                      std::vector<SourceError>& errors);
bool readArrangementSources(const std::filesystem::path& folder,
                            std::vector<ArrangementSource>& out, std::vector<SourceError>& errors);

// The list as the library reads it: categories Piano, Guitar, Other, each in source order,
// identifiers (category << 24) | position. Fails on a repeated name.
bool buildStyleList(const std::vector<StyleSource>& sources, StyleList& out,
                    std::vector<SourceError>& errors);
// One group per meter, in the order the meters first appear; entries in source order.
bool buildArrangementList(const std::vector<ArrangementSource>& sources, ArrangementList& out,
                          std::vector<SourceError>& errors);

// Writes the list and one file per style (arrangement) into `folder`, removing files of the
// same extension that the list no longer names.
bool writeStyleLibrary(const std::filesystem::path& folder, const std::vector<StyleSource>& sources,
                       std::vector<SourceError>& errors);
bool writeArrangementLibrary(const std::filesystem::path& folder,
                             const std::vector<ArrangementSource>& sources,
                             std::vector<SourceError>& errors);

}  // namespace varimel::stylec
