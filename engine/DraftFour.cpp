#include "engine/DraftFour.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>
#include <numeric>

#include "engine/Tonality.h"

namespace varimel {
namespace draft_four {
namespace {

// "Greater" in every comparison of scores means greater by more than this; ties go to the
// lower index.
constexpr double kTolerance = 1e-12;

// Temperley's key profiles from the Kostka-Payne corpus (D. Temperley, "Music and
// Probability", 2007), C major and C minor.
constexpr std::array<double, kPitchClassCount> kMajorProfile = {.748, .060, .488, .082, .670, .460,
                                                                .096, .715, .104, .366, .057, .400};
constexpr std::array<double, kPitchClassCount> kMinorProfile = {.712, .084, .474, .618, .049, .460,
                                                                .105, .747, .404, .067, .133, .330};

constexpr double kLastNoteBonus = 0.10;
constexpr double kFirstDownbeatBonus = 0.10;
constexpr double kSignatureBonus = 0.35;

// Probability that a note of each metrical level (off-beat, beat, middle of the bar, first
// tick) is a tone of the bar's chord; measured on folk tunes with their musicians' chords.
constexpr std::array<double, 4> kChordToneShare = {0.6, 0.8, 0.7, 0.9};
constexpr double kOutsideScaleShare = 0.05;
// Notes in the second half of a bar count a quarter: the chord a musician plays on the first
// beat often covers only the first half.
constexpr double kSecondHalfWeight = 0.25;
// The weight of the melody against the priors and the moves.
constexpr double kMelodyWeight = 10.0;
constexpr double kMoveBonus = 0.2;
// A sixth or seventh is added when the melody holds it this long in a run of bars.
constexpr double kColourShare = 0.15;

enum class Quality : uint8_t { kMajor, kMinor, kDominantSeventh };

struct TableRow {
    int interval;  // of the root above the tonic
    Quality quality;
    Function function;
    double prior;
};

constexpr std::array<TableRow, 8> kMajorTable = {{
    {0, Quality::kMajor, Function::kTonic, .45},
    {7, Quality::kMajor, Function::kDominant, .08},
    {7, Quality::kDominantSeventh, Function::kDominant, .08},
    {5, Quality::kMajor, Function::kSubdominant, .13},
    {2, Quality::kMinor, Function::kSubdominant, .08},
    {9, Quality::kMinor, Function::kTonic, .05},
    {4, Quality::kMinor, Function::kTonic, .01},
    {10, Quality::kMajor, Function::kSubdominant, .015},
}};
constexpr std::array<TableRow, 9> kMinorTable = {{
    {0, Quality::kMinor, Function::kTonic, .45},
    {7, Quality::kDominantSeventh, Function::kDominant, .08},
    {7, Quality::kMajor, Function::kDominant, .08},
    {5, Quality::kMinor, Function::kSubdominant, .08},
    {3, Quality::kMajor, Function::kTonic, .10},
    {8, Quality::kMajor, Function::kSubdominant, .05},
    {10, Quality::kMajor, Function::kDominant, .12},
    {7, Quality::kMinor, Function::kDominant, .05},
    {5, Quality::kMajor, Function::kSubdominant, .03},
}};

// Chord types of the added-tone chords: a major key's 7th and 6th, a minor key's m7 and m6.
constexpr int kTriadType = 0;
constexpr int kSeventhType = 1;
constexpr int kMajorSixthType = 3;
constexpr int kMinorSixthType = 2;
constexpr int kSeventhInterval = 10;
constexpr int kSixthInterval = 9;

constexpr std::array<int, 7> kMajorSteps = {0, 2, 4, 5, 7, 9, 11};
constexpr std::array<int, 7> kNaturalMinorSteps = {0, 2, 3, 5, 7, 8, 10};

uint16_t bit(int pitchClass) {
    return static_cast<uint16_t>(1u << pitchClass);
}

int pitchClassOf(int pitch) {
    return ((pitch % kPitchClassCount) + kPitchClassCount) % kPitchClassCount;
}

KeyIndex keyWithTonic(int pitchClass, bool minor) {
    for (KeyIndex key = minor ? kMajorKeyCount : 0; key < (minor ? kKeyCount : kMajorKeyCount);
         ++key) {
        if (tonicOf(key) == pitchClass) return key;
    }
    return kNoKey;
}

uint16_t scaleOf(KeyIndex key) {
    const int tonic = tonicOf(key);
    uint16_t set = 0;
    for (const int step : isMinorKey(key) ? kNaturalMinorSteps : kMajorSteps) {
        set |= bit((tonic + step) % kPitchClassCount);
    }
    return set;
}

double pearson(const std::array<double, kPitchClassCount>& x,
               const std::array<double, kPitchClassCount>& y) {
    double sumX = 0, sumY = 0;
    for (int i = 0; i < kPitchClassCount; ++i) sumX += x[static_cast<size_t>(i)];
    for (int i = 0; i < kPitchClassCount; ++i) sumY += y[static_cast<size_t>(i)];
    const double meanX = sumX / kPitchClassCount, meanY = sumY / kPitchClassCount;
    double sxy = 0, sxx = 0, syy = 0;
    for (size_t i = 0; i < kPitchClassCount; ++i) sxy += (x[i] - meanX) * (y[i] - meanY);
    for (size_t i = 0; i < kPitchClassCount; ++i) sxx += (x[i] - meanX) * (x[i] - meanX);
    for (size_t i = 0; i < kPitchClassCount; ++i) syy += (y[i] - meanY) * (y[i] - meanY);
    if (sxx <= 0 || syy <= 0) return 0.0;
    return sxy / std::sqrt(sxx * syy);
}

// Onset level of a note part: 3 the bar's first tick, 2 the middle of the bar when that is a
// beat, 1 another beat, 0 elsewhere. Compound meters (6/8, 9/8, 12/8) count dotted quarters.
int metricalLevel(int32_t tick, const BarMeter& meter) {
    if (tick == 0) return 3;
    const bool compound = meter.denominator == 8 && meter.numerator % 3 == 0 && meter.numerator > 3;
    const int64_t beat = compound ? int64_t{meter.ticksPerBeat} * 3 : meter.ticksPerBeat;
    if (beat <= 0 || tick % beat != 0) return 0;
    return int64_t{tick} * 2 == meter.ticksPerBar ? 2 : 1;
}

// log P(pitch class | chord) for one chord-tone share: the chord's tones share it, the key's
// other scale tones share what is left but the outside share, the rest share that.
using ToneTable = std::array<std::array<double, kPitchClassCount>, 9>;

ToneTable toneTable(const Vocabulary& vocabulary, uint16_t scale, double chordShare) {
    ToneTable table{};
    for (int j = 0; j < vocabulary.count; ++j) {
        const uint16_t tones = vocabulary.rows[static_cast<size_t>(j)].tones;
        const int toneCount = std::popcount(tones);
        const int otherCount = std::popcount(static_cast<uint16_t>(scale & ~tones));
        const int outsideCount = std::popcount(static_cast<uint16_t>(~(scale | tones) & 0xFFF));
        for (int pc = 0; pc < kPitchClassCount; ++pc) {
            double& entry = table[static_cast<size_t>(j)][static_cast<size_t>(pc)];
            if (tones & bit(pc)) {
                entry = std::log(chordShare / toneCount);
            } else if (scale & bit(pc)) {
                entry = std::log((1.0 - chordShare - kOutsideScaleShare) / otherCount);
            } else {
                entry = std::log(kOutsideScaleShare / std::max(1, outsideCount));
            }
        }
    }
    return table;
}

// Walks the melody cut at bar lines: calls part(bar, pitch class, tick in bar, length) for
// every piece of every note, notes in order, a note's pieces in order.
template <typename PartFn>
void forEachPart(const Melody& melody, PartFn&& part) {
    const auto barCount = static_cast<int32_t>(melody.bars.size());
    for (const Note& note : melody.notes) {
        const int pc = pitchClassOf(note.pitch);
        int32_t bar = note.bar, tick = note.tick, left = note.duration;
        while (left > 0 && bar >= 0 && bar < barCount) {
            const int32_t length = melody.bars[static_cast<size_t>(bar)].ticksPerBar;
            if (length <= 0) break;
            const int32_t piece = std::min(left, length - tick);
            if (piece <= 0) break;
            part(bar, pc, tick, piece);
            left -= piece;
            ++bar;
            tick = 0;
        }
    }
}

ChordCode withType(ChordCode triad, int type) {
    return makeChordCode(chordKey(triad), type);
}

// Step 6: each run of bars holding one triad takes its seventh or sixth when the melody holds
// the added tone long enough; on equal shares the seventh.
void colourRuns(std::vector<BarHarmony>& bars, const BarDurations& durations) {
    size_t begin = 0;
    while (begin < bars.size()) {
        size_t end = begin + 1;
        while (end < bars.size() && bars[end].chord == bars[begin].chord) ++end;
        const ChordCode triad = bars[begin].chord;
        if (triad >= 0 && chordType(triad) == kTriadType) {
            const int root = tonicOf(chordKey(triad));
            const bool minor = isMinorKey(chordKey(triad));
            int64_t total = 0, seventh = 0, sixth = 0;
            for (size_t b = begin; b < end; ++b) {
                total = std::accumulate(durations[b].begin(), durations[b].end(), total);
                seventh += durations[b][static_cast<size_t>((root + kSeventhInterval) % 12)];
                sixth += durations[b][static_cast<size_t>((root + kSixthInterval) % 12)];
            }
            int best = -1;
            double bestShare = 0;
            if (total > 0) {
                const std::pair<double, int> colours[] = {
                    {static_cast<double>(seventh) / static_cast<double>(total), kSeventhType},
                    {static_cast<double>(sixth) / static_cast<double>(total),
                     minor ? kMinorSixthType : kMajorSixthType}};
                for (const auto& [share, type] : colours) {
                    if (share >= kColourShare && (best < 0 || share > bestShare + kTolerance)) {
                        best = type;
                        bestShare = share;
                    }
                }
            }
            if (best >= 0) {
                for (size_t b = begin; b < end; ++b) bars[b].chord = withType(triad, best);
            }
        }
        begin = end;
    }
}

}  // namespace

Vocabulary vocabulary(KeyIndex key) {
    Vocabulary result;
    if (!isValidKey(key)) return result;
    const int tonic = tonicOf(key);
    const bool minorKey = isMinorKey(key);
    auto fill = [&](const auto& table) {
        for (const TableRow& row : table) {
            ChordRow& out = result.rows[static_cast<size_t>(result.count++)];
            out.root = (tonic + row.interval) % kPitchClassCount;
            const int third = row.quality == Quality::kMinor ? 3 : 4;
            out.tones = static_cast<uint16_t>(bit(out.root) | bit((out.root + third) % 12) |
                                              bit((out.root + 7) % 12));
            if (row.quality == Quality::kDominantSeventh) {
                out.tones |= bit((out.root + kSeventhInterval) % 12);
            }
            const KeyIndex chordKeyIndex = keyWithTonic(out.root, row.quality == Quality::kMinor);
            out.code =
                makeChordCode(chordKeyIndex,
                              row.quality == Quality::kDominantSeventh ? kSeventhType : kTriadType);
            out.function = row.function;
            out.logPrior = std::log(row.prior);
        }
    };
    if (minorKey) {
        fill(kMinorTable);
    } else {
        fill(kMajorTable);
    }
    return result;
}

double moveBonus(const ChordRow& from, const ChordRow& to) {
    const bool cadential =
        (from.function == Function::kTonic && to.function == Function::kSubdominant) ||
        (from.function == Function::kSubdominant && to.function == Function::kDominant) ||
        (from.function == Function::kDominant && to.function == Function::kTonic);
    return cadential ? kMoveBonus : 0.0;
}

BarDurations barDurations(const Melody& melody) {
    BarDurations durations(melody.bars.size());
    forEachPart(melody, [&](int32_t bar, int pc, int32_t, int32_t piece) {
        durations[static_cast<size_t>(bar)][static_cast<size_t>(pc)] += piece;
    });
    return durations;
}

Melody melodyOf(const Composition& composition) {
    Melody melody;
    const MeterMap& meter = composition.meterMap();
    melody.ticksPerQuarter = meter.ticksPerQuarter;
    melody.fileKey = composition.fileKey;
    // A project keeps no separate file key: its key signature is the file's.
    if (melody.fileKey < 0 && composition.findEvent(event_kind::kKeySignature, 0, false)) {
        melody.fileKey = composition.eventValue(event_kind::kKeySignature, 0);
    }
    const int32_t barCount = std::max(composition.barCount, 0);
    melody.bars.reserve(static_cast<size_t>(barCount));
    for (int32_t bar = 0; bar < barCount; ++bar) {
        const MeterSegment* segment = meter.segmentOfBar(bar);
        BarMeter m;
        if (segment) {
            m = {segment->ticksPerBar, segment->numerator, segment->denominator,
                 segment->ticksPerBeat};
        }
        melody.bars.push_back(m);
    }
    const std::vector<NoteRecord>& notes = composition.noteTracks().notes(0);
    melody.notes.reserve(notes.size());
    for (const NoteRecord& note : notes) {
        melody.notes.push_back(
            {note.position.bar,
             meter.tickOfPosition(note.position) - meter.tickOfBar(note.position.bar),
             note.duration, note.key});
    }
    return melody;
}

std::array<double, kKeyCount> keyScores(const Melody& melody) {
    std::array<double, kKeyCount> scores{};
    if (melody.notes.empty()) return scores;
    std::array<int64_t, kPitchClassCount> ticks{};
    for (const Note& note : melody.notes)
        ticks[static_cast<size_t>(pitchClassOf(note.pitch))] += note.duration;
    std::array<double, kPitchClassCount> histogram{};
    for (size_t pc = 0; pc < histogram.size(); ++pc) histogram[pc] = static_cast<double>(ticks[pc]);
    const int last = pitchClassOf(melody.notes.back().pitch);
    int firstDownbeat = -1;
    for (const Note& note : melody.notes) {
        if (note.tick == 0) {
            firstDownbeat = pitchClassOf(note.pitch);
            break;
        }
    }
    for (KeyIndex k = 0; k < kKeyCount; ++k) {
        const auto& profile = isMinorKey(k) ? kMinorProfile : kMajorProfile;
        const int tonic = tonicOf(k);
        std::array<double, kPitchClassCount> rotated{};
        for (int pc = 0; pc < kPitchClassCount; ++pc) {
            rotated[static_cast<size_t>(pc)] =
                profile[static_cast<size_t>((pc - tonic + kPitchClassCount) % kPitchClassCount)];
        }
        // The bonuses are added in this grouping so that ties between keys fall exactly as
        // the method's written form has them.
        double score = pearson(histogram, rotated);
        score += kLastNoteBonus * (last == tonic ? 1.0 : 0.0) +
                 kFirstDownbeatBonus * (firstDownbeat == tonic ? 1.0 : 0.0);
        score += kSignatureBonus * (k == melody.fileKey ? 1.0 : 0.0);
        scores[static_cast<size_t>(k)] = score;
    }
    return scores;
}

KeyIndex chooseKey(const Melody& melody) {
    if (melody.notes.empty()) return kNoKey;
    const std::array<double, kKeyCount> scores = keyScores(melody);
    KeyIndex best = 0;
    for (KeyIndex k = 1; k < kKeyCount; ++k) {
        if (scores[static_cast<size_t>(k)] > scores[static_cast<size_t>(best)] + kTolerance)
            best = k;
    }
    return best;
}

int32_t firstChordBar(const Melody& melody) {
    if (melody.notes.empty()) return 0;
    const Note& first = melody.notes.front();
    const int32_t eighth = std::max<int32_t>(1, 4 * melody.ticksPerQuarter / 8);
    return first.tick >= eighth ? first.bar + 1 : first.bar;
}

std::vector<BarScores> barScores(const Melody& melody, KeyIndex key) {
    std::vector<BarScores> scores(melody.bars.size());
    if (melody.notes.empty() || !isValidKey(key)) return scores;
    const Vocabulary voc = vocabulary(key);
    const uint16_t scale = scaleOf(key);
    std::array<ToneTable, 4> tables{};
    for (size_t level = 0; level < tables.size(); ++level) {
        tables[level] = toneTable(voc, scale, kChordToneShare[level]);
    }
    const int32_t first = firstChordBar(melody);
    std::vector<double> weights(melody.bars.size(), 0.0);
    forEachPart(melody, [&](int32_t bar, int pc, int32_t tick, int32_t piece) {
        if (bar < first) return;
        const BarMeter& meter = melody.bars[static_cast<size_t>(bar)];
        const double beats = meter.ticksPerBeat > 0
                                 ? static_cast<double>(piece) / meter.ticksPerBeat
                                 : static_cast<double>(piece) / meter.ticksPerBar;
        const bool late = int64_t{tick} * 2 >= meter.ticksPerBar;
        const double weight = beats * (late ? kSecondHalfWeight : 1.0);
        const ToneTable& table = tables[static_cast<size_t>(metricalLevel(tick, meter))];
        BarScores& out = scores[static_cast<size_t>(bar)];
        weights[static_cast<size_t>(bar)] += weight;
        for (int j = 0; j < voc.count; ++j) {
            out.score[static_cast<size_t>(j)] +=
                weight * table[static_cast<size_t>(j)][static_cast<size_t>(pc)];
        }
    });
    for (size_t b = 0; b < scores.size(); ++b) {
        BarScores& out = scores[b];
        out.scored = weights[b] > 0;
        for (int j = 0; j < voc.count; ++j) {
            const auto row = static_cast<size_t>(j);
            out.score[row] =
                out.scored ? voc.rows[row].logPrior + kMelodyWeight * out.score[row] / weights[b]
                           : 0.0;
        }
    }
    return scores;
}

namespace {

// The max-product forward scores with back-pointers, and the backward scores, over the scored
// bars only.
struct Trellis {
    std::vector<int32_t> bars;  // the scored bars, in order
    std::vector<std::array<double, 9>> forward;
    std::vector<std::array<double, 9>> backward;
    std::vector<std::array<int8_t, 9>> back;
    std::vector<int> path;  // row per scored bar
};

Trellis solve(const std::vector<BarScores>& scores, const Vocabulary& voc) {
    Trellis t;
    const int n = voc.count;
    for (size_t b = 0; b < scores.size(); ++b) {
        if (scores[b].scored) t.bars.push_back(static_cast<int32_t>(b));
    }
    if (t.bars.empty() || n == 0) return t;
    std::array<std::array<double, 9>, 9> move{};
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            move[static_cast<size_t>(i)][static_cast<size_t>(j)] =
                moveBonus(voc.rows[static_cast<size_t>(i)], voc.rows[static_cast<size_t>(j)]);
        }
    }
    const size_t steps = t.bars.size();
    t.forward.resize(steps);
    t.backward.assign(steps, std::array<double, 9>{});
    t.back.resize(steps);
    auto emission = [&](size_t step) -> const std::array<double, 9>& {
        return scores[static_cast<size_t>(t.bars[step])].score;
    };
    t.forward[0] = emission(0);
    for (size_t s = 1; s < steps; ++s) {
        const auto& previous = t.forward[s - 1];
        for (size_t j = 0; j < static_cast<size_t>(n); ++j) {
            size_t bestRow = 0;
            double best = previous[0] + move[0][j];
            for (size_t i = 1; i < static_cast<size_t>(n); ++i) {
                const double value = previous[i] + move[i][j];
                if (value > best + kTolerance) {
                    bestRow = i;
                    best = value;
                }
            }
            t.forward[s][j] = best + emission(s)[j];
            t.back[s][j] = static_cast<int8_t>(bestRow);
        }
    }
    for (size_t s = steps - 1; s-- > 0;) {
        const auto& next = t.backward[s + 1];
        const auto& nextEmission = emission(s + 1);
        for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
            double best = move[i][0] + nextEmission[0] + next[0];
            for (size_t j = 1; j < static_cast<size_t>(n); ++j) {
                best = std::max(best, move[i][j] + nextEmission[j] + next[j]);
            }
            t.backward[s][i] = best;
        }
    }
    size_t row = 0;
    for (size_t q = 1; q < static_cast<size_t>(n); ++q) {
        if (t.forward[steps - 1][q] > t.forward[steps - 1][row] + kTolerance) row = q;
    }
    t.path.assign(steps, 0);
    for (size_t s = steps; s-- > 0;) {
        t.path[s] = static_cast<int>(row);
        if (s > 0) row = static_cast<size_t>(t.back[s][row]);
    }
    return t;
}

// Rows by descending max-marginal; on equal values the chosen row, then the lower index.
std::array<int, 9> ranking(const Trellis& t, size_t step, int count) {
    std::array<double, 9> marginal{};
    for (size_t q = 0; q < static_cast<size_t>(count); ++q) {
        marginal[q] = t.forward[step][q] + t.backward[step][q];
    }
    std::array<int, 9> order{};
    std::iota(order.begin(), order.end(), 0);
    const int chosen = t.path[step];
    std::sort(order.begin(), order.begin() + count, [&](int a, int b) {
        const double ma = marginal[static_cast<size_t>(a)], mb = marginal[static_cast<size_t>(b)];
        if (ma != mb) return ma > mb;
        if ((a == chosen) != (b == chosen)) return a == chosen;
        return a < b;
    });
    return order;
}

// Bars after the first scored bar that have no score hold the row before them.
std::vector<int> rowsPerBar(const Trellis& t, size_t barCount) {
    std::vector<int> rows(barCount, -1);
    for (size_t s = 0; s < t.bars.size(); ++s) rows[static_cast<size_t>(t.bars[s])] = t.path[s];
    int last = -1;
    for (size_t b = 0; b < barCount; ++b) {
        if (rows[b] >= 0) {
            last = rows[b];
        } else {
            rows[b] = last;
        }
    }
    return rows;
}

}  // namespace

std::vector<int> bestPath(const std::vector<BarScores>& scores, const Vocabulary& vocabulary) {
    const Trellis t = solve(scores, vocabulary);
    return rowsPerBar(t, scores.size());
}

std::vector<BarHarmony> harmonise(const Melody& melody, KeyIndex key) {
    std::vector<BarHarmony> bars(melody.bars.size());
    if (melody.notes.empty() || !isValidKey(key)) return bars;
    const Vocabulary voc = vocabulary(key);
    const std::vector<BarScores> scores = barScores(melody, key);
    const Trellis t = solve(scores, voc);
    const std::vector<int> rows = rowsPerBar(t, bars.size());
    for (size_t b = 0; b < bars.size(); ++b) {
        if (rows[b] >= 0) bars[b].chord = voc.rows[static_cast<size_t>(rows[b])].code;
    }
    colourRuns(bars, barDurations(melody));

    for (BarHarmony& bar : bars) {
        if (bar.chord >= 0) bar.ranked[static_cast<size_t>(bar.rankedCount++)] = bar.chord;
    }
    // Step 7: among the four best rows of a scored bar, those with another root.
    for (size_t s = 0; s < t.bars.size(); ++s) {
        BarHarmony& bar = bars[static_cast<size_t>(t.bars[s])];
        const int chosenRoot = voc.rows[static_cast<size_t>(t.path[s])].root;
        const std::array<int, 9> order = ranking(t, s, voc.count);
        for (int i = 0; i < 4 && i < voc.count && bar.rankedCount < 3; ++i) {
            const ChordRow& row = voc.rows[static_cast<size_t>(order[static_cast<size_t>(i)])];
            if (row.root != chosenRoot)
                bar.ranked[static_cast<size_t>(bar.rankedCount++)] = row.code;
        }
    }
    return bars;
}

}  // namespace draft_four

namespace {

void markKey(Composition& composition, KeyIndex key) {
    composition.keyMarks.fill(key_mark::kUnused);
    const RelatedKeys related = relatedKeys(key);
    composition.keyMarks[static_cast<size_t>(related.dominant)] = key_mark::kDominant;
    composition.keyMarks[static_cast<size_t>(related.subdominant)] = key_mark::kSubdominant;
    composition.keyMarks[static_cast<size_t>(key)] = key_mark::kMain;
}

}  // namespace

StatusCode runDraftFour(Composition& composition, const HarmonyOptions& options) {
    composition.keys.clear();
    composition.slots.clear();
    if (!composition.notes || composition.noteTracks().count(0) == 0) {
        return status::kTooLittleMaterial;
    }
    try {
        const draft_four::Melody melody = draft_four::melodyOf(composition);
        const KeyIndex key = options.AutoKey ? draft_four::chooseKey(melody)
                                             : composition.eventValue(event_kind::kKeySignature, 0);
        if (!isValidKey(key)) return status::kKeyNotRecognised;
        composition.keys.assign(1, KeyRecord{static_cast<int16_t>(key), 0, 0});
        markKey(composition, key);

        const std::vector<draft_four::BarHarmony> bars = draft_four::harmonise(melody, key);
        const RelatedKeys related = relatedKeys(key);
        const ChordCode mainChords[] = {makeChordCode(key, 0), makeChordCode(related.dominant, 1),
                                        makeChordCode(related.subdominant, 0)};
        const int maxExtra = std::clamp<int>(options.MaxNumCustomChords, 0, 9);
        composition.slots.assign(bars.size(), HarmonySlot{});
        for (size_t b = 0; b < bars.size(); ++b) {
            HarmonySlot& slot = composition.slots[b];
            int count = 0;
            auto offer = [&](ChordCode code) {
                const auto end = slot.candidates.begin() + count;
                if (code < 0 || std::find(slot.candidates.begin(), end, code) != end) return;
                const bool main = count == 0 && bars[b].chord >= 0;
                if (!main && slot.extraCount >= maxExtra) return;
                slot.candidates[static_cast<size_t>(count++)] = code;
                if (main) {
                    slot.mainCount = 1;
                } else {
                    ++slot.extraCount;
                }
            };
            for (int i = 0; i < bars[b].rankedCount; ++i)
                offer(bars[b].ranked[static_cast<size_t>(i)]);
            for (const ChordCode code : mainChords) offer(code);
        }
    } catch (const std::bad_alloc&) {
        composition.keys.clear();
        composition.slots.clear();
        return status::kOutOfMemory;
    }
    return status::kOk;
}

}  // namespace varimel
