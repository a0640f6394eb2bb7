#include "engine/Harmonizer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <new>
#include <numeric>

#include "engine/ScoreOrder.h"
#include "engine/Tonality.h"

namespace varimel {
namespace {

// The selection threshold truncated to an integer. The factor comes from the registry or a
// project file and may be anything, so the product saturates instead of overflowing.
int32_t truncatedThreshold(float product) {
    if (std::isnan(product)) return 0;
    return static_cast<int32_t>(std::clamp(product, -2147483520.0f, 2147483520.0f));
}

constexpr int kNoClass = -1;
constexpr int kTonic = 0;
constexpr int kSubdominant = 1;
constexpr int kDominant = 2;
constexpr int kFunctionCount = 3;

// Function sets of the cadence table, one bit per class.
constexpr uint8_t kTonicSet = 1 << kTonic;
constexpr uint8_t kSubdominantSet = 1 << kSubdominant;
constexpr uint8_t kDominantSet = 1 << kDominant;

// A note or a chord is "held" when it fills nine tenths of its bar.
constexpr double kHeldShare = 0.9;
// Rule 4: a note of a quarter of a whole note, less the same tolerance.
constexpr double kLongNoteShareOfWhole = 0.25 * kHeldShare;
// Cadence marking starts this many bars after the first bar and looks at every eighth bar,
// with its second half four bars later.
constexpr int32_t kCadenceLead = 3;
constexpr int32_t kPhraseLength = 8;
constexpr int32_t kHalfPhrase = 4;
constexpr int kCadenceRuleCount = 4;
// The window of a bar is widened until it holds this many pitch classes.
constexpr int kWantedPitchClasses = 3;
// Completion stops looking at neighbours once a slot has this many custom chords.
constexpr int kEnoughCustomChords = 5;
// Completion adds the piece's main chords to slots holding this many chords or fewer.
constexpr int kFewChords = 4;
constexpr int kCadenceBonus = 3;
constexpr int kMinorDominantCadenceBonus = 2;

// Bar scoring weights of the diatonic degrees I..VII; the altered VI and VII weigh 4 - 1.
constexpr std::array<int, kDegreeCount> kDegreeWeight = {6, 2, 6, 2, 6, 4, 4};
constexpr int kAlteredSixthSeventhWeight = 3;

// Tables indexed by degree code: codes -7..-1 (the alterations of VII..I) at 0..6, then the
// diatonic degrees I..VII at 7..13.
constexpr int degreeColumn(int code) {
    return code < 0 ? code + 7 : code + 6;
}

// Class of a chord key by the degree of its tonic: [main key minor][chord key minor].
constexpr int kKeyClassTable[2][2][14] = {
    {{-1, 2, 2, -1, -1, 2, 1, 0, 1, 0, 1, 2, 1, 2},       // major key, major chord key
     {-1, -1, 2, 1, -1, 1, 2, 0, 1, 0, 1, 2, 1, 2}},      // major key, minor chord key
    {{-1, -1, -1, -1, -1, -1, 1, 0, 1, 0, 1, 2, 1, 2},    // minor key, major chord key
     {-1, -1, -1, -1, -1, -1, 2, 0, 1, -1, 1, 2, -1, 2}}  // minor key, minor chord key
};

// Tonal functions a melody note can serve, by its degree: [main key minor].
constexpr uint8_t kNoteClassTable[2][14] = {
    {0, 4, 4, 2, 0, 6, 6, 1, 2, 1, 2, 4, 2, 4},
    {4, 7, 0, 7, 7, 0, 6, 1, 2, 1, 2, 4, 2, 4},
};

// How well a chord of one function follows another: [from class][1 + to class].
constexpr int kProgression[kFunctionCount][1 + kFunctionCount] = {
    {0, 1, 4, 3},  // from tonic
    {0, 3, 1, 4},  // from subdominant
    {0, 4, 2, 1},  // from dominant
};

int progression(int fromClass, int toClass) {
    if (fromClass < 0) return 0;
    return kProgression[fromClass][1 + toClass];
}

// Which keys a melodic cadence favours: a function set, and the degree of the main key their
// tonic must stand on (0: any).
struct CadenceTarget {
    uint8_t functions = 0;
    int degree = 0;
};

bool isOneOf(int code, std::initializer_list<int> codes) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// The melodic cadence table: the last note's degree L, whether it is at least as long as the
// note before it, and that note's degree P. Codes: 1..7 diatonic, -6 and -7 the altered VI/VII.
CadenceTarget cadenceTarget(int last, bool isLong, int previous) {
    const bool otherPositiveOrFlatSeventh = previous > 0 || previous == -7;
    switch (last) {
        case 1:
            if (isLong) {
                if (isOneOf(previous, {6, -6, 4})) return {kTonicSet | kSubdominantSet, 0};
                if (otherPositiveOrFlatSeventh) return {kTonicSet, 1};
            } else {
                if (isOneOf(previous, {2, 7, -7})) return {kDominantSet, 5};
                if (isOneOf(previous, {3, 5})) return {kTonicSet, 1};
                if (isOneOf(previous, {4, 6, -6})) return {kSubdominantSet, 0};
            }
            return {};
        case 2:
        case 7:
            if (previous > 0 || previous == -6) return {kDominantSet, 0};
            return {};
        case 3:
            if (isLong) {
                if (isOneOf(previous, {6, -6, 4})) return {kTonicSet | kDominantSet, 0};
                if (otherPositiveOrFlatSeventh) return {kTonicSet, 0};
            } else {
                if (previous == 1) return {kTonicSet, 1};
                if (isOneOf(previous, {4, 6, -6})) return {kSubdominantSet, 0};
                if (otherPositiveOrFlatSeventh) return {kDominantSet, 0};
            }
            return {};
        case 5:
            if (isOneOf(previous, {1, 3})) return {kTonicSet, 1};
            if (isLong) {
                if (isOneOf(previous, {6, -6, 4}) || otherPositiveOrFlatSeventh) {
                    return {kTonicSet | kDominantSet, 0};
                }
            } else {
                if (isOneOf(previous, {4, 6, -6})) return {kSubdominantSet | kDominantSet, 0};
                if (otherPositiveOrFlatSeventh) return {kDominantSet, 0};
            }
            return {};
        case 4:
        case 6:
            if (isLong && isOneOf(previous, {1, 3, 5})) return {kSubdominantSet, 0};
            if (!isLong && isOneOf(previous, {2, 7, -7})) return {kDominantSet, 0};
            return {};
        default:
            return {};  // altered last notes make no cadence
    }
}

uint16_t pitchClassBit(int pitchClass) {
    return static_cast<uint16_t>(1u << pitchClass);
}

// Each pitch class of the set moved up by `steps` semitones (0..12), wrapping from B to C.
unsigned rotatePitchClasses(unsigned set, int steps) {
    return ((set << steps) | (set >> (kPitchClassCount - steps))) & 0xFFFu;
}

// Pitch classes one semitone away, without wrapping from B to C.
uint16_t semitoneNeighbours(uint16_t set) {
    return static_cast<uint16_t>(((set << 1) | (set >> 1)) & 0xFFF);
}

// The indices 0..N-1 by descending score, equal scores in index order.
template <size_t N, typename Score>
void orderByScore(std::array<int, N>& order, Score score) {
    std::iota(order.begin(), order.end(), 0);
    sortIndicesByScore(std::span<int>(order), score);
}

// What the harmonizer needs of every key, the same for every melody: worked out once.
struct KeyTables {
    std::array<std::array<int8_t, kPitchClassCount>, kKeyCount> degree{};  // degreeOf
    std::array<std::array<uint16_t, kChordTypeCount>, kKeyCount> fits{};   // pattern matches
    std::array<std::array<uint16_t, kChordTypeCount>, kKeyCount> tones{};  // chord tones
    // What a sounding pitch class adds to a key's score per note, and the degree it marks
    // (I..VII as bits 0..6; a raised or lowered sixth or seventh marks its plain degree).
    // By pitch class first, so that one sounding pitch class updates all keys in one sweep.
    std::array<std::array<int, kKeyCount>, kPitchClassCount> scoreWeight{};
    std::array<std::array<unsigned, kKeyCount>, kPitchClassCount> degreeBit{};

    KeyTables() {
        for (KeyIndex k = 0; k < kKeyCount; ++k) {
            const auto key = static_cast<size_t>(k);
            for (int pc = 0; pc < kPitchClassCount; ++pc) {
                const int d = degreeOf(pc, k);
                degree[key][static_cast<size_t>(pc)] = static_cast<int8_t>(d);
                if (d > 0) {
                    scoreWeight[static_cast<size_t>(pc)][key] =
                        kDegreeWeight[static_cast<size_t>(d - 1)];
                    degreeBit[static_cast<size_t>(pc)][key] = 1u << (d - 1);
                } else if (d == -6 || d == -7) {
                    scoreWeight[static_cast<size_t>(pc)][key] = kAlteredSixthSeventhWeight;
                    degreeBit[static_cast<size_t>(pc)][key] = 1u << (-d - 1);
                }
            }
            for (int t = 0; t < kChordTypeCount; ++t) {
                uint16_t pattern = 0;
                for (int pc = 0; pc < kPitchClassCount; ++pc) {
                    if (chordHasDegree(k, t, degree[key][static_cast<size_t>(pc)])) {
                        pattern |= pitchClassBit(pc);
                    }
                }
                fits[key][static_cast<size_t>(t)] = pattern;
                uint16_t set = 0;
                for (const int tone : chordTones(k, t)) {
                    set |= pitchClassBit(wrap(tone, kPitchClassCount));
                }
                tones[key][static_cast<size_t>(t)] = set;
            }
        }
    }
};

const KeyTables& keyTables() {
    static const KeyTables tables;
    return tables;
}

}  // namespace

Harmonizer::Harmonizer(Composition& composition, const ChordDictionary& dictionary,
                       const HarmonyOptions& options)
    : composition_(composition), dictionary_(dictionary), options_(options) {
    // More custom chords than the slot has places for cannot be kept.
    maxCustomChords_ = std::clamp<int>(options_.MaxNumCustomChords, 0, kMaxCustomChords);
    markWeight_ = options_.SHBmode != 0 ? 2 : 3;
}

int32_t Harmonizer::decisiveNote(int32_t bar) const {
    if (bar < 0 || bar >= static_cast<int32_t>(decisiveNote_.size())) return -1;
    return decisiveNote_[static_cast<size_t>(bar)];
}

std::array<float, kKeyCount> Harmonizer::noteScores(int32_t bar) {
    if (!prepared_ || failed_ || !insidePiece(bar)) return {};
    countPitchClasses(bar, cadenceKindOf(bar) != cadence_kind::kNone);
    scoreKeys();
    return score_;
}

bool Harmonizer::prepare() {
    prepared_ = false;
    failed_ = false;
    if (composition_.keys.empty() || !isValidKey(composition_.keys.front().key) ||
        !composition_.notes) {
        failed_ = true;
        return false;
    }
    mainKey_ = composition_.keys.front().key;
    notes_ = &composition_.noteTracks().notes(0);
    meter_ = &composition_.meterMap();
    noteCount_ = static_cast<int32_t>(notes_->size());
    barCount_ = std::max(composition_.barCount, 0);

    try {
        composition_.slots.assign(static_cast<size_t>(barCount_), HarmonySlot{});
        decisiveNote_.assign(static_cast<size_t>(barCount_), -1);
        noteClass_.assign(static_cast<size_t>(noteCount_), 0xFF);
        noteStart_.resize(static_cast<size_t>(noteCount_));
        barStart_.resize(static_cast<size_t>(barCount_) + 1);
        barLength_.resize(static_cast<size_t>(barCount_));
        choices_.clear();
        choices_.reserve(static_cast<size_t>(barCount_));
        // At most half full, so that probes stay short.
        choiceSlots_.assign(std::bit_ceil(2 * static_cast<size_t>(barCount_) + 1), -1);
    } catch (const std::bad_alloc&) {
        composition_.slots.clear();
        failed_ = true;
        return false;
    }

    const bool minor = isMinorKey(mainKey_);
    const KeyTables& tables = keyTables();
    PositionTicks tickOf(*meter_);
    for (int32_t i = 0; i < noteCount_; ++i) {
        noteStart_[static_cast<size_t>(i)] = tickOf(note(i).position);
        const int d = tables.degree[static_cast<size_t>(mainKey_)]
                                   [static_cast<size_t>(note(i).pitchClass % kPitchClassCount)];
        if (d != 0) noteClass_[static_cast<size_t>(i)] = kNoteClassTable[minor][degreeColumn(d)];
    }
    for (int32_t b = 0; b <= barCount_; ++b) {
        barStart_[static_cast<size_t>(b)] = meter_->tickOfBar(b);
        if (b < barCount_) barLength_[static_cast<size_t>(b)] = meter_->ticksPerBar(b);
    }

    for (size_t k = 0; k < kKeyCount; ++k) {
        std::copy(tables.fits[k].begin(), tables.fits[k].end(),
                  patternFits_.begin() + static_cast<std::ptrdiff_t>(k * kChordTypeCount));
    }
    chordToneSet_ = tables.tones;
    for (KeyIndex k = 0; k < kKeyCount; ++k) {
        const auto key = static_cast<size_t>(k);
        const int d = tables.degree[static_cast<size_t>(mainKey_)]
                                   [static_cast<size_t>(tonicOf(k) % kPitchClassCount)];
        keyDegree_[key] = d;
        keyClass_[key] = d == 0 ? kNoClass : kKeyClassTable[minor][isMinorKey(k)][degreeColumn(d)];
    }

    upbeat_ = composition_.noteTracks().upbeat(0);
    direction_ = 1;
    lastDecisiveBar_ = -1;
    firstBar_ = 0;
    cadenceStart_ = 0;
    prepared_ = true;
    return true;
}

void Harmonizer::run() {
    if (!prepared_ || failed_) return;
    if (noteCount_ > 0 && barCount_ > 0) {
        presetStartBar();
        markHeldBars();
        markCadences();
        harmoniseBars();
    }
    completeCandidates();
}

int32_t Harmonizer::firstNoteIn(int32_t bar) const {
    const auto& index = composition_.firstNoteOfBar;
    if (bar < 0 || bar >= barCount_ || bar >= static_cast<int32_t>(index.size())) return -1;
    const int32_t first = index[static_cast<size_t>(bar)];
    // The index belongs to the analysis; trust it only where it agrees with the melody.
    return first >= 0 && first < noteCount_ && barOf(first) == bar ? first : -1;
}

int32_t Harmonizer::nextOnset(int32_t index) const {
    if (index + 1 < noteCount_) return startOf(index + 1);
    const int32_t nextBar = std::min(barOf(index) + 1, barCount_);
    return barStart_[static_cast<size_t>(nextBar)];
}

// --- Start bar, held bars and cadence bars ------------------------------------------------

void Harmonizer::presetStartBar() {
    const int32_t first = barOf(0);
    if (upbeat_ == 0 && first == 0) {
        HarmonySlot& slot = composition_.slots.front();
        slot.mainCount = 1;
        slot.candidates[0] = makeChordCode(mainKey_, 0);
        firstBar_ = 0;
        cadenceStart_ = 0;
    } else {
        firstBar_ = first;
        const int32_t length = barLength(first);
        // A pick-up that leaves more than half of its bar silent is no phrase bar of its own.
        const bool longUpbeat =
            length > 0 && static_cast<double>(upbeat_) / static_cast<double>(length) > 0.5;
        cadenceStart_ = longUpbeat ? first + 1 : first;
    }
    cadenceStart_ += kCadenceLead;
}

void Harmonizer::markHeldBars() {
    for (int32_t b = cadenceStart_; b < barCount_; ++b) {
        const int32_t first = firstNoteIn(b);
        if (first < 0) {
            cadenceKindOf(b) = cadence_kind::kNoOnset;
            continue;
        }
        const double held = kHeldShare * barLength(b);
        cadenceKindOf(b) = cadence_kind::kNone;
        for (int32_t i = first; i < noteCount_ && barOf(i) == b; ++i) {
            if (note(i).duration >= held || nextOnset(i) - startOf(i) >= held) {
                cadenceKindOf(b) = cadence_kind::kHeld;
                decisiveNote_[static_cast<size_t>(b)] = i;
                break;
            }
        }
    }
}

bool Harmonizer::availableForCadence(int32_t bar) const {
    return insidePiece(bar) && hasOnset(bar) && cadenceKindOf(bar) == cadence_kind::kNone;
}

int32_t Harmonizer::findCadenceNote(int rule, int32_t bar) const {
    const int32_t first = firstNoteIn(bar);
    if (first < 0) return -1;
    const double held = kHeldShare * barLength(bar);
    for (int32_t i = first; i < noteCount_ && barOf(i) == bar; ++i) {
        switch (rule) {
            case 1:  // a rest of a sixteenth or more follows the note
                if (nextOnset(i) - endOf(i) >= meter_->sixteenth) return i;
                break;
            case 2: {  // the note is repeated, nearly legato, for most of a bar
                int32_t last = i;
                while (last + 1 < noteCount_ && note(last + 1).pitchClass == note(i).pitchClass &&
                       startOf(last + 1) - endOf(last) < meter_->gapTolerance) {
                    ++last;
                }
                if (last > i && endOf(last) - startOf(i) >= held) return i;
                break;
            }
            case 3:  // the note fills the bar
                if (note(i).duration >= held) return i;
                break;
            case 4: {  // a long note on a degree of the tonic triad
                const int d = degreeOf(note(i).pitchClass % kPitchClassCount, mainKey_);
                if (note(i).duration >= kLongNoteShareOfWhole * meter_->ticksPerWhole &&
                    (d == 1 || d == 3 || d == 5)) {
                    return i;
                }
                break;
            }
            default:
                return -1;
        }
    }
    return -1;
}

bool Harmonizer::markIfRuleHolds(int rule, int32_t bar) {
    const int32_t found = findCadenceNote(rule, bar);
    if (found < 0) return false;
    cadenceKindOf(bar) = static_cast<int8_t>(rule + 1);
    decisiveNote_[static_cast<size_t>(bar)] = found;
    return true;
}

void Harmonizer::markCadences() {
    // Phrases are taken as eight bars, each with a cadence at its middle and at its end; the
    // offsets let a cadence fall a bar early or up to two bars late.
    constexpr int kOffsets[] = {0, -1, +1, +2};
    for (int32_t b = cadenceStart_; b < barCount_; b += kPhraseLength) {
        if (cadenceKindOf(b) != cadence_kind::kNone) continue;
        bool firstSettled = false;
        bool secondSettled = false;
        for (int rule = 1; rule <= kCadenceRuleCount && !(firstSettled && secondSettled); ++rule) {
            for (const int offset : kOffsets) {
                if (!firstSettled) {
                    const int32_t c = b + offset;
                    if (!availableForCadence(c)) {
                        secondSettled = true;
                        continue;
                    }
                    if (markIfRuleHolds(rule, c)) {
                        firstSettled = true;
                        // The paired bar is marked whatever it already holds.
                        if (markIfRuleHolds(rule, c + offset + kHalfPhrase)) secondSettled = true;
                    }
                }
                if (!secondSettled) {
                    const int32_t c = b + kHalfPhrase + offset;
                    if (!availableForCadence(c) || markIfRuleHolds(rule, c)) secondSettled = true;
                }
                if (firstSettled && secondSettled) break;
            }
        }
    }
}

// --- Harmonising the bars -----------------------------------------------------------------

void Harmonizer::harmoniseBars() {
    lastDecisiveBar_ = -1;
    for (int32_t b = barCount_ - 1; b >= 0; --b) {
        if (decisiveNote_[static_cast<size_t>(b)] > 0) {
            lastDecisiveBar_ = b;
            break;
        }
    }
    auto wanted = [this](int32_t b) { return hasOnset(b) && (b != 0 || upbeat_ == 0); };
    if (options_.SHBmode != 0 && lastDecisiveBar_ > 0) {
        // Backwards from the last cadence, so that the phrase ends lead; then on to the end.
        direction_ = -1;
        for (int32_t b = lastDecisiveBar_; b >= firstBar_; --b) {
            if (wanted(b)) harmoniseBar(b);
        }
        direction_ = 1;
        for (int32_t b = lastDecisiveBar_ + 1; b < barCount_; ++b) {
            if (wanted(b)) harmoniseBar(b);
        }
    } else {
        direction_ = 1;
        for (int32_t b = firstBar_; b < barCount_; ++b) {
            if (wanted(b)) harmoniseBar(b);
        }
    }
}

void Harmonizer::harmoniseBar(int32_t bar) {
    const bool cadence = cadenceKindOf(bar) != cadence_kind::kNone;
    countPitchClasses(bar, cadence);
    const BarContent content{pcCount_, sustainedPitchClasses(bar), cadence};
    int32_t& slot = choiceSlot(content);
    if (slot >= 0) {
        const BarChoice& known = choices_[static_cast<size_t>(slot)];
        score_ = known.scores;
        std::copy(known.types.begin(), known.types.end(), chordType_.begin());
    } else {
        scoreKeys();
        chooseChordTypes(content.sustained, cadence);
        BarChoice& made = choices_.emplace_back();  // reserved: one per bar at most
        made.content = content;
        made.scores = score_;
        std::copy(chordType_.begin(), chordType_.end(), made.types.begin());
        slot = static_cast<int32_t>(choices_.size() - 1);
    }
    addRoleBonus();
    addProgressionBonus(bar);
    if (cadence) addCadenceBonus(bar);
    selectChords(bar);
}

void Harmonizer::countPitchClasses(int32_t bar, bool cadence) {
    pcCount_.fill(0);
    pcStats_.fill(PitchClassStats{});
    score_.fill(0.0f);
    chordType_.fill(-1);

    const int32_t first = firstNoteIn(bar);
    int32_t last = first;
    int distinct = 0;
    for (int32_t i = first; i >= 0 && i < noteCount_ && barOf(i) == bar; ++i) {
        const auto pc = static_cast<size_t>(note(i).pitchClass % kPitchClassCount);
        if (pcCount_[pc]++ == 0) ++distinct;
        ++pcStats_[pc].count;
        pcStats_[pc].duration += note(i).duration;
        last = i;
    }

    // Too few pitch classes say little about a chord: borrow neighbouring notes, alternately
    // before and after. A phrase end looks only back, the first bar only ahead.
    const bool lookBefore = bar != 0;
    const bool lookAfter = !cadence;
    int32_t before = first - 1;
    int32_t after = last + 1;
    bool beforeTurn = true;
    while (first >= 0 && distinct < kWantedPitchClasses) {
        const bool canBefore = lookBefore && before >= 0 && barOf(before) == bar - 1;
        const bool canAfter = lookAfter && after < noteCount_ && barOf(after) == bar + 1;
        if (!canBefore && !canAfter) break;
        int32_t taken;
        if (canBefore && (beforeTurn || !canAfter)) {
            taken = before--;
            beforeTurn = false;
        } else {
            taken = after++;
            beforeTurn = true;
        }
        if (pcCount_[static_cast<size_t>(note(taken).pitchClass % kPitchClassCount)]++ == 0) {
            ++distinct;
        }
    }
}

void Harmonizer::scoreKeys() {
    constexpr unsigned kTriad = 1u << 0 | 1u << 2 | 1u << 4;  // degrees I, III, V
    constexpr unsigned kTonicAndThird = 1u << 0 | 1u << 2;
    std::array<int, kKeyCount> sums{};
    std::array<unsigned, kKeyCount> degrees{};
    const KeyTables& tables = keyTables();
    for (size_t pc = 0; pc < kPitchClassCount; ++pc) {
        const int count = pcCount_[pc];
        if (count == 0) continue;
        for (size_t k = 0; k < kKeyCount; ++k) {
            sums[k] += tables.scoreWeight[pc][k] * count;
            degrees[k] |= tables.degreeBit[pc][k];
        }
    }
    for (size_t k = 0; k < kKeyCount; ++k) {
        int sum = sums[k];
        if ((degrees[k] & kTriad) == kTriad) {
            sum += 2;
        } else if ((degrees[k] & kTonicAndThird) == kTonicAndThird) {
            sum += 1;
        }
        score_[k] = static_cast<float>(sum);
    }
}

int32_t& Harmonizer::choiceSlot(const BarContent& content) {
    uint64_t hash = content.sustained * 2u + (content.cadence ? 1u : 0u);
    for (const int32_t count : content.counts) {
        hash = (hash ^ static_cast<uint32_t>(count)) * 0x100000001B3u;
    }
    const size_t mask = choiceSlots_.size() - 1;
    for (size_t at = (hash ^ (hash >> 29)) & mask;; at = (at + 1) & mask) {
        int32_t& slot = choiceSlots_[at];
        if (slot < 0 || choices_[static_cast<size_t>(slot)].content == content) return slot;
    }
}

uint16_t Harmonizer::sustainedPitchClasses(int32_t bar) const {
    uint16_t sustained = 0;
    const double sustainedLength = static_cast<double>(options_.kRecomChr) * barLength(bar);
    for (int pc = 0; pc < kPitchClassCount; ++pc) {
        if (pcStats_[static_cast<size_t>(pc)].duration > sustainedLength) {
            sustained |= pitchClassBit(pc);
        }
    }
    return sustained;
}

void Harmonizer::chooseChordTypes(uint16_t sustained, bool cadence) {
    uint16_t present = 0;
    for (int pc = 0; pc < kPitchClassCount; ++pc) {
        if (pcCount_[static_cast<size_t>(pc)] > 0) present |= pitchClassBit(pc);
    }
    // A cadence closes on a plain triad or a dominant seventh.
    const int typeLimit = cadence ? 2 : kChordTypeCount;

    // The bar's counts summed over any set of pitch classes, six pitch classes per table, so
    // that the 24 keys x 5 types below each cost a few lookups.
    std::array<int, 64> lowSum;  // every entry written below
    std::array<int, 64> highSum;
    lowSum[0] = 0;
    highSum[0] = 0;
    for (size_t pc = 0; pc < 6; ++pc) {
        const size_t bit = size_t{1} << pc;
        for (size_t set = 0; set < bit; ++set) {
            lowSum[set | bit] = lowSum[set] + pcCount_[pc];
            highSum[set | bit] = highSum[set] + pcCount_[pc + 6];
        }
    }
    auto countIn = [&](unsigned set) { return lowSum[set & 63u] + highSum[(set >> 6) & 63u]; };

    // A sounding chord tone counts once. A note outside the chord still speaks for it, once for
    // each chord tone a fifth away (up or down) that the bar does not sound. The chord tones and
    // the two outside sets are disjoint, but the outside sets may share a note, which then
    // counts twice: one set counted once and one counted again, for every key and type in one
    // sweep the compiler can vectorise.
    std::array<uint16_t, kKeyCount * kChordTypeCount> countedOnce;  // every cell written below
    std::array<uint16_t, kKeyCount * kChordTypeCount> countedTwice;
    const unsigned presentSet = present;
    for (size_t cell = 0; cell < patternFits_.size(); ++cell) {
        const unsigned fits = patternFits_[cell];
        const unsigned silentTones = fits & ~presentSet & 0xFFFu;
        const unsigned outside = presentSet & ~fits;
        const unsigned byFourth = rotatePitchClasses(silentTones, 5) & outside;
        const unsigned byFifth = rotatePitchClasses(silentTones, 7) & outside;
        countedOnce[cell] = static_cast<uint16_t>((fits & presentSet) | byFourth | byFifth);
        countedTwice[cell] = static_cast<uint16_t>(byFourth & byFifth);
    }

    for (KeyIndex k = 0; k < kKeyCount; ++k) {
        const auto key = static_cast<size_t>(k);
        int bestType = -1;
        int bestScore = 0;
        for (int t = 0; t < typeLimit; ++t) {
            const size_t cell = key * kChordTypeCount + static_cast<size_t>(t);
            // An empty set counts 0, so the shared notes need no test.
            const int typeScore = countIn(countedOnce[cell]) + countIn(countedTwice[cell]);
            // Only a better score needs the clash test: a clash would score 0, never a best.
            if (typeScore > bestScore &&
                !(options_.DSFilter &&
                  (semitoneNeighbours(chordToneSet_[key][static_cast<size_t>(t)]) & sustained))) {
                bestScore = typeScore;
                bestType = t;
            }
        }
        if (bestType < 0) {
            chordType_[key] = -1;
            continue;
        }
        score_[key] += static_cast<float>(bestScore);
        // On the dominant key the seventh chord is the natural choice, and a seventh-less triad
        // stands for every other type.
        if (!isMinorKey(k) && composition_.keyMarks[key] == key_mark::kDominant) {
            bestType = bestType == 0 ? 1 : 0;
        }
        chordType_[key] = bestType;
    }
}

void Harmonizer::addRoleBonus() {
    for (size_t k = 0; k < kKeyCount; ++k) {
        const uint8_t mark = composition_.keyMarks[k];
        if (mark == key_mark::kMet) {
            score_[k] += 1.0f;
        } else if (mark >= key_mark::kSubdominant && mark <= key_mark::kMain) {
            score_[k] += static_cast<float>(markWeight_);
        }
    }
}

void Harmonizer::addProgressionBonus(int32_t bar) {
    ChordCode previous = kNoChord;
    for (int32_t c = bar - direction_; insidePiece(c); c -= direction_) {
        if (cadenceKindOf(c) != cadence_kind::kNone) break;  // a phrase boundary
        const HarmonySlot& slot = composition_.slots[static_cast<size_t>(c)];
        if (slot.mainCount > 0) {
            previous = slot.candidates[0];
            break;
        }
    }
    if (previous == kNoChord) return;
    const int previousClass = keyClass_[static_cast<size_t>(chordKey(previous))];
    if (previousClass == kNoClass) return;

    // The functions the bar's notes serve, most served first, each weighing half the one before.
    std::array<int, kFunctionCount> counts{};
    for (int32_t i = firstNoteIn(bar); i >= 0 && i < noteCount_ && barOf(i) == bar; ++i) {
        for (int f = 0; f < kFunctionCount; ++f) {
            if (noteClass_[static_cast<size_t>(i)] & (1u << f)) ++counts[static_cast<size_t>(f)];
        }
    }
    std::array<int, kFunctionCount> order{};
    orderByScore(order, [&](int f) { return counts[static_cast<size_t>(f)]; });
    std::array<float, kFunctionCount> weight{};
    float current = 1.0f;
    int previousCount = -1;
    float previousWeight = 0.0f;
    for (const int f : order) {
        const int count = counts[static_cast<size_t>(f)];
        if (count == 0) break;
        if (count == previousCount) {
            weight[static_cast<size_t>(f)] = previousWeight;
        } else {
            weight[static_cast<size_t>(f)] = current;
            current /= 2.0f;
        }
        previousCount = count;
        previousWeight = weight[static_cast<size_t>(f)];
    }

    for (size_t k = 0; k < kKeyCount; ++k) {
        const int cls = keyClass_[k];
        if (cls == kNoClass) continue;
        const int step =
            direction_ > 0 ? progression(previousClass, cls) : progression(cls, previousClass);
        score_[k] += static_cast<float>(step) * weight[static_cast<size_t>(cls)];
    }
}

void Harmonizer::addCadenceBonus(int32_t bar) {
    std::array<int, kKeyCount> bonus{};
    bool anyBonus = false;
    const int32_t last = decisiveNote_[static_cast<size_t>(bar)];
    int32_t earlier = -1;
    if (last >= 0) {
        // The note the melody falls from: the nearest earlier one of another pitch class,
        // as long as the line is not broken by a rest.
        for (int32_t i = last - 1; i >= 0; --i) {
            if (startOf(i + 1) - endOf(i) > meter_->gapTolerance) break;
            if (note(i).pitchClass != note(last).pitchClass) {
                earlier = i;
                break;
            }
        }
    }
    if (earlier >= 0) {
        const int lastDegree = degreeOf(note(last).pitchClass % kPitchClassCount, mainKey_);
        const int earlierDegree = degreeOf(note(earlier).pitchClass % kPitchClassCount, mainKey_);
        // The last note lasts until the next onset; an overlapping next note leaves no gap.
        const int32_t gapAfter = std::max(nextOnset(last) - endOf(last), 0);
        const bool isLong = meter_->quantiseDuration(note(last).duration + gapAfter) >=
                            meter_->quantiseDuration(note(earlier).duration);
        const CadenceTarget target = cadenceTarget(lastDegree, isLong, earlierDegree);
        for (KeyIndex k = 0; k < kKeyCount; ++k) {
            const auto key = static_cast<size_t>(k);
            const int cls = keyClass_[key];
            if (cls == kNoClass || !(target.functions & (1u << cls))) continue;
            if (target.degree != 0 && keyDegree_[key] != target.degree) continue;
            const bool minorDominantOnFifth =
                target.functions == kDominantSet && target.degree == 5 && isMinorKey(k);
            bonus[key] = minorDominantOnFifth ? kMinorDominantCadenceBonus : kCadenceBonus;
            anyBonus = true;
        }
    }
    // A phrase end whose melody names no cadence keeps its ordinary scores rather than losing
    // its chord altogether.
    if (!anyBonus) return;
    for (size_t k = 0; k < kKeyCount; ++k) {
        score_[k] = bonus[k] != 0 ? score_[k] + static_cast<float>(bonus[k]) : 0.0f;
    }
}

void Harmonizer::selectChords(int32_t bar) {
    // Sorted from the order of the bar before, which neighbouring bars' scores leave nearly
    // right: the sort's answer does not depend on where it starts.
    std::array<int, kKeyCount>& order = keyOrder_;
    auto scoreOf = [&](int k) { return score_[static_cast<size_t>(k)]; };
    auto typeOf = [&](int k) { return chordType_[static_cast<size_t>(k)]; };

    sortIndicesByScore(std::span<int>(order), scoreOf);
    const auto threshold = truncatedThreshold(options_.kDSFilter * scoreOf(order[0]));

    const int32_t previousBar = bar - direction_;
    if (options_.CSFilter && insidePiece(previousBar) &&
        composition_.slots[static_cast<size_t>(previousBar)].mainCount > 0) {
        // Prefer chords the dictionary knows to follow the neighbouring chord.
        const ChordCode previous =
            composition_.slots[static_cast<size_t>(previousBar)].candidates[0];
        for (const int k : order) {
            if (scoreOf(k) < static_cast<float>(threshold) || typeOf(k) < 0) break;
            if (!dictionary_.isKnownChordKey(k)) {
                score_[static_cast<size_t>(k)] = 0.0f;
            } else if (dictionary_.canFollow(k, typeOf(k), chordKey(previous),
                                             chordType(previous)) >= 0) {
                score_[static_cast<size_t>(k)] += 1.0f;
            }
        }
        // Sorted again from the order at hand, which the changed scores leave nearly right.
        sortIndicesByScore(std::span<int>(order), scoreOf);
    }
    if (scoreOf(order[0]) <= 0.0f) return;

    HarmonySlot& slot = composition_.slots[static_cast<size_t>(bar)];
    slot.candidates = {};
    int mainCount = 0;
    int extraCount = 0;
    size_t position = 0;
    for (; position < order.size() && mainCount < kMaxMainChords; ++position) {
        const int k = order[position];
        if (scoreOf(k) < static_cast<float>(threshold)) break;
        if (typeOf(k) < 0) continue;
        slot.candidates[static_cast<size_t>(mainCount++)] = makeChordCode(k, typeOf(k));
    }
    for (; position < order.size() && extraCount < maxCustomChords_; ++position) {
        const int k = order[position];
        if (scoreOf(k) <= 0.0f) break;
        if (typeOf(k) < 0) continue;
        slot.candidates[static_cast<size_t>(mainCount + extraCount++)] =
            makeChordCode(k, typeOf(k));
    }
    slot.mainCount = static_cast<uint8_t>(mainCount);
    slot.extraCount = static_cast<uint8_t>(extraCount);
}

// --- Completing the candidate lists -------------------------------------------------------

namespace {

int chordCount(const HarmonySlot& slot) {
    return slot.mainCount + slot.extraCount;
}

bool holds(const HarmonySlot& slot, ChordCode code) {
    const auto end = slot.candidates.begin() + chordCount(slot);
    return std::find(slot.candidates.begin(), end, code) != end;
}

void appendExtra(HarmonySlot& slot, ChordCode code) {
    slot.candidates[static_cast<size_t>(chordCount(slot))] = code;
    ++slot.extraCount;
}

KeyIndex keyMarked(const std::array<uint8_t, kKeyCount>& marks, uint8_t mark) {
    const auto it = std::find(marks.begin(), marks.end(), mark);
    return it == marks.end() ? kNoKey : static_cast<KeyIndex>(it - marks.begin());
}

}  // namespace

void Harmonizer::completeCandidates() {
    auto& slots = composition_.slots;
    const auto& marks = composition_.keyMarks;
    // The piece's own tonic, dominant seventh and subdominant are always worth offering.
    std::vector<ChordCode> mainChords;
    const std::pair<uint8_t, int> roles[] = {
        {key_mark::kMain, 0}, {key_mark::kDominant, 1}, {key_mark::kSubdominant, 0}};
    for (const auto& [mark, type] : roles) {
        if (const KeyIndex k = keyMarked(marks, mark); k != kNoKey) {
            mainChords.push_back(makeChordCode(k, type));
        }
    }

    const int32_t lastBar = barCount_ - 1;
    for (int32_t b = 0; b < barCount_; ++b) {
        HarmonySlot& slot = slots[static_cast<size_t>(b)];
        if (chordCount(slot) <= kFewChords) {
            for (const ChordCode code : mainChords) {
                if (slot.extraCount >= maxCustomChords_) break;
                if (!holds(slot, code)) appendExtra(slot, code);
            }
        }
        if (slot.extraCount >= kEnoughCustomChords || barCount_ < 2) continue;

        auto offer = [&](ChordCode code) {
            if (slot.extraCount < maxCustomChords_ && !holds(slot, code)) {
                appendExtra(slot, code);
                return true;
            }
            return false;
        };
        if (b == 0 || b == lastBar) {
            const HarmonySlot& neighbour = slots[static_cast<size_t>(b == 0 ? 1 : b - 1)];
            for (int i = 0; i < chordCount(neighbour); ++i) {
                offer(neighbour.candidates[static_cast<size_t>(i)]);
            }
            continue;
        }
        // Take turns between the neighbours, the following bar first.
        const HarmonySlot& previous = slots[static_cast<size_t>(b - 1)];
        const HarmonySlot& following = slots[static_cast<size_t>(b + 1)];
        const int turns = std::max(chordCount(previous), chordCount(following));
        for (int i = 0; i < turns && slot.extraCount < maxCustomChords_; ++i) {
            if (i < chordCount(following) && offer(following.candidates[static_cast<size_t>(i)])) {
                continue;
            }
            if (i < chordCount(previous)) offer(previous.candidates[static_cast<size_t>(i)]);
        }
    }
}

}  // namespace varimel
