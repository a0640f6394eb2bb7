// Offline rendering with the built-in synthesiser: a melody becomes a WAV file of the right
// length that really sounds, and the first note sounds at its own pitch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/Wchordmaster.h"
#include "playback/SoundFont.h"
#include "playback/WavRender.h"
#include "support/melody.h"
#include "support/wav.h"

namespace varimel {
namespace {

using test::loudestFrequency;
using test::midiPitch;
using test::readWav;
using test::rms;
using test::Wav;

struct WavRenderFixture : ::testing::Test {
    void SetUp() override {
        if (!canRenderWav()) GTEST_SKIP() << "built without FluidSynth (VARIMEL_WITH_FLUIDSYNTH)";
        ASSERT_FALSE(findSoundFont().empty())
            << "no General MIDI sound font: run scripts/setup.sh (installs fluid-soundfont-gm)";
        // Three bars at 120 BPM: 12 beats, 6 seconds. The first note is A4, 440 Hz.
        file = std::make_unique<test::TempMidiFile>(test::threeBarMelody());
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
