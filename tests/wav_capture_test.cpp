// Capturing playback into a WAV file: what the ports receive sounds in the file at the time it
// was sent, playbacks follow one another in order, and a file that cannot be written is told and
// never left half-made.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/Wchordmaster.h"
#include "playback/RecordingPort.h"
#include "playback/SoundFont.h"
#include "playback/Tmplay.h"
#include "playback/WavCapture.h"
#include "support/melody.h"
#include "support/wav.h"

namespace varimel {
namespace {

using test::loudestFrequency;
using test::midiPitch;
using test::readWav;
using test::rms;
using test::Wav;

constexpr ClockTime kSecond = 1'000'000'000;
constexpr size_t kWindow = 16384;  // 0.37 s at 44.1 kHz, for the pitch
constexpr double kSilent = 1e-4;   // RMS below this: no note sounds
constexpr double kAudible = 0.01;  // RMS above this: the file really sounds

ClockTime at(double seconds) {
    return static_cast<ClockTime>(seconds * kSecond);
}

uint32_t noteOn(int key) {
    return shortMessage(0x90, key, 100);
}
uint32_t noteOff(int key) {
    return shortMessage(0x80, key, 64);
}

// The sound's pitch from `seconds` into the file.
double pitchAt(const Wav& wav, double seconds) {
    return midiPitch(
        loudestFrequency(wav.mono, static_cast<size_t>(seconds * wav.rate), kWindow, wav.rate));
}
double rmsBetween(const Wav& wav, double from, double to) {
    return rms(wav.mono, static_cast<size_t>(from * wav.rate), static_cast<size_t>(to * wav.rate));
}

struct WavCaptureFixture : ::testing::Test {
    void SetUp() override {
        if (!canRenderWav()) GTEST_SKIP() << "built without FluidSynth (VARIMEL_WITH_FLUIDSYNTH)";
        ASSERT_FALSE(findSoundFont().empty())
            << "no General MIDI sound font: run scripts/setup.sh (installs fluid-soundfont-gm)";
        folder = std::filesystem::temp_directory_path() /
                 ("varimel_capture_" +
                  std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
        output = folder / "out.wav";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::shared_ptr<WavCapture> makeCapture(Clock& clock, const CaptureRenderOptions& options) {
        std::string error;
        auto capture = WavCapture::create(output, clock, options, error);
        EXPECT_NE(capture, nullptr) << error;
        EXPECT_EQ(error, "");
        return capture;
    }

    std::filesystem::path folder;
    std::filesystem::path output;
};

TEST_F(WavCaptureFixture, ACapturedSequenceSoundsAtItsRecordedTimes) {
    // Recorded on a clock that did not start at zero: times count from the stream's opening.
    const ClockTime opened = at(7.25);
    CapturedStream stream{opened, opened + at(2.6), {}};
    auto sent = [&](double seconds, uint32_t message, bool silence = false) {
        stream.messages.push_back({opened + at(seconds), opened + at(seconds), message, silence});
    };
    sent(0.0, shortMessage(0xC0, 0, 0));  // piano
    sent(0.0, shortMessage(0xB0, 7, 110));
    sent(0.5, noteOn(69));  // A4
    sent(1.5, noteOff(69));
    sent(1.5, noteOn(76));  // E5
    sent(2.5, noteOff(76));
    sent(2.6, 0, true);  // the stream's reset at its end

    CaptureRenderOptions options;
    options.tailSeconds = 0.5;
    const WavRenderResult result = renderCaptureToWav({stream}, options, output);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_NEAR(result.musicSeconds, 2.6, 2.6 * 0.05);

    const Wav wav = readWav(output);
    ASSERT_EQ(wav.rate, 44100);
    EXPECT_NEAR(wav.seconds(), result.seconds, 1e-6);
    EXPECT_GE(wav.seconds(), 2.6);
    EXPECT_LE(wav.seconds(), 2.6 + options.tailSeconds + 0.01);
    EXPECT_GT(rms(wav.mono, 0, wav.mono.size()), kAudible) << "the file is (nearly) silent";
    EXPECT_LT(rmsBetween(wav, 0.0, 0.49), kSilent) << "sound before the first note";
    EXPECT_NEAR(pitchAt(wav, 0.55), 69.0, 1.0);
    EXPECT_NEAR(pitchAt(wav, 1.55), 76.0, 1.0);
}

TEST_F(WavCaptureFixture, EachClosedStreamIsAddedToTheFileInOrderAfterTheTimeBetween) {
    ManualClock clock(false, at(100));
    CaptureRenderOptions options;
    options.tailSeconds = 0.2;
    const auto capture = makeCapture(clock, options);
    ASSERT_NE(capture, nullptr);
    // One note of one second per stream; each stream ends with its reset.
    auto playStream = [&](int key) {
        std::unique_ptr<OutputPort> port = capture->openPort();
        port->send(shortMessage(0xC0, 0, 0), clock.now());
        port->send(noteOn(key), clock.now());
        clock.advance(at(1.0));
        port->send(noteOff(key), clock.now());
        port->silence();
    };

    playStream(69);  // A4, 0..1 s
    WavRenderResult result = capture->flush();
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_NEAR(result.musicSeconds, 1.0, 0.01);
    EXPECT_NEAR(pitchAt(readWav(output), 0.05), 69.0, 1.0);

    clock.advance(at(0.5));
    {
        // A stream that sends nothing (opened and closed without playing) takes no time.
        const std::unique_ptr<OutputPort> idle = capture->openPort();
        clock.advance(at(0.3));
    }
    playStream(76);  // E5, after 0.8 s of silence
    result = capture->flush();
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_NEAR(result.musicSeconds, 1.0 + 0.8 + 1.0, 0.01);
    const Wav wav = readWav(output);
    EXPECT_NEAR(pitchAt(wav, 0.05), 69.0, 1.0) << "the first stream is still first";
    // Only the reverberation of the first note is left there, some 40 dB down.
    EXPECT_LT(rmsBetween(wav, 1.05, 1.75), rmsBetween(wav, 0.1, 0.9) / 30)
        << "the gap between the streams";
    EXPECT_NEAR(pitchAt(wav, 1.85), 76.0, 1.0);
}

TEST_F(WavCaptureFixture, ALongIdleBetweenPlaybacksIsShortened) {
    auto oneNote = [](ClockTime opened, int key) {
        return CapturedStream{opened,
                              opened + at(1),
                              {{opened, opened, noteOn(key), false},
                               {opened + at(1), opened + at(1), noteOff(key), false}}};
    };
    CaptureRenderOptions options;
    options.tailSeconds = 0;
    options.maxGapSeconds = 1.5;
    const WavRenderResult result =
        renderCaptureToWav({oneNote(0, 69), oneNote(at(600), 76)}, options, output);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_NEAR(result.musicSeconds, 1 + 1.5 + 1, 0.01);
    EXPECT_NEAR(readWav(output).seconds(), 3.5, 0.01);

    // Chords auditioned in one open stream: the idle after each is shortened the same way, a
    // note held as long is not.
    const CapturedStream auditions{0,
                                   at(40.5),
                                   {{0, 0, noteOn(60), false},
                                    {at(0.5), at(0.5), noteOff(60), false},
                                    {at(20), at(20), noteOn(64), false},
                                    {at(24), at(24), noteOff(64), false},
                                    {at(40), at(40), noteOn(67), false},
                                    {at(40.5), at(40.5), noteOff(67), false}}};
    const WavRenderResult shortened = renderCaptureToWav({auditions}, options, output);
    ASSERT_TRUE(shortened.ok) << shortened.error;
    EXPECT_NEAR(shortened.musicSeconds, 0.5 + 1.5 + 4 + 1.5 + 0.5, 0.01);
}

// The player itself, on a clock that jumps to each due time: two playbacks, the whole piece and
// then its second bar onwards, land in the file one after the other.
TEST_F(WavCaptureFixture, ThePlayersPlaybacksAreCapturedInOrderAtTheirLength) {
    // Six seconds; bar 1 starts on A4, bar 2 on F5.
    test::TempMidiFile file(test::threeBarMelody());
    ChordMaster master(file.pathString());
    master.loadMidi();
    Composition* composition = master.composition();
    ASSERT_NE(composition, nullptr);

    ManualClock clock(true);
    CaptureRenderOptions options;
    options.tailSeconds = 0.5;
    const auto capture = makeCapture(clock, options);
    ASSERT_NE(capture, nullptr);
    {
        PlayerContext player;
        player.setClock(clock);
        player.setOutputOpener([&capture](int, std::unique_ptr<OutputPort>& port) {
            port = capture->openPort();
            return 0;
        });
        player.composition = composition;
        player.divisionCell->store(composition->ticksPerQuarter);
        player.tempoCell->store(500000);
        std::vector<std::string> errors;
        auto onError = [&](const std::string&, const std::string& text) { errors.push_back(text); };

        ASSERT_TRUE(player.start({}, onError));
        player.waitForEnd();
        player.playRange->set(PlayRange::kStart, 4 * composition->ticksPerQuarter);
        ASSERT_TRUE(player.start({}, onError));
        player.waitForEnd();
        EXPECT_EQ(errors, std::vector<std::string>{});
    }
    const WavRenderResult result = capture->flush();
    ASSERT_TRUE(result.ok) << result.error;
    // The time played: six seconds, then four.
    EXPECT_NEAR(result.musicSeconds, 10.0, 10.0 * 0.05);
    const Wav wav = readWav(output);
    EXPECT_NEAR(wav.seconds(), 10.0 + options.tailSeconds, 10.0 * 0.05);
    EXPECT_GT(rms(wav.mono, 0, wav.mono.size()), kAudible) << "the file is (nearly) silent";
    EXPECT_NEAR(pitchAt(wav, 0.05), 69.0, 1.0) << "the first playback starts on A4";
    EXPECT_NEAR(pitchAt(wav, result.musicSeconds - 4.0 + 0.05), 77.0, 1.0)
        << "the second starts on F5";
}

TEST_F(WavCaptureFixture, AFileThatCannotBeWrittenIsToldAndNothingIsLeft) {
    ManualClock clock;
    std::string error;
    // Found at once: a missing folder, a folder in place of the file.
    const std::filesystem::path missing = folder / "no such folder" / "out.wav";
    EXPECT_EQ(WavCapture::create(missing, clock, {}, error), nullptr);
    EXPECT_EQ(error, "cannot write " + missing.string() + ": No such file or directory");
    EXPECT_FALSE(std::filesystem::exists(missing.parent_path()));
    EXPECT_EQ(WavCapture::create(folder, clock, {}, error), nullptr);
    EXPECT_EQ(error, "A capture is written to a file: " + folder.string() + " is not one.");

    // Found when the stream closes: the folder went away meanwhile.
    const std::filesystem::path inner = folder / "inner";
    std::filesystem::create_directories(inner);
    output = inner / "out.wav";
    const auto capture = makeCapture(clock, {});
    ASSERT_NE(capture, nullptr);
    std::vector<std::string> told;
    capture->setErrorHandler([&told](const std::string& text) { told.push_back(text); });
    std::filesystem::remove_all(inner);
    capture->openPort()->send(noteOn(69), clock.now());
    const WavRenderResult result = capture->flush();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "cannot write " + output.string() + ": No such file or directory");
    EXPECT_EQ(told,
              std::vector<std::string>{"The playback capture was not saved: " + result.error});
    EXPECT_FALSE(std::filesystem::exists(inner));
}

}  // namespace
}  // namespace varimel
