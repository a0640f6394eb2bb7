// KeyFinder: decides the melody's key from its notes (or takes it from the file's key
// signature), marks the role each key plays for the harmonizer, and notices melodies that pass
// through too many keys.
//
// One finder per harmonisation: the chord master computes the key statistics, runs a finder,
// takes its status and frees the statistics again (findKey does all of that in one call).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/Apperr.h"
#include "engine/ChordCode.h"
#include "engine/Status.h"
#include "settings/HarmonyOptions.h"

namespace varimel {

inline constexpr int kKeyProfileCount = 3;

// Cells of the statistics block (int32 each); fits are IEEE single floats stored bit for bit.
namespace key_statistics {
inline constexpr int kCounts = 0;            // 12: melody notes per pitch class
inline constexpr int kDurations = 12;        // 12: summed ticks per pitch class
inline constexpr int kDegreeMasks = 24;      // 24: degrees met per key (see degree_bit)
inline constexpr int kCountScores = 48;      // 3 x 24: per profile and key
inline constexpr int kDurationScores = 120;  // 3 x 24
inline constexpr int kFits = 192;            // 24
inline constexpr int kVotes = 216;           // 24
inline constexpr int kCellCount = 240;
}  // namespace key_statistics

using KeyStatisticsBlock = std::array<int32_t, key_statistics::kCellCount>;

// Bits of a key's degree mask: the seven diatonic degrees, then the altered VI and VII.
namespace degree_bit {
inline constexpr int kI = 1 << 0;
inline constexpr int kIII = 1 << 2;
inline constexpr int kV = 1 << 4;
inline constexpr int kTriad = kI | kIII | kV;
inline constexpr int kAlteredVI = 1 << 7;
inline constexpr int kAlteredVII = 1 << 8;
}  // namespace degree_bit

using PitchClassCounts = std::array<int32_t, 12>;
using KeyFits = std::array<float, kKeyCount>;

struct FitResult {
    KeyFits fits{};
    bool exact = false;  // some key fits with exactly 1.0
};

// How well each key's scale explains the counts: per degree, the share its note has against the
// chromatic neighbour, plus the share of an altered VI or VII when that stays the minority.
FitResult fitOf(std::span<const int32_t, 12> counts);

// Allocates the composition's statistics block and fills counts, durations, degree masks and
// profile scores from the melody (list 0). Fits and votes stay 0 until a finder runs. Status 1
// when the block cannot be allocated.
StatusCode computeKeyStatistics(Composition& composition);

// Read and write access to the cells of a statistics block.
class KeyStatisticsView {
  public:
    explicit KeyStatisticsView(KeyStatisticsBlock& block) : cells_(block) {}

    std::span<int32_t, 12> counts() { return row<12>(key_statistics::kCounts); }
    std::span<int32_t, 12> durations() { return row<12>(key_statistics::kDurations); }
    std::span<int32_t, kKeyCount> degreeMasks() {
        return row<kKeyCount>(key_statistics::kDegreeMasks);
    }
    std::span<int32_t, kKeyCount> countScores(int profile) {
        return row<kKeyCount>(key_statistics::kCountScores + profile * kKeyCount);
    }
    std::span<int32_t, kKeyCount> durationScores(int profile) {
        return row<kKeyCount>(key_statistics::kDurationScores + profile * kKeyCount);
    }
    std::span<int32_t, kKeyCount> votes() { return row<kKeyCount>(key_statistics::kVotes); }
    float fit(KeyIndex key) const;
    void setFit(KeyIndex key, float fit);

  private:
    template <std::size_t N>
    std::span<int32_t, N> row(int first) {
        return std::span<int32_t, N>(cells_.data() + first, N);
    }
    KeyStatisticsBlock& cells_;
};

// One analysed stretch of the melody.
struct KeySegment {
    std::array<int16_t, kKeyCount> stableKeys{};  // in the order their degrees became complete
    int32_t stableCount = 0;
    int32_t key = kNoKey;
    float threshold = 0.0f;  // 1.0 with an exact fit, else the best fit among the stable keys
    std::array<int16_t, kKeyCount> degreeMasks{};
    KeyFits fits{};
    std::array<int32_t, kKeyCount> votes{};
    std::array<int32_t, kKeyProfileCount * kKeyCount> countScores{};
    std::array<int32_t, kKeyProfileCount * kKeyCount> durationScores{};
    PitchClassCounts counts{};
    PitchClassCounts durations{};
    std::array<int16_t, 12> pitchClasses{};  // in order of first occurrence
    int32_t pitchClassCount = 0;
    int32_t startBar = 0;
    int32_t endBar = 0;
    int32_t firstNote = 0;
    int32_t lastNote = 0;

    std::span<int32_t, kKeyCount> countScoreRow(int profile) {
        return std::span<int32_t, kKeyCount>(countScores.data() + profile * kKeyCount, kKeyCount);
    }
    std::span<int32_t, kKeyCount> durationScoreRow(int profile) {
        return std::span<int32_t, kKeyCount>(durationScores.data() + profile * kKeyCount,
                                             kKeyCount);
    }
};

struct KeyResult {
    KeyIndex key = kNoKey;  // for status 96 the major key of the undecided pair
    StatusCode status = status::kOk;
};

class KeyFinder {
  public:
    // A melody that marks more keys than this is reported as wandering (status 97).
    static constexpr int kMaxMarkedKeys = 10;

    // Clears the composition's key marks. The options are taken as they are now.
    explicit KeyFinder(Composition& composition, const HarmonyOptions& options = currentOptions);

    // With AutoKey: recognise(); without it: takeFileKey().
    KeyResult run();
    // Global decision, segmentation and final decision. Computes the statistics block first
    // when the composition has none (and leaves it for the caller to free).
    KeyResult recognise();
    // The key of the file's first key signature, "C-dur" without one.
    KeyResult takeFileKey();
    // Marks the dominant (3), subdominant (2) and the key itself (4); kNoKey means the
    // composition's recognised key, and nothing happens when it has none.
    void markRelatedKeys(KeyIndex key = kNoKey);

    // The stages of recognise(), in this order; each also runs on its own (computing the
    // statistics block when it is missing).
    // Computes the global fits and answers the key that the three profiles agree on, or kNoKey;
    // a found key becomes the composition's key.
    KeyIndex globalDecision();
    // Cuts the melody into segments and gives each a key; status 92 with under three pitch
    // classes, 1 when the segment list cannot grow.
    StatusCode segmentMelody();
    // Scores, degree masks, stable keys, fits and threshold of the segment's pitch classes.
    void evaluateSegment(KeySegment& segment) const;
    // Votes of the three profiles over all 24 keys; the leader with two votes is the key.
    KeyIndex chooseSegmentKey(KeySegment& segment);
    // Walks candidates ordered by count score and answers the first accepted one (see the
    // source for how ties are broken), or kNoKey.
    KeyIndex chooseKey(std::span<const KeyIndex> order,
                       std::span<const int32_t, kKeyCount> countScores,
                       std::span<const int32_t, kKeyCount> durationScores, float threshold,
                       std::span<const float, kKeyCount> fits, std::span<const int32_t, 12> counts,
                       std::span<int32_t, kKeyCount> votes);
    // Fit at least MinWT and every signature accidental present, or excused; an accepted key
    // gets a vote.
    bool acceptKey(KeyIndex key, std::span<const float, kKeyCount> fits,
                   std::span<const int32_t, 12> counts, std::span<int32_t, kKeyCount> votes);
    // Decides from the segments when the global decision found nothing; applies ApplyPKey,
    // marks the keys and sets status 95, 96 or 97.
    KeyResult finalDecision();
    // Marks the keys met in the melody, window by window over the segments (a lone segment's
    // keys also need a global fit above 0.7), and the main key's relatives; status 97 when more
    // than ten keys are met.
    void markKeysInMelody();

    StatusCode status() const { return status_; }
    const HarmonyOptions& options() const { return options_; }
    std::vector<KeySegment>& segments() { return segments_; }
    const std::vector<KeySegment>& segments() const { return segments_; }
    int32_t closedSegmentCount() const { return closedCount_; }
    KeyIndex voteLeader() const { return leader_; }
    int32_t voteLeaderVotes() const { return leaderVotes_; }
    void resetVoteLeader();
    // The global fits of the last globalDecision().
    const KeyFits& globalFits() const { return globalFits_; }
    // The three profiles' choices of the final decision (kNoKey where a profile chose none).
    const std::array<KeyIndex, kKeyProfileCount>& finalChoices() const { return choices_; }

  private:
    void vote(KeyIndex key, std::span<int32_t, kKeyCount> votes);
    void setKey(KeyIndex key);
    KeyIndex recognisedKey() const;
    void closeSegment(int32_t lastNote);
    void mergeRunningIntoLast();
    // The stages read the statistics block; one that runs alone computes it when missing.
    bool ensureStatistics();
    KeyStatisticsView statistics();

    Composition& composition_;
    const HarmonyOptions options_;
    StatusCode status_ = status::kOk;
    std::vector<KeySegment> segments_;
    KeySegment running_;
    // The running segment still holds everything of the last closed segment (which found no key).
    bool runningCarriesLast_ = false;
    int32_t closedCount_ = 0;
    KeyIndex leader_ = kNoKey;
    int32_t leaderVotes_ = 0;
    KeyIndex globalKey_ = kNoKey;  // what the global decision found
    KeyFits globalFits_{};
    std::array<KeyIndex, kKeyProfileCount> choices_{kNoKey, kNoKey, kNoKey};
};

// The whole key phase of a harmonisation: statistics, a finder run with the options (AutoKey
// decides between recognising and taking the file's key), statistics freed again.
KeyResult findKey(Composition& composition, const HarmonyOptions& options = currentOptions);

}  // namespace varimel
