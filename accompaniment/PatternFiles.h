// PatternFiles: the records of the style and arrangement libraries — pattern events, meter
// sets, style and arrangement files and their lists — and their byte layouts, read and written
// field by field, little-endian. The libraries read with these; the library compiler writes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varimel {

// One note of a style or arrangement pattern, 14 bytes in the files.
struct PatternEvent {
    int8_t tone = 1;    // chord-tone selector 1..7 (sign ignored); in drum lines the GM drum note
    int8_t octave = 0;  // octave of this event
    int16_t duration = 0;          // ticks at the file's ppq
    int16_t bar = 0;               // from the start of the pattern
    uint8_t beat = 0;              // within the bar, from 0
    uint16_t tick = 0;             // after the beat, at the file's ppq
    uint16_t velocities = 0x6464;  // note-on velocity << 8 | note-off velocity

    friend bool operator==(const PatternEvent&, const PatternEvent&) = default;
};
inline constexpr size_t kPatternEventSize = 14;

// Up to four meters, one per byte from the lowest, each (numerator << 4) | denominator.
using MeterSet = uint32_t;
constexpr uint32_t meterCode(int numerator, int denominator) {
    return static_cast<uint32_t>(numerator) << 4 | static_cast<uint32_t>(denominator);
}
// A numerator of 16 or more makes a code above one byte, which no stored byte equals.
bool meterFits(MeterSet meters, int numerator, int denominator);

// --- Styles ---------------------------------------------------------------------------------

inline constexpr int kStyleCategoryCount = 3;  // Piano, Guitar, Other
inline constexpr size_t kStyleEntrySize = 28;
inline constexpr size_t kLibraryNameSize = 16;  // zero-terminated, so 15 characters
inline constexpr size_t kMaxLibraryFileSize = 16u << 20;
// Events of one pattern line (a style, or an arrangement part's organ, bass or drums). A line is
// replayed once per bar in the worst case, so its length bounds the work of a render; real
// patterns hold a few dozen.
inline constexpr int32_t kMaxPatternEvents = 4096;
inline constexpr char kStyleListName[] = "styles.lst";
inline constexpr char kStyleExtension[] = ".stt";

// A style identifier: (category << 24) | position in the category; -1 for none.
using StyleId = int32_t;
inline constexpr StyleId kNoStyle = -1;
constexpr StyleId makeStyleId(int category, int index) {
    return static_cast<StyleId>(static_cast<uint32_t>(category) << 24 |
                                (static_cast<uint32_t>(index) & 0xFFFFFF));
}

struct StyleEntry {
    StyleId id = kNoStyle;
    std::string name;  // file stem of the style file

    friend bool operator==(const StyleEntry&, const StyleEntry&) = default;
};

struct StyleList {
    std::array<std::vector<StyleEntry>, kStyleCategoryCount> categories;
};

// A recorded accompaniment pattern and how to replay it.
class Style {
  public:
    uint8_t bars = 0;         // pattern length in bars
    int8_t octave = 0;        // reference octave; base pitch = octave * 12
    uint8_t beatsPerBar = 0;  // felt beats; groups the styles in the dialog
    uint8_t program = 0;      // General MIDI program of the instrument
    uint8_t program2 = 0;     // second program handed to the preview
    int8_t meterNum = 0;      // meter the pattern was recorded in
    int8_t meterDen = 0;
    int16_t ppq = 0;      // ticks per quarter of the event times
    MeterSet meters = 0;  // meters the style may be applied to
    std::vector<PatternEvent> events;
    bool valid = false;  // false: the file could not be read; the style has no events

    int32_t eventCount() const { return static_cast<int32_t>(events.size()); }
    friend bool operator==(const Style&, const Style&) = default;
};

// The list reader keeps the categories read completely before the first short one; it fails
// on a wrong magic, a file too short for the counts, or when no category with entries was read.
bool parseStyleList(const std::vector<uint8_t>& bytes, StyleList& out);
std::vector<uint8_t> serializeStyleList(const StyleList& list);
// False when any field or event is missing; `out` is then an empty, invalid style.
bool parseStyle(const std::vector<uint8_t>& bytes, Style& out);
std::vector<uint8_t> serializeStyle(const Style& style);

// --- Arrangements ---------------------------------------------------------------------------

inline constexpr size_t kArrangementEntrySize = 24;
inline constexpr size_t kArrangementPartHeadSize = 16;
inline constexpr char kArrangementListName[] = "arangs.lst";
inline constexpr char kArrangementExtension[] = ".art";

// Tempo classes; an entry's mask ORs the classes it suits.
namespace tempo_class {
inline constexpr int kSlow = 1;
inline constexpr int kMedium = 2;
inline constexpr int kFast = 4;
inline constexpr int kAny = 7;
}  // namespace tempo_class

// (group index << 16) | entry index; -1 none; (groups + 1) << 16 is Auto (nothing fits).
using ArrangementId = int32_t;
inline constexpr ArrangementId kNoArrangement = -1;
constexpr ArrangementId makeArrangementId(int group, int entry) {
    return static_cast<ArrangementId>(static_cast<uint32_t>(group) << 16 |
                                      (static_cast<uint32_t>(entry) & 0xFFFF));
}
constexpr int arrangementGroupOf(ArrangementId id) {
    return id >> 16;
}
constexpr int arrangementEntryOf(ArrangementId id) {
    return id & 0xFFFF;
}
// Group meter keys: (numerator << 8) | denominator.
constexpr int meterKey(int numerator, int denominator) {
    return (numerator & 0xFF) << 8 | (denominator & 0xFF);
}

struct ArrangementEntry {
    int16_t tempoMask = 0;  // 0 or 7 in a group's first entry: any tempo
    std::string name;       // file stem of the arrangement file and its caption

    friend bool operator==(const ArrangementEntry&, const ArrangementEntry&) = default;
};

struct ArrangementGroup {
    uint16_t key = 0;  // meterKey of the group's meter
    std::vector<ArrangementEntry> entries;

    friend bool operator==(const ArrangementGroup&, const ArrangementGroup&) = default;
};

struct ArrangementList {
    std::vector<ArrangementGroup> groups;
};

// One numbered part of an arrangement: 0 and 2 are main patterns, 1 and 3 fills.
struct ArrangementPart {
    // Only part 0's instrument bytes are used, for the whole arrangement.
    uint8_t organProgram = 0;
    uint8_t bassProgram = 0;
    uint8_t organVolume = 0;
    uint8_t bassVolume = 0;
    uint8_t drumsVolume = 0;
    std::vector<PatternEvent> organ;
    std::vector<PatternEvent> bass;
    std::vector<PatternEvent> drums;

    friend bool operator==(const ArrangementPart&, const ArrangementPart&) = default;
};

class Arrangement {
  public:
    int8_t meterNum = 0;
    int8_t meterDen = 0;
    int16_t ppq = 0;
    std::vector<ArrangementPart> parts;

    int32_t partCount() const { return static_cast<int32_t>(parts.size()); }
    friend bool operator==(const Arrangement&, const Arrangement&) = default;
};

bool parseArrangementList(const std::vector<uint8_t>& bytes, ArrangementList& out);
std::vector<uint8_t> serializeArrangementList(const ArrangementList& list);
// A part without organ events stores no events at all; its bass and drum lines are dropped.
bool parseArrangement(const std::vector<uint8_t>& bytes, Arrangement& out);
std::vector<uint8_t> serializeArrangement(const Arrangement& arrangement);

// Joins a folder and a file name with the platform's separator, unless the folder already
// ends with one (the settings keep the library folders with a trailing separator).
std::string joinPath(std::string_view directory, std::string_view name);

}  // namespace varimel
