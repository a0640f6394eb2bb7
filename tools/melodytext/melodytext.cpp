// Melody text parser: headers, tracks, notes and bar lines, checked bar by bar against the meter.
#include "melodytext/melodytext.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>

namespace varimel::melodytext {
namespace {

constexpr TimeSignature kDefaultMeter{4, 4};  // what a reader assumes without a time signature
constexpr int kDefaultVelocity = 100;

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

template <typename Number>
std::optional<Number> parseNumber(std::string_view text) {
    text = trim(text);
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// "bar 4 is 2.5 beats long": lengths in the meter's own beats, as a musician counts them.
std::string beatsText(std::int64_t ticks, const TimeSignature& meter, int division) {
    const double beats =
        static_cast<double>(ticks) / static_cast<double>(ticksPerBeat(meter, division));
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, beats);
    std::string text(buffer, result.ptr);
    return text + (beats == 1.0 ? " beat" : " beats");
}

std::string meterText(const TimeSignature& meter) {
    return std::to_string(meter.numerator) + "/" + std::to_string(meter.denominator);
}

// Letter names in the order of the circle of fifths, F C G D A E B: a letter's steps from C
// are its position - 1, and a sharp moves seven steps on.
std::optional<int> fifthsOfLetter(char letter) {
    const std::size_t position = std::string_view("FCGDAEB").find(letter);
    if (position == std::string_view::npos) return std::nullopt;
    return static_cast<int>(position) - 1;
}

std::optional<int> pitchClassOfLetter(char letter) {
    static constexpr int kPitchClass[] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    if (letter < 'A' || letter > 'G') return std::nullopt;
    return kPitchClass[letter - 'A'];
}

// Splits "F#4e." into pitch "F#4" and the rest "e."; empty pitch when the token is no pitch.
std::pair<std::string_view, std::string_view> splitPitch(std::string_view token) {
    std::size_t i = 0;
    if (i >= token.size() || !pitchClassOfLetter(token[i])) return {{}, token};
    ++i;
    while (i < token.size() && (token[i] == '#' || token[i] == 'b')) ++i;
    if (i < token.size() && token[i] == '-') ++i;
    const std::size_t digits = i;
    while (i < token.size() && std::isdigit(static_cast<unsigned char>(token[i]))) ++i;
    if (i == digits) return {{}, token};
    return {token.substr(0, i), token.substr(i)};
}

struct WrittenLength {
    std::optional<std::int64_t> ticks;  // none: repeat the previous length
    bool tie = false;
    std::string error;
};

WrittenLength parseLength(std::string_view text, int division) {
    WrittenLength result;
    if (!text.empty() && text.back() == '~') {
        result.tie = true;
        text.remove_suffix(1);
    }
    if (text.empty()) return result;
    const std::string written(text);
    auto fail = [&](std::string message) {
        result.error = std::move(message);
        return result;
    };
    auto notWholeTicks = [&] {
        return fail("length '" + written + "' is not a whole number of ticks at division " +
                    std::to_string(division));
    };
    // Whole, half, quarter, eighth, sixteenth, thirty-second: 1 << position of the letter.
    const std::size_t letter = std::string_view("whqest").find(text.front());
    if (letter == std::string_view::npos) return fail("unknown length '" + written + "'");
    const std::int64_t fraction = std::int64_t{1} << letter;  // of a whole note
    text.remove_prefix(1);
    const std::int64_t whole = 4 * static_cast<std::int64_t>(division);
    if (whole % fraction != 0) return notWholeTicks();
    std::int64_t ticks = whole / fraction;
    std::int64_t addition = ticks;
    while (!text.empty() && text.front() == '.') {  // each dot adds half the previous addition
        if (addition % 2 != 0) return notWholeTicks();
        addition /= 2;
        ticks += addition;
        text.remove_prefix(1);
    }
    if (!text.empty() && text.front() == '3') {  // three in the time of two
        if ((ticks * 2) % 3 != 0) return notWholeTicks();
        ticks = ticks * 2 / 3;
        text.remove_prefix(1);
    }
    if (!text.empty()) return fail("unknown length '" + written + "'");
    result.ticks = ticks;
    return result;
}

struct PendingMeterChange {
    MeterChange change;
    int line = 0;
};

struct TrackState {
    Track track;
    int velocity = kDefaultVelocity;
    bool hasBody = false;
    bool named = false;  // began with a 'track:' line
    int headerLines = 0;
    std::int64_t cursor = 0;
    std::int64_t barStart = 0;
    int barNumber = 1;  // as a musician counts, the pick-up being bar 1
    int barFirstLine = 0;
    int lastBodyLine = 0;
    bool barHasError = false;
    bool firstBar = true;
    TimeSignature meter = kDefaultMeter;
    std::int64_t lastLength = 0;
    std::optional<std::size_t> tiedNote;  // index in track.notes still waiting for its tie
    int tieLine = 0;
    std::vector<PendingMeterChange> meterChanges;
};

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    ParseResult run() {
        int lineNumber = 0;
        std::size_t position = 0;
        while (position <= text_.size()) {
            const std::size_t end = std::min(text_.find('\n', position), text_.size());
            ++lineNumber;
            line_ = lineNumber;
            parseLine(stripComment(text_.substr(position, end - position)));
            position = end + 1;
        }
        finishTrack();
        finishMelody();
        return std::move(result_);
    }

  private:
    // An error inside a bar already explains why the bar is short; its length is not checked.
    void error(std::string message) {
        if (current_) current_->barHasError = true;
        errorAt(line_, std::move(message));
    }
    void errorAt(int line, std::string message) {
        result_.errors.push_back(ParseError{line, std::move(message)});
    }
    Melody& melody() { return result_.melody; }

    // '#' begins a comment only at the start of a word, so "F#4" stays a note.
    static std::string_view stripComment(std::string_view line) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '#' && (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1]))))
                return line.substr(0, i);
        }
        return line;
    }

    void parseLine(std::string_view line) {
        line = trim(line);
        if (line.empty()) return;
        const std::size_t colon = line.find(':');
        const std::size_t space = line.find_first_of(" \t");
        if (colon != std::string_view::npos && (space == std::string_view::npos || colon < space)) {
            const std::string_view name = line.substr(0, colon);
            const bool isWord = std::all_of(name.begin(), name.end(), [](char c) {
                return std::islower(static_cast<unsigned char>(c)) || c == '-';
            });
            if (isWord && !name.empty()) {
                parseHeader(std::string(name), trim(line.substr(colon + 1)));
                return;
            }
        }
        parseBody(line);
    }

    void parseHeader(const std::string& name, std::string_view value) {
        static const char* const kGlobal[] = {"title", "division", "tempo",          "key",
                                              "time",  "format",   "running-status", "note-off"};
        static const char* const kPerTrack[] = {"track", "channel", "program", "velocity"};
        const bool global =
            std::find(std::begin(kGlobal), std::end(kGlobal), name) != std::end(kGlobal);
        const bool perTrack =
            std::find(std::begin(kPerTrack), std::end(kPerTrack), name) != std::end(kPerTrack);
        if (!global && !perTrack) {
            error("unknown header '" + name + ":'");
            return;
        }
        if (global) {
            if (current_) {
                error("'" + name + ":' belongs before the first track");
                return;
            }
            if (!seenGlobals_.insert({name, line_}).second) {
                error("'" + name + ":' is given twice");
                return;
            }
            parseGlobal(name, value);
            return;
        }
        if (name == "track") {
            if (current_ && !current_->named && !current_->hasBody) {
                // Only headers so far: they were meant for a track that begins here.
                if (current_->headerLines > 0)
                    error("track headers must follow their 'track:' line");
                tracks_.pop_back();
                current_ = nullptr;
            }
            finishTrack();
            startTrack();
            current_->named = true;
            current_->track.name = std::string(value);
            return;
        }
        if (!current_) startTrack();
        ++current_->headerLines;
        if (current_->hasBody) {
            error("'" + name + ":' must come before the notes of its track");
            return;
        }
        const auto number = parseNumber<int>(value);
        if (name == "channel") {
            if (!number || *number < 0 || *number > 15)
                error("channel must be 0..15 (zero-based), not '" + std::string(value) + "'");
            else
                current_->track.channel = *number;
        } else if (name == "program") {
            if (!number || *number < 0 || *number > 127)
                error("program must be 0..127, not '" + std::string(value) + "'");
            else
                current_->track.program = *number;
        } else if (name == "velocity") {
            if (!number || *number < 1 || *number > 127)
                error("velocity must be 1..127, not '" + std::string(value) + "'");
            else
                current_->velocity = *number;
        }
    }

    void parseGlobal(const std::string& name, std::string_view value) {
        const std::string written(value);
        if (name == "title") {
            melody().title = written;
        } else if (name == "division") {
            const auto number = parseNumber<int>(value);
            if (!number || *number < 1 || *number > 0x7FFF)
                error("division must be 1..32767 ticks per quarter note, not '" + written + "'");
            else
                melody().division = *number;
        } else if (name == "tempo") {
            const auto bpm = parseNumber<double>(value);
            const double microseconds = bpm && *bpm > 0 ? 60'000'000.0 / *bpm : 0;
            if (microseconds < 1 || microseconds > 0xFFFFFF)
                error("tempo must be quarter notes per minute, 3.6 to 60000000, not '" + written +
                      "'");
            else
                melody().microsecondsPerQuarter = static_cast<int>(std::lround(microseconds));
        } else if (name == "key") {
            if (lower(value) == "none") return;
            const auto key = parseKey(value);
            if (!key)
                error(
                    "key must read like 'G major' or 'E minor' (at most 7 sharps or flats), "
                    "not '" +
                    written + "'");
            else
                melody().key = key;
        } else if (name == "time") {
            const auto meter = parseMeter(value);
            if (!meter)
                error("time must read like '3/4' (denominator a power of two up to 64), not '" +
                      written + "'");
            else
                melody().meters.push_back(MeterChange{0, *meter});
        } else if (name == "format") {
            const auto number = parseNumber<int>(value);
            if (!number || (*number != 0 && *number != 1))
                error("format must be 0 or 1, not '" + written + "'");
            else
                melody().format = *number;
        } else if (name == "running-status") {
            const std::string answer = lower(value);
            if (answer != "yes" && answer != "no")
                error("running-status must be 'yes' or 'no', not '" + written + "'");
            else
                melody().runningStatus = answer == "yes";
        } else if (name == "note-off") {
            const std::string answer = lower(value);
            if (answer == "note-off")
                melody().noteOff = NoteOffStyle::NoteOff;
            else if (answer == "zero-velocity")
                melody().noteOff = NoteOffStyle::ZeroVelocityNoteOn;
            else
                error("note-off must be 'note-off' or 'zero-velocity', not '" + written + "'");
        }
    }

    void startTrack() {
        tracks_.emplace_back();
        current_ = &tracks_.back();
        current_->meter = melody().meters.empty() ? kDefaultMeter : melody().meters.front().meter;
        current_->lastLength = melody().division;  // a quarter until a length is written
        if (tracks_.size() == 1) checkMeterFitsDivision(current_->meter);
    }

    bool checkMeterFitsDivision(const TimeSignature& meter) {
        if ((4 * static_cast<std::int64_t>(melody().division)) % meter.denominator == 0)
            return true;
        error("a beat of " + meterText(meter) + " is not a whole number of ticks at division " +
              std::to_string(melody().division));
        return false;
    }

    // Splits a body line into words; a chord "[C4 E4 G4]h" is one word, "|" always a word.
    std::vector<std::string_view> words(std::string_view line) {
        std::vector<std::string_view> out;
        std::size_t i = 0;
        while (i < line.size()) {
            if (std::isspace(static_cast<unsigned char>(line[i]))) {
                ++i;
                continue;
            }
            const std::size_t start = i;
            if (line[i] == '|') {
                while (i < line.size() && line[i] == '|') ++i;
                out.push_back(line.substr(start, i - start));
                continue;
            }
            if (line[i] == '[') {
                const std::size_t close = line.find(']', i);
                if (close == std::string_view::npos) {
                    error("chord '[' without ']' on the same line");
                    return out;
                }
                i = close + 1;
            }
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])) &&
                   line[i] != '|' && line[i] != '[')
                ++i;
            out.push_back(line.substr(start, i - start));
        }
        return out;
    }

    void parseBody(std::string_view line) {
        if (!current_) startTrack();
        TrackState& track = *current_;
        track.hasBody = true;
        track.lastBodyLine = line_;
        const std::vector<std::string_view> tokens = words(line);
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            const std::string_view token = tokens[i];
            if (track.cursor == track.barStart && track.barFirstLine == 0)
                track.barFirstLine = line_;
            if (token.front() == '|') {
                closeBar(track);
            } else if (token == "time") {
                if (i + 1 >= tokens.size()) {
                    error("'time' needs a meter on the same line, e.g. 'time 2/4'");
                    return;
                }
                changeMeter(track, tokens[++i]);
            } else if (token.front() == 'R') {
                wholeBarRests(track, token);
            } else if (token.front() == 'r') {
                const WrittenLength length = lengthOf(track, token.substr(1));
                if (!length.error.empty()) {
                    error(length.error);
                    continue;
                }
                if (length.tie) error("a rest cannot be tied");
                if (track.tiedNote) tieBroken(track);
                advance(track, *length.ticks);
            } else if (token.front() == '[') {
                chord(track, token);
            } else {
                note(track, token);
            }
        }
    }

    WrittenLength lengthOf(TrackState& track, std::string_view text) {
        WrittenLength length = parseLength(text, melody().division);
        if (length.error.empty()) {
            if (length.ticks)
                track.lastLength = *length.ticks;
            else
                length.ticks = track.lastLength;
        }
        return length;
    }

    void advance(TrackState& track, std::int64_t ticks) { track.cursor += ticks; }

    void tieBroken(TrackState& track) {
        errorAt(track.tieLine, "a tie must lead to a note of the same pitch");
        track.tiedNote.reset();
    }

    void note(TrackState& track, std::string_view token) {
        const auto [pitchText, rest] = splitPitch(token);
        const auto key = pitchText.empty() ? std::nullopt : pitchFromName(pitchText);
        if (!key) {
            error(pitchText.empty()
                      ? "'" + std::string(token) + "' is not a note"
                      : "'" + std::string(pitchText) + "' is not a pitch between C-1 and G9");
            return;
        }
        const WrittenLength length = lengthOf(track, rest);
        if (!length.error.empty()) {
            error(length.error);
            return;
        }
        if (track.tiedNote) {
            Note& tied = track.track.notes[*track.tiedNote];
            if (tied.key == *key && tied.startTick + tied.durationTicks == track.cursor) {
                tied.durationTicks += *length.ticks;
                if (!length.tie) track.tiedNote.reset();
                advance(track, *length.ticks);
                return;
            }
            tieBroken(track);
        }
        track.track.notes.push_back(Note{track.cursor, *length.ticks, *key, track.velocity});
        if (length.tie) {
            track.tiedNote = track.track.notes.size() - 1;
            track.tieLine = line_;
        }
        advance(track, *length.ticks);
    }

    void chord(TrackState& track, std::string_view token) {
        const std::size_t close = token.find(']');
        std::vector<int> keys;
        std::string_view inside = token.substr(1, close - 1);
        for (std::size_t i = 0; i < inside.size();) {
            if (std::isspace(static_cast<unsigned char>(inside[i]))) {
                ++i;
                continue;
            }
            std::size_t end = i;
            while (end < inside.size() && !std::isspace(static_cast<unsigned char>(inside[end])))
                ++end;
            const std::string_view name = inside.substr(i, end - i);
            const auto key = pitchFromName(name);
            if (!key) {
                error("'" + std::string(name) + "' in a chord is not a pitch");
                return;
            }
            if (std::find(keys.begin(), keys.end(), *key) != keys.end()) {
                error("pitch '" + std::string(name) + "' appears twice in a chord");
                return;
            }
            keys.push_back(*key);
            i = end;
        }
        if (keys.empty()) {
            error("empty chord '[]'");
            return;
        }
        const WrittenLength length = lengthOf(track, token.substr(close + 1));
        if (!length.error.empty()) {
            error(length.error);
            return;
        }
        if (length.tie) error("ties on chords are not supported; tie single notes");
        if (track.tiedNote) tieBroken(track);
        for (int key : keys)
            track.track.notes.push_back(Note{track.cursor, *length.ticks, key, track.velocity});
        advance(track, *length.ticks);
    }

    void changeMeter(TrackState& track, std::string_view text) {
        const auto meter = parseMeter(text);
        if (!meter) {
            error("'" + std::string(text) + "' is not a meter like '2/4'");
            return;
        }
        if (track.cursor != track.barStart) {
            error("a meter change must stand at the start of a bar");
            return;
        }
        if (!checkMeterFitsDivision(*meter)) return;
        track.meter = *meter;
        track.meterChanges.push_back(PendingMeterChange{MeterChange{track.cursor, *meter}, line_});
    }

    void wholeBarRests(TrackState& track, std::string_view token) {
        int count = 1;
        if (token.size() > 1) {
            const auto number = token.size() > 2 && token[1] == '*'
                                    ? parseNumber<int>(token.substr(2))
                                    : std::optional<int>{};
            if (!number || *number < 1) {
                error("'" + std::string(token) + "' is not a whole-bar rest like 'R' or 'R*4'");
                return;
            }
            count = *number;
        }
        if (track.cursor != track.barStart) {
            error("a whole-bar rest must stand at the start of a bar");
            return;
        }
        if (track.tiedNote) tieBroken(track);
        const std::int64_t length = ticksPerBar(track.meter, melody().division);
        track.cursor += length * count;
        track.barStart = track.cursor;
        track.barNumber += count;
        track.firstBar = false;
        track.barFirstLine = 0;
        track.barHasError = false;
    }

    void closeBar(TrackState& track) {
        const std::int64_t filled = track.cursor - track.barStart;
        if (filled == 0) {  // a bar line at the start of a line repeats the one before
            track.barHasError = false;
            return;
        }
        const std::int64_t needed = ticksPerBar(track.meter, melody().division);
        if (filled < needed && track.firstBar) {
            padPickup(track, needed - filled);
        } else if (filled != needed && !track.barHasError) {
            errorAt(line_, "bar " + std::to_string(track.barNumber) + " (from line " +
                               std::to_string(track.barFirstLine) + ") is " +
                               beatsText(filled, track.meter, melody().division) + " long; " +
                               meterText(track.meter) + " needs " +
                               beatsText(needed, track.meter, melody().division));
        }
        track.barStart = track.cursor;
        track.barNumber += 1;
        track.firstBar = false;
        track.barFirstLine = 0;
        track.barHasError = false;
    }

    // A file has no short bars: the pick-up sounds at the end of a full first bar.
    static void padPickup(TrackState& track, std::int64_t silence) {
        for (Note& note : track.track.notes) note.startTick += silence;
        track.cursor += silence;
    }

    void finishTrack() {
        if (!current_) return;
        TrackState& track = *current_;
        // The missing bar line belongs after the track's last notes, not at the next header.
        const int endLine = line_;
        line_ = std::max(track.lastBodyLine, 1);
        closeBar(track);
        line_ = endLine;
        if (track.tiedNote) tieBroken(track);
        track.track.endTick = track.cursor;
        current_ = nullptr;
    }

    void finishMelody() {
        std::map<std::int64_t, PendingMeterChange> meters;
        for (const MeterChange& change : melody().meters) meters[change.tick] = {change, 0};
        std::size_t noteCount = 0;
        for (TrackState& track : tracks_) {
            noteCount += track.track.notes.size();
            for (const PendingMeterChange& pending : track.meterChanges) {
                const auto [place, inserted] = meters.emplace(pending.change.tick, pending);
                if (!inserted && !(place->second.change.meter == pending.change.meter))
                    errorAt(pending.line, "meter change to " + meterText(pending.change.meter) +
                                              " at tick " + std::to_string(pending.change.tick) +
                                              " disagrees with " +
                                              meterText(place->second.change.meter) +
                                              " at the same time elsewhere");
            }
            melody().tracks.push_back(std::move(track.track));
        }
        melody().meters.clear();
        for (const auto& [tick, pending] : meters) melody().meters.push_back(pending.change);
        if (noteCount == 0) errorAt(line_, "the melody has no notes");
        std::stable_sort(result_.errors.begin(), result_.errors.end(),
                         [](const ParseError& a, const ParseError& b) { return a.line < b.line; });
    }

    std::string_view text_;
    int line_ = 0;
    ParseResult result_;
    std::vector<TrackState> tracks_;
    TrackState* current_ = nullptr;
    std::map<std::string, int> seenGlobals_;
};

}  // namespace

std::string ParseError::toString() const {
    return "line " + std::to_string(line) + ": " + message;
}

std::string ParseResult::errorText() const {
    std::string text;
    for (const ParseError& e : errors) text += e.toString() + "\n";
    return text;
}

ParseResult parse(std::string_view text) {
    return Parser(text).run();
}

std::optional<int> pitchFromName(std::string_view name) {
    const auto [pitch, rest] = splitPitch(trim(name));
    if (pitch.empty() || !rest.empty()) return std::nullopt;
    int semitones = *pitchClassOfLetter(pitch[0]);
    std::size_t i = 1;
    int accidentals = 0;
    for (; i < pitch.size() && (pitch[i] == '#' || pitch[i] == 'b'); ++i, ++accidentals)
        semitones += pitch[i] == '#' ? 1 : -1;
    if (accidentals > 2) return std::nullopt;
    const auto octave = parseNumber<int>(pitch.substr(i));
    if (!octave || *octave < -1 || *octave > 9) return std::nullopt;
    const int key = 12 * (*octave + 1) + semitones;
    if (key < 0 || key > 127) return std::nullopt;
    return key;
}

std::optional<TimeSignature> parseMeter(std::string_view text) {
    text = trim(text);
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const auto numerator = parseNumber<int>(text.substr(0, slash));
    const auto denominator = parseNumber<int>(text.substr(slash + 1));
    if (!numerator || !denominator || *numerator < 1 || *numerator > 255) return std::nullopt;
    if (*denominator < 1 || *denominator > 64 || (*denominator & (*denominator - 1)) != 0)
        return std::nullopt;
    return TimeSignature{*numerator, *denominator};
}

std::optional<KeySignature> parseKey(std::string_view text) {
    text = trim(text);
    const std::size_t space = text.find_first_of(" \t");
    if (space == std::string_view::npos) return std::nullopt;
    const std::string_view tonic = text.substr(0, space);
    const std::string mode = lower(trim(text.substr(space)));
    if (mode != "major" && mode != "minor") return std::nullopt;
    if (tonic.empty() || tonic.size() > 2) return std::nullopt;
    const auto fifths =
        fifthsOfLetter(static_cast<char>(std::toupper(static_cast<unsigned char>(tonic[0]))));
    if (!fifths) return std::nullopt;
    int sharps = *fifths;
    if (tonic.size() == 2) {
        if (tonic[1] == '#')
            sharps += 7;
        else if (tonic[1] == 'b')
            sharps -= 7;
        else
            return std::nullopt;
    }
    const bool minor = mode == "minor";
    if (minor) sharps -= 3;  // a minor key shares the signature of the major a minor third up
    if (sharps < -7 || sharps > 7) return std::nullopt;
    return KeySignature{sharps, minor};
}

std::int64_t ticksPerBar(const TimeSignature& meter, int division) {
    return static_cast<std::int64_t>(meter.numerator) * 4 * division / meter.denominator;
}

std::int64_t ticksPerBeat(const TimeSignature& meter, int division) {
    return static_cast<std::int64_t>(4) * division / meter.denominator;
}

}  // namespace varimel::melodytext
