#include "support/melody.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <stdexcept>
#include <system_error>

namespace varimel::test {
namespace {

namespace mt = melodytext;

// Bar starts and meters of a melody whose meter changes only at bar lines.
class BarGrid {
  public:
    BarGrid(mt::TimeSignature first, std::vector<std::pair<int, mt::TimeSignature>> changes,
            int division)
        : division_(division) {
        changes_.emplace(0, first);
        for (auto& [bar, meter] : changes) {
            if (bar < 1) throw std::invalid_argument("melody: a meter change needs a bar above 0");
            changes_[bar] = meter;
        }
        for (const auto& [bar, meter] : changes_) {
            if ((4 * static_cast<std::int64_t>(division)) % meter.denominator != 0)
                throw std::invalid_argument(
                    "melody: a beat of the meter is not a whole number "
                    "of ticks at this division");
        }
    }

    std::int64_t tickOfBar(int bar) const {
        std::int64_t tick = 0;
        for (int b = 0; b < bar; ++b) tick += mt::ticksPerBar(meterOfBar(b), division_);
        return tick;
    }
    mt::TimeSignature meterOfBar(int bar) const {
        return std::prev(changes_.upper_bound(bar))->second;
    }
    mt::TimeSignature meterAt(std::int64_t tick) const {
        int bar = 0;
        for (std::int64_t start = 0;; ++bar) {
            start += mt::ticksPerBar(meterOfBar(bar), division_);
            if (start > tick) return meterOfBar(bar);
        }
    }
    std::vector<mt::MeterChange> changes() const {
        std::vector<mt::MeterChange> out;
        for (const auto& [bar, meter] : changes_) out.push_back({tickOfBar(bar), meter});
        return out;
    }

  private:
    int division_;
    std::map<int, mt::TimeSignature> changes_;
};

mt::TimeSignature meterOrThrow(std::string_view text) {
    const auto meter = mt::parseMeter(text);
    if (!meter)
        throw std::invalid_argument("melody: cannot read meter '" + std::string(text) + "'");
    return *meter;
}

int keyOrThrow(std::string_view name) {
    const auto key = mt::pitchFromName(name);
    if (!key) throw std::invalid_argument("melody: cannot read pitch '" + std::string(name) + "'");
    return *key;
}

std::vector<int> keysOf(const std::string& pitch) {
    if (pitch.empty() || pitch.front() != '[') return {keyOrThrow(pitch)};
    if (pitch.back() != ']') throw std::invalid_argument("melody: chord '" + pitch + "' lacks ']'");
    std::vector<int> keys;
    std::string name;
    for (char c : pitch.substr(1, pitch.size() - 2) + " ") {
        if (c != ' ') {
            name += c;
        } else if (!name.empty()) {
            keys.push_back(keyOrThrow(name));
            name.clear();
        }
    }
    return keys;
}

std::int64_t ticksOf(const Length& length, const mt::TimeSignature& meter, int division) {
    if (length.ticks) return *length.ticks;
    const double exact = length.beats * static_cast<double>(mt::ticksPerBeat(meter, division));
    const double rounded = std::round(exact);
    if (std::abs(exact - rounded) > 1e-6 || rounded < 0)
        throw std::invalid_argument("melody: " + std::to_string(length.beats) +
                                    " beats is not a whole number of ticks");
    return static_cast<std::int64_t>(rounded);
}

}  // namespace

mt::Melody melodyModel(std::string_view meter, const std::vector<Step>& steps,
                       const MelodyOptions& options) {
    const bool noTimeSignature = meter.empty() || meter == "none";
    std::vector<std::pair<int, mt::TimeSignature>> changes;
    for (const MeterChangeAt& change : options.meterChanges)
        changes.emplace_back(change.bar, meterOrThrow(change.meter));
    const BarGrid grid(noTimeSignature ? mt::TimeSignature{4, 4} : meterOrThrow(meter), changes,
                       options.division);

    mt::Melody result;
    result.division = options.division;
    result.format = options.format;
    result.runningStatus = options.runningStatus;
    if (options.zeroVelocityNoteOff) result.noteOff = mt::NoteOffStyle::ZeroVelocityNoteOn;
    if (options.tempoBpm)
        result.microsecondsPerQuarter =
            static_cast<int>(std::lround(60'000'000.0 / *options.tempoBpm));
    if (!options.key.empty()) {
        result.key = mt::parseKey(options.key);
        if (!result.key)
            throw std::invalid_argument("melody: cannot read key '" + options.key + "'");
    }
    if (!noTimeSignature || !options.meterChanges.empty()) {
        result.meters = grid.changes();
        if (noTimeSignature) result.meters.erase(result.meters.begin());
    }

    mt::Track melodyTrack;
    melodyTrack.channel = options.channel;
    melodyTrack.program = options.program;
    std::int64_t cursor = 0;
    if (options.pickup) {
        const mt::TimeSignature first = grid.meterOfBar(0);
        const std::int64_t pickup = ticksOf(*options.pickup, first, options.division);
        const std::int64_t bar = mt::ticksPerBar(first, options.division);
        if (pickup > bar) throw std::invalid_argument("melody: pick-up longer than a bar");
        cursor = bar - pickup;
    }
    for (const Step& step : steps) {
        const std::int64_t ticks = ticksOf(step.length, grid.meterAt(cursor), options.division);
        if (step.pitch != "r") {
            for (int key : keysOf(step.pitch))
                melodyTrack.notes.push_back({cursor, ticks, key, options.velocity});
        }
        cursor += ticks;
    }
    melodyTrack.endTick = cursor;

    std::map<int, mt::Track> otherChannels;
    for (const PlacedNote& placed : options.extraNotes) {
        const int channel = placed.channel < 0 ? options.channel : placed.channel;
        mt::Track& track = channel == options.channel ? melodyTrack : otherChannels[channel];
        track.channel = channel;
        for (int key : keysOf(placed.pitch))
            track.notes.push_back({placed.tick, placed.durationTicks, key, placed.velocity});
    }
    result.tracks.push_back(std::move(melodyTrack));
    for (auto& [channel, track] : otherChannels) result.tracks.push_back(std::move(track));
    return result;
}

std::vector<std::uint8_t> melody(std::string_view meter, const std::vector<Step>& steps,
                                 const MelodyOptions& options) {
    return mt::encodeSmf(melodyModel(meter, steps, options));
}

std::vector<std::uint8_t> melodyFromText(std::string_view text) {
    const mt::ParseResult parsed = mt::parse(text);
    if (!parsed.ok()) {
        ADD_FAILURE() << "melody text does not parse:\n" << parsed.errorText();
        return {};
    }
    return mt::encodeSmf(parsed.melody);
}

TempMidiFile::TempMidiFile(const std::vector<std::uint8_t>& bytes, std::string_view suffix) {
    static std::atomic<unsigned> counter{0};
    std::random_device entropy;
    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = "varimel-test-" + std::to_string(entropy()) + "-" +
                                 std::to_string(counter++) + std::string(suffix);
        const std::filesystem::path candidate = folder / name;
        // "x": fail rather than reuse a file that another test created meanwhile.
        std::FILE* file = std::fopen(candidate.string().c_str(), "wbx");
        if (!file) continue;
        const std::size_t written =
            bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
        const bool closed = std::fclose(file) == 0;
        path_ = candidate;
        if (written != bytes.size() || !closed) {
            std::error_code ignored;
            std::filesystem::remove(path_, ignored);
            throw std::runtime_error("TempMidiFile: cannot write " + candidate.string());
        }
        return;
    }
    throw std::runtime_error("TempMidiFile: cannot create a file in " + folder.string());
}

TempMidiFile::~TempMidiFile() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

TempMidiFile::TempMidiFile(TempMidiFile&& other) noexcept : path_(std::move(other.path_)) {
    other.path_.clear();
}

TempMidiFile& TempMidiFile::operator=(TempMidiFile&& other) noexcept {
    if (this != &other) {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove(path_, ignored);
        }
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

}  // namespace varimel::test
