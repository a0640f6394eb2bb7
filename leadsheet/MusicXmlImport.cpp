#include "leadsheet/MusicXmlImport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <numeric>
#include <stdexcept>

#include "alg/midi/midi_writer.h"
#include "engine/Limits.h"
#include "leadsheet/Xml.h"

namespace varimel {

namespace {

constexpr int64_t kPreferredTicksPerQuarter = 480;
constexpr int64_t kMaxTicksPerQuarter = 0x7FFF;  // the MIDI header's division
constexpr int64_t kMaxRescaledTicksPerQuarter = 960;
constexpr int64_t kMaxNoteTicks = 0xFFFF;  // a note's duration is 16 bits
// A note or a move of the cursor longer than this many quarter notes is no melody's.
constexpr int64_t kMaxQuarters = 1024;
constexpr int kVelocity = 90;

// A decimal number as MusicXML writes it ("2", "1.5", "-1"); false for anything else.
bool parseNumber(std::string_view text, double& out) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\n' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t'))
        text.remove_suffix(1);
    if (text.empty() || text.size() > 32) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size() && std::isfinite(out);
}

bool parseInt(std::string_view text, int& out, int low, int high) {
    double value = 0;
    if (!parseNumber(text, value) || value != std::floor(value) || value < low || value > high)
        return false;
    out = static_cast<int>(value);
    return true;
}

int stepPitchClass(std::string_view step) {
    static const std::map<std::string_view, int> kSteps = {{"C", 0}, {"D", 2}, {"E", 4}, {"F", 5},
                                                           {"G", 7}, {"A", 9}, {"B", 11}};
    const auto found = kSteps.find(step);
    return found == kSteps.end() ? -1 : found->second;
}

bool isPowerOfTwo(int value) {
    return value > 0 && (value & (value - 1)) == 0;
}

class ScoreReader {
  public:
    ScoreReader(const MusicXmlChoice& choice, ImportedMelody& melody, std::string& problem)
        : choice_(choice), melody_(melody), problem_(problem) {}

    bool read(const xml::Element& root) {
        if (root.name == "score-timewise")
            return fail("a time-wise score; save it as a part-wise score");
        if (root.name != "score-partwise")
            return fail("not a MusicXML score (the root element is '" + root.name + "')");
        const xml::Element* part = nullptr;
        int index = 0;
        for (const xml::Element& child : root.children) {
            if (child.name == "part" && ++index == choice_.part) {
                part = &child;
                break;
            }
        }
        if (!part)
            return fail(index == 0 ? "the score has no part"
                                   : "the score has " + std::to_string(index) + " part" +
                                         (index == 1 ? "" : "s") + ", not " +
                                         std::to_string(choice_.part));
        if (const xml::Element* work = root.child("work"))
            melody_.title = work->childText("work-title");
        if (melody_.title.empty()) melody_.title = root.childText("movement-title");
        if (const xml::Element* identification = root.child("identification"))
            for (const xml::Element& creator : identification->children)
                if (creator.name == "creator" && creator.attribute("type") &&
                    *creator.attribute("type") == "composer" && melody_.composer.empty())
                    melody_.composer = creator.text;
        if (!chooseResolution(*part)) return false;
        chooseVoice(*part);
        std::vector<const xml::Element*> measures;
        for (const xml::Element& measure : part->children)
            if (measure.name == "measure") measures.push_back(&measure);
        if (measures.size() > static_cast<size_t>(limits::kMaxBars))
            return fail("more than " + std::to_string(limits::kMaxBars) + " measures");
        for (const xml::Element* measure : measures) {
            ++measureCount_;
            if (!readMeasure(*measure, measure == measures.back())) return false;
        }
        if (dropped_.grace) warn("grace notes were left out");
        if (dropped_.chords) warn("chords in the melody were reduced to their top note");
        if (dropped_.repeats) warn("repeats are not played out; the melody is read as written");
        if (dropped_.jumps)
            warn(
                "D.C., D.S., Coda, Fine and Segno are not played out; the melody is read as "
                "written");
        if (dropped_.pitches) warn("notes outside the MIDI range were left out");
        return rescale();
    }

  private:
    bool fail(const std::string& why) {
        problem_ = why;
        return false;
    }
    void warn(const std::string& what) { melody_.warnings.push_back(what); }

    // The score is read at the least common multiple of its divisions, so that no duration is
    // rounded; rescale() then brings it to the resolution its notes need.
    bool chooseResolution(const xml::Element& part) {
        int64_t common = 1;
        bool any = false;
        for (const xml::Element& measure : part.children) {
            if (measure.name != "measure") continue;
            for (const xml::Element& attributes : measure.children) {
                if (attributes.name != "attributes" || !attributes.child("divisions")) continue;
                int divisions = 0;
                if (!parseInt(attributes.childText("divisions"), divisions, 1,
                              static_cast<int>(kMaxTicksPerQuarter)))
                    return fail("divisions of '" + attributes.childText("divisions") +
                                "' per quarter note cannot be read");
                common = std::lcm(common, int64_t{divisions});
                if (common > kMaxTicksPerQuarter)
                    return fail("the divisions of the score have no common multiple below " +
                                std::to_string(kMaxTicksPerQuarter));
                any = true;
            }
        }
        if (!any) return fail("the part gives no divisions (the length of a quarter note)");
        tpq_ = common;
        return true;
    }

    // Note durations are 16-bit ticks, so a fine resolution (10,080 a quarter) would cut every
    // note longer than six quarters. The melody goes to the coarsest resolution that keeps
    // every time exact - 480 or 960 when they do, else the smallest multiple of the resolution
    // the notes need from 480 up - and is rounded to 960 only when nothing coarser is exact.
    bool rescale() {
        int64_t step = tpq_;
        auto fold = [&step](int64_t tick) { step = std::gcd(step, tick); };
        for (const auto& note : melody_.notes) fold(note.start), fold(note.duration);
        for (const auto& meter : melody_.meters) fold(meter.tick);
        for (const auto& key : melody_.keys) fold(key.tick);
        for (const auto& tempo : melody_.tempos) fold(tempo.tick);
        fold(measureStart_);
        const int64_t needed = tpq_ / step;
        int64_t target = std::lcm(needed, kPreferredTicksPerQuarter);
        if (target > kMaxRescaledTicksPerQuarter) {
            target = needed <= kMaxRescaledTicksPerQuarter
                         ? needed * ((kPreferredTicksPerQuarter + needed - 1) / needed)
                         : kMaxRescaledTicksPerQuarter;
            if (needed > kMaxRescaledTicksPerQuarter)
                warn("times finer than 1/" + std::to_string(target) +
                     " of a quarter note were rounded");
        }
        auto to = [this, target](int64_t tick) { return (tick * target + tpq_ / 2) / tpq_; };
        if (to(measureStart_) > std::numeric_limits<int32_t>::max() / 2)
            return fail("the score is too long");
        for (auto& note : melody_.notes) {
            const int64_t end = to(note.start + note.duration);
            note.start = to(note.start);
            note.duration = std::max<int64_t>(end - note.start, 1);
            if (note.duration > kMaxNoteTicks)
                return fail("a note of more than " + std::to_string(kMaxNoteTicks / target) +
                            " quarter notes");
        }
        for (auto& meter : melody_.meters) meter.tick = to(meter.tick);
        for (auto& key : melody_.keys) key.tick = to(key.tick);
        for (auto& tempo : melody_.tempos) tempo.tick = to(tempo.tick);
        melody_.ticksPerQuarter = static_cast<int>(target);
        return true;
    }

    void chooseVoice(const xml::Element& part) {
        if (choice_.voice > 0) {
            voice_ = std::to_string(choice_.voice);
            return;
        }
        for (const xml::Element& measure : part.children) {
            if (measure.name != "measure") continue;
            for (const xml::Element& note : measure.children) {
                if (note.name != "note" || note.child("grace") || !note.child("pitch")) continue;
                voice_ = note.childText("voice", "1");
                return;
            }
        }
    }

    // A duration in the current divisions, as ticks.
    bool ticks(const std::string& text, int64_t& out) {
        double value = 0;
        if (!parseNumber(text, value) || value < 0 || value > kMaxQuarters * divisions_)
            return fail("a duration of '" + text + "' in measure " + measureName_);
        out = std::llround(value * static_cast<double>(tpq_) / divisions_);
        return true;
    }

    int64_t absolute(int64_t tick) const { return measureStart_ + tick; }

    bool readMeasure(const xml::Element& measure, bool last) {
        const std::string* number = measure.attribute("number");
        measureName_ = number ? *number : std::to_string(measureCount_);
        const size_t firstNote = melody_.notes.size();
        const size_t firstTempo = melody_.tempos.size();
        cursor_ = 0;
        int64_t furthest = 0;
        int64_t lastStart = 0;
        for (const xml::Element& child : measure.children) {
            if (child.name == "attributes") {
                if (!readAttributes(child)) return false;
            } else if (child.name == "note") {
                if (!readNote(child, lastStart)) return false;
            } else if (child.name == "backup" || child.name == "forward") {
                int64_t length = 0;
                if (!requireDivisions() || !ticks(child.childText("duration"), length))
                    return false;
                cursor_ = child.name == "backup" ? std::max<int64_t>(cursor_ - length, 0)
                                                 : cursor_ + length;
            } else if (child.name == "direction") {
                noteJumps(child);
                int64_t offset = 0;
                if (child.child("offset") && requireDivisions()) {
                    double value = 0;
                    if (parseNumber(child.childText("offset"), value) &&
                        std::abs(value) <= kMaxQuarters * divisions_)
                        offset = std::llround(value * static_cast<double>(tpq_) / divisions_);
                }
                if (const xml::Element* sound = child.child("sound"))
                    readTempo(*sound, std::max<int64_t>(cursor_ + offset, 0));
            } else if (child.name == "sound") {
                noteJumps(child);
                readTempo(child, cursor_);
            } else if (child.name == "barline") {
                if (child.child("repeat") || child.child("ending")) {
                    dropped_.repeats = true;
                    readRepeat(child);
                }
                if (child.child("segno") || child.child("coda")) dropped_.jumps = true;
            }
            furthest = std::max(furthest, cursor_);
        }
        if (!requireDivisions()) return false;

        const int64_t expected = meterLength(numerator_, denominator_);
        int64_t length = furthest > 0 ? furthest : expected;
        if (measureCount_ == 1 && length < expected) {
            // A pick-up: the first bar keeps its full length and begins with silence, as melody
            // files store it.
            const int64_t shift = expected - length;
            for (size_t i = firstNote; i < melody_.notes.size(); ++i)
                melody_.notes[i].start += shift;
            for (size_t i = firstTempo; i < melody_.tempos.size(); ++i)
                if (melody_.tempos[i].tick > measureStart_) melody_.tempos[i].tick += shift;
            length = expected;
        }
        // A bar of another length (a cadenza, a bar cut short) gets a meter of its own, and the
        // meter of the score returns after it. A short last bar (the rest of a pick-up) keeps
        // the meter.
        const bool odd = length != expected && !(last && length < expected);
        if (odd && !meterOfLength(length)) return false;
        measureStart_ += length;
        if (measureStart_ > kMaxQuarters * limits::kMaxBars * tpq_)
            return fail("the score is too long");
        if (odd || pendingMeter_) addMeter(measureStart_, numerator_, denominator_);
        pendingMeter_ = false;
        return true;
    }

    void addMeter(int64_t tick, int numerator, int denominator) {
        if (!melody_.meters.empty() && melody_.meters.back().tick == tick)
            melody_.meters.pop_back();
        melody_.meters.push_back({tick, numerator, denominator});
    }

    int64_t meterLength(int numerator, int denominator) const {
        return int64_t{numerator} * 4 * tpq_ / denominator;
    }

    bool meterOfLength(int64_t length) {
        for (int denominator : {denominator_, 4, 8, 16, 32, 64}) {
            if ((length * denominator) % (4 * tpq_) != 0) continue;
            const int64_t numerator = length * denominator / (4 * tpq_);
            if (numerator < 1 || numerator > 255) continue;
            addMeter(measureStart_, static_cast<int>(numerator), denominator);
            return true;
        }
        return fail("measure " + measureName_ + " has a length that no meter can hold");
    }

    bool requireDivisions() {
        if (divisions_ > 0) return true;
        return fail("measure " + measureName_ + " has notes before the score gives divisions");
    }

    bool readAttributes(const xml::Element& attributes) {
        if (attributes.child("divisions")) {
            int divisions = 0;
            parseInt(attributes.childText("divisions"), divisions, 1,
                     static_cast<int>(kMaxTicksPerQuarter));
            divisions_ = divisions;
        }
        if (const xml::Element* transpose = attributes.child("transpose")) {
            // A transposing instrument's part is written away from the pitches it sounds.
            int chromatic = 0, octaves = 0;
            if (parseInt(transpose->childText("chromatic", "0"), chromatic, -24, 24) &&
                parseInt(transpose->childText("octave-change", "0"), octaves, -4, 4))
                transpose_ = chromatic + 12 * octaves;
        }
        if (const xml::Element* key = attributes.child("key")) {
            int fifths = 0;
            if (key->child("fifths") && parseInt(key->childText("fifths"), fifths, -7, 7)) {
                // The sounding key: each semitone of transposition is seven fifths.
                int shift = ((transpose_ * 7) % 12 + 12) % 12;
                if (shift > 6) shift -= 12;
                fifths += shift;
                if (fifths > 7) fifths -= 12;
                if (fifths < -7) fifths += 12;
                melody_.keys.push_back(
                    {absolute(cursor_), fifths, key->childText("mode") == "minor" ? 1 : 0});
            }
        }
        if (const xml::Element* time = attributes.child("time")) {
            int beats = 0, beatType = 0;
            std::string text = time->childText("beats");
            // Composite meters ("3+2") count all their beats.
            size_t plus = 0;
            int sum = 0;
            bool ok = !text.empty();
            while (ok && plus != std::string::npos) {
                const size_t next = text.find('+', plus == 0 ? 0 : plus + 1);
                const std::string part =
                    text.substr(plus == 0 ? 0 : plus + 1, next == std::string::npos
                                                              ? std::string::npos
                                                              : next - (plus == 0 ? 0 : plus + 1));
                int value = 0;
                ok = parseInt(part, value, 1, 255);
                sum += value;
                plus = next;
            }
            beats = sum;
            if (ok && beats <= 255 && parseInt(time->childText("beat-type"), beatType, 1, 64) &&
                isPowerOfTwo(beatType)) {
                numerator_ = beats;
                denominator_ = beatType;
                // A meter given inside a bar starts at the next bar line.
                const int64_t at = cursor_ == 0 ? measureStart_ : -1;
                if (at >= 0) {
                    addMeter(at, numerator_, denominator_);
                } else {
                    pendingMeter_ = true;
                }
            } else if (!time->child("senza-misura")) {
                warn("a time signature of measure " + measureName_ + " could not be read");
            }
        }
        return true;
    }

    // Repeat signs and endings are kept as written, for the lead sheet.
    void readRepeat(const xml::Element& barline) {
        const int32_t bar = measureCount_ - 1;
        if (melody_.repeats.empty() || melody_.repeats.back().bar != bar)
            melody_.repeats.push_back({bar, false, false, 0, {}, false, {}});
        BarRepeat& mark = melody_.repeats.back();
        const std::string* location = barline.attribute("location");
        const bool left = location && *location == "left";
        if (const xml::Element* repeat = barline.child("repeat")) {
            const std::string* direction = repeat->attribute("direction");
            if (direction && *direction == "forward") mark.forward = true;
            if (direction && *direction == "backward") {
                mark.backward = true;
                if (const std::string* times = repeat->attribute("times"))
                    parseInt(*times, mark.times, 1, 99);
            }
        }
        if (const xml::Element* ending = barline.child("ending")) {
            const std::string* number = ending->attribute("number");
            const std::string* type = ending->attribute("type");
            if (number && type && *type == "start" && left) {
                mark.endingNumber = *number;
                mark.endingStarts = true;
            } else if (number && type && (*type == "stop" || *type == "discontinue") && !left) {
                if (mark.endingNumber.empty()) mark.endingNumber = *number;
                mark.endingStop = *type;
            }
        }
    }

    // Jumps the score asks for (da capo, dal segno, to coda, fine) as signs, words or playback.
    void noteJumps(const xml::Element& element) {
        static constexpr const char* kSoundJumps[] = {"dacapo", "dalsegno", "segno",
                                                      "coda",   "tocoda",   "fine"};
        auto soundJumps = [](const xml::Element& sound) {
            for (const char* name : kSoundJumps)
                if (sound.attribute(name)) return true;
            return false;
        };
        if (element.name == "sound") {
            dropped_.jumps = dropped_.jumps || soundJumps(element);
            return;
        }
        if (const xml::Element* sound = element.child("sound"))
            dropped_.jumps = dropped_.jumps || soundJumps(*sound);
        for (const xml::Element& type : element.children) {
            if (type.name != "direction-type") continue;
            if (type.child("segno") || type.child("coda")) dropped_.jumps = true;
            for (const xml::Element& words : type.children) {
                if (words.name != "words") continue;
                std::string text = words.text;
                std::transform(text.begin(), text.end(), text.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                for (const char* sign :
                     {"d.c.", "d.s.", "da capo", "dal segno", "coda", "fine", "segno"})
                    if (text.find(sign) != std::string::npos) dropped_.jumps = true;
            }
        }
    }

    void readTempo(const xml::Element& sound, int64_t tick) {
        const std::string* tempo = sound.attribute("tempo");
        double bpm = 0;
        if (!tempo || !parseNumber(*tempo, bpm) || bpm < 1 || bpm > 1000) return;
        melody_.tempos.push_back(
            {absolute(tick), static_cast<int32_t>(std::lround(60000000.0 / bpm))});
    }

    bool readNote(const xml::Element& note, int64_t& lastStart) {
        if (note.child("grace")) {
            dropped_.grace = true;
            return true;
        }
        if (!requireDivisions()) return false;
        int64_t length = 0;
        if (!note.child("duration")) {
            if (note.child("cue")) return true;
            return fail("a note without a duration in measure " + measureName_);
        }
        if (!ticks(note.childText("duration"), length)) return false;
        const bool chord = note.child("chord") != nullptr;
        int64_t start = cursor_;
        if (chord) {
            start = lastStart;
        } else {
            lastStart = cursor_;
            cursor_ += length;
        }
        if (note.childText("voice", "1") != voice_ || note.child("cue") || length == 0) return true;
        const xml::Element* pitch = note.child("pitch");
        if (!pitch) return true;  // a rest, or an unpitched (drum) note
        const int pc = stepPitchClass(pitch->childText("step"));
        int octave = 0;
        double alter = 0;
        if (pc < 0 || !parseInt(pitch->childText("octave"), octave, -1, 10) ||
            (pitch->child("alter") && !parseNumber(pitch->childText("alter"), alter)) ||
            std::abs(alter) > 3)
            return fail("a pitch that cannot be read in measure " + measureName_);
        const int key = (octave + 1) * 12 + pc + static_cast<int>(std::lround(alter)) + transpose_;
        if (key < 0 || key > 127) {
            dropped_.pitches = true;
            return true;
        }
        const int64_t at = absolute(start);
        bool tieStart = false, tieStop = false;
        for (const xml::Element& tie : note.children) {
            const std::string* type = tie.name == "tie" ? tie.attribute("type") : nullptr;
            tieStart = tieStart || (type && *type == "start");
            tieStop = tieStop || (type && *type == "stop");
        }
        if (chord && onset_.at == at && onset_.index < melody_.notes.size()) {
            // A chord's top note is the melody; a lower one leaves nothing behind, also when
            // the note it lost to continued a tie.
            dropped_.chords = true;
            if (key <= onset_.key) return true;
            if (onset_.extended > 0) {
                melody_.notes[onset_.index].duration -= onset_.extended;
                tiedOn_[onset_.index] = onset_.wasTiedOn;
            } else if (onset_.index + 1 == melody_.notes.size()) {
                melody_.notes.pop_back();
                tiedOn_.pop_back();
            }
        }
        onset_ = {at, key, melody_.notes.size(), 0, false};
        // The note goes on from the one before when a tie joins them: its stop, or the start of
        // a tie that no stop took up.
        for (size_t i = melody_.notes.size(); i-- > 0;) {
            ImportedMelody::Note& earlier = melody_.notes[i];
            if (earlier.key == key && earlier.start + earlier.duration == at &&
                (tieStop || tiedOn_[i])) {
                earlier.duration += length;
                onset_.index = i;
                onset_.extended = length;
                onset_.wasTiedOn = tiedOn_[i] != 0;
                tiedOn_[i] = tieStart;
                return true;
            }
            if (earlier.start + earlier.duration < at) break;
        }
        if (melody_.notes.size() >= static_cast<size_t>(limits::kMaxNotes))
            return fail("more than " + std::to_string(limits::kMaxNotes) + " notes");
        melody_.notes.push_back({at, length, key, 0});
        tiedOn_.push_back(tieStart);
        return true;
    }

    const MusicXmlChoice& choice_;
    ImportedMelody& melody_;
    std::string& problem_;
    int64_t tpq_ = kPreferredTicksPerQuarter;
    std::string voice_ = "1";
    // The note that stands for the notes struck at one time (a chord's top note so far).
    struct Onset {
        int64_t at = -1;
        int key = 0;
        size_t index = SIZE_MAX;
        int64_t extended = 0;  // when it continued an earlier note: the length it added
        bool wasTiedOn = false;
    } onset_;
    std::vector<char> tiedOn_;  // per note: a tie starts from its end
    int divisions_ = 0;
    int transpose_ = 0;  // semitones from the written to the sounding pitch
    int numerator_ = 4;
    int denominator_ = 4;
    bool pendingMeter_ = false;
    int64_t measureStart_ = 0;
    int64_t cursor_ = 0;
    int measureCount_ = 0;
    std::string measureName_;
    struct {
        bool grace = false;
        bool chords = false;
        bool repeats = false;
        bool jumps = false;
        bool pitches = false;
    } dropped_;
};

}  // namespace

bool readMusicXml(std::string_view text, const MusicXmlChoice& choice, ImportedMelody& melody,
                  std::string& problem) {
    melody = ImportedMelody{};
    xml::Element root;
    std::string error;
    if (!xml::parse(text, root, error)) {
        problem = "not a readable XML file: " + error;
        return false;
    }
    ScoreReader reader(choice, melody, problem);
    if (!reader.read(root)) return false;
    std::stable_sort(melody.notes.begin(), melody.notes.end(),
                     [](const auto& a, const auto& b) { return a.start < b.start; });
    return true;
}

bool writeMelodyMidi(const ImportedMelody& melody, const std::string& fileName,
                     std::string& problem) {
    struct Event {
        int64_t tick;
        int rank;  // meta events first, then note offs, then note ons
        int kind;  // 0 meter, 1 key, 2 tempo, 3 note off, 4 note on
        int a;
        int b;
        int channel = 0;
    };
    std::vector<Event> conductor;
    for (const auto& meter : melody.meters)
        conductor.push_back({meter.tick, 0, 0, meter.numerator, meter.denominator});
    for (const auto& key : melody.keys)
        conductor.push_back({key.tick, 0, 1, key.fifths, key.minor});
    for (const auto& tempo : melody.tempos)
        conductor.push_back({tempo.tick, 0, 2, tempo.microsecondsPerQuarter, 0});
    std::vector<Event> notes;
    for (const auto& note : melody.notes) {
        notes.push_back({note.start, 2, 4, note.key, kVelocity, note.channel});
        notes.push_back({note.start + note.duration, 1, 3, note.key, 0, note.channel});
    }
    auto order = [](const Event& x, const Event& y) {
        return x.tick != y.tick ? x.tick < y.tick : x.rank < y.rank;
    };
    std::stable_sort(conductor.begin(), conductor.end(), order);
    std::stable_sort(notes.begin(), notes.end(), order);

    try {
        MidiFileWriter writer(fileName);
        if (!writer.isOpen()) {
            problem = "cannot create the temporary file " + fileName;
            return false;
        }
        writer.beginFile(1, 2, melody.ticksPerQuarter);
        for (const std::vector<Event>* track : {&conductor, &notes}) {
            const bool oneChannel = std::all_of(notes.begin(), notes.end(),
                                                [](const Event& e) { return e.channel == 0; });
            writer.beginTrack(track == &notes && oneChannel ? 0 : -1);
            int64_t previous = 0;
            for (const Event& e : *track) {
                const long delta = static_cast<long>(e.tick - previous);
                previous = e.tick;
                switch (e.kind) {
                    case 0:
                        writer.timeSignature(delta, e.a, e.b);
                        break;
                    case 1:
                        writer.keySignature(delta, e.a, e.b);
                        break;
                    case 2:
                        writer.setTempo(delta, e.a);
                        break;
                    case 3:
                        writer.noteOff(delta, e.channel, e.a, e.b);
                        break;
                    default:
                        writer.noteOn(delta, e.channel, e.a, e.b);
                        break;
                }
            }
            writer.endTrack(0);
        }
        if (!writer.close()) {
            problem = "cannot write the temporary file " + fileName;
            return false;
        }
    } catch (const std::logic_error& violation) {
        problem = violation.what();
        return false;
    }
    return true;
}

}  // namespace varimel
