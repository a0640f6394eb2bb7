#include "engine/KeyFinder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <new>
#include <numeric>

#include "engine/ScoreOrder.h"
#include "engine/Tonality.h"

namespace varimel {
namespace {

constexpr int kMinDistinctForBoundary = 7;  // a segment needs a full scale's worth of notes
constexpr int kMinDistinctForKey = 3;
constexpr double kOneSeventh = 0.14285714285714285714;
constexpr double kMarkFitFloor = 0.7;  // a lone segment's stable keys count only above this
constexpr double kWindowShare = 0.2;   // more than five segments: about five windows

// Profile weights by degree column: I..VII, altered VI, altered VII, any other alteration.
constexpr int kWeightColumns = 10;
constexpr int kOtherAlteration = 9;
constexpr std::array<std::array<int, kWeightColumns>, kKeyProfileCount> kProfileWeights = {{
    {6, 2, 6, 2, 6, 3, 3, 3, 3, 0},
    {5, 0, 5, 0, 5, 5, 5, 0, 0, 0},
    {5, 0, 5, 0, 5, 0, 0, 0, 0, 0},
}};

// Keys whose missing signature accidental is never excused by its chromatic neighbour.
constexpr std::array<KeyIndex, 4> kStrictSignatureKeys = {8, 9, 17, 18};  // G, D, g, d

std::size_t at(int i) {
    return static_cast<std::size_t>(i);
}

int weightColumn(int degreeCode) {
    if (degreeCode > 0) return degreeCode - 1;
    if (degreeCode == -6) return 7;
    if (degreeCode == -7) return 8;
    return kOtherAlteration;
}

// Diatonic degrees and the altered VI and VII leave a trace in the mask; other alterations not.
int maskBit(int degreeCode) {
    if (degreeCode > 0) return 1 << (degreeCode - 1);
    if (degreeCode < -5) return 1 << (1 - degreeCode);
    return 0;
}

struct DegreeTable {
    std::array<std::array<int, kKeyCount>, 12> codes{};  // degreeOf(pc, key)
    // Per pitch class, in the layout of a segment's score rows: the profile weight of the
    // degree it is in each key; and the mask bit it leaves.
    std::array<std::array<int32_t, kKeyProfileCount * kKeyCount>, 12> weights{};
    std::array<std::array<int16_t, kKeyCount>, 12> maskBits{};
};

const DegreeTable& degreeTable() {
    static const DegreeTable table = [] {
        DegreeTable t;
        for (int pc = 0; pc < 12; ++pc) {
            for (KeyIndex key = 0; key < kKeyCount; ++key) {
                const int code = degreeOf(pc, key);
                t.codes[at(pc)][at(key)] = code;
                t.maskBits[at(pc)][at(key)] = static_cast<int16_t>(maskBit(code));
                for (int p = 0; p < kKeyProfileCount; ++p) {
                    t.weights[at(pc)][at(p * kKeyCount + key)] =
                        kProfileWeights[at(p)][at(weightColumn(code))];
                }
            }
        }
        return t;
    }();
    return table;
}

// The pitch pairs a fit compares, per key in summing order: I..V, VI, altered VI, VII,
// altered VII. The altered pairs only count while they stay the minority.
// The shares that decide how well a key fits: each degree's pitch class against its neighbour
// (the semitone or tone it leans to), and the raised or lowered sixth and seventh against
// theirs. Keys share most of these pitch-class pairs, so each pair's share is worked out once
// per melody and the keys look it up.
struct FitPair {
    int share;  // index into FitTables::shares
    bool altered;
};
struct FitTables {
    static constexpr std::size_t kMostShares = 12 * 12;
    std::array<std::array<FitPair, 9>, kKeyCount> pairs{};
    std::array<std::pair<int, int>, kMostShares> shares{};  // (pitch class, its neighbour)
    std::size_t shareCount = 0;
};

const FitTables& fitTables() {
    static const FitTables tables = [] {
        FitTables t{};
        std::array<int, FitTables::kMostShares> shareOf{};
        shareOf.fill(-1);
        auto share = [&](int pitch, int neighbour) {
            int& index = shareOf[at(pitch * 12 + neighbour)];
            if (index < 0) {
                index = static_cast<int>(t.shareCount);
                t.shares[t.shareCount++] = {pitch, neighbour};
            }
            return index;
        };
        for (KeyIndex key = 0; key < kKeyCount; ++key) {
            int n = 0;
            for (int degree = 0; degree < 7; ++degree) {
                int neighbour = 0;
                const int pitch = degreePitch(key, degree, &neighbour);
                t.pairs[at(key)][at(n++)] = {share(pitch, neighbour), false};
                if (degree >= 5) {
                    const int altered = degreePitch(key, -(degree + 1), &neighbour);
                    t.pairs[at(key)][at(n++)] = {share(altered, neighbour), true};
                }
            }
        }
        return t;
    }();
    return tables;
}

// The block's cells are int32; a pathological melody must not overflow them.
int32_t addSaturated(int32_t cell, int64_t amount) {
    const int64_t sum = int64_t{cell} + amount;
    return static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Adds one pitch class's notes to every key's profile scores and degree mask.
template <typename Mask>
void addEvidence(int pc, int32_t count, int32_t duration, int32_t* countScores,
                 int32_t* durationScores, Mask* masks) {
    const auto& codes = degreeTable().codes[at(pc)];
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        const int d = codes[at(key)];
        const int column = weightColumn(d);
        for (int p = 0; p < kKeyProfileCount; ++p) {
            const int weight = kProfileWeights[at(p)][at(column)];
            int32_t& cs = countScores[p * kKeyCount + key];
            int32_t& ds = durationScores[p * kKeyCount + key];
            cs = addSaturated(cs, int64_t{weight} * count);
            ds = addSaturated(ds, int64_t{weight} * duration);
        }
        masks[key] = static_cast<Mask>(masks[key] | maskBit(d));
    }
}

// Keys ordered by score, highest first; equal scores keep key (or list) order.
void orderByScore(std::span<KeyIndex> keys, std::span<const int32_t, kKeyCount> scores) {
    sortByScore(keys, [&](KeyIndex k) { return scores[at(k)]; });
}

int noteBar(const NoteRecord& note) {
    return note.position.bar;
}

int notePitchClass(const NoteRecord& note) {
    return note.key % 12;
}

void addNote(KeySegment& segment, const NoteRecord& note) {
    const int pc = notePitchClass(note);
    if (segment.counts[at(pc)] == 0) {
        segment.pitchClasses[at(segment.pitchClassCount++)] = static_cast<int16_t>(pc);
    }
    ++segment.counts[at(pc)];
    segment.durations[at(pc)] = addSaturated(segment.durations[at(pc)], note.duration);
}

bool isStableMask(int mask, int32_t modeStT) {
    if (modeStT != 0) return (mask & modeStT) == modeStT;
    // Without a required set, any two of I, III and V will do.
    return std::popcount(static_cast<unsigned>(mask & degree_bit::kTriad)) >= 2;
}

}  // namespace

// --- Fits and statistics ---------------------------------------------------------------------

FitResult fitOf(std::span<const int32_t, 12> counts) {
    FitResult result;
    const FitTables& tables = fitTables();
    // Each pitch class's share against its neighbour; NaN where neither sounds.
    std::array<double, FitTables::kMostShares> shares{};
    for (std::size_t i = 0; i < tables.shareCount; ++i) {
        const auto [pitch, neighbour] = tables.shares[i];
        const int64_t own = counts[at(pitch)];
        const int64_t total = own + counts[at(neighbour)];
        shares[i] = total <= 0 ? std::numeric_limits<double>::quiet_NaN()
                               : static_cast<double>(own) / static_cast<double>(total);
    }
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        double sum = 0.0;
        for (const FitPair& pair : tables.pairs[at(key)]) {
            const double ratio = shares[at(pair.share)];
            if (std::isnan(ratio)) continue;
            if (!pair.altered || ratio < 0.5) sum += ratio;
        }
        // Stored as a single float, so that a sum of shares that should give 7 tests as 1.0.
        const float fit = static_cast<float>(sum * kOneSeventh);
        result.fits[at(key)] = fit;
        if (fit == 1.0f) result.exact = true;
    }
    return result;
}

StatusCode computeKeyStatistics(Composition& composition) {
    try {
        composition.keyStatistics = std::make_unique<KeyStatisticsBlock>();
    } catch (const std::bad_alloc&) {
        return status::kOutOfMemory;
    }
    KeyStatisticsBlock& block = *composition.keyStatistics;
    block.fill(0);
    KeyStatisticsView view(block);
    auto counts = view.counts();
    auto durations = view.durations();
    for (const NoteRecord& note : composition.noteTracks().notes(0)) {
        const int pc = notePitchClass(note);
        counts[at(pc)] = addSaturated(counts[at(pc)], 1);
        durations[at(pc)] = addSaturated(durations[at(pc)], note.duration);
    }
    int32_t* countScores = block.data() + key_statistics::kCountScores;
    int32_t* durationScores = block.data() + key_statistics::kDurationScores;
    int32_t* masks = block.data() + key_statistics::kDegreeMasks;
    for (int pc = 0; pc < 12; ++pc) {
        if (counts[at(pc)] > 0) {
            addEvidence(pc, counts[at(pc)], durations[at(pc)], countScores, durationScores, masks);
        }
    }
    return status::kOk;
}

float KeyStatisticsView::fit(KeyIndex key) const {
    return std::bit_cast<float>(cells_[at(key_statistics::kFits + key)]);
}

void KeyStatisticsView::setFit(KeyIndex key, float fit) {
    cells_[at(key_statistics::kFits + key)] = std::bit_cast<int32_t>(fit);
}

// --- KeyFinder -------------------------------------------------------------------------------

KeyFinder::KeyFinder(Composition& composition, const HarmonyOptions& options)
    : composition_(composition), options_(options) {
    composition_.keyMarks.fill(key_mark::kUnused);
}

bool KeyFinder::ensureStatistics() {
    return composition_.keyStatistics || computeKeyStatistics(composition_) == status::kOk;
}

KeyStatisticsView KeyFinder::statistics() {
    return KeyStatisticsView(*composition_.keyStatistics);
}

KeyResult KeyFinder::run() {
    return options_.AutoKey ? recognise() : takeFileKey();
}

KeyResult KeyFinder::recognise() {
    status_ = status::kOk;
    // A key left from an earlier run must not survive a recognition that finds none.
    composition_.keys.clear();
    try {
        if (!ensureStatistics()) return {kNoKey, status_ = status::kOutOfMemory};
        globalDecision();
        const StatusCode segmented = segmentMelody();
        if (segmented != status::kOk) return {kNoKey, status_ = segmented};
        return finalDecision();
    } catch (const std::bad_alloc&) {
        return {kNoKey, status_ = status::kOutOfMemory};
    }
}

KeyResult KeyFinder::takeFileKey() {
    status_ = status::kOk;
    const KeyIndex key = composition_.eventValue(event_kind::kKeySignature, 0);
    setKey(key);
    markRelatedKeys(key);
    return {key, status_};
}

void KeyFinder::markRelatedKeys(KeyIndex key) {
    if (key == kNoKey) key = recognisedKey();
    if (!isValidKey(key)) return;
    const RelatedKeys related = relatedKeys(key);
    composition_.keyMarks[at(related.dominant)] = key_mark::kDominant;
    composition_.keyMarks[at(related.subdominant)] = key_mark::kSubdominant;
    composition_.keyMarks[at(key)] = key_mark::kMain;
}

void KeyFinder::setKey(KeyIndex key) {
    composition_.keys.assign(1, KeyRecord{static_cast<int16_t>(key), 0, 0});
}

KeyIndex KeyFinder::recognisedKey() const {
    return composition_.keys.empty() ? kNoKey : composition_.keys.front().key;
}

void KeyFinder::resetVoteLeader() {
    leader_ = kNoKey;
    leaderVotes_ = 0;
}

void KeyFinder::vote(KeyIndex key, std::span<int32_t, kKeyCount> votes) {
    const int32_t count = ++votes[at(key)];
    // Strictly more: on equal counts the key that got there first keeps the lead.
    if (count > leaderVotes_) {
        leader_ = key;
        leaderVotes_ = count;
    }
}

KeyIndex KeyFinder::globalDecision() {
    globalKey_ = kNoKey;
    resetVoteLeader();
    if (!ensureStatistics()) return kNoKey;
    KeyStatisticsView view = statistics();
    std::ranges::fill(view.votes(), 0);
    const FitResult fit = fitOf(view.counts());
    globalFits_ = fit.fits;
    for (KeyIndex key = 0; key < kKeyCount; ++key) view.setFit(key, fit.fits[at(key)]);
    if (!fit.exact) return kNoKey;

    // A major key and its relative minor share their notes, so an exact fit of either makes
    // both candidates; the profiles decide between them.
    std::array<KeyIndex, kKeyCount> candidates{};
    std::size_t n = 0;
    for (KeyIndex major = 0; major < kMajorKeyCount; ++major) {
        if (fit.fits[at(major)] == 1.0f || fit.fits[at(major + kMajorKeyCount)] == 1.0f) {
            candidates[n++] = major;
            candidates[n++] = major + kMajorKeyCount;
        }
    }
    for (int p = 0; p < kKeyProfileCount; ++p) {
        std::array<KeyIndex, kKeyCount> order = candidates;
        const std::span<KeyIndex> ordered(order.data(), n);
        orderByScore(ordered, view.countScores(p));
        chooseKey(ordered, view.countScores(p), view.durationScores(p), 1.0f, globalFits_,
                  view.counts(), view.votes());
    }
    if (leaderVotes_ < 2) return kNoKey;
    globalKey_ = leader_;
    setKey(globalKey_);
    return globalKey_;
}

bool KeyFinder::acceptKey(KeyIndex key, std::span<const float, kKeyCount> fits,
                          std::span<const int32_t, 12> counts,
                          std::span<int32_t, kKeyCount> votes) {
    if (!isValidKey(key) || !(fits[at(key)] >= options_.MinWT)) return false;
    const bool strict = std::ranges::find(kStrictSignatureKeys, key) != kStrictSignatureKeys.end();
    const int sixth = degreePitch(key, 5);
    const int seventh = degreePitch(key, 6);
    for (const int pc : signatureAccidentals(key).pitchClasses) {
        if (counts[at(pc)] > 0) continue;
        // Only a sixth or seventh may be missing, and only when the melody uses the other
        // form of it (the lowered one in major, the raised one in minor).
        if (pc != sixth && pc != seventh) return false;
        if (strict) return false;
        const int other = wrap(pc + (isMinorKey(key) ? 1 : -1), 12);
        if (counts[at(other)] == 0) return false;
    }
    vote(key, votes);
    return true;
}

// The walk stops at the first choice. A candidate whose count score stands alone is tested on
// its own; the last candidate never is, so a list of one gives no choice. A run of equal count
// scores is ordered by duration score; a member whose duration score stands alone is tested on
// its own, while a tie of duration scores tests, from that member on, every member that fits
// exactly as well as the threshold and has the run's best duration score. Each of those that
// is accepted gets its vote and the first is the choice; with none accepted the walk goes on.
KeyIndex KeyFinder::chooseKey(std::span<const KeyIndex> order,
                              std::span<const int32_t, kKeyCount> countScores,
                              std::span<const int32_t, kKeyCount> durationScores, float threshold,
                              std::span<const float, kKeyCount> fits,
                              std::span<const int32_t, 12> counts,
                              std::span<int32_t, kKeyCount> votes) {
    const std::size_t n = order.size();
    std::size_t p = 0;
    while (p + 1 < n) {
        const KeyIndex d = order[p];
        const int32_t score = countScores[at(d)];
        if (score == 0) return kNoKey;
        if (score != countScores[at(order[p + 1])]) {
            if (acceptKey(d, fits, counts, votes)) return d;
            ++p;
            continue;
        }
        std::size_t end = p + 1;
        while (end < n && countScores[at(order[end])] == score) ++end;
        std::array<KeyIndex, kKeyCount> run{};
        const std::size_t length = end - p;
        std::copy(order.begin() + static_cast<std::ptrdiff_t>(p),
                  order.begin() + static_cast<std::ptrdiff_t>(end), run.begin());
        const std::span<KeyIndex> members(run.data(), length);
        orderByScore(members, durationScores);
        const int32_t best = durationScores[at(members[0])];
        for (std::size_t j = 0; j < length; ++j) {
            const int32_t own = durationScores[at(members[j])];
            if (j + 1 == length || own != durationScores[at(members[j + 1])]) {
                if (acceptKey(members[j], fits, counts, votes)) return members[j];
                continue;
            }
            KeyIndex first = kNoKey;
            for (std::size_t m = j; m < length; ++m) {
                const KeyIndex k = members[m];
                if (fits[at(k)] != threshold || durationScores[at(k)] != best) continue;
                if (acceptKey(k, fits, counts, votes) && first == kNoKey) first = k;
            }
            if (first != kNoKey) return first;
        }
        p = end;
    }
    return kNoKey;
}

void KeyFinder::evaluateSegment(KeySegment& segment) const {
    segment.stableKeys.fill(0);
    segment.stableCount = 0;
    segment.degreeMasks.fill(0);
    segment.countScores.fill(0);
    segment.durationScores.fill(0);
    // The keys not yet stable, one bit each: once all are, the remaining pitch classes only
    // add their evidence.
    uint32_t unstable = (uint32_t{1} << kKeyCount) - 1;
    // No weight is negative, so with no negative count or duration every cell only grows, and
    // one clamp of the exact sum gives what a clamp after every addition gives.
    bool growing = true;
    for (int i = 0; i < segment.pitchClassCount; ++i) {
        const int pc = segment.pitchClasses[at(i)];
        growing = growing && segment.counts[at(pc)] >= 0 && segment.durations[at(pc)] >= 0;
    }
    const DegreeTable& table = degreeTable();
    std::array<int64_t, kKeyProfileCount * kKeyCount> countSums{};
    std::array<int64_t, kKeyProfileCount * kKeyCount> durationSums{};
    for (int i = 0; i < segment.pitchClassCount; ++i) {
        const int pc = segment.pitchClasses[at(i)];
        if (growing) {
            const int64_t count = segment.counts[at(pc)];
            const int64_t duration = segment.durations[at(pc)];
            const auto& weights = table.weights[at(pc)];
            for (size_t cell = 0; cell < weights.size(); ++cell) {
                countSums[cell] += weights[cell] * count;
                durationSums[cell] += weights[cell] * duration;
            }
            for (size_t key = 0; key < kKeyCount; ++key) {
                segment.degreeMasks[key] =
                    static_cast<int16_t>(segment.degreeMasks[key] | table.maskBits[at(pc)][key]);
            }
        } else {
            addEvidence(pc, segment.counts[at(pc)], segment.durations[at(pc)],
                        segment.countScores.data(), segment.durationScores.data(),
                        segment.degreeMasks.data());
        }
        for (uint32_t left = unstable; left != 0; left &= left - 1) {
            const auto key = static_cast<KeyIndex>(std::countr_zero(left));
            if (!isStableMask(segment.degreeMasks[at(key)], options_.ModeStT)) continue;
            unstable &= ~(uint32_t{1} << key);
            segment.stableKeys[at(segment.stableCount++)] = static_cast<int16_t>(key);
        }
    }
    if (growing) {
        constexpr int64_t kLargest = std::numeric_limits<int32_t>::max();
        for (size_t cell = 0; cell < countSums.size(); ++cell) {
            segment.countScores[cell] = static_cast<int32_t>(std::min(countSums[cell], kLargest));
            segment.durationScores[cell] =
                static_cast<int32_t>(std::min(durationSums[cell], kLargest));
        }
    }
    // A key without its tonic triad's three notes cannot be the segment's key.
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        if ((segment.degreeMasks[at(key)] & degree_bit::kTriad) == degree_bit::kTriad) continue;
        for (int p = 0; p < kKeyProfileCount; ++p) {
            segment.countScores[at(p * kKeyCount + key)] = 0;
            segment.durationScores[at(p * kKeyCount + key)] = 0;
        }
    }
    const FitResult fit = fitOf(segment.counts);
    segment.fits = fit.fits;
    float threshold = 0.0f;
    if (fit.exact) {
        threshold = 1.0f;
    } else {
        for (int i = 0; i < segment.stableCount; ++i) {
            threshold = std::max(threshold, segment.fits[at(segment.stableKeys[at(i)])]);
        }
    }
    segment.threshold = threshold;
}

KeyIndex KeyFinder::chooseSegmentKey(KeySegment& segment) {
    segment.votes.fill(0);
    resetVoteLeader();
    for (int p = 0; p < kKeyProfileCount; ++p) {
        std::array<KeyIndex, kKeyCount> order{};
        std::iota(order.begin(), order.end(), 0);
        orderByScore(order, segment.countScoreRow(p));
        chooseKey(order, segment.countScoreRow(p), segment.durationScoreRow(p), segment.threshold,
                  segment.fits, segment.counts, segment.votes);
    }
    segment.key = leaderVotes_ >= 2 ? leader_ : kNoKey;
    return segment.key;
}

void KeyFinder::closeSegment(int32_t lastNote) {
    const auto& notes = composition_.noteTracks().notes(0);
    KeySegment segment = running_;
    segment.firstNote = running_.firstNote;
    segment.lastNote = lastNote;
    segment.startBar = noteBar(notes[at(running_.firstNote)]);
    segment.endBar = noteBar(notes[at(lastNote)]);
    segment.key = kNoKey;
    evaluateSegment(segment);
    segments_.push_back(segment);
    ++closedCount_;
    KeySegment& closed = segments_.back();
    if (chooseSegmentKey(closed) != kNoKey) {
        running_ = KeySegment{};
        running_.startBar = noteBar(notes[at(lastNote)]) + 1;
        runningCarriesLast_ = false;
    } else {
        // No key yet: the stretch keeps growing from where the closed segment began.
        running_.startBar = closed.startBar;
        runningCarriesLast_ = true;
    }
    running_.firstNote = lastNote + 1;
}

void KeyFinder::mergeRunningIntoLast() {
    const auto& notes = composition_.noteTracks().notes(0);
    KeySegment& last = segments_.back();
    if (runningCarriesLast_) {
        // The running segment already holds all of the last segment's notes; adding it would
        // count them twice.
        last.pitchClasses = running_.pitchClasses;
        last.pitchClassCount = running_.pitchClassCount;
        last.counts = running_.counts;
        last.durations = running_.durations;
    } else {
        for (int i = 0; i < running_.pitchClassCount; ++i) {
            const int pc = running_.pitchClasses[at(i)];
            if (last.counts[at(pc)] == 0) {
                last.pitchClasses[at(last.pitchClassCount++)] = static_cast<int16_t>(pc);
            }
            last.counts[at(pc)] = addSaturated(last.counts[at(pc)], running_.counts[at(pc)]);
            last.durations[at(pc)] =
                addSaturated(last.durations[at(pc)], running_.durations[at(pc)]);
        }
    }
    const int32_t lastNote = static_cast<int32_t>(notes.size()) - 1;
    last.lastNote = lastNote;
    last.endBar = noteBar(notes[at(lastNote)]);
    evaluateSegment(last);
    chooseSegmentKey(last);
}

StatusCode KeyFinder::segmentMelody() {
    const auto& notes = composition_.noteTracks().notes(0);
    const auto count = static_cast<int32_t>(notes.size());
    segments_.clear();
    closedCount_ = 0;
    running_ = KeySegment{};
    runningCarriesLast_ = false;
    if (count > 0) running_.startBar = noteBar(notes.front());
    try {
        for (int32_t i = 0; i < count; ++i) {
            addNote(running_, notes[at(i)]);
            if (running_.pitchClassCount < kMinDistinctForBoundary) continue;
            const int bar = noteBar(notes[at(i)]);
            const bool boundary = i == count - 1 || i == 0 ||
                                  (noteBar(notes[at(i + 1)]) != bar &&
                                   bar - running_.startBar + 1 >= options_.MinTaktBT);
            if (boundary) closeSegment(i);
        }
        if (closedCount_ > 0) {
            mergeRunningIntoLast();
        } else if (running_.pitchClassCount >= kMinDistinctForKey) {
            closeSegment(count - 1);
        } else {
            return status::kTooLittleMaterial;
        }
    } catch (const std::bad_alloc&) {
        return status::kOutOfMemory;  // the segment list could not grow
    }
    return status::kOk;
}

KeyResult KeyFinder::finalDecision() {
    KeyIndex key = globalKey_;
    choices_ = {kNoKey, kNoKey, kNoKey};
    if (key == kNoKey && !ensureStatistics()) return {kNoKey, status_ = status::kOutOfMemory};
    if (key == kNoKey) {
        std::array<int32_t, kKeyCount> histogram{};
        for (const KeySegment& segment : segments_) {
            if (segment.key != kNoKey) {
                ++histogram[at(segment.key)];
                continue;
            }
            for (KeyIndex k = 0; k < kKeyCount; ++k) {
                if (segment.votes[at(k)] > 0) ++histogram[at(k)];
            }
        }
        // The most frequent keys (lowest index first), each followed by its relative.
        const int32_t top = *std::ranges::max_element(histogram);
        std::array<KeyIndex, kKeyCount> candidates{};
        std::array<bool, kKeyCount> listed{};
        std::size_t n = 0;
        const auto add = [&](KeyIndex k) {
            if (listed[at(k)]) return;
            listed[at(k)] = true;
            candidates[n++] = k;
        };
        // An all-zero histogram lists every key: 0, 12, 1, 13, ...
        for (KeyIndex k = 0; k < kKeyCount; ++k) {
            if (histogram[at(k)] != top || listed[at(k)]) continue;
            add(k);
            add(relativeKey(k));
        }
        KeyStatisticsView view = statistics();
        resetVoteLeader();  // the global votes themselves carry on
        for (int p = 0; p < kKeyProfileCount; ++p) {
            std::array<KeyIndex, kKeyCount> order = candidates;
            const std::span<KeyIndex> ordered(order.data(), n);
            orderByScore(ordered, view.countScores(p));
            choices_[at(p)] = chooseKey(ordered, view.countScores(p), view.durationScores(p), 1.0f,
                                        globalFits_, view.counts(), view.votes());
        }
        if (leaderVotes_ >= 2) {
            key = leader_;
            setKey(key);
        }
    }
    if (key != kNoKey) {
        if (options_.ApplyPKey) {
            key = relativeKey(key);
            setKey(key);
        }
        markKeysInMelody();
        return {key, status_};
    }

    status_ = status::kKeyNotRecognised;
    const auto [c0, c1, c2] = choices_;
    KeyIndex undecided = kNoKey;
    if (c0 != kNoKey && (relativeKey(c0) == c1 || relativeKey(c0) == c2)) {
        undecided = c0;
    } else if (c0 == kNoKey && c1 != kNoKey && relativeKey(c1) == c2) {
        undecided = c1;
    }
    if (undecided == kNoKey) return {kNoKey, status_};
    status_ = status::kMajorOrRelativeMinor;
    return {undecided % kMajorKeyCount, status_};
}

void KeyFinder::markKeysInMelody() {
    auto& marks = composition_.keyMarks;
    const auto n = static_cast<int>(segments_.size());
    if (n > 0) {
        const int window = n <= 5
                               ? n
                               : static_cast<int>(static_cast<double>(n) /
                                                  std::ceil(static_cast<double>(n) * kWindowShare));
        for (int start = 0; start < n;) {
            int end = start + window;
            if (n - end < window) end = n;  // the last window takes the remainder
            std::array<int32_t, kKeyCount> occurrences{};
            for (int s = start; s < end; ++s) {
                const KeySegment& segment = segments_[at(s)];
                for (int i = 0; i < segment.stableCount; ++i) {
                    ++occurrences[at(segment.stableKeys[at(i)])];
                }
            }
            if (end - start == 1) {
                for (KeyIndex k = 0; k < kKeyCount; ++k) {
                    if (occurrences[at(k)] > 0 &&
                        static_cast<double>(globalFits_[at(k)]) > kMarkFitFloor) {
                        marks[at(k)] = key_mark::kMet;
                    }
                }
            } else {
                std::array<KeyIndex, kKeyCount> order{};
                std::iota(order.begin(), order.end(), 0);
                orderByScore(order, occurrences);
                // The most frequent keys and those of the next lower count; a window that
                // would mark too many keys keeps only the most frequent.
                int marked = 0;
                int distinct = 0;
                int32_t current = -1;
                std::array<KeyIndex, kKeyCount> second{};
                int secondCount = 0;
                for (const KeyIndex k : order) {
                    const int32_t c = occurrences[at(k)];
                    if (c == 0) break;
                    if (c != current) {
                        if (++distinct > 2) break;
                        current = c;
                    }
                    marks[at(k)] = key_mark::kMet;
                    ++marked;
                    if (distinct == 2) second[at(secondCount++)] = k;
                }
                if (marked > kMaxMarkedKeys) {
                    for (int i = 0; i < secondCount; ++i)
                        marks[at(second[at(i)])] = key_mark::kUnused;
                }
            }
            start = end;
        }
    }
    const auto metCount = std::ranges::count_if(marks, [](uint8_t m) { return m != 0; });
    markRelatedKeys(kNoKey);
    if (metCount > kMaxMarkedKeys) status_ = status::kManyKeys;
}

KeyResult findKey(Composition& composition, const HarmonyOptions& options) {
    if (options.AutoKey) {
        const StatusCode computed = computeKeyStatistics(composition);
        if (computed != status::kOk) return {kNoKey, computed};
    }
    const KeyResult result = KeyFinder(composition, options).run();
    composition.keyStatistics.reset();
    return result;
}

}  // namespace varimel
