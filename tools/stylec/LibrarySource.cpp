#include "LibrarySource.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "engine/ByteIO.h"

namespace varimel::stylec {

namespace fs = std::filesystem;

namespace {

constexpr int kDefaultReleaseVelocity = 64;
constexpr int kMaxPatternBars = 64;

// General MIDI Level 1 percussion key map (channel 10), the names drummers use for them.
struct DrumName {
    std::string_view name;
    int note;
};
constexpr std::array<DrumName, 33> kDrumNames{{
    {"kick2", 35},          {"kick", 36},         {"side-stick", 37},    {"snare", 38},
    {"clap", 39},           {"snare2", 40},       {"low-floor-tom", 41}, {"closed-hat", 42},
    {"high-floor-tom", 43}, {"pedal-hat", 44},    {"low-tom", 45},       {"open-hat", 46},
    {"low-mid-tom", 47},    {"high-mid-tom", 48}, {"crash", 49},         {"high-tom", 50},
    {"ride", 51},           {"china", 52},        {"ride-bell", 53},     {"tambourine", 54},
    {"splash", 55},         {"cowbell", 56},      {"crash2", 57},        {"ride2", 59},
    {"high-bongo", 60},     {"low-bongo", 61},    {"cabasa", 69},        {"maracas", 70},
    {"claves", 75},         {"high-wood", 76},    {"low-wood", 77},      {"mute-triangle", 80},
    {"triangle", 81},
}};
constexpr int kLowestGmDrum = 35;
constexpr int kHighestGmDrum = 81;

struct Line {
    int number = 0;
    std::vector<std::string> words;
};

std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    int number = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        ++number;
        if (const size_t hash = line.find('#'); hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        Line parsed;
        parsed.number = number;
        std::istringstream words{std::string(line)};
        for (std::string word; words >> word;) parsed.words.push_back(word);
        if (!parsed.words.empty()) lines.push_back(std::move(parsed));
        if (end == text.size()) break;
        start = end + 1;
    }
    return lines;
}

std::optional<int> parseInt(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> parseDecimal(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

struct Meter {
    int numerator = 0;
    int denominator = 0;
};

std::optional<Meter> parseMeter(std::string_view text) {
    const size_t slash = text.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const auto numerator = parseInt(text.substr(0, slash));
    const auto denominator = parseInt(text.substr(slash + 1));
    // Both must fit a nibble, as the meter sets pack them.
    if (!numerator || !denominator || *numerator < 1 || *numerator > 15 || *denominator < 1 ||
        *denominator > 15) {
        return std::nullopt;
    }
    return Meter{*numerator, *denominator};
}

// Collects the messages of one source file.
class Reporter {
  public:
    Reporter(const std::string& file, std::vector<SourceError>& errors)
        : file_(file), errors_(errors) {}
    void operator()(int line, std::string message) {
        errors_.push_back({file_, line, std::move(message)});
        ++count_;
    }
    bool clean() const { return count_ == 0; }

  private:
    const std::string& file_;
    std::vector<SourceError>& errors_;
    int count_ = 0;
};

// The meter and ticks that positions and lengths are written in.
struct Timing {
    Meter meter;
    int ppq = 0;
    int ticksPerBeat() const { return meter.denominator ? ppq * 4 / meter.denominator : 0; }
};

std::optional<int> exactTicks(double ticks) {
    const double rounded = std::round(ticks);
    if (std::fabs(ticks - rounded) > 1e-9 || rounded < 1 || rounded > 32767) return std::nullopt;
    return static_cast<int>(rounded);
}

std::optional<int> parseLength(std::string_view text, const Timing& timing) {
    if (text.empty()) return std::nullopt;
    if (text.back() == 'b') {
        const auto beats = parseDecimal(text.substr(0, text.size() - 1));
        if (!beats) return std::nullopt;
        return exactTicks(*beats * timing.ticksPerBeat());
    }
    static constexpr std::string_view kValues = "whqes";
    static constexpr std::array<double, 5> kQuarters{4, 2, 1, 0.5, 0.25};
    if (const size_t value = kValues.find(text.front()); value != std::string_view::npos) {
        const std::string_view dots = text.substr(1);
        if (dots.find_first_not_of('.') != std::string_view::npos || dots.size() > 2) {
            return std::nullopt;
        }
        double quarters = kQuarters[value];
        double added = quarters;
        for (size_t i = 0; i < dots.size(); ++i) quarters += (added /= 2);
        return exactTicks(quarters * timing.ppq);
    }
    const auto ticks = parseInt(text);
    if (!ticks) return std::nullopt;
    return exactTicks(*ticks);
}

struct Position {
    int bar = 0;
    int beat = 0;
    int tick = 0;
};

std::optional<Position> parsePosition(std::string_view text, const Timing& timing) {
    Position position;
    if (const size_t plus = text.find('+'); plus != std::string_view::npos) {
        const auto tick = parseInt(text.substr(plus + 1));
        if (!tick || *tick < 0 || *tick >= timing.ticksPerBeat()) return std::nullopt;
        position.tick = *tick;
        text = text.substr(0, plus);
    }
    const size_t dot = text.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    const auto bar = parseInt(text.substr(0, dot));
    const auto beat = parseInt(text.substr(dot + 1));
    if (!bar || !beat || *bar < 1 || *bar > kMaxPatternBars || *beat < 1 ||
        *beat > timing.meter.numerator) {
        return std::nullopt;
    }
    position.bar = *bar - 1;
    position.beat = *beat - 1;
    return position;
}

std::optional<uint16_t> parseVelocity(std::string_view text) {
    int release = kDefaultReleaseVelocity;
    if (const size_t slash = text.find('/'); slash != std::string_view::npos) {
        const auto off = parseInt(text.substr(slash + 1));
        if (!off || *off < 0 || *off > 127) return std::nullopt;
        release = *off;
        text = text.substr(0, slash);
    }
    const auto on = parseInt(text);
    if (!on || *on < 1 || *on > 127) return std::nullopt;
    return static_cast<uint16_t>(*on << 8 | release);
}

std::optional<int> parseSelector(std::string_view text) {
    const auto selector = parseInt(text);
    // Selector 2 has no tone in the chord-tone table; 0 and above 7 have no slot.
    if (!selector || *selector < 1 || *selector > 7 || *selector == 2) return std::nullopt;
    return selector;
}

std::optional<int> parseOctave(std::string_view text) {
    const auto octave = parseInt(text);
    if (!octave || *octave < 0 || *octave > 9) return std::nullopt;
    return octave;
}

// Fills an event from words: position, then the fields named by `layout`
// ('t' selector, 'o' octave, 'd' drum note, 'l' length, 'v' velocity).
bool parseEvent(const Line& line, std::string_view layout, const Timing& timing,
                PatternEvent& event, Reporter& report) {
    if (line.words.size() != layout.size() + 2) {
        report(line.number,
               "'" + line.words[0] + "' needs " + std::to_string(layout.size() + 1) + " fields");
        return false;
    }
    const auto position = parsePosition(line.words[1], timing);
    if (!position) {
        report(line.number,
               "bad position '" + line.words[1] + "' (bar.beat[+ticks], from 1, within the meter)");
        return false;
    }
    event = PatternEvent{};
    event.bar = static_cast<int16_t>(position->bar);
    event.beat = static_cast<uint8_t>(position->beat);
    event.tick = static_cast<uint16_t>(position->tick);
    for (size_t i = 0; i < layout.size(); ++i) {
        const std::string& word = line.words[i + 2];
        switch (layout[i]) {
            case 't': {
                const auto selector = parseSelector(word);
                if (!selector) {
                    report(line.number, "bad tone '" + word + "' (1, 3, 4, 5, 6 or 7)");
                    return false;
                }
                event.tone = static_cast<int8_t>(*selector);
                break;
            }
            case 'o': {
                const auto octave = parseOctave(word);
                if (!octave) {
                    report(line.number, "bad octave '" + word + "' (0..9)");
                    return false;
                }
                event.octave = static_cast<int8_t>(*octave);
                break;
            }
            case 'd': {
                int note = drumNote(word);
                if (note < 0) note = parseInt(word).value_or(-1);
                if (note < kLowestGmDrum || note > kHighestGmDrum) {
                    report(line.number, "bad drum '" + word + "' (a GM percussion note 35..81)");
                    return false;
                }
                event.tone = static_cast<int8_t>(note);
                break;
            }
            case 'l': {
                const auto length = parseLength(word, timing);
                if (!length) {
                    report(line.number, "bad length '" + word +
                                            "' (ticks, beats as 1.5b, or w h q e s with dots)");
                    return false;
                }
                event.duration = static_cast<int16_t>(*length);
                break;
            }
            case 'v': {
                const auto velocity = parseVelocity(word);
                if (!velocity) {
                    report(line.number, "bad velocity '" + word + "' (on 1..127[/off 0..127])");
                    return false;
                }
                event.velocities = *velocity;
                break;
            }
        }
    }
    return true;
}

bool earlier(const PatternEvent& a, const PatternEvent& b) {
    return std::tie(a.bar, a.beat, a.tick) < std::tie(b.bar, b.beat, b.tick);
}

// Header values read as "key value" lines, each at most once.
class Header {
  public:
    explicit Header(Reporter& report) : report_(report) {}

    void take(const Line& line) {
        const std::string& key = line.words[0];
        if (values_.count(key)) {
            report_(line.number, "'" + key + "' given twice");
            return;
        }
        values_[key] = line;
    }
    const Line* find(const std::string& key) const {
        const auto it = values_.find(key);
        return it == values_.end() ? nullptr : &it->second;
    }
    // The single word after the key.
    std::optional<std::string> word(const std::string& key, bool required = true) {
        const Line* line = find(key);
        if (!line) {
            if (required) report_(0, "'" + key + "' is missing");
            return std::nullopt;
        }
        if (line->words.size() != 2) {
            report_(line->number, "'" + key + "' takes one value");
            return std::nullopt;
        }
        return line->words[1];
    }
    std::optional<int> number(const std::string& key, int low, int high, bool required = true) {
        const auto text = word(key, required);
        if (!text) return std::nullopt;
        const auto value = parseInt(*text);
        if (!value || *value < low || *value > high) {
            report_(find(key)->number,
                    "'" + key + "' must be " + std::to_string(low) + ".." + std::to_string(high));
            return std::nullopt;
        }
        return value;
    }
    std::optional<Meter> meter(const std::string& key) {
        const auto text = word(key);
        if (!text) return std::nullopt;
        const auto value = parseMeter(*text);
        if (!value) report_(find(key)->number, "bad meter '" + *text + "'");
        return value;
    }

  private:
    Reporter& report_;
    std::map<std::string, Line> values_;
};

bool validName(const std::string& name) {
    return !name.empty() && name.size() < kLibraryNameSize &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
           });
}

bool readText(const fs::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return true;
}

std::vector<fs::path> sourceFiles(const fs::path& folder, std::vector<SourceError>& errors) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.is_regular_file() && entry.path().extension() == ".txt") {
            files.push_back(entry.path());
        }
    }
    if (error) errors.push_back({folder.string(), 0, "cannot read the folder: " + error.message()});
    std::sort(files.begin(), files.end());
    return files;
}

bool writeFile(const fs::path& path, const std::vector<uint8_t>& bytes,
               std::vector<SourceError>& errors) {
    std::string error;
    if (writeFileAtomically(path.string(), bytes, error)) return true;
    errors.push_back({path.string(), 0, error});
    return false;
}

// Removes library files of `extension` that the new list does not name.
void removeStale(const fs::path& folder, std::string_view extension,
                 const std::set<std::string>& keep) {
    std::error_code error;
    std::vector<fs::path> stale;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const fs::path& path = entry.path();
        if (entry.is_regular_file() && path.extension() == extension &&
            !keep.count(path.stem().string())) {
            stale.push_back(path);
        }
    }
    for (const fs::path& path : stale) fs::remove(path, error);
}

}  // namespace

std::string SourceError::text() const {
    return file + (line > 0 ? ":" + std::to_string(line) : std::string{}) + ": " + message;
}

int drumNote(std::string_view name) {
    for (const DrumName& drum : kDrumNames) {
        if (drum.name == name) return drum.note;
    }
    return -1;
}

bool parseStyleSource(std::string_view text, const std::string& file, StyleSource& out,
                      std::vector<SourceError>& errors) {
    Reporter report(file, errors);
    Header header(report);
    std::vector<const Line*> noteLines;
    const std::vector<Line> lines = splitLines(text);
    static const std::set<std::string> kKeys{"style", "category", "program", "program2", "octave",
                                             "beats", "meter",    "ppq",     "bars",     "fits"};
    for (const Line& line : lines) {
        const std::string& key = line.words[0];
        if (key == "note") {
            noteLines.push_back(&line);
        } else if (kKeys.count(key)) {
            header.take(line);
        } else {
            report(line.number, "unknown keyword '" + key + "'");
        }
    }

    StyleSource source;
    source.file = file;
    if (const auto name = header.word("style")) {
        source.name = *name;
        if (!validName(source.name)) {
            report(header.find("style")->number,
                   "a style name has 1..15 letters, digits, '_' or '-'");
        }
    }
    if (const auto category = header.word("category")) {
        std::string lower = *category;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        source.category = -1;
        for (int c = 0; c < kStyleCategoryCount; ++c) {
            std::string known(std::array<std::string_view, 3>{"piano", "guitar",
                                                              "other"}[static_cast<size_t>(c)]);
            if (lower == known) source.category = c;
        }
        if (source.category < 0) {
            report(header.find("category")->number, "category is piano, guitar or other");
        }
    }
    Style& style = source.style;
    const auto program = header.number("program", 0, 127);
    const auto program2 = header.number("program2", 0, 127, false);
    const auto octave = header.number("octave", 0, 9);
    const auto beats = header.number("beats", 1, 15);
    const auto meter = header.meter("meter");
    const auto ppq = header.number("ppq", 1, 32767);
    const auto bars = header.number("bars", 1, 255);
    style.program = static_cast<uint8_t>(program.value_or(0));
    style.program2 = static_cast<uint8_t>(program2.value_or(style.program));
    style.octave = static_cast<int8_t>(octave.value_or(0));
    style.beatsPerBar = static_cast<uint8_t>(beats.value_or(0));
    style.bars = static_cast<uint8_t>(bars.value_or(0));
    style.ppq = static_cast<int16_t>(ppq.value_or(0));
    if (meter) {
        style.meterNum = static_cast<int8_t>(meter->numerator);
        style.meterDen = static_cast<int8_t>(meter->denominator);
    }

    if (const Line* fits = header.find("fits")) {
        if (fits->words.size() < 2 || fits->words.size() > 5) {
            report(fits->number, "'fits' takes one to four meters");
        }
        for (size_t i = 1; i < fits->words.size() && i <= 4; ++i) {
            const auto fit = parseMeter(fits->words[i]);
            if (!fit) {
                report(fits->number, "bad meter '" + fits->words[i] + "'");
                continue;
            }
            style.meters |= meterCode(fit->numerator, fit->denominator) << (8 * (i - 1));
        }
    } else {
        report(0, "'fits' is missing");
    }

    if (meter && ppq && bars) {
        const Timing timing{*meter, *ppq};
        for (const Line* line : noteLines) {
            PatternEvent event;
            if (!parseEvent(*line, "tolv", timing, event, report)) continue;
            if (event.bar >= style.bars) {
                report(line->number,
                       "the note lies after the pattern's " + std::to_string(style.bars) + " bars");
                continue;
            }
            style.events.push_back(event);
        }
    }
    if (noteLines.empty()) report(0, "a style needs notes");
    // The renderer replays events in file order and stops at the first bar it may not enter.
    std::stable_sort(style.events.begin(), style.events.end(), earlier);
    if (style.events.size() > 0 &&
        std::none_of(style.events.begin(), style.events.end(),
                     [](const PatternEvent& e) { return e.tone == 1; })) {
        report(0, "no note uses tone 1: the voicing would not stand on the root");
    }
    style.valid = true;
    if (!report.clean()) return false;
    out = std::move(source);
    return true;
}

bool parseArrangementSource(std::string_view text, const std::string& file, ArrangementSource& out,
                            std::vector<SourceError>& errors) {
    Reporter report(file, errors);
    Header header(report);
    static const std::set<std::string> kKeys{"arrangement",  "meter",         "ppq",
                                             "tempo",        "organ-program", "organ-volume",
                                             "bass-program", "bass-volume",   "drums-volume"};
    struct PartLines {
        int number = 0;
        std::vector<const Line*> events;
    };
    std::vector<PartLines> parts;
    const std::vector<Line> lines = splitLines(text);
    for (const Line& line : lines) {
        const std::string& key = line.words[0];
        if (key == "part") {
            const auto index = line.words.size() == 2 ? parseInt(line.words[1]) : std::nullopt;
            if (!index || *index != static_cast<int>(parts.size())) {
                report(line.number, "parts are numbered 0, 1, 2, ... in order");
            }
            parts.push_back({line.number, {}});
        } else if (key == "organ" || key == "bass" || key == "drum") {
            if (parts.empty()) {
                report(line.number, "'" + key + "' before the first 'part'");
            } else {
                parts.back().events.push_back(&line);
            }
        } else if (kKeys.count(key)) {
            if (!parts.empty()) report(line.number, "'" + key + "' belongs before the parts");
            header.take(line);
        } else {
            report(line.number, "unknown keyword '" + key + "'");
        }
    }

    ArrangementSource source;
    source.file = file;
    if (const auto name = header.word("arrangement")) {
        source.name = *name;
        if (!validName(source.name)) {
            report(header.find("arrangement")->number,
                   "an arrangement name has 1..15 letters, digits, '_' or '-'");
        }
    }
    if (const auto tempo = header.word("tempo")) {
        static const std::map<std::string, int, std::less<>> kTempos{
            {"slow", tempo_class::kSlow},
            {"medium", tempo_class::kMedium},
            {"fast", tempo_class::kFast},
            {"any", tempo_class::kAny}};
        if (const auto named = kTempos.find(*tempo); named != kTempos.end()) {
            source.tempoMask = static_cast<int16_t>(named->second);
        } else if (const auto mask = parseInt(*tempo); mask && *mask >= 0 && *mask <= 7) {
            source.tempoMask = static_cast<int16_t>(*mask);
        } else {
            report(header.find("tempo")->number, "tempo is slow, medium, fast, any or 0..7");
        }
    }
    Arrangement& arrangement = source.arrangement;
    const auto meter = header.meter("meter");
    const auto ppq = header.number("ppq", 1, 32767);
    if (meter) {
        arrangement.meterNum = static_cast<int8_t>(meter->numerator);
        arrangement.meterDen = static_cast<int8_t>(meter->denominator);
    }
    arrangement.ppq = static_cast<int16_t>(ppq.value_or(0));
    if (parts.empty()) report(0, "an arrangement needs parts");

    if (meter && ppq) {
        const Timing timing{*meter, *ppq};
        for (const PartLines& lines : parts) {
            ArrangementPart part;
            for (const Line* line : lines.events) {
                PatternEvent event;
                const std::string& kind = line->words[0];
                if (kind == "organ" && parseEvent(*line, "tlv", timing, event, report)) {
                    part.organ.push_back(event);
                } else if (kind == "bass" && parseEvent(*line, "tolv", timing, event, report)) {
                    part.bass.push_back(event);
                } else if (kind == "drum" && parseEvent(*line, "dlv", timing, event, report)) {
                    part.drums.push_back(event);
                }
            }
            // A part without organ events keeps no events at all in the file.
            if (part.organ.empty()) {
                report(lines.number, "every part needs organ events");
            } else if (std::none_of(part.organ.begin(), part.organ.end(),
                                    [](const PatternEvent& e) { return e.tone == 1; })) {
                report(lines.number,
                       "no organ event uses tone 1: the voicing would not stand "
                       "on the root");
            }
            // The organ and bass walk together by pattern bar: each line in time order.
            for (auto* events : {&part.organ, &part.bass, &part.drums}) {
                std::stable_sort(events->begin(), events->end(), earlier);
            }
            arrangement.parts.push_back(std::move(part));
        }
    }
    // The band's instruments are read from part 0 only.
    if (!arrangement.parts.empty()) {
        ArrangementPart& first = arrangement.parts.front();
        first.organProgram =
            static_cast<uint8_t>(header.number("organ-program", 0, 127).value_or(0));
        first.organVolume = static_cast<uint8_t>(header.number("organ-volume", 1, 127).value_or(0));
        first.bassProgram = static_cast<uint8_t>(header.number("bass-program", 0, 127).value_or(0));
        first.bassVolume = static_cast<uint8_t>(header.number("bass-volume", 1, 127).value_or(0));
        first.drumsVolume = static_cast<uint8_t>(header.number("drums-volume", 1, 127).value_or(0));
    }
    if (!report.clean()) return false;
    out = std::move(source);
    return true;
}

bool readStyleSources(const fs::path& folder, std::vector<StyleSource>& out,
                      std::vector<SourceError>& errors) {
    const size_t before = errors.size();
    out.clear();
    for (const fs::path& path : sourceFiles(folder, errors)) {
        std::string text;
        if (!readText(path, text)) {
            errors.push_back({path.string(), 0, "cannot read"});
            continue;
        }
        StyleSource source;
        if (parseStyleSource(text, path.string(), source, errors)) out.push_back(std::move(source));
    }
    return errors.size() == before;
}

bool readArrangementSources(const fs::path& folder, std::vector<ArrangementSource>& out,
                            std::vector<SourceError>& errors) {
    const size_t before = errors.size();
    out.clear();
    for (const fs::path& path : sourceFiles(folder, errors)) {
        std::string text;
        if (!readText(path, text)) {
            errors.push_back({path.string(), 0, "cannot read"});
            continue;
        }
        ArrangementSource source;
        if (parseArrangementSource(text, path.string(), source, errors)) {
            out.push_back(std::move(source));
        }
    }
    return errors.size() == before;
}

bool buildStyleList(const std::vector<StyleSource>& sources, StyleList& out,
                    std::vector<SourceError>& errors) {
    StyleList list;
    std::set<std::string> names;
    bool ok = true;
    for (const StyleSource& source : sources) {
        if (!names.insert(source.name).second) {
            errors.push_back({source.file, 0, "the style name " + source.name + " is taken"});
            ok = false;
        }
        auto& entries = list.categories[static_cast<size_t>(source.category)];
        entries.push_back(
            {makeStyleId(source.category, static_cast<int>(entries.size())), source.name});
    }
    out = std::move(list);
    return ok;
}

bool buildArrangementList(const std::vector<ArrangementSource>& sources, ArrangementList& out,
                          std::vector<SourceError>& errors) {
    ArrangementList list;
    std::set<std::string> names;
    bool ok = true;
    for (const ArrangementSource& source : sources) {
        if (!names.insert(source.name).second) {
            errors.push_back({source.file, 0, "the arrangement name " + source.name + " is taken"});
            ok = false;
        }
        const auto key = static_cast<uint16_t>(
            meterKey(source.arrangement.meterNum, source.arrangement.meterDen));
        auto group = std::find_if(list.groups.begin(), list.groups.end(),
                                  [key](const ArrangementGroup& g) { return g.key == key; });
        if (group == list.groups.end()) {
            list.groups.push_back({key, {}});
            group = list.groups.end() - 1;
        }
        group->entries.push_back({source.tempoMask, source.name});
    }
    out = std::move(list);
    return ok;
}

bool writeStyleLibrary(const fs::path& folder, const std::vector<StyleSource>& sources,
                       std::vector<SourceError>& errors) {
    StyleList list;
    if (!buildStyleList(sources, list, errors)) return false;
    std::error_code error;
    fs::create_directories(folder, error);
    // Files in list order: a style's file is found by its entry's name.
    std::set<std::string> names;
    bool ok = true;
    for (const StyleSource& source : sources) {
        names.insert(source.name);
        ok = writeFile(folder / (source.name + kStyleExtension), serializeStyle(source.style),
                       errors) &&
             ok;
    }
    ok = writeFile(folder / kStyleListName, serializeStyleList(list), errors) && ok;
    removeStale(folder, kStyleExtension, names);
    return ok;
}

bool writeArrangementLibrary(const fs::path& folder, const std::vector<ArrangementSource>& sources,
                             std::vector<SourceError>& errors) {
    ArrangementList list;
    if (!buildArrangementList(sources, list, errors)) return false;
    std::error_code error;
    fs::create_directories(folder, error);
    std::set<std::string> names;
    bool ok = true;
    for (const ArrangementSource& source : sources) {
        names.insert(source.name);
        ok = writeFile(folder / (source.name + kArrangementExtension),
                       serializeArrangement(source.arrangement), errors) &&
             ok;
    }
    ok = writeFile(folder / kArrangementListName, serializeArrangementList(list), errors) && ok;
    removeStale(folder, kArrangementExtension, names);
    return ok;
}

}  // namespace varimel::stylec
