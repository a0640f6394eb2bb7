#include "accompaniment/ArrangementRenderer.h"

#include <algorithm>
#include <vector>

#include "accompaniment/ChordToneTable.h"
#include "accompaniment/StyleRenderer.h"
#include "engine/Tonality.h"

namespace varimel {

namespace {

constexpr int kOctave = 12;
constexpr int kSimpleBassOffset = 36;  // the bass root two octaves above the lowest C
constexpr uint16_t kSimpleBassVelocity = 0x6440;
constexpr uint16_t kSimpleDrumVelocity = 0x6440;
constexpr int32_t kPreviewCapacity = 64;
constexpr int kPreviewOrganOctave = 5;
constexpr ChordCode kPreviewChord = makeChordCode(7, 0);  // C major, its tonic triad

bool timeable(const Arrangement& arrangement) {
    return arrangement.ppq > 0 && arrangement.meterNum > 0 && arrangement.meterDen > 0;
}

bool inArrangementMeter(const MeterMap& meterMap, int32_t bar, const Arrangement& arrangement) {
    int numerator = 0, denominator = 0;
    meterMap.meterOfBar(bar, numerator, denominator);
    return numerator == arrangement.meterNum && denominator == arrangement.meterDen;
}

int16_t planOf(const Composition& composition, int32_t bar) {
    const auto& plan = composition.partPlan;
    return bar >= 0 && static_cast<size_t>(bar) < plan.size() ? plan[static_cast<size_t>(bar)]
                                                              : int16_t{-1};
}

void addPatternNote(NoteTracks& notes, const PatternEvent& event, int32_t firstBar,
                    const PatternTiming& timing, int pitch, int list, int pitchClass) {
    notes.addNote(foldPitch(pitch), static_cast<uint8_t>(list), event.velocities,
                  placeEvent(event, firstBar, timing), scaledDuration(event, timing),
                  static_cast<uint8_t>(pitchClass));
}

}  // namespace

int renderArrangement(Composition& composition) {
    NoteTracks& notes = composition.noteTracks();
    const std::span<const ChordTrackEntry> chords(composition.chordTrack);
    const int organBase = composition.accompanimentOctave * kOctave;
    const int32_t lastBar = composition.barCount - 1;
    const Arrangement* arrangement = composition.arrangement;

    // A damaged arrangement (no parts, no timing) is played as if none had been found.
    if (composition.arrangementId != kNoArrangement && arrangement && timeable(*arrangement) &&
        !arrangement->parts.empty()) {
        for (int32_t bar = 0; bar < lastBar;) {
            const int16_t plan = planOf(composition, bar);
            if (plan < 0) {
                ++bar;
                continue;
            }
            if (!inArrangementMeter(notes.meterMap(), bar, *arrangement)) {
                renderSimpleBar(notes, chords, bar, organBase);
                ++bar;
                continue;
            }
            const int continues = bar + 1 < lastBar && planOf(composition, bar + 1) == plan;
            // An arrangement with fewer parts than the plan names wraps around the parts it has.
            const int part = plan % arrangement->partCount();
            const int32_t from = bar;
            applyArrangementPart(notes, chords, bar, lastBar, arrangement, part, organBase,
                                 continues);
            bar = std::max(bar, from + 1);
        }
        if (lastBar >= 0) renderSimpleBar(notes, chords, lastBar, organBase);
    } else {
        renderSimpleAccompaniment(notes, chords, 0, composition.barCount, organBase - kOctave);
    }
    return notes.count(accompaniment_list::kOrgan);
}

int applyArrangementPart(NoteTracks& notes, std::span<const ChordTrackEntry> chords, int32_t& bar,
                         int32_t lastBar, const Arrangement* arrangement, int part, int organBase,
                         int continues) {
    if (!arrangement) return 0;
    const int32_t firstBar = bar;
    if (!timeable(*arrangement) || part < 0 || part >= arrangement->partCount()) {
        bar = firstBar + 1;
        return 0;
    }
    MeterMap& meterMap = notes.meterMap();
    if (meterMap.segmentCount() == 0) {
        prepareScratchMeter(meterMap, arrangement->meterNum, arrangement->meterDen);
    }
    int numerator = 0, denominator = 0;
    meterMap.meterOfBar(firstBar, numerator, denominator);
    PatternTiming timing;
    timing.tickScale =
        static_cast<float>(meterMap.ticksPerQuarter) / static_cast<float>(arrangement->ppq);
    timing.beatRatio = static_cast<double>(numerator) / arrangement->meterNum;
    timing.ppq = arrangement->ppq;
    timing.meterDen = arrangement->meterDen;

    const ArrangementPart& lines = arrangement->parts[static_cast<size_t>(part)];
    const auto& organ = lines.organ;
    const auto& bass = lines.bass;
    size_t organIndex = 0;
    size_t bassIndex = 0;

    // A pass that starts on a bar without chord begins with the next bar's chord, leaving out
    // its first pattern bar, or plays only the drums.
    int32_t chordBar = firstBar;
    bool playLines = true;
    if (playableChord(chords, firstBar) < 0) {
        chordBar = firstBar + 1;
        if (continues == 1 && playableChord(chords, chordBar) >= 0) {
            while (organIndex < organ.size() && organ[organIndex].bar == 0) ++organIndex;
            while (bassIndex < bass.size() && bass[bassIndex].bar == 0) ++bassIndex;
        } else {
            playLines = false;
        }
    }

    // Both lines share one table, so a bass selector the organ never uses still has its tone.
    const uint8_t selectors = selectorsUsed(organ) | selectorsUsed(bass);
    ChordToneTable table;
    int32_t tableBar = -1;
    if (playLines) {
        table = buildChordToneTable(playableChord(chords, chordBar), selectors);
        tableBar = chordBar;
    }

    int32_t meterChangeBar = -1;
    int32_t organReached = firstBar;
    while (playLines && (organIndex < organ.size() || bassIndex < bass.size())) {
        const PatternEvent* organEvent = organIndex < organ.size() ? &organ[organIndex] : nullptr;
        const PatternEvent* bassEvent = bassIndex < bass.size() ? &bass[bassIndex] : nullptr;
        const bool playOrgan = organEvent && (!bassEvent || organEvent->bar <= bassEvent->bar);
        const bool playBass = bassEvent && (!organEvent || bassEvent->bar <= organEvent->bar);
        const int32_t stepBar = firstBar + (playOrgan ? organEvent->bar : bassEvent->bar);

        if (stepBar > firstBar) {
            if (stepBar > lastBar) break;
            const ChordCode chord = playableChord(chords, stepBar);
            if (continues == 0 || chord < 0) break;
            if (!inArrangementMeter(meterMap, stepBar, *arrangement)) {
                meterChangeBar = stepBar;
                break;
            }
            if (stepBar != tableBar) {
                table = buildChordToneTable(chord, selectors);
                tableBar = stepBar;
            }
        }
        const bool placeable = stepBar >= firstBar;  // negative pattern bars: damaged files
        if (playOrgan) {
            const int tone = table.tone(organEvent->tone);
            if (placeable && tone >= 0) {
                const int pitch = organBase + tone + (tone < table.firstTone() ? kOctave : 0);
                addPatternNote(notes, *organEvent, firstBar, timing, pitch,
                               accompaniment_list::kOrgan, tone);
            }
            organReached = std::max(organReached, stepBar);
            ++organIndex;
        }
        if (playBass) {
            const int tone = table.tone(bassEvent->tone);
            if (placeable && tone >= 0) {
                const int pitch =
                    bassEvent->octave * kOctave + tone + (tone < table.firstTone() ? kOctave : 0);
                addPatternNote(notes, *bassEvent, firstBar, timing, pitch,
                               accompaniment_list::kBass, tone);
            }
            ++bassIndex;
        }
    }

    int drumsPlaced = 0;
    int32_t drumReached = firstBar;
    for (const PatternEvent& event : lines.drums) {
        if (event.bar < 0) continue;
        const int32_t eventBar = firstBar + event.bar;
        if (eventBar > firstBar) {
            if (eventBar > lastBar) break;
            // The drums stop where the lines stopped for a new meter, not before it.
            if (continues == 0 || !barEnabled(chords, eventBar) ||
                (meterChangeBar >= 0 && eventBar >= meterChangeBar)) {
                drumReached = eventBar - 1;
                break;
            }
        }
        if (event.tone < 0) continue;  // not a drum note
        notes.addNote(static_cast<uint8_t>(event.tone), accompaniment_list::kDrums,
                      event.velocities, placeEvent(event, firstBar, timing),
                      scaledDuration(event, timing), static_cast<uint8_t>(event.tone));
        ++drumsPlaced;
        drumReached = eventBar;
    }

    int32_t reached = lines.drums.empty() ? organReached : drumReached;
    if (meterChangeBar >= 0) {
        renderSimpleBar(notes, chords, meterChangeBar, organBase);
        reached = meterChangeBar;
    }
    bar = std::max(reached + 1, firstBar + 1);
    return drumsPlaced;
}

void renderSimpleBar(NoteTracks& notes, std::span<const ChordTrackEntry> chords, int32_t bar,
                     int organBase) {
    if (bar < 0) return;
    const MeterMap& meterMap = notes.meterMap();
    const SongPosition downbeat{static_cast<uint16_t>(bar), 0, 0};
    const ChordCode chord = playableChord(chords, bar);
    if (chord >= 0) {
        const ChordTones tones = chordTones(chordKey(chord), chordType(chord), 0);
        const uint16_t duration = heldChordDuration(meterMap, bar);
        if (tones.count > 0) {
            notes.addNote(foldPitch(tones[0] + kSimpleBassOffset), accompaniment_list::kBass,
                          kSimpleBassVelocity, downbeat, duration, static_cast<uint8_t>(tones[0]));
        }
        for (const int tone : tones) {
            notes.addNote(foldPitch(organBase + tone), accompaniment_list::kOrgan,
                          kHeldChordVelocity, downbeat, duration, 0);
        }
    }
    int numerator = 0, denominator = 0;
    meterMap.meterOfBar(bar, numerator, denominator);
    const uint16_t hitLength = static_cast<uint16_t>(std::clamp(meterMap.sixteenth, 1, 0xFFFF));
    notes.addNote(gm_drum::kAcousticBassDrum, accompaniment_list::kDrums, kSimpleDrumVelocity,
                  downbeat, hitLength, gm_drum::kAcousticBassDrum);
    for (int beat = 0; beat < numerator; ++beat) {
        const SongPosition position{static_cast<uint16_t>(bar), static_cast<uint8_t>(beat), 0};
        notes.addNote(gm_drum::kClosedHiHat, accompaniment_list::kDrums, kSimpleDrumVelocity,
                      position, hitLength, gm_drum::kClosedHiHat);
    }
}

void renderSimpleAccompaniment(NoteTracks& notes, std::span<const ChordTrackEntry> chords,
                               int32_t fromBar, int32_t barCount, int organBase) {
    if (notes.meterMap().segmentCount() == 0) prepareScratchMeter(notes.meterMap(), 4, 4);
    for (int32_t bar = std::max(fromBar, 0); bar < barCount; ++bar) {
        renderSimpleBar(notes, chords, bar, organBase);
    }
}

ArrangementPreview renderArrangementPreview(const Arrangement& arrangement) {
    ArrangementPreview preview;
    if (!timeable(arrangement) || arrangement.parts.empty()) return preview;
    preview.division = arrangement.ppq;
    const ArrangementPart& part = arrangement.parts.front();
    preview.organProgram = part.organProgram;
    preview.bassProgram = part.bassProgram;
    preview.notes = std::make_unique<NoteTracks>();
    NoteTracks& notes = *preview.notes;
    for (const int list :
         {accompaniment_list::kOrgan, accompaniment_list::kBass, accompaniment_list::kDrums})
        notes.allocateList(list, kPreviewCapacity);

    int32_t bars = 1;
    for (const auto* line : {&part.organ, &part.bass, &part.drums})
        for (const PatternEvent& event : *line) bars = std::max<int32_t>(bars, event.bar + 1);
    const std::vector<ChordTrackEntry> chords(static_cast<size_t>(bars),
                                              ChordTrackEntry{kPreviewChord, 1, -1});
    MeterMap& meterMap = notes.meterMap();
    prepareScratchMeter(meterMap, arrangement.meterNum, arrangement.meterDen, arrangement.ppq);

    int32_t bar = 0;
    applyArrangementPart(notes, chords, bar, bars - 1, &arrangement, 0,
                         kPreviewOrganOctave * kOctave, 1);
    for (const int list :
         {accompaniment_list::kOrgan, accompaniment_list::kBass, accompaniment_list::kDrums})
        for (const NoteRecord& note : notes.notes(list))
            notes.raiseEndTick(meterMap.tickOfPosition(note.position) + note.duration);
    return preview;
}

}  // namespace varimel
