// Offline rendering with the built-in synthesiser: a melody becomes a WAV file of the right
// length that really sounds, and the first note sounds at its own pitch.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>
#include <vector>

#include "engine/Wchordmaster.h"
#include "playback/SoundFont.h"
#include "playback/WavRender.h"
#include "support/melody.h"

namespace varimel {
namespace {

using test::operator""_beat;
using test::operator""_beats;

struct Wav {
    int channels = 0;
    int rate = 0;
    int bits = 0;
    std::vector<double> mono;  // the channels' mean, -1..1
};

uint32_t le(const std::vector<char>& bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
    }
    return value;
}

Wav readWav(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
    Wav wav;
    if (bytes.size() < 44 || std::string(bytes.data(), 4) != "RIFF" ||
        std::string(bytes.data() + 8, 8) != "WAVEfmt " ||
        std::string(bytes.data() + 36, 4) != "data") {
        ADD_FAILURE() << "not a canonical WAV file";
        return wav;
    }
    EXPECT_EQ(le(bytes, 4, 4), bytes.size() - 8);
    EXPECT_EQ(le(bytes, 20, 2), 1u) << "PCM";
    wav.channels = static_cast<int>(le(bytes, 22, 2));
    wav.rate = static_cast<int>(le(bytes, 24, 4));
    wav.bits = static_cast<int>(le(bytes, 34, 2));
    const uint32_t dataBytes = le(bytes, 40, 4);
    EXPECT_EQ(dataBytes, bytes.size() - 44);
    if (wav.channels != 2 || wav.bits != 16) return wav;
    for (size_t at = 44; at + 4 <= bytes.size(); at += 4) {
        const auto left = static_cast<int16_t>(le(bytes, at, 2));
        const auto right = static_cast<int16_t>(le(bytes, at + 2, 2));
        wav.mono.push_back((left + right) / 65536.0);
    }
    return wav;
}

double rms(const std::vector<double>& samples, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += samples[i] * samples[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

// The frequency of the strongest bin of a Hann-windowed FFT of `count` (a power of two) samples.
double loudestFrequency(const std::vector<double>& samples, size_t from, size_t count, int rate) {
    std::vector<std::complex<double>> x(count);
    for (size_t i = 0; i < count; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / (count - 1));
        x[i] = samples[from + i] * hann;
    }
    for (size_t i = 1, j = 0; i < count; ++i) {  // bit reversal
        size_t bit = count >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (size_t length = 2; length <= count; length <<= 1) {
        const auto step = std::polar(1.0, -2 * std::numbers::pi / static_cast<double>(length));
        for (size_t start = 0; start < count; start += length) {
            std::complex<double> w = 1;
            for (size_t k = 0; k < length / 2; ++k, w *= step) {
                const auto even = x[start + k];
                const auto odd = x[start + k + length / 2] * w;
                x[start + k] = even + odd;
                x[start + k + length / 2] = even - odd;
            }
        }
    }
    size_t best = 1;
    for (size_t bin = 1; bin < count / 2; ++bin) {
        if (std::abs(x[bin]) > std::abs(x[best])) best = bin;
    }
    return static_cast<double>(best) * rate / static_cast<double>(count);
}

double midiPitch(double frequency) {
    return 69 + 12 * std::log2(frequency / 440.0);
}

struct WavRenderFixture : ::testing::Test {
    void SetUp() override {
        if (!canRenderWav()) GTEST_SKIP() << "built without FluidSynth (VARIMEL_WITH_FLUIDSYNTH)";
        ASSERT_FALSE(findSoundFont().empty())
            << "no General MIDI sound font: run scripts/setup.sh (installs fluid-soundfont-gm)";
        // Three bars at 120 BPM: 12 beats, 6 seconds. The first note is A4, 440 Hz.
        file = std::make_unique<test::TempMidiFile>(test::melody("4/4",
                                                                 {{"A4", 1_beat},
                                                                  {"C5", 1_beat},
                                                                  {"E5", 1_beat},
                                                                  {"G5", 1_beat},
                                                                  {"F5", 1_beat},
                                                                  {"D5", 1_beat},
                                                                  {"B4", 1_beat},
                                                                  {"G4", 1_beat},
                                                                  {"A4", 4_beats}},
                                                                 {.tempoBpm = 120}));
        master = std::make_unique<ChordMaster>(file->pathString());
        master->loadMidi();
        ASSERT_NE(master->composition(), nullptr);
        output =
            std::filesystem::temp_directory_path() /
            ("varimel_render_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".wav");
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove(output, ignored);
    }

    std::unique_ptr<test::TempMidiFile> file;
    std::unique_ptr<ChordMaster> master;
    std::filesystem::path output;
    ChannelSettings channels;
};

TEST_F(WavRenderFixture, AMelodyRendersToAudibleStereoOfItsLengthAtItsPitch) {
    const WavRenderResult result = renderToWav(*master->composition(), channels, {}, output);
    ASSERT_TRUE(result.ok) << result.error;

    const Wav wav = readWav(output);
    ASSERT_EQ(wav.channels, 2);
    ASSERT_EQ(wav.rate, 44100);
    ASSERT_EQ(wav.bits, 16);
    // The last note rings out until it has decayed below -60 dBFS, for at most three seconds.
    const double seconds = static_cast<double>(wav.mono.size()) / wav.rate;
    EXPECT_GT(seconds, 6.0);
    EXPECT_LE(seconds, 6.0 + WavRenderOptions{}.tailSeconds + 0.01);
    EXPECT_NEAR(result.musicSeconds, 6.0, 0.06);
    const size_t lastBlock = wav.mono.size() - 4096;
    double peak = 0;
    for (size_t i = lastBlock; i < wav.mono.size(); ++i)
        peak = std::max(peak, std::abs(wav.mono[i]));
    if (seconds < 6.0 + WavRenderOptions{}.tailSeconds) {
        EXPECT_LT(peak, 0.0011) << "the tail was cut while it still sounded";
    }
    const auto musicEnd = static_cast<size_t>(6.0 * wav.rate);
    EXPECT_GT(rms(wav.mono, musicEnd, musicEnd + 4096), 0.0)
        << "the tail right after the last note is not silent";

    EXPECT_GT(rms(wav.mono, 0, wav.mono.size()), 0.01) << "the file is (nearly) silent";
    // The first note, A4, from 50 ms in (past the attack) for 16384 samples (0.37 s).
    const double frequency = loudestFrequency(wav.mono, 2205, 16384, wav.rate);
    EXPECT_NEAR(midiPitch(frequency), 69.0, 1.0) << frequency << " Hz";
    // And the last note, A4 again, sounds in its own place.
    const size_t lastNote = static_cast<size_t>(4.55 * wav.rate);
    EXPECT_NEAR(midiPitch(loudestFrequency(wav.mono, lastNote, 16384, wav.rate)), 69.0, 1.0);
}

TEST_F(WavRenderFixture, TheRangeTheTempoFactorAndTheMuteApplyAsInPlayback) {
    WavRenderOptions options;
    options.rangeStart = 2 * 1920;  // the last bar: one A4 of four beats
    options.tempoFactor = 2.0;      // half the speed: four seconds
    options.tailSeconds = 0.5;
    WavRenderResult result = renderToWav(*master->composition(), channels, options, output);
    ASSERT_TRUE(result.ok) << result.error;
    Wav wav = readWav(output);
    EXPECT_GT(static_cast<double>(wav.mono.size()) / 44100, 4.0);
    EXPECT_LE(static_cast<double>(wav.mono.size()) / 44100, 4.51);
    EXPECT_NEAR(midiPitch(loudestFrequency(wav.mono, 2205, 16384, 44100)), 69.0, 1.0);

    channels.mute[0] = 1;  // the melody's channel
    result = renderToWav(*master->composition(), channels, options, output);
    ASSERT_TRUE(result.ok) << result.error;
    wav = readWav(output);
    EXPECT_LT(rms(wav.mono, 0, wav.mono.size()), 1e-4) << "a muted melody is not heard";
}

TEST_F(WavRenderFixture, AnUnwritablePathIsAnErrorAndNoFileIsLeft) {
    const std::filesystem::path path = output.parent_path() / "no such folder" / "out.wav";
    const WavRenderResult result = renderToWav(*master->composition(), channels, {}, path);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "cannot write " + path.string() + ": No such file or directory");
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace varimel
