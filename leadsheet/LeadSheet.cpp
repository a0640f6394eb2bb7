#include "leadsheet/LeadSheet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <vector>

#include "engine/ByteIO.h"
#include "engine/Tonality.h"
#include "leadsheet/Xml.h"

namespace varimel {

namespace {

constexpr const char* kDoctype =
    "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
    "\"http://www.musicxml.org/dtds/partwise.dtd\">";

// A written note value: a plain, dotted or double-dotted value, or a triplet value.
struct NoteValue {
    int64_t ticks;
    const char* type;
    int dots;
    bool triplet;
};

// Every value from the whole note down to the 128th that is a whole number of ticks, longest
// first.
std::vector<NoteValue> noteValues(int64_t ticksPerQuarter) {
    static constexpr const char* kTypes[] = {"whole", "half", "quarter", "eighth",
                                             "16th",  "32nd", "64th",    "128th"};
    std::vector<NoteValue> values;
    for (int k = 0; k < 8; ++k) {
        const int64_t whole = 4 * ticksPerQuarter;
        if (whole % (int64_t{1} << k) != 0) break;
        const int64_t base = whole >> k;
        values.push_back({base, kTypes[k], 0, false});
        if (base % 2 == 0) values.push_back({base * 3 / 2, kTypes[k], 1, false});
        if (base % 4 == 0) values.push_back({base * 7 / 4, kTypes[k], 2, false});
        if (base % 3 == 0) values.push_back({base * 2 / 3, kTypes[k], 0, true});
    }
    std::stable_sort(values.begin(), values.end(),
                     [](const NoteValue& a, const NoteValue& b) { return a.ticks > b.ticks; });
    return values;
}

// Splits a duration into written values that add up to it, plain values preferred over
// triplets. A rest of a tick that no value reaches is added to the last value's duration, so
// the bar keeps its exact length.
struct Piece {
    int64_t ticks;
    const NoteValue* value;
};
std::vector<Piece> splitDuration(int64_t ticks, const std::vector<NoteValue>& values) {
    for (bool allowTriplets : {false, true}) {
        std::vector<Piece> pieces;
        int64_t left = ticks;
        for (const NoteValue& value : values) {
            if (value.triplet && !allowTriplets) continue;
            while (left >= value.ticks) {
                pieces.push_back({value.ticks, &value});
                left -= value.ticks;
            }
        }
        if (left == 0 || allowTriplets) {
            if (pieces.empty()) pieces.push_back({0, &values.back()});
            pieces.back().ticks += left;
            return pieces;
        }
    }
    return {};
}

// Notes struck together (a chord), or a rest when `keys` is empty.
struct Group {
    int64_t start;
    int64_t end;
    std::vector<int> keys;
};

struct Measure {
    int64_t start;    // first tick written
    int64_t end;      // bar line after it
    int64_t barLine;  // bar line before it (before the start of a pick-up)
    int numerator;    // meter
    int denominator;
    bool pickup;
};

int64_t roundTo(int64_t value, int64_t grid) {
    return (value + grid / 2) / grid * grid;
}

class LeadSheetWriter {
  public:
    LeadSheetWriter(const Composition& c, const LeadSheetOptions& options)
        : c_(c), options_(options), meter_(c.meterMap()) {}

    std::string write() {
        tpq_ = c_.ticksPerQuarter > 0 ? c_.ticksPerQuarter : 480;
        key_ = leadSheetKey(c_);
        const KeySignature signature = keyToSignature(key_);
        fifths_ = signature.sharpsFlats;
        minor_ = signature.minor != 0;
        collectMelody();
        layOutMeasures();
        collectKeyChanges();
        chooseGrid();
        values_ = noteValues(tpq_);

        xml::Writer out(kDoctype);
        out.open("score-partwise", {{"version", "4.0"}});
        if (!options_.title.empty()) {
            out.open("work");
            out.leaf("work-title", options_.title);
            out.close();
        }
        out.open("identification");
        if (!options_.composer.empty())
            out.leaf("creator", options_.composer, {{"type", "composer"}});
        out.open("encoding");
        out.leaf("software", "Varimel");
        out.close();
        out.close();
        out.open("part-list");
        writePartName(out, "P1", "Melody", 0);
        if (options_.accompaniment) writePartName(out, "P2", "Accompaniment", 1);
        out.close();

        writePart(out, "P1", melody_, true);
        if (options_.accompaniment) writePart(out, "P2", blockChords(), false);
        return out.finish();
    }

  private:
    // The part and the instrument that plays it: the channel's program when the document has
    // channel settings, else a piano.
    void writePartName(xml::Writer& out, const char* id, const char* name, int channel) {
        const std::string instrument = std::string(id) + "-I1";
        out.open("score-part", {{"id", id}});
        out.leaf("part-name", name);
        out.open("score-instrument", {{"id", instrument}});
        out.leaf("instrument-name", name);
        out.close();
        out.open("midi-instrument", {{"id", instrument}});
        out.leaf("midi-channel", std::to_string(channel + 1));
        const int program = c_.channelSettings
                                ? c_.channelSettings->program[static_cast<size_t>(channel)] & 0x7F
                                : 0;
        out.leaf("midi-program", std::to_string(program + 1));
        out.close();
        out.close();
    }

    // The melody as groups in time order; a note that overlaps the next one ends where it
    // starts, as a single voice must.
    void collectMelody() {
        const NoteTracks& notes = c_.noteTracks();
        for (const NoteRecord& note : notes.notes(0)) {
            const int64_t start = meter_.tickOfPosition(note.position);
            const int64_t end = start + std::max<int64_t>(note.duration, 1);
            if (!melody_.empty() && melody_.back().start == start) {
                melody_.back().keys.push_back(note.key);
                continue;
            }
            melody_.push_back({start, end, {note.key}});
        }
        std::stable_sort(melody_.begin(), melody_.end(),
                         [](const Group& a, const Group& b) { return a.start < b.start; });
    }

    void layOutMeasures() {
        for (const TrackEvent& event : c_.conductorEvents.events())
            if (event.kind == event_kind::kTempo && event.value > 0)
                tempos_.emplace_back(meter_.tickOfPosition(event.position), event.value);
        int64_t lastEnd = 0;
        for (const Group& g : melody_) lastEnd = std::max(lastEnd, g.end);
        int32_t bars = std::max<int32_t>(c_.barCount, static_cast<int32_t>(c_.chordTrack.size()));
        if (lastEnd > 0)
            bars = std::max<int32_t>(bars, static_cast<int32_t>(meter_.barOfTick(lastEnd - 1)) + 1);
        bars = std::max(bars, 1);
        for (int32_t bar = 0; bar < bars; ++bar) {
            Measure m{};
            m.start = m.barLine = measures_.empty() ? 0 : measures_.back().end;
            meter_.meterOfBar(bar, m.numerator, m.denominator);
            const int64_t length = meter_.ticksPerBar(bar);
            // A document without any meter is in 4/4, as a MIDI file without one.
            if (length <= 0) m.numerator = m.denominator = 4;
            m.end = m.start + (length > 0 ? length : 4 * tpq_);
            measures_.push_back(m);
        }
        // A first bar that begins with silence is a pick-up - written as a short bar that the
        // bar numbers do not count - when it is silent for half its length or more, or when the
        // last bar holds just what the silence leaves out (the two make one bar). A full bar
        // that opens with a shorter rest is written as it is.
        if (bars > 1 && !melody_.empty() && melody_.front().start < measures_[0].end) {
            const int64_t offset = melody_.front().start - measures_[0].start;
            const bool halfSilent = 2 * offset >= measures_[0].end - measures_[0].start;
            const bool completedAtTheEnd = lastEnd - measures_.back().start == offset;
            if (offset >= tpq_ / 2 && (halfSilent || completedAtTheEnd)) {
                measures_[0].start += offset;
                measures_[0].pickup = true;
            }
        }
    }

    // The finest grid on which every note starts and ends, counted from the bar lines (so a
    // pick-up's length never sets it): exact when it is not finer than a 128th. Otherwise (a
    // played, unquantised melody) the times are taken to 480 ticks a quarter and notes move to
    // the grid of the value nearest to the shortest note, or to a third of it when that keeps
    // more notes apart (triplets); bars keep their lengths.
    void chooseGrid() {
        int64_t grid = tpq_ * 4;
        auto fold = [&grid](int64_t value) { grid = std::gcd(grid, value); };
        for (const Measure& m : measures_) fold(m.end - m.barLine);
        for (const Group& g : melody_) fold(g.start), fold(g.end);
        if (grid * 32 >= tpq_) {
            grid_ = grid;
            return;
        }
        constexpr int64_t kQuantisedTicksPerQuarter = 480;
        auto rescale = [this](int64_t tick) {
            return (tick * kQuantisedTicksPerQuarter + tpq_ / 2) / tpq_;
        };
        for (Measure& m : measures_)
            m.start = rescale(m.start), m.end = rescale(m.end), m.barLine = rescale(m.barLine);
        for (Group& g : melody_) g.start = rescale(g.start), g.end = rescale(g.end);
        for (auto& [tick, tempo] : tempos_) tick = rescale(tick);
        tpq_ = kQuantisedTicksPerQuarter;

        int64_t shortest = tpq_ * 4;
        for (const Group& g : melody_) shortest = std::min(shortest, g.end - g.start);
        int64_t step = tpq_;
        while (step % 2 == 0 && step / 2 >= tpq_ / 16 && step * 2 > shortest * 3) step /= 2;
        auto collisions = [this](int64_t candidate) {
            int count = 0;
            for (size_t i = 1; i < melody_.size(); ++i)
                count += roundTo(melody_[i].start, candidate) ==
                         roundTo(melody_[i - 1].start, candidate);
            return count;
        };
        if (collisions(step) > collisions(step / 3)) step /= 3;
        for (const Measure& m : measures_) step = std::gcd(step, m.end - m.barLine);
        grid_ = std::max<int64_t>(step, 1);
        for (Measure& m : measures_) m.start = roundTo(m.start, grid_);
        // A note the grid puts onto the one before it moves on by a step, so that no note is
        // lost.
        for (size_t i = 0; i < melody_.size(); ++i) {
            Group& g = melody_[i];
            g.start = roundTo(g.start, grid_);
            if (i > 0) g.start = std::max(g.start, melody_[i - 1].start + grid_);
            g.end = std::max(roundTo(g.end, grid_), g.start + grid_);
        }
    }

    // Key signatures of the file after its start: each one from the bar line at or after it,
    // when it changes the key.
    void collectKeyChanges() {
        keyOfMeasure_.assign(measures_.size(), {fifths_, minor_});
        std::vector<std::pair<int64_t, std::pair<int, bool>>> changes;
        for (const TrackEvent& event : c_.conductorEvents.events()) {
            if (event.kind != event_kind::kKeySignature) continue;
            const int64_t tick = meter_.tickOfPosition(event.position);
            const int sharpsFlats = static_cast<int8_t>(event.firstByte());
            if (tick <= 0 || sharpsFlats < -7 || sharpsFlats > 7) continue;
            changes.push_back({tick, {sharpsFlats, event.secondByte() != 0}});
        }
        std::stable_sort(changes.begin(), changes.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        size_t next = 0;
        std::pair<int, bool> current{fifths_, minor_};
        for (size_t index = 0; index < measures_.size(); ++index) {
            while (next < changes.size() && changes[next].first <= measures_[index].barLine)
                current = changes[next++].second;
            keyOfMeasure_[index] = current;
        }
    }

    std::vector<Group> blockChords() const {
        std::vector<Group> chords;
        const int base = std::max<int>(c_.accompanimentOctave, 2) * 12;
        for (size_t bar = 0; bar < measures_.size() && bar < c_.chordTrack.size(); ++bar) {
            const ChordTrackEntry& entry = c_.chordTrack[bar];
            if (!entry.enabled || entry.chord < 0) continue;
            Group g{measures_[bar].start, measures_[bar].end, {}};
            for (int pitch : chordTones(chordKey(entry.chord), chordType(entry.chord), base))
                g.keys.push_back(pitch);
            if (!g.keys.empty()) chords.push_back(std::move(g));
        }
        return chords;
    }

    int64_t divisions() const { return tpq_ / std::gcd(tpq_, grid_); }
    std::string inDivisions(int64_t ticks) const {
        return std::to_string(ticks * divisions() / tpq_);
    }

    void writeAttributes(xml::Writer& out, size_t index, int clefLine) {
        const Measure& m = measures_[index];
        const bool meterChanged = index == 0 || m.numerator != measures_[index - 1].numerator ||
                                  m.denominator != measures_[index - 1].denominator;
        const bool keyChanged = index == 0 || keyOfMeasure_[index] != keyOfMeasure_[index - 1];
        if (!meterChanged && !keyChanged) return;
        out.open("attributes");
        if (index == 0) out.leaf("divisions", std::to_string(divisions()));
        if (keyChanged) {
            out.open("key");
            out.leaf("fifths", std::to_string(keyOfMeasure_[index].first));
            out.leaf("mode", keyOfMeasure_[index].second ? "minor" : "major");
            out.close();
        }
        if (meterChanged) {
            out.open("time");
            out.leaf("beats", std::to_string(m.numerator));
            out.leaf("beat-type", std::to_string(m.denominator));
            out.close();
        }
        if (index == 0) {
            out.open("clef");
            out.leaf("sign", clefLine == 2 ? "G" : "F");
            out.leaf("line", std::to_string(clefLine));
            out.close();
        }
        out.close();
    }

    void writeHarmony(xml::Writer& out, size_t bar) {
        if (bar >= c_.chordTrack.size()) return;
        const ChordTrackEntry& entry = c_.chordTrack[bar];
        if (!entry.enabled || entry.chord < 0) return;
        const KeyIndex chordKeyIndex = chordKey(entry.chord);
        if (!isValidKey(chordKeyIndex)) return;
        // Spelled as the window and the chord markers name it, so that both agree.
        const std::string root = spelledNoteName(tonicOf(chordKeyIndex), c_.pieceKey());
        if (root.empty()) return;
        const int alter = static_cast<int>(std::count(root.begin(), root.end(), '#')) -
                          static_cast<int>(std::count(root.begin(), root.end(), 'b'));
        out.open("harmony", {{"print-frame", "no"}});
        out.open("root");
        out.leaf("root-step", root.substr(0, 1));
        if (alter != 0) out.leaf("root-alter", std::to_string(alter));
        out.close();
        out.leaf("kind", musicXmlChordKind(entry.chord), {{"text", chordSuffix(entry.chord)}});
        out.close();
    }

    void writeTempo(xml::Writer& out, const Measure& m, bool first) {
        std::vector<std::pair<int64_t, int32_t>> tempos;
        for (const auto& [tick, value] : tempos_) {
            if (first && tick < m.start)
                tempos.emplace_back(m.start, value);
            else if (tick >= m.start && tick < m.end)
                tempos.emplace_back(tick, value);
        }
        if (first && (tempos.empty() || tempos.front().first > m.start))
            tempos.insert(tempos.begin(), {m.start, c_.eventValue(event_kind::kTempo, 0)});
        for (const auto& [tick, microseconds] : tempos) {
            const double bpm = 60000000.0 / microseconds;
            char text[32];
            std::snprintf(text, sizeof text, "%.2f", bpm);
            std::string tempo = text;
            while (tempo.back() == '0') tempo.pop_back();
            if (tempo.back() == '.') tempo.pop_back();
            out.open("direction", {{"placement", "above"}});
            out.open("direction-type");
            out.open("metronome");
            out.leaf("beat-unit", "quarter");
            out.leaf("per-minute", std::to_string(static_cast<int>(std::lround(bpm))));
            out.close();
            out.close();
            const int64_t offset = roundTo(tick - m.start, grid_);
            if (offset > 0) out.leaf("offset", inDivisions(offset));
            out.empty("sound", {{"tempo", tempo}});
            out.close();
        }
    }

    void writePart(xml::Writer& out, const char* id, const std::vector<Group>& groups,
                   bool melody) {
        int clefLine = 2;
        int64_t sum = 0, count = 0;
        for (const Group& g : groups)
            for (int key : g.keys) sum += key, ++count;
        if (count > 0 && sum / count < 57) clefLine = 4;

        out.open("part", {{"id", id}});
        size_t next = 0;  // first group that may reach into the measure
        int number = measures_[0].pickup ? 0 : 1;
        for (size_t index = 0; index < measures_.size(); ++index, ++number) {
            const Measure& m = measures_[index];
            if (m.pickup)
                out.open("measure", {{"number", "0"}, {"implicit", "yes"}});
            else
                out.open("measure", {{"number", std::to_string(number)}});
            writeAttributes(out, index, clefLine);
            spellingKey_ = keyOfMeasure_[index];
            const BarRepeat* repeat = repeatOf(index);
            if (repeat && (repeat->forward || repeat->endingStarts)) {
                out.open("barline", {{"location", "left"}});
                if (repeat->forward) out.leaf("bar-style", "heavy-light");
                if (repeat->endingStarts)
                    out.empty("ending", {{"number", repeat->endingNumber}, {"type", "start"}});
                if (repeat->forward) out.empty("repeat", {{"direction", "forward"}});
                out.close();
            }
            if (melody) {
                writeTempo(out, m, index == 0);
                writeHarmony(out, index);
            }
            while (next < groups.size() && groups[next].end <= m.start) ++next;
            int64_t cursor = m.start;
            std::vector<std::pair<int64_t, const Group*>> events;  // rests are null
            for (size_t i = next; i < groups.size() && groups[i].start < m.end; ++i) {
                const Group& g = groups[i];
                const int64_t start = std::max(g.start, m.start);
                if (start < cursor) continue;  // overlapped by an earlier note
                if (start > cursor) writeEvent(out, cursor, start, nullptr, false, false);
                // A note sounding into the next one ends where that one starts.
                int64_t end = std::min(g.end, m.end);
                if (i + 1 < groups.size() && groups[i + 1].start > start)
                    end = std::min(end, groups[i + 1].start);
                writeEvent(out, start, end, &g, g.start<m.start, g.end> end && end == m.end);
                cursor = end;
            }
            if (cursor == m.start && !m.pickup) {
                out.open("note");
                out.empty("rest", {{"measure", "yes"}});
                out.leaf("duration", inDivisions(m.end - m.start));
                out.leaf("voice", "1");
                out.close();
            } else if (cursor < m.end) {
                writeEvent(out, cursor, m.end, nullptr, false, false);
            }
            tupletOpen_ = false;
            if (repeat && (repeat->backward || !repeat->endingStop.empty())) {
                out.open("barline", {{"location", "right"}});
                if (repeat->backward) out.leaf("bar-style", "light-heavy");
                if (!repeat->endingStop.empty())
                    out.empty("ending",
                              {{"number", repeat->endingNumber}, {"type", repeat->endingStop}});
                if (repeat->backward) {
                    if (repeat->times > 0)
                        out.empty("repeat", {{"direction", "backward"},
                                             {"times", std::to_string(repeat->times)}});
                    else
                        out.empty("repeat", {{"direction", "backward"}});
                }
                out.close();
            }
            out.close();
        }
        out.close();
    }

    const BarRepeat* repeatOf(size_t bar) const {
        const auto found = std::lower_bound(
            options_.repeats.begin(), options_.repeats.end(), bar,
            [](const BarRepeat& r, size_t b) { return static_cast<size_t>(r.bar) < b; });
        return found != options_.repeats.end() && static_cast<size_t>(found->bar) == bar ? &*found
                                                                                         : nullptr;
    }

    // One note, chord or rest from `start` to `end` within a measure, as tied written values.
    void writeEvent(xml::Writer& out, int64_t start, int64_t end, const Group* group, bool tiedIn,
                    bool tiedOut) {
        const std::vector<Piece> pieces = splitDuration(end - start, values_);
        for (size_t p = 0; p < pieces.size(); ++p) {
            const Piece& piece = pieces[p];
            const bool tieStop = group && (p > 0 || tiedIn);
            const bool tieStart = group && (p + 1 < pieces.size() || tiedOut);
            std::string tuplet;
            if (piece.value->triplet) {
                if (!tupletOpen_) {
                    tupletOpen_ = true;
                    tupletLeft_ = piece.value->ticks * 3;
                    tuplet = "start";
                }
                tupletLeft_ -= piece.value->ticks;
                if (tupletLeft_ <= 0) {
                    tuplet = tuplet == "start" ? "" : "stop";
                    tupletOpen_ = false;
                }
            } else {
                tupletOpen_ = false;
            }
            const size_t keyCount = group ? group->keys.size() : 1;
            for (size_t k = 0; k < keyCount; ++k) {
                out.open("note");
                if (k > 0) out.empty("chord");
                if (group) {
                    const SpelledPitch pitch =
                        spellInKey(group->keys[k], spellingKey_.first, spellingKey_.second);
                    out.open("pitch");
                    out.leaf("step", std::string(1, pitch.step));
                    if (pitch.alter != 0) out.leaf("alter", std::to_string(pitch.alter));
                    out.leaf("octave", std::to_string(pitch.octave));
                    out.close();
                } else {
                    out.empty("rest");
                }
                out.leaf("duration", inDivisions(piece.ticks));
                if (tieStop) out.empty("tie", {{"type", "stop"}});
                if (tieStart) out.empty("tie", {{"type", "start"}});
                out.leaf("voice", "1");
                out.leaf("type", piece.value->type);
                for (int d = 0; d < piece.value->dots; ++d) out.empty("dot");
                if (piece.value->triplet) {
                    out.open("time-modification");
                    out.leaf("actual-notes", "3");
                    out.leaf("normal-notes", "2");
                    out.close();
                }
                if (tieStop || tieStart || (!tuplet.empty() && k == 0)) {
                    out.open("notations");
                    if (tieStop) out.empty("tied", {{"type", "stop"}});
                    if (tieStart) out.empty("tied", {{"type", "start"}});
                    if (!tuplet.empty() && k == 0) out.empty("tuplet", {{"type", tuplet}});
                    out.close();
                }
                out.close();
            }
        }
    }

    const Composition& c_;
    const LeadSheetOptions& options_;
    const MeterMap& meter_;
    int64_t tpq_ = 480;
    KeyIndex key_ = 7;
    int fifths_ = 0;
    bool minor_ = false;
    std::vector<std::pair<int, bool>> keyOfMeasure_;  // fifths and minor, per measure
    std::pair<int, bool> spellingKey_{0, false};
    std::vector<Group> melody_;
    std::vector<Measure> measures_;
    std::vector<NoteValue> values_;
    int64_t grid_ = 1;
    std::vector<std::pair<int64_t, int32_t>> tempos_;  // tick, microseconds per quarter
    bool tupletOpen_ = false;
    int64_t tupletLeft_ = 0;
};

}  // namespace

KeyIndex leadSheetKey(const Composition& composition) {
    if (!composition.keys.empty() && isValidKey(composition.keys.front().key))
        return composition.keys.front().key;
    if (isValidKey(composition.fileKey)) return composition.fileKey;
    return keyFromName("C-dur");
}

SpelledPitch spellPitch(int midiKey, int fifths) {
    static constexpr char kSharpSteps[] = {'C', 'C', 'D', 'D', 'E', 'F',
                                           'F', 'G', 'G', 'A', 'A', 'B'};
    static constexpr char kFlatSteps[] = {'C', 'D', 'D', 'E', 'E', 'F',
                                          'G', 'G', 'A', 'A', 'B', 'B'};
    static constexpr bool kBlack[] = {false, true,  false, true,  false, false,
                                      true,  false, true,  false, true,  false};
    const int pc = ((midiKey % 12) + 12) % 12;
    const bool flats = fifths < 0 || (fifths == 0 && pc == 10);
    SpelledPitch pitch;
    pitch.octave = midiKey / 12 - 1;
    pitch.step = flats ? kFlatSteps[pc] : kSharpSteps[pc];
    pitch.alter = kBlack[pc] ? (flats ? -1 : 1) : 0;
    return pitch;
}

SpelledPitch spellInKey(int midiKey, int fifths, bool minor) {
    static constexpr char kLetters[] = {'C', 'D', 'E', 'F', 'G', 'A', 'B'};
    static constexpr int kNatural[] = {0, 2, 4, 5, 7, 9, 11};
    // Sharps come in the order F C G D A E B, flats in the reverse order.
    static constexpr int kSharpOrder[] = {3, 0, 4, 1, 5, 2, 6};
    int alter[7] = {};
    for (int i = 0; i < std::abs(fifths) && i < 7; ++i)
        alter[fifths > 0 ? kSharpOrder[i] : kSharpOrder[6 - i]] = fifths > 0 ? 1 : -1;
    // The tonic's letter: the major key's tonic lies four letters up per sharp, the minor's
    // two letters below its relative major's.
    const int majorTonic = ((fifths * 4) % 7 + 7) % 7;
    const int tonic = minor ? (majorTonic + 5) % 7 : majorTonic;
    const int pc = ((midiKey % 12) + 12) % 12;
    auto spelled = [midiKey](int letter, int alteration) {
        SpelledPitch pitch;
        pitch.step = kLetters[letter];
        pitch.alter = alteration;
        pitch.octave = (midiKey - alteration - kNatural[letter]) / 12 - 1;
        return pitch;
    };
    for (int letter = 0; letter < 7; ++letter)
        if ((kNatural[letter] + alter[letter] + 12) % 12 == pc)
            return spelled(letter, alter[letter]);
    if (minor) {
        // The raised seventh and sixth of the minor scale.
        for (int step : {6, 5}) {
            const int letter = (tonic + step) % 7;
            if (alter[letter] < 1 && (kNatural[letter] + alter[letter] + 1 + 12) % 12 == pc)
                return spelled(letter, alter[letter] + 1);
        }
    }
    return spellPitch(midiKey, fifths);
}

const char* musicXmlChordKind(ChordCode chord) {
    const KeyIndex key = chordKey(chord);
    if (!isValidKey(key)) return "none";
    static constexpr const char* kMajor[] = {"major", "dominant", "major-seventh", "major-sixth",
                                             "none"};
    static constexpr const char* kMinor[] = {"minor", "minor-seventh", "minor-sixth",
                                             "half-diminished", "diminished-seventh"};
    const int type = chordType(chord);
    if (type < 0 || type >= kChordTypeCount) return "none";
    return isMinorKey(key) ? kMinor[type] : kMajor[type];
}

std::string chordSuffix(ChordCode chord) {
    const KeyIndex key = chordKey(chord);
    if (!isValidKey(key)) return {};
    std::string name = chordName(chord);
    const std::string_view root = noteName(tonicOf(key));
    name.erase(0, std::min(name.size(), root.size()));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

std::string musicXmlLeadSheet(const Composition& composition, const LeadSheetOptions& options) {
    return LeadSheetWriter(composition, options).write();
}

bool exportMusicXml(const Composition& composition, const LeadSheetOptions& options,
                    const std::string& fileName, std::string& error) {
    const std::string text = musicXmlLeadSheet(composition, options);
    return writeFileAtomically(fileName, std::vector<uint8_t>(text.begin(), text.end()), error);
}

}  // namespace varimel
