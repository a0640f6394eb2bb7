// Test melodies that read like music, turned into Standard MIDI File bytes, and a temporary file
// to hand them to code that wants a file name.
//
//   auto bytes = melody("3/4", {{"C4", 1_beat}, {"E4", 0.5_beat}, {"r", 0.5_beat},
//                               {"[C4 E4 G4]", 1_beat}, {"G4", 240_ticks}},
//                       {.key = "G major", .pickup = 1_beat});
//   TempMidiFile file(bytes);
//   load(file.path());
//
// A beat is one note of the meter's denominator (a quarter in 3/4, an eighth in 6/8) in the
// meter in force where the note starts. Notes follow one another; "r" is a rest and "[...]" a
// chord. No bar checking is done here, so any rhythm can be built; melody text
// (melodyFromText) checks bars.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "melodytext/melodytext.h"

namespace varimel::test {

// A length in beats of the current meter, or an exact number of ticks.
struct Length {
    double beats = 0;
    std::optional<std::int64_t> ticks{};
};

constexpr Length operator""_beat(long double beats) {
    return Length{static_cast<double>(beats), {}};
}
constexpr Length operator""_beat(unsigned long long beats) {
    return Length{static_cast<double>(beats), {}};
}
constexpr Length operator""_beats(long double beats) {
    return Length{static_cast<double>(beats), {}};
}
constexpr Length operator""_beats(unsigned long long beats) {
    return Length{static_cast<double>(beats), {}};
}
constexpr Length operator""_ticks(unsigned long long ticks) {
    return Length{0, static_cast<std::int64_t>(ticks)};
}

struct Step {
    std::string pitch{};  // "C4", "F#5", "r" for a rest, "[C4 E4 G4]" for a chord
    Length length{};
};

// A note placed at an absolute tick, for what a sequence of steps cannot say: notes that
// overlap, doubled notes, notes on a second channel.
struct PlacedNote {
    std::int64_t tick = 0;
    std::string pitch{};
    std::int64_t durationTicks = 0;
    int channel = -1;  // -1: the melody's channel
    int velocity = 100;
};

struct MeterChangeAt {
    int bar = 0;  // 0-based, counting a padded pick-up bar as bar 0
    std::string meter{};
};

struct MelodyOptions {
    int division = 480;
    int channel = 0;
    std::string key{};               // "G major", "E minor"; empty: no key signature
    std::optional<int> tempoBpm{};   // none: no tempo event
    std::optional<Length> pickup{};  // the melody starts this long before the first bar line
    std::vector<MeterChangeAt> meterChanges{};
    int format = 1;
    bool runningStatus = false;
    bool zeroVelocityNoteOff = false;
    int velocity = 100;
    std::optional<int> program{};
    std::vector<PlacedNote> extraNotes{};
};

// The melody as a model, for tests that adjust it before encoding. An empty meter (or "none")
// writes no time signature and counts beats as in 4/4. Throws std::invalid_argument on a pitch,
// meter or key it cannot read, or a length that is not a whole number of ticks.
melodytext::Melody melodyModel(std::string_view meter, const std::vector<Step>& steps,
                               const MelodyOptions& options = {});

std::vector<std::uint8_t> melody(std::string_view meter, const std::vector<Step>& steps,
                                 const MelodyOptions& options = {});

// Melody text (see melodytext.h) to file bytes. Records a test failure naming every parse error
// and returns no bytes when the text does not parse.
std::vector<std::uint8_t> melodyFromText(std::string_view text);

// Writes bytes to a fresh file in the system's temporary folder and removes it again.
class TempMidiFile {
  public:
    explicit TempMidiFile(const std::vector<std::uint8_t>& bytes, std::string_view suffix = ".mid");
    ~TempMidiFile();
    TempMidiFile(const TempMidiFile&) = delete;
    TempMidiFile& operator=(const TempMidiFile&) = delete;
    TempMidiFile(TempMidiFile&& other) noexcept;
    TempMidiFile& operator=(TempMidiFile&& other) noexcept;

    const std::filesystem::path& path() const { return path_; }
    std::string pathString() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

}  // namespace varimel::test
