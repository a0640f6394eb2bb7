// The MIDI stream layer: events sound at their ticks at the stream's tempo, the position runs
// with time, tempo changes act at once, and a reset silences, hands back the buffers and wakes
// whoever waits for them. Driven by a hand-moved clock into a recording port.
#include <gtest/gtest.h>

#include <list>
#include <memory>
#include <thread>
#include <vector>

#include "engine/Apperr.h"
#include "playback/Clock.h"
#include "playback/MidiResult.h"
#include "playback/MidiStream.h"
#include "playback/RecordingPort.h"

namespace varimel {
namespace {

using namespace midi_result;

constexpr ClockTime kMs = 1'000'000;

// A buffer of (delta, 0, word) triples that stays put while the stream reads it.
struct Buffer {
    explicit Buffer(std::vector<uint32_t> triples) : words(std::move(triples)) {
        header.data = words.data();
        header.bufferWords = static_cast<uint32_t>(words.size());
        header.wordsRecorded = static_cast<uint32_t>(words.size());
    }
    std::vector<uint32_t> words;
    StreamHeader header;
};

uint32_t noteOn(int key) {
    return shortMessage(0x90, key, 100);
}

struct StreamFixture : ::testing::Test {
    void open(bool autoAdvance) {
        clock = std::make_unique<ManualClock>(autoAdvance);
        ASSERT_EQ(MidiStream::open(std::make_unique<RecordingPort>(recording, *clock), *clock,
                                   event, stream),
                  kOk);
        ASSERT_EQ(stream->setTimeDivision(480), kOk);
        ASSERT_EQ(stream->setTempo(500000), kOk);
    }
    void queue(StreamHeader& header) {
        ASSERT_EQ(stream->prepareHeader(header), kOk);
        ASSERT_EQ(stream->out(header), kOk);
    }
    // Buffers live in the fixture, so that they outlive the stream that may still hold them.
    StreamHeader& buffer(std::vector<uint32_t> triples) {
        return buffers.emplace_back(std::move(triples)).header;
    }
    bool waitForMessages(size_t count) {
        return recording->waitFor([&](const auto& log) { return log.size() >= count; });
    }

    std::shared_ptr<Recording> recording = std::make_shared<Recording>();
    std::shared_ptr<StreamEvent> event = std::make_shared<StreamEvent>();
    std::unique_ptr<ManualClock> clock;
    std::list<Buffer> buffers;
    std::unique_ptr<MidiStream> stream;
};

TEST_F(StreamFixture, EventsSoundAtTheirTicksAndTempoEventsChangeTheRateFromTheirTick) {
    open(true);
    // At 480 ticks per quarter and 500000 us per quarter a quarter lasts 500 ms; the tempo event
    // at tick 960 halves it, and the second buffer's delta counts from the first one's last event.
    StreamHeader& first =
        buffer({0, 0, noteOn(60), 480, 0, noteOn(62), 480, 0, tempoEventWord(250000)});
    StreamHeader& second = buffer({480, 0, noteOn(64), 0, 0, noteOn(65)});
    queue(first);
    queue(second);
    ASSERT_EQ(stream->restart(), kOk);
    ASSERT_TRUE(waitForMessages(4));
    // The event is signalled as buffers finish (signals that come together count once).
    while (!second.done()) ASSERT_TRUE(event->waitFor(std::chrono::seconds(5)));

    const auto log = recording->messages();
    ASSERT_EQ(log.size(), 4u);
    const std::vector<std::pair<ClockTime, uint32_t>> expected{{0, noteOn(60)},
                                                               {500 * kMs, noteOn(62)},
                                                               {1250 * kMs, noteOn(64)},
                                                               {1250 * kMs, noteOn(65)}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(log[i].due, expected[i].first) << "message " << i;
        EXPECT_EQ(log[i].sent, log[i].due) << "message " << i;
        EXPECT_EQ(log[i].message, expected[i].second) << "message " << i;
    }
    EXPECT_TRUE(first.done());
    EXPECT_FALSE(first.inQueue());
    EXPECT_TRUE(second.done());
    int32_t tempo = 0;
    stream->tempo(tempo);
    EXPECT_EQ(tempo, 250000);
}

TEST_F(StreamFixture, PositionRunsWithTimeWhilePlayingAndFollowsTempoAndDivisionChanges) {
    open(false);
    int64_t ticks = -1;
    clock->advance(100 * kMs);
    stream->position(ticks);
    EXPECT_EQ(ticks, 0) << "a stream opens paused";

    ASSERT_EQ(stream->restart(), kOk);
    clock->advance(250 * kMs);
    stream->position(ticks);
    EXPECT_EQ(ticks, 240);

    ASSERT_EQ(stream->setTempo(250000), kOk);  // twice as fast from here on
    clock->advance(250 * kMs);
    stream->position(ticks);
    EXPECT_EQ(ticks, 240 + 480);

    ASSERT_EQ(stream->setTimeDivision(960), kOk);  // twice as many ticks per quarter
    clock->advance(250 * kMs);
    stream->position(ticks);
    EXPECT_EQ(ticks, 240 + 480 + 960);

    ASSERT_EQ(stream->pause(), kOk);
    clock->advance(1000 * kMs);
    stream->position(ticks);
    EXPECT_EQ(ticks, 240 + 480 + 960);
}

TEST_F(StreamFixture, ATempoChangeWhilePlayingMovesTheNextEventAtOnce) {
    open(false);
    StreamHeader& queued = buffer({960, 0, noteOn(60)});
    queue(queued);
    ASSERT_EQ(stream->restart(), kOk);
    clock->advance(250 * kMs);                 // tick 240 of 960
    ASSERT_EQ(stream->setTempo(250000), kOk);  // the other 720 ticks take 375 ms
    clock->advance(2000 * kMs);
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(recording->messages()[0].due, 625 * kMs);
}

TEST_F(StreamFixture, ResetSilencesAtOnceHandsBackTheBuffersAndWakesTheWaiter) {
    open(false);
    StreamHeader& first = buffer({0, 0, noteOn(60), 4800, 0, noteOn(61)});
    StreamHeader& second = buffer({0, 0, noteOn(62)});
    queue(first);
    queue(second);
    ASSERT_EQ(stream->restart(), kOk);
    ASSERT_TRUE(waitForMessages(1));

    std::thread waiter([&] { event->wait(); });
    clock->advance(1000 * kMs);
    ASSERT_EQ(stream->reset(), kOk);
    waiter.join();

    auto log = recording->messages();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[1].silence);
    EXPECT_EQ(log[1].sent, 1000 * kMs);
    EXPECT_TRUE(first.done() && !first.inQueue());
    EXPECT_TRUE(second.done() && !second.inQueue());
    int64_t ticks = -1;
    stream->position(ticks);
    EXPECT_EQ(ticks, 0);

    // Nothing of the handed-back buffers sounds later, and a restart starts from tick 0.
    clock->advance(10000 * kMs);
    StreamHeader& third = buffer({480, 0, noteOn(70)});
    queue(third);
    ASSERT_EQ(stream->restart(), kOk);
    clock->advance(500 * kMs);
    ASSERT_TRUE(waitForMessages(3));
    log = recording->messages();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2].message, noteOn(70));
    EXPECT_EQ(log[2].due, 11500 * kMs);
}

TEST_F(StreamFixture, BuffersMustBePreparedAndStayUntouchedWhileQueued) {
    open(false);
    StreamHeader& queued = buffer({0, 0, noteOn(60)});
    EXPECT_EQ(stream->out(queued), kUnprepared);
    ASSERT_EQ(stream->prepareHeader(queued), kOk);
    ASSERT_EQ(stream->out(queued), kOk);
    EXPECT_EQ(stream->out(queued), kStillPlaying);
    EXPECT_EQ(stream->unprepareHeader(queued), kStillPlaying);
    stream->reset();
    EXPECT_EQ(stream->unprepareHeader(queued), kOk);

    StreamHeader& broken = buffer({0, 0});
    stream->prepareHeader(broken);
    EXPECT_EQ(stream->out(broken), kInvalidParam);
    EXPECT_EQ(stream->setTempo(0), kInvalidParam);
    EXPECT_EQ(stream->setTimeDivision(0), kInvalidParam);
    EXPECT_EQ(stream->shortMessage(0xF8), kInvalidParam) << "only channel messages are short";
}

TEST_F(StreamFixture, ShortMessagesSoundAtOnceWhatEverIsQueued) {
    open(false);
    StreamHeader& queued = buffer({4800, 0, noteOn(60)});
    queue(queued);
    stream->restart();
    clock->advance(7 * kMs);
    ASSERT_EQ(stream->shortMessage(shortMessage(0xC1, 19, 0)), kOk);
    const auto log = recording->messages();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].message, shortMessage(0xC1, 19, 0));
    EXPECT_EQ(log[0].sent, 7 * kMs);
}

TEST(MidiResult, RaiseMidiErrorThrowsTheTextOfTheCode) {
    installMidiErrorTexts();
    try {
        raiseMidiError(kStillPlaying);
        FAIL() << "no exception";
    } catch (const AppError& e) {
        EXPECT_EQ(std::string(e.what()), midiResultText(kStillPlaying));
    }
    EXPECT_EQ(lastError().midi, kStillPlaying);
    EXPECT_NO_THROW(raiseMidiError(kOk));
    EXPECT_NE(midiResultText(kNoDevice), midiResultText(kBadDevice));
    EXPECT_EQ(midiResultText(999), "Unknown MIDI output error 999.");
}

}  // namespace
}  // namespace varimel
