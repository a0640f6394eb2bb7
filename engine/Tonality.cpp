#include "engine/Tonality.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace varimel {
namespace {

constexpr std::array<std::string_view, kPitchClassCount> kNoteNames = {
    "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

struct KeyEntry {
    std::string_view name;
    std::array<int, kDegreeCount> degrees;  // pitch classes of I..VII; minors are natural minor
};

// Ordered by signature: five, six, seven flats written for C#, F#, B major, then four flats up
// to four sharps; the minors follow in the same order.
constexpr std::array<KeyEntry, kKeyCount> kKeys = {{
    {"Cis-dur", {1, 3, 5, 6, 8, 10, 0}},  {"Fis-dur", {6, 8, 10, 11, 1, 3, 5}},
    {"H-dur", {11, 1, 3, 4, 6, 8, 10}},   {"As-dur", {8, 10, 0, 1, 3, 5, 7}},
    {"Es-dur", {3, 5, 7, 8, 10, 0, 2}},   {"B-dur", {10, 0, 2, 3, 5, 7, 9}},
    {"F-dur", {5, 7, 9, 10, 0, 2, 4}},    {"C-dur", {0, 2, 4, 5, 7, 9, 11}},
    {"G-dur", {7, 9, 11, 0, 2, 4, 6}},    {"D-dur", {2, 4, 6, 7, 9, 11, 1}},
    {"A-dur", {9, 11, 1, 2, 4, 6, 8}},    {"E-dur", {4, 6, 8, 9, 11, 1, 3}},
    {"b-moll", {10, 0, 1, 3, 5, 6, 8}},   {"es-moll", {3, 5, 6, 8, 10, 11, 1}},
    {"as-moll", {8, 10, 11, 1, 3, 4, 6}}, {"f-moll", {5, 7, 8, 10, 0, 1, 3}},
    {"c-moll", {0, 2, 3, 5, 7, 8, 10}},   {"g-moll", {7, 9, 10, 0, 2, 3, 5}},
    {"d-moll", {2, 4, 5, 7, 9, 10, 0}},   {"a-moll", {9, 11, 0, 2, 4, 5, 7}},
    {"e-moll", {4, 6, 7, 9, 11, 0, 2}},   {"h-moll", {11, 1, 2, 4, 6, 7, 9}},
    {"fis-moll", {6, 8, 9, 11, 1, 2, 4}}, {"cis-moll", {1, 3, 4, 6, 8, 9, 11}},
}};

// The semitone step towards each degree's chromatic neighbour, I..VII. For every alterable
// degree it points at the alteration itself.
constexpr std::array<int, kDegreeCount> kMajorNeighbourStep = {+1, +1, -1, +1, +1, -1, -1};
constexpr std::array<int, kDegreeCount> kMinorNeighbourStep = {+1, -1, +1, +1, -1, +1, +1};

constexpr std::array<bool, kDegreeCount> kMajorAlterable = {true,  true, false, true,
                                                            false, true, true};
constexpr std::array<bool, kDegreeCount> kMinorAlterable = {true,  false, true, true,
                                                            false, true,  true};

// Signature accidentals in writing order (F# C# G# ...; Bb Eb Ab ...). The flat list keeps Cb
// and Fb as B and E, so that B major written with seven flats still names its own scale.
constexpr std::array<int, 7> kSharpOrder = {6, 1, 8, 3, 10, 5, 0};
constexpr std::array<int, 7> kFlatOrder = {10, 3, 8, 1, 6, 11, 4};

// Ten rows of seven characters (degrees I..VII): rows 0..4 are the types of a major key,
// rows 5..9 those of a minor key.
constexpr std::string_view kChordPatternText =
    "+ + +  + + + -+ + + ++ + ++        + + +  + + + ++ + +- + +-  ++ +- - ";
constexpr int kPatternRowCount = 2 * kChordTypeCount;
static_assert(kChordPatternText.size() == kPatternRowCount * kDegreeCount);

// Per row and degree: 0 not in the chord, +1 the plain degree, -1 the altered degree.
using PatternMarks = std::array<std::array<int8_t, kDegreeCount>, kPatternRowCount>;

constexpr PatternMarks parsePatterns(std::string_view text) {
    PatternMarks marks{};
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != ' ' && c != '+' && c != '-') throw "pattern characters are ' ', '+' and '-'";
        marks[i / kDegreeCount][i % kDegreeCount] = c == '+' ? 1 : c == '-' ? -1 : 0;
    }
    return marks;
}

constexpr PatternMarks kPatternMarks = parsePatterns(kChordPatternText);

constexpr std::array<std::string_view, kPatternRowCount> kChordSuffixes = {
    " ", "7", "maj7", "6", " ", "m", "m7", "m6", "m7b5", "dim7"};

bool isValidDegree(int degree) {
    return degree >= 0 && degree < kDegreeCount;
}

int patternRow(KeyIndex key, int type) {
    if (!isValidKey(key) || type < 0 || type >= kChordTypeCount) return -1;
    return isMinorKey(key) ? type + kChordTypeCount : type;
}

int neighbourStep(KeyIndex key, int degree) {
    const auto i = static_cast<std::size_t>(degree);
    return isMinorKey(key) ? kMinorNeighbourStep[i] : kMajorNeighbourStep[i];
}

int scalePitch(KeyIndex key, int degree) {
    return kKeys[static_cast<std::size_t>(key)].degrees[static_cast<std::size_t>(degree)];
}

// One alteration per degree for the whole vocabulary (degreeOf, degreePitch and the chord
// patterns agree): up, except VI and VII of a major key, which go down.
int alteredPitch(KeyIndex key, int degree) {
    const bool lowered = !isMinorKey(key) && degree >= 5;
    return wrap(scalePitch(key, degree) + (lowered ? -1 : +1), kPitchClassCount);
}

KeyIndex keyWithTonic(int pitchClass, bool minor) {
    const KeyIndex first = minor ? kMajorKeyCount : 0;
    for (KeyIndex key = first; key < first + kMajorKeyCount; ++key) {
        if (scalePitch(key, 0) == pitchClass) return key;
    }
    return kNoKey;
}

// The seven letters C..B and their natural pitch classes.
constexpr int kLetterCount = 7;
constexpr std::array<char, kLetterCount> kLetters = {'C', 'D', 'E', 'F', 'G', 'A', 'B'};
constexpr std::array<int, kLetterCount> kLetterPitch = {0, 2, 4, 5, 7, 9, 11};
// The letter the key list writes each pitch class on (Cis, D, Es, E, F, Fis, G, As, A, B, H).
constexpr std::array<int, kPitchClassCount> kKeyListLetter = {0, 0, 1, 2, 2, 3, 3, 4, 5, 5, 6, 6};

int letterOf(int naturalPitch) {
    for (int letter = 0; letter < kLetterCount; ++letter) {
        if (kLetterPitch[static_cast<std::size_t>(letter)] == naturalPitch) return letter;
    }
    return -1;
}

int rootLetter(int pitchClass, KeyIndex pieceKey) {
    const int natural = letterOf(pitchClass);
    if (natural >= 0) return natural;
    const SignatureAccidentals signature = signatureAccidentals(pieceKey);
    if (signature.pitchClasses.empty()) return kKeyListLetter[static_cast<std::size_t>(pitchClass)];
    return signature.sharps ? letterOf(pitchClass - 1) : letterOf(pitchClass + 1);
}

// The pitch class written on a letter with as many sharps or flats as it takes.
std::string spelledOnLetter(int pitchClass, int letter) {
    std::string name(1, kLetters[static_cast<std::size_t>(letter)]);
    int offset = pitchClass - kLetterPitch[static_cast<std::size_t>(letter)];
    if (offset > kPitchClassCount / 2) offset -= kPitchClassCount;
    if (offset < -kPitchClassCount / 2) offset += kPitchClassCount;
    name.append(static_cast<std::size_t>(std::abs(offset)), offset > 0 ? '#' : 'b');
    return name;
}

}  // namespace

std::string_view noteName(int pitchClass) {
    if (pitchClass < 0 || pitchClass >= kPitchClassCount) return {};
    return kNoteNames[static_cast<std::size_t>(pitchClass)];
}

std::string_view keyName(KeyIndex key) {
    if (!isValidKey(key)) return {};
    return kKeys[static_cast<std::size_t>(key)].name;
}

KeyIndex keyFromName(std::string_view name) {
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        if (kKeys[static_cast<std::size_t>(key)].name == name) return key;
    }
    return kNoKey;
}

bool isAlterableDegree(KeyIndex key, int degree) {
    if (!isValidKey(key) || !isValidDegree(degree)) return false;
    const auto i = static_cast<std::size_t>(degree);
    return isMinorKey(key) ? kMinorAlterable[i] : kMajorAlterable[i];
}

int degreeOf(int pitchClass, KeyIndex key) {
    if (!isValidKey(key)) return 0;
    for (int degree = 0; degree < kDegreeCount; ++degree) {
        if (pitchClass == scalePitch(key, degree)) return degree + 1;
        if (isAlterableDegree(key, degree) && pitchClass == alteredPitch(key, degree)) {
            return -(degree + 1);
        }
    }
    return 0;
}

int degreePitch(KeyIndex key, int degree, int* neighbourOut) {
    const bool altered = degree < 0;
    const int plainDegree = altered ? -degree - 1 : degree;
    if (!isValidKey(key) || !isValidDegree(plainDegree)) {
        if (neighbourOut != nullptr) *neighbourOut = -1;
        return -1;
    }
    const int pitch = altered ? alteredPitch(key, plainDegree) : scalePitch(key, plainDegree);
    if (neighbourOut != nullptr) {
        const int step = neighbourStep(key, plainDegree);
        *neighbourOut = wrap(altered ? pitch - step : pitch + step, kPitchClassCount);
    }
    return pitch;
}

RelatedKeys relatedKeys(KeyIndex key) {
    if (!isValidKey(key)) return {};
    return {keyWithTonic(scalePitch(key, 4), false),
            keyWithTonic(scalePitch(key, 3), isMinorKey(key))};
}

SignatureAccidentals signatureAccidentals(KeyIndex key) {
    if (!isValidKey(key)) return {};
    const int major = key % kMajorKeyCount;
    const int distance = std::abs(7 - major);  // C major sits at 7
    const int count = distance >= 5 ? kPitchClassCount - distance : distance;
    const bool sharps = major >= 7;
    const auto& order = sharps ? kSharpOrder : kFlatOrder;
    return {sharps, std::span<const int>(order.data(), static_cast<std::size_t>(count))};
}

std::string_view chordPattern(KeyIndex key, int type) {
    const int row = patternRow(key, type);
    if (row < 0) return {};
    return kChordPatternText.substr(static_cast<std::size_t>(row * kDegreeCount), kDegreeCount);
}

bool chordHasDegree(KeyIndex key, int type, int degreeCode) {
    const int row = patternRow(key, type);
    if (row < 0 || degreeCode == 0) return false;
    const int degree = std::abs(degreeCode) - 1;
    if (!isValidDegree(degree)) return false;
    const int mark = kPatternMarks[static_cast<std::size_t>(row)][static_cast<std::size_t>(degree)];
    return mark != 0 && (mark < 0) == (degreeCode < 0);
}

ChordTones chordTones(KeyIndex key, int type, int basePitch, bool tagDegrees) {
    ChordTones tones;
    const int row = patternRow(key, type);
    if (row < 0) return tones;
    for (int degree = 0; degree < kDegreeCount; ++degree) {
        const int mark =
            kPatternMarks[static_cast<std::size_t>(row)][static_cast<std::size_t>(degree)];
        if (mark == 0) continue;
        const bool altered = mark < 0;
        int value = basePitch + (altered ? alteredPitch(key, degree) : scalePitch(key, degree));
        if (tagDegrees) value += (altered ? -(degree + 1) : degree + 1) * 0x10000;
        tones.values[static_cast<std::size_t>(tones.count++)] = value;
    }
    return tones;
}

std::string spelledNoteName(int pitchClass, KeyIndex pieceKey) {
    if (pitchClass < 0 || pitchClass >= kPitchClassCount) return {};
    return spelledOnLetter(pitchClass, rootLetter(pitchClass, pieceKey));
}

std::string chordName(ChordCode code, KeyIndex pieceKey) {
    const KeyIndex key = chordKey(code);
    const int row = patternRow(key, chordType(code));
    if (row < 0) return " - ";
    std::string name = spelledNoteName(tonicOf(key), pieceKey);
    name += kChordSuffixes[static_cast<std::size_t>(row)];
    return name;
}

std::string chordToneNames(ChordCode code, KeyIndex pieceKey) {
    const KeyIndex key = chordKey(code);
    const int root = tonicOf(key);
    if (root < 0) return {};
    const int letter = rootLetter(root, pieceKey);
    std::string names;
    for (const int tone : chordTones(key, chordType(code), 0, true)) {
        const int degree = std::abs(toneTag(tone)) - 1;
        names += ' ';
        names += spelledOnLetter(tonePitch(tone), (letter + degree) % kLetterCount);
        names += ' ';
    }
    return names;
}

}  // namespace varimel
