#include "accompaniment/StyleRenderer.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "accompaniment/ArrangementRenderer.h"
#include "accompaniment/ChordToneTable.h"
#include "engine/Tonality.h"

namespace varimel {

namespace {

constexpr int kOctave = 12;
constexpr int32_t kFirstRenderCapacity = 50;
constexpr int32_t kPreviewCapacity = 10;
constexpr int32_t kPreviewBarCount = 10;
constexpr ChordCode kPreviewChord = makeChordCode(7, 0);  // C major, its tonic triad

// Patterns with a zero ppq or meter cannot be timed; they play nothing.
bool timeable(const Style& style) {
    return style.ppq > 0 && style.meterNum > 0 && style.meterDen > 0;
}

void addHeldChord(NoteTracks& notes, ChordCode chord, int32_t bar, int basePitch) {
    const SongPosition position{static_cast<uint16_t>(bar), 0, 0};
    const uint16_t duration = heldChordDuration(notes.meterMap(), bar);
    for (const int pitch : chordTones(chordKey(chord), chordType(chord), basePitch)) {
        notes.addNote(foldPitch(pitch), accompaniment_list::kChords, kHeldChordVelocity, position,
                      duration, 0);
    }
}

int32_t lastMelodyBar(const NoteTracks& notes) {
    const auto& melody = notes.notes(accompaniment_list::kMelody);
    return melody.empty() ? -1 : melody.back().position.bar;
}

}  // namespace

namespace {

// A final melody note held into bars after the harmony's last: the accompaniment's last strike
// (block chord, organ, bass) sounds on until the note ends, instead of stopping under it.
void holdLastChord(Composition& composition) {
    NoteTracks& notes = composition.noteTracks();
    const MeterMap& meter = notes.meterMap();
    if (composition.barCount <= 0) return;
    int64_t melodyEnd = 0;
    for (const NoteRecord& note : notes.notes(0))
        melodyEnd =
            std::max<int64_t>(melodyEnd, meter.tickOfPosition(note.position) + note.duration);
    if (melodyEnd <= meter.tickOfBar(composition.barCount)) return;
    const int64_t lastBar = meter.tickOfBar(composition.barCount - 1);
    for (const int list :
         {accompaniment_list::kChords, accompaniment_list::kOrgan, accompaniment_list::kBass}) {
        const std::vector<NoteRecord>& all = notes.notes(list);
        int64_t lastStrike = -1;
        for (const NoteRecord& note : all)
            lastStrike = std::max<int64_t>(lastStrike, meter.tickOfPosition(note.position));
        if (lastStrike < lastBar) continue;
        for (size_t i = 0; i < all.size(); ++i) {
            NoteRecord* note = notes.mutableNote(static_cast<int32_t>(i), list);
            if (meter.tickOfPosition(note->position) != lastStrike) continue;
            note->duration = static_cast<uint16_t>(
                std::min<int64_t>(melodyEnd - lastStrike, std::numeric_limits<uint16_t>::max()));
        }
    }
}

}  // namespace

int renderAccompaniment(Composition& composition) {
    if (!composition.hasChordTrack()) return 0;
    NoteTracks& notes = composition.noteTracks();
    for (const int list : {accompaniment_list::kChords, accompaniment_list::kOrgan,
                           accompaniment_list::kBass, accompaniment_list::kDrums}) {
        if (notes.capacity(list) == 0) {
            notes.allocateList(list, kFirstRenderCapacity);
        } else {
            notes.emptyList(list);
        }
    }

    const uint32_t parts = composition.accompanimentParts;
    int result = 0;
    if (parts == accompaniment_part::kBlockChords) {
        result = renderBlockChords(composition);
    } else {
        if (parts & accompaniment_part::kArrangement) result = renderArrangement(composition);
        if (parts & accompaniment_part::kStyle) result = renderStyle(composition);
    }

    holdLastChord(composition);
    // The piece ends with the melody or with the accompaniment's last chord, whichever is later.
    notes.setEndTick(notes.secondEndTick());
    const auto& chords = notes.notes(accompaniment_list::kChords);
    if (!chords.empty()) {
        const NoteRecord& last = chords.back();
        notes.raiseEndTick(notes.meterMap().tickOfPosition(last.position) + last.duration);
    }
    return result;
}

int renderBlockChords(Composition& composition) {
    NoteTracks& notes = composition.noteTracks();
    const int basePitch = composition.accompanimentOctave * kOctave;
    for (int32_t bar = 0; bar < composition.barCount; ++bar) {
        const ChordCode chord = playableChord(composition.chordTrack, bar);
        if (chord >= 0) addHeldChord(notes, chord, bar, basePitch);
    }
    return notes.count(accompaniment_list::kChords);
}

int renderStyle(Composition& composition) {
    NoteTracks& notes = composition.noteTracks();
    const Style* style = composition.style;
    if (!style) return notes.count(accompaniment_list::kChords);
    const int basePitch = style->octave * kOctave;
    const int32_t heldBar = lastMelodyBar(notes);
    const std::span<const ChordTrackEntry> chords(composition.chordTrack);

    for (int32_t bar = 0; bar < composition.barCount;) {
        const ChordCode chord = playableChord(chords, bar);
        if (chord < 0) {
            ++bar;
            continue;
        }
        int numerator = 0, denominator = 0;
        notes.meterMap().meterOfBar(bar, numerator, denominator);
        if (bar != heldBar && meterFits(style->meters, numerator, denominator)) {
            const int32_t from = bar;
            applyStylePattern(notes, chords, bar, composition.barCount, style, basePitch,
                              accompaniment_list::kChords);
            bar = std::max(bar, from + 1);  // every pass moves on, whatever the pattern holds
            continue;
        }
        addHeldChord(notes, chord, bar, basePitch);
        ++bar;
    }
    return notes.count(accompaniment_list::kChords);
}

int applyStylePattern(NoteTracks& notes, std::span<const ChordTrackEntry> chords, int32_t& bar,
                      int32_t barCount, const Style* style, int basePitch, int list) {
    if (!style) return 0;
    const int32_t firstBar = bar;
    notes.setEndTick(0);
    if (!timeable(*style)) {
        bar = firstBar + 1;
        return 0;
    }
    MeterMap& meterMap = notes.meterMap();
    if (meterMap.segmentCount() == 0) {
        prepareScratchMeter(meterMap, style->meterNum, style->meterDen);
    }

    const uint8_t selectors = selectorsUsed(style->events);
    ChordToneTable table =
        buildChordToneTable(firstBar >= 0 && static_cast<size_t>(firstBar) < chords.size()
                                ? chords[static_cast<size_t>(firstBar)].chord
                                : kNoChord,
                            selectors);
    int32_t tableBar = firstBar;

    // The pattern is stretched to the meter of the bar the pass starts in.
    int numerator = 0, denominator = 0;
    meterMap.meterOfBar(firstBar, numerator, denominator);
    PatternTiming timing;
    timing.tickScale =
        static_cast<float>(meterMap.ticksPerQuarter) / static_cast<float>(style->ppq);
    timing.beatRatio = static_cast<double>(numerator) / style->meterNum;
    timing.ppq = style->ppq;
    timing.meterDen = style->meterDen;

    int placed = 0;
    for (const PatternEvent& event : style->events) {
        if (event.bar < 0) continue;  // before the pattern's start: only in damaged files
        const int32_t eventBar = firstBar + event.bar;
        if (eventBar > firstBar) {
            if (eventBar >= barCount) {
                bar = eventBar + 1;
                return placed;
            }
            if (eventBar != tableBar) {
                const ChordCode chord = playableChord(chords, eventBar);
                int num = 0, den = 0;
                meterMap.meterOfBar(eventBar, num, den);
                if (chord < 0 || !meterFits(style->meters, num, den)) {
                    bar = eventBar;
                    return placed;
                }
                table = buildChordToneTable(chord, selectors);
                tableBar = eventBar;
            }
        }
        const int tone = table.tone(event.tone);
        if (tone < 0) continue;  // a selector the chord has no tone for plays nothing
        const int octaveBase = event.octave == style->octave
                                   ? basePitch
                                   : basePitch - (style->octave - event.octave) * kOctave;
        const int pitch = octaveBase + tone + (tone < table.firstTone() ? kOctave : 0);
        const SongPosition position = placeEvent(event, firstBar, timing);
        const uint16_t duration = scaledDuration(event, timing);
        if (!notes.addNote(foldPitch(pitch), static_cast<uint8_t>(list), event.velocities, position,
                           duration, static_cast<uint8_t>(tone))) {
            continue;
        }
        notes.raiseEndTick(meterMap.tickOfPosition(position) + duration);
        ++placed;
    }
    const int32_t lastEventBar =
        style->events.empty() ? firstBar : firstBar + style->events.back().bar;
    bar = std::max(lastEventBar + 1, firstBar + 1);
    return placed;
}

StylePreview renderStylePreview(const Style& style) {
    StylePreview preview;
    preview.notes = std::make_unique<NoteTracks>();
    preview.division = style.ppq;
    preview.program = style.program;
    preview.program2 = style.program2;
    NoteTracks& notes = *preview.notes;
    notes.allocateList(accompaniment_list::kChords, kPreviewCapacity);

    const std::vector<ChordTrackEntry> chords(style.bars, ChordTrackEntry{kPreviewChord, 1, -1});
    prepareScratchMeter(notes.meterMap(), style.meterNum, style.meterDen, style.ppq);

    int32_t bar = 0;
    preview.eventsPlaced = applyStylePattern(notes, chords, bar, kPreviewBarCount, &style,
                                             style.octave * kOctave, accompaniment_list::kChords);
    return preview;
}

}  // namespace varimel
