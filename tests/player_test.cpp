// The player: which events a range plays and when, how they fill the stream's buffers, and how
// playback runs on its worker — to the end, in a loop, after "Delete Loop Points", and when
// stopped at any moment — into a recording port on a clock the tests move.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/Apperr.h"
#include "playback/EventTable.h"
#include "playback/MidiResult.h"
#include "playback/RecordingPort.h"
#include "playback/Tmplay.h"

namespace varimel {
namespace {

using namespace midi_result;

constexpr int kQuarter = 480;
constexpr int kBar = 4 * kQuarter;
// At 500000 us per quarter note and 480 ticks per quarter note.
constexpr double kNsPerTick = 500000.0 * 1000.0 / kQuarter;

// A 4/4 piece at 480 ticks per quarter built note by note.
struct Piece {
    // With `scaleBars`, one quarter note per beat on the melody for that many bars, from C4 up.
    explicit Piece(int scaleBars = 0) {
        c.meterMap().setTicksPerQuarter(kQuarter);
        c.meterMap().addSegment(0, 4, 4);
        for (int i = 0; i < scaleBars * 4; ++i) note(0, 60 + i % 12, i * kQuarter, kQuarter);
    }
    Piece& note(int list, int key, int tick, int duration, int velocity = 100, int release = 64) {
        c.noteTracks().addNote(static_cast<uint8_t>(key), static_cast<uint8_t>(list),
                               static_cast<uint16_t>(velocity << 8 | release), position(tick),
                               static_cast<uint16_t>(duration), static_cast<uint8_t>(key % 12));
        c.noteTracks().raiseEndTick(tick + duration);
        return *this;
    }
    Piece& tempo(int tick, int microseconds) {
        c.conductorEvents.append({event_kind::kTempo, microseconds, 0, position(tick)});
        return *this;
    }
    Piece& channelEvent(int tick, int kind, int data1, int data2 = 0) {
        c.channelEvents.append(
            {static_cast<uint8_t>(kind), packEventValue(data1, data2), 0, position(tick)});
        return *this;
    }
    SongPosition position(int tick) const { return c.meterMap().positionOfTick(tick); }

    Composition c;
};

std::string describe(uint32_t message) {
    const int status = messageStatus(message);
    std::string kind;
    switch (status & 0xF0) {
        case 0x80:
            kind = "off";
            break;
        case 0x90:
            kind = "on";
            break;
        case 0xB0:
            kind = "cc";
            break;
        case 0xC0:
            kind = "program";
            break;
        default:
            kind = "status" + std::to_string(status & 0xF0);
            break;
    }
    std::string text =
        kind + " " + std::to_string(status & 0x0F) + " " + std::to_string(messageData1(message));
    if (messageDataLength(status) == 2) text += " " + std::to_string(messageData2(message));
    return text;
}

// The table as "tick: message" lines (tempo events as "tempo N", the range end as "end").
std::vector<std::string> tableLines(const EventTable& table, double tempoFactor = 1.0,
                                    const ChannelSettings& channels = {}) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < table.size(); ++i) {
        uint32_t word = 0;
        std::string text;
        if (!EventTable::eventWord(table.entry(i), channels, tempoFactor, word)) {
            text = "dropped";
        } else if (eventType(word) == stream_event::kTempo) {
            text = "tempo " + std::to_string(word & stream_event::kParameterMask);
        } else if (eventType(word) == stream_event::kNop) {
            text = "end";
        } else {
            text = describe(word);
        }
        lines.push_back(std::to_string(table.time(i)) + ": " + text);
    }
    return lines;
}

using Lines = std::vector<std::string>;

// --- The event table ------------------------------------------------------------------------

TEST(EventTable, ChannelEventsPlayOnlyOnTheChannelsOfTheAccompanimentMode) {
    Piece piece;
    for (int channel : {0, 1, 2, 3, 9}) piece.channelEvent(0, 0xC0 | channel, 10 + channel);
    const std::vector<std::pair<uint32_t, std::vector<int>>> cases{
        {1, {0, 1}}, {2, {0, 1}}, {4, {0, 1, 3, 9}}, {6, {0}}, {3, {0}}, {0, {0}}};
    for (const auto& [mode, channels] : cases) {
        piece.c.accompanimentParts = mode;
        EventTable table;
        table.build(piece.c, 0, kBar);
        Lines expected;
        for (int channel : channels) {
            expected.push_back("0: program " + std::to_string(channel) + " " +
                               std::to_string(10 + channel));
        }
        expected.push_back("1920: end");
        EXPECT_EQ(tableLines(table), expected) << "mode " << mode;
    }
}

TEST(EventTable, ARangeTakesTheNotesStartingInItAndCutsThemAtItsEnd) {
    Piece piece;
    piece
        .note(0, 60, 0, kQuarter)         // before the range
        .note(0, 62, 960, kQuarter)       // inside
        .note(0, 64, 1440, 2 * kQuarter)  // sounds past the end: cut there
        .note(0, 65, 1920, kQuarter)      // starts at the end: not played
        .note(1, 48, 0, 4 * kQuarter)     // accompaniment starting before the range
        .note(9, 36, 960, 10, 90, 0);     // drums
    EventTable table;
    table.build(piece.c, 960, 1920);
    EXPECT_EQ(tableLines(table),
              (Lines{"960: on 0 62 100", "960: on 9 36 90", "969: off 9 36 0", "1439: off 0 62 64",
                     "1440: on 0 64 100", "1920: off 0 64 64", "1920: end"}));

    table.build(piece.c, 2400, 4000);  // after the last note of every list
    EXPECT_EQ(tableLines(table), (Lines{"4000: end"}));
}

TEST(EventTable, StateBeforeTheStartIsSentAtTheStartInItsOwnOrder) {
    Piece piece(2);
    piece.tempo(0, 600000)
        .tempo(480, 400000)
        .tempo(2880, 300000)  // in the range
        .tempo(3840, 200000)  // at the end: not played
        .channelEvent(0, 0xC0, 5)
        .channelEvent(100, 0xC0, 7)  // the later program wins
        .channelEvent(200, 0xB0, 7, 90)
        .channelEvent(3000, 0xB0, 10, 30);
    EventTable table;
    table.build(piece.c, 1920, 3840);
    const Lines lines = tableLines(table);
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 6),
              (Lines{"1920: tempo 600000", "1920: tempo 400000", "1920: program 0 5",
                     "1920: program 0 7", "1920: cc 0 7 90", "1920: on 0 64 100"}));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "2880: tempo 300000"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "3000: cc 0 10 30"), lines.end());
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("200000") != l.npos; }),
              0);
}

TEST(EventTable, TempoEventsKeepTheirRatioToTheUsersTempo) {
    Piece piece;
    piece.tempo(0, 500000).tempo(960, 250000).tempo(1000, 12000000).note(0, 60, 0, 2000);
    EventTable table;
    table.build(piece.c, 0, 2000);
    EXPECT_EQ(tableLines(table, 1.5),
              (Lines{"0: tempo 750000", "0: on 0 60 100", "960: tempo 375000",
                     "1000: tempo 16777215",  // a tempo event holds 24 bits
                     "1999: off 0 60 64", "2000: end"}));
}

TEST(EventTable, SilencedChannelsLoseOnlyTheirVolumeLikeControllers) {
    Piece piece;
    piece.c.accompanimentParts = 1;
    for (int channel : {0, 1}) {
        piece.channelEvent(0, 0xB0 | channel, 7, 90)
            .channelEvent(0, 0xB0 | channel, 39, 5)   // 39 = 7 + 32: the volume's low byte
            .channelEvent(0, 0xB0 | channel, 10, 64)  // pan stays
            .channelEvent(0, 0xC0 | channel, 3);
    }
    EventTable table;
    table.build(piece.c, 0, 10);

    ChannelSettings muted;
    muted.mute[1] = 1;
    muted.updateSoloMode();
    EXPECT_EQ(tableLines(table, 1.0, muted),
              (Lines{"0: cc 0 7 90", "0: cc 0 39 5", "0: cc 0 10 64", "0: program 0 3",
                     "0: dropped", "0: dropped", "0: cc 1 10 64", "0: program 1 3", "10: end"}));

    ChannelSettings soloed;
    soloed.solo[1] = 1;
    soloed.updateSoloMode();
    EXPECT_EQ(tableLines(table, 1.0, soloed),
              (Lines{"0: dropped", "0: dropped", "0: cc 0 10 64", "0: program 0 3", "0: cc 1 7 90",
                     "0: cc 1 39 5", "0: cc 1 10 64", "0: program 1 3", "10: end"}));
}

TEST(EventTable, ANoteOfOneTickOrNoneStopsOnlyAfterItStarts) {
    Piece piece;
    piece.note(0, 60, 0, 0).note(0, 62, 10, 1).note(0, 64, 20, 2);
    EventTable table;
    table.build(piece.c, 0, 30);
    EXPECT_EQ(tableLines(table),
              (Lines{"0: on 0 60 100", "0: off 0 60 64", "10: on 0 62 100", "10: off 0 62 64",
                     "20: on 0 64 100", "21: off 0 64 64", "30: end"}));
}

TEST(EventTable, BuffersHoldAtMost2730EventsAndChainTheirDeltas) {
    Piece piece;
    for (int i = 0; i < 1500; ++i) piece.note(0, 60 + i % 12, 100 + i * 100, 50);
    EventTable table;
    table.build(piece.c, 0, piece.c.noteTracks().melodyEndTick());
    ASSERT_EQ(table.size(), 3001u);

    std::vector<uint32_t> words(kStreamBufferWords);
    std::vector<uint32_t> all;
    ChannelSettings channels;
    uint32_t used = 0, events = 0;
    EXPECT_EQ(table.fill(words, used, events, channels, 1.0), 1);
    EXPECT_EQ(events, 2730u);
    EXPECT_EQ(used, 8190u);
    all.insert(all.end(), words.begin(), words.begin() + used);
    EXPECT_EQ(table.fill(words, used, events, channels, 1.0), 0);
    EXPECT_EQ(events, 271u);
    all.insert(all.end(), words.begin(), words.begin() + used);

    // Deltas of both buffers add up to each event's time from the range start.
    uint64_t tick = 0;
    for (size_t i = 0; i < all.size(); i += 3) {
        tick += all[i];
        EXPECT_EQ(all[i + 1], 0u);
        ASSERT_EQ(tick, table.time(i / 3)) << "event " << i / 3;
    }
    EXPECT_EQ(all[3 * 2730], 51u) << "the second buffer counts from the first one's last";

    table.rewind();
    EXPECT_EQ(table.fill(words, used, events, channels, 1.0), 1);
    EXPECT_EQ(words[0], 100u) << "a rewound table starts again from the range start";
}

// --- Playback through the recording port ----------------------------------------------------

struct PlayerFixture : ::testing::Test {
    // Auto-advance: the clock jumps to each due time, so a piece plays in a blink, on time.
    void SetUp() override { setUpPlayer(true); }

    void setUpPlayer(bool autoAdvance) {
        clock = std::make_unique<ManualClock>(autoAdvance);
        player = std::make_unique<PlayerContext>();
        player->setClock(*clock);
        player->setOutputOpener([this](int device, std::unique_ptr<OutputPort>& port) {
            devices.push_back(device);
            if (failOpen != kOk) return failOpen;
            port = std::make_unique<RecordingPort>(recording, *clock);
            return kOk;
        });
        player->divisionCell->store(kQuarter);
        player->tempoCell->store(500000);
    }
    void TearDown() override { player.reset(); }

    void play(Piece& piece) {
        player->composition = &piece.c;
        ASSERT_TRUE(player->start([this] { ++terminated; },
                                  [this](const auto& caption, const auto& text) {
                                      errors.push_back(caption + ": " + text);
                                  }));
    }
    void playToEnd(Piece& piece) {
        play(piece);
        player->waitForEnd();
    }

    // The recorded notes as "tick: message", ticks counted from the first message's time
    // onwards at 500000 us per quarter; silences as "silence".
    Lines notes(bool withTicks = true, ClockTime origin = 0) const {
        Lines lines;
        for (const RecordedMessage& m : recording->messages()) {
            if (m.silence) {
                lines.push_back("silence");
                continue;
            }
            const int status = messageStatus(m.message) & 0xF0;
            if (status != 0x80 && status != 0x90) continue;
            const auto tick = std::llround(static_cast<double>(m.due - origin) / kNsPerTick);
            lines.push_back((withTicks ? std::to_string(tick) + ": " : "") + describe(m.message));
        }
        return lines;
    }
    // Moves a hand-driven clock on in steps of 50 ms until `done` holds (at most 100 s).
    template <typename Done>
    void advanceUntil(Done done) {
        for (int step = 0; step < 2000 && !done(); ++step) {
            clock->advance(50'000'000);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_TRUE(done());
    }
    size_t count(const std::string& line) const {
        const Lines all = notes(false);
        return static_cast<size_t>(std::count(all.begin(), all.end(), line));
    }

    std::shared_ptr<Recording> recording = std::make_shared<Recording>();
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<PlayerContext> player;
    std::vector<int> devices;
    int failOpen = kOk;
    std::atomic<int> terminated{0};
    std::vector<std::string> errors;
};

TEST_F(PlayerFixture, PlaysTheRangeOnTimeAfterTheChannelSettingsAndEndsByItself) {
    Piece piece(1);
    piece.note(1, 48, 0, kBar - 10);
    player->channelSettings->program[1] = 19;
    playToEnd(piece);

    EXPECT_EQ(terminated, 1);
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(player->isPlaying());
    EXPECT_FALSE(player->isOpen());
    EXPECT_FALSE(player->playTimerEnabled());
    EXPECT_EQ(devices, std::vector<int>{-1});
    EXPECT_EQ((*player->playRange)[PlayRange::kEnd], kBar);

    const auto log = recording->messages();
    ASSERT_GE(log.size(), 32u);
    // Programs of all 16 channels, then their volumes, before anything else.
    EXPECT_EQ(describe(log[1].message), "program 1 19");
    EXPECT_EQ(describe(log[16].message), "cc 0 7 100");
    EXPECT_EQ(notes(),
              (Lines{"0: on 0 60 100", "0: on 1 48 100", "479: off 0 60 64", "480: on 0 61 100",
                     "959: off 0 61 64", "960: on 0 62 100", "1439: off 0 62 64",
                     "1440: on 0 63 100", "1909: off 1 48 64", "1919: off 0 63 64", "silence"}));
}

TEST_F(PlayerFixture, APieceLongerThanTwoBuffersPlaysThroughWithTheBuffersAlternating) {
    Piece piece;
    constexpr int kNotes = 4000;  // 8000 events: three buffers' worth
    for (int i = 0; i < kNotes; ++i) piece.note(0, 40 + i % 40, i * 60, 30);
    playToEnd(piece);
    const Lines played = notes();
    ASSERT_EQ(played.size(), 2u * kNotes + 1);
    for (int i = 0; i < kNotes; i += 997) {
        EXPECT_EQ(played[static_cast<size_t>(2 * i)],
                  std::to_string(i * 60) + ": on 0 " + std::to_string(40 + i % 40) + " 100");
    }
    EXPECT_EQ(played[2 * kNotes - 1], std::to_string((kNotes - 1) * 60 + 29) + ": off 0 " +
                                          std::to_string(40 + (kNotes - 1) % 40) + " 64");
}

TEST_F(PlayerFixture, PlayingFromAStartTickAfterTheLastNoteOfAListPlaysNothingOfIt) {
    Piece piece(2);
    piece.note(1, 48, 0, kBar);
    player->playRange->set(PlayRange::kStart, kBar);
    playToEnd(piece);
    EXPECT_EQ(count("on 1 48 100"), 0u);
    EXPECT_EQ(count("on 0 64 100"), 1u);
    EXPECT_EQ(notes().front(), "0: on 0 64 100") << "ticks count from the range start";
}

TEST_F(PlayerFixture, ALoopPlaysAgainAndAgainUntilStoppedEachPassAsLongAsTheLoop) {
    Piece piece(4);
    player->playRange->set(PlayRange::kLoopStart, kBar);
    player->playRange->set(PlayRange::kLoopEnd, 2 * kBar + kQuarter);  // ends on a rest
    piece.c.noteTracks().emptyList(0);
    piece.note(0, 60, kBar, kQuarter).note(0, 62, kBar + kQuarter, kQuarter);
    piece.note(0, 64, 3 * kBar, kQuarter).c.noteTracks().raiseEndTick(4 * kBar);
    player->rangeSelector = range_selector::kLoop;
    play(piece);
    ASSERT_TRUE(recording->waitFor([](const auto& log) {
        return std::count_if(log.begin(), log.end(), [](const auto& m) { return m.silence; }) >= 4;
    }));
    player->stop();
    player->waitForEnd();

    EXPECT_EQ(count("on 0 64 100"), 0u) << "nothing outside the loop";
    EXPECT_EQ(player->rangeSelector.load(), range_selector::kRange);
    // Passes are separated by resets; each starts one loop length after the one before.
    std::vector<ClockTime> passStarts;
    bool atStart = true;
    for (const RecordedMessage& m : recording->messages()) {
        if (m.silence) {
            atStart = true;
        } else if (atStart && (messageStatus(m.message) & 0xF0) == 0x90) {
            passStarts.push_back(m.due);
            atStart = false;
        }
    }
    ASSERT_GE(passStarts.size(), 3u);
    for (size_t i = 1; i < passStarts.size(); ++i) {
        EXPECT_EQ(std::llround(static_cast<double>(passStarts[i] - passStarts[i - 1]) / kNsPerTick),
                  kBar + kQuarter);
    }
}

TEST_F(PlayerFixture, DeletingTheLoopWhilePlayingGoesOnFromTheLoopEndToTheEnd) {
    setUpPlayer(false);  // the loop must not pass while the notes view changes its fields
    Piece piece(4);
    player->playRange->set(PlayRange::kLoopStart, kBar);
    player->playRange->set(PlayRange::kLoopEnd, 2 * kBar);
    player->rangeSelector = range_selector::kLoop;
    play(piece);
    // Two passes of the loop, then "Delete Loop Points" in the middle of the third.
    for (int pass = 0; pass < 2; ++pass) {
        advanceUntil([&] { return count("silence") >= static_cast<size_t>(pass + 1); });
    }
    clock->advance(500'000'000);
    player->rangeSelector = range_selector::kRange;
    player->playRange->set(PlayRange::kStart, kBar);
    player->restartRequest->store(1);
    advanceUntil([&] { return !player->isPlaying(); });
    player->waitForEnd();

    EXPECT_EQ(terminated, 1);
    EXPECT_EQ((*player->playRange)[PlayRange::kStart], 2 * kBar);
    EXPECT_EQ(player->restartRequest->load(), 0);
    Lines expected;
    for (int pass = 0; pass < 3; ++pass) {
        for (int i = 4; i < 8; ++i) {
            expected.push_back("on 0 " + std::to_string(60 + i) + " 100");
            expected.push_back("off 0 " + std::to_string(60 + i) + " 64");
        }
        expected.push_back("silence");
    }
    for (int i = 8; i < 16; ++i) {
        expected.push_back("on 0 " + std::to_string(60 + i % 12) + " 100");
        expected.push_back("off 0 " + std::to_string(60 + i % 12) + " 64");
    }
    expected.push_back("silence");
    EXPECT_EQ(notes(false), expected);
}

TEST_F(PlayerFixture, DeletingTheLoopWhileAPassRestartsIsNotLost) {
    Piece piece(3);
    player->playRange->set(PlayRange::kLoopStart, 0);
    player->playRange->set(PlayRange::kLoopEnd, kBar);
    player->rangeSelector = range_selector::kLoop;
    // The play timer goes off while the worker turns to the next pass, after it has looked at
    // the restart request: the moment a request is easiest to lose.
    bool requested = false;
    player->onPlayTimer = [&](bool enabled) {
        if (enabled || requested) return;
        requested = true;
        player->rangeSelector = range_selector::kRange;
        player->restartRequest->store(1);
    };
    playToEnd(piece);
    Lines expected;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < 4; ++i) {
            expected.push_back("on 0 " + std::to_string(60 + i) + " 100");
            expected.push_back("off 0 " + std::to_string(60 + i) + " 64");
        }
        expected.push_back("silence");
    }
    for (int i = 4; i < 12; ++i) {
        expected.push_back("on 0 " + std::to_string(60 + i) + " 100");
        expected.push_back("off 0 " + std::to_string(60 + i) + " 64");
    }
    expected.push_back("silence");
    EXPECT_EQ(notes(false), expected);
}

TEST_F(PlayerFixture, StopSilencesAtOnceAndTheWorkerFinishes) {
    setUpPlayer(false);
    Piece piece(4);
    play(piece);
    ASSERT_TRUE(recording->waitFor([](const auto& log) {
        return std::any_of(log.begin(), log.end(),
                           [](const auto& m) { return (messageStatus(m.message) & 0xF0) == 0x90; });
    }));
    clock->advance(700'000'000);  // into the second note
    ASSERT_TRUE(recording->waitFor([](const auto& log) { return log.size() >= 35; }));
    player->stop();
    const auto atStop = recording->messages();
    ASSERT_TRUE(atStop.back().silence) << "the silence comes from stop itself, not later";
    player->waitForEnd();
    clock->advance(100'000'000'000);
    EXPECT_EQ(terminated, 1);
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(player->isOpen());
    const auto after = recording->messages();
    for (size_t i = atStop.size(); i < after.size(); ++i) EXPECT_TRUE(after[i].silence);
    EXPECT_EQ(notes(false),
              (Lines{"on 0 60 100", "off 0 60 64", "on 0 61 100", "silence", "silence"}));
}

TEST_F(PlayerFixture, AStopAtAnyMomentOfTheStartIsNeverLost) {
    setUpPlayer(false);
    Piece piece(2);
    for (int attempt = 0; attempt < 50; ++attempt) {
        recording->clear();
        play(piece);
        player->stop();
        player->waitForEnd();
        ASSERT_FALSE(player->isPlaying());
        ASSERT_FALSE(player->isOpen());
        // Whatever sounded before the stop, nothing sounds after the first silence.
        const auto log = recording->messages();
        const auto silence =
            std::find_if(log.begin(), log.end(), [](const auto& m) { return m.silence; });
        if (silence == log.end()) {
            ASSERT_TRUE(log.empty()) << "attempt " << attempt;
            continue;
        }
        for (auto it = silence; it != log.end(); ++it) ASSERT_TRUE(it->silence);
    }
    EXPECT_EQ(terminated, 50);
}

TEST_F(PlayerFixture, StopWithoutPlaybackDoesNothingHarmful) {
    player->stop();
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->position(), 0) << "no stream, no position";
    EXPECT_TRUE(recording->messages().empty());
}

TEST_F(PlayerFixture, OutputErrorsReachTheHandlerCaptionedErrorAndTheEndStillComes) {
    Piece piece(1);
    failOpen = kNoDevice;
    playToEnd(piece);
    EXPECT_EQ(errors, std::vector<std::string>{"Error: " + midiResultText(kNoDevice)});
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_FALSE(player->isOpen());

    failOpen = kOk;  // the next play works again
    playToEnd(piece);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(count("on 0 60 100"), 1u);
}

TEST_F(PlayerFixture, PositionFollowsTheStreamFromTheRangeStartAndHoldsAtTheEnd) {
    setUpPlayer(false);
    Piece piece(2);
    player->playRange->set(PlayRange::kStart, kBar);
    play(piece);
    ASSERT_TRUE(recording->waitFor([](const auto& log) { return log.size() >= 33; }));
    EXPECT_EQ(player->position(), kBar);
    clock->advance(500'000'000);
    EXPECT_EQ(player->position(), kBar + kQuarter);
    clock->advance(1'437'500'000);  // 1860 ticks in: a sixteenth from the end is near enough
    EXPECT_EQ(player->position(), kBar + 1860);
    EXPECT_EQ(player->position(), 2 * kBar);
    player->stop();
    player->waitForEnd();
    EXPECT_EQ(player->position(), 0);
}

TEST_F(PlayerFixture, ATempoChangeWhilePlayingTakesEffectAtOnce) {
    setUpPlayer(false);
    Piece piece;
    piece.note(0, 60, 0, 10).note(0, 62, 960, 10);
    play(piece);
    ASSERT_TRUE(recording->waitFor([](const auto& log) { return log.size() >= 33; }));
    clock->advance(250'000'000);  // tick 240
    player->setTempo(250000);
    EXPECT_EQ(player->tempoCell->load(), 250000);
    EXPECT_EQ(player->currentTempo(), 250000);
    clock->advance(375'000'000);  // the other 720 ticks at twice the speed
    ASSERT_TRUE(recording->waitFor([](const auto& log) {
        return std::any_of(log.begin(), log.end(),
                           [](const auto& m) { return m.message == shortMessage(0x90, 62, 100); });
    }));
    for (const RecordedMessage& m : recording->messages()) {
        if (m.message == shortMessage(0x90, 62, 100)) {
            EXPECT_EQ(m.due, 625'000'000);
        }
    }
    player->stop();
}

TEST_F(PlayerFixture, MutingSendsVolumeZeroAndKeepsTheStoredVolume) {
    player->openStream();
    player->channelSettings->volume[1] = 80;
    player->channelSettings->mute[1] = 1;
    player->applyChannelSettings();
    EXPECT_EQ(player->channelSettings->volume[1], 80);
    auto log = recording->messages();
    ASSERT_EQ(log.size(), 32u);
    EXPECT_EQ(describe(log[16].message), "cc 0 7 100");
    EXPECT_EQ(describe(log[17].message), "cc 1 7 0");

    recording->clear();
    player->channelSettings->mute[1] = 0;
    player->channelSettings->solo[3] = 1;
    player->applyChannelSettings();
    EXPECT_EQ(player->channelSettings->soloMode, 1);
    log = recording->messages();
    for (int channel = 0; channel < 16; ++channel) {
        EXPECT_EQ(messageData2(log[static_cast<size_t>(16 + channel)].message),
                  channel == 3 ? 100 : 0)
            << "channel " << channel;
    }
}

TEST_F(PlayerFixture, ProgramAndVolumeAreStoredAlwaysAndSentOnlyWhileAStreamIsOpen) {
    player->setProgram(33, 2);
    player->setVolume(90, 2);
    EXPECT_EQ(player->channelSettings->program[2], 33);
    EXPECT_EQ(player->channelSettings->volume[2], 90);
    EXPECT_TRUE(recording->messages().empty());

    player->openStream();
    player->setProgram(40, 2);
    player->setVolume(0, 2);
    EXPECT_EQ(player->channelSettings->volume[2], 90) << "volume 0 is sent, not stored";
    const auto log = recording->messages();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(describe(log[0].message), "program 2 40");
    EXPECT_EQ(describe(log[1].message), "cc 2 7 0");
}

TEST_F(PlayerFixture, PlayChordSoundsTheChordInTheAccompanimentOctave) {
    Piece piece;
    piece.c.accompanimentOctave = 4;
    player->composition = &piece.c;
    player->channelSettings->program[1] = 5;
    player->playChord(makeChordCode(7, 0), 0x91);  // C major
    player->playChord(makeChordCode(7, 0), 0x81);
    Lines sent;
    for (const auto& m : recording->messages()) sent.push_back(describe(m.message));
    EXPECT_EQ(sent, (Lines{"program 1 5", "cc 1 7 100", "on 1 48 100", "on 1 52 100", "on 1 55 100",
                           "off 1 48 100", "off 1 52 100", "off 1 55 100"}));
    EXPECT_TRUE(player->isOpen());
    player->playChord(kNoChord, 0x91);
    EXPECT_EQ(recording->size(), 8u);
}

TEST_F(PlayerFixture, APreviewPlaysListOneOnceWithTheGivenProgramsAndCloses) {
    player->setClock(steadyClock());  // a preview sleeps for its length
    Piece piece;
    player->composition = &piece.c;
    NoteTracks tracks;
    tracks.meterMap().setTicksPerQuarter(120);
    tracks.meterMap().addSegment(0, 4, 4);
    for (int i = 0; i < 4; ++i) {
        tracks.addNote(static_cast<uint8_t>(60 + i), 1, 0x6440,
                       tracks.meterMap().positionOfTick(60 + i * 60), 50, 0);
    }
    tracks.addNote(30, 0, 0x6440, {}, 50, 0);  // not list 1
    tracks.raiseEndTick(300);
    player->playPreview(tracks, 50000, 120, {24, 48});
    EXPECT_FALSE(player->isOpen());
    Lines sent;
    for (const auto& m : recording->messages()) {
        sent.push_back(m.silence ? "silence" : describe(m.message));
    }
    EXPECT_EQ(sent, (Lines{"cc 1 7 100", "program 1 24", "on 1 60 100", "off 1 60 64",
                           "on 1 61 100", "off 1 61 64", "on 1 62 100", "off 1 62 64",
                           "on 1 63 100", "off 1 63 64", "silence"}));

    recording->clear();
    piece.c.accompanimentParts = 4;
    player->playPreview(tracks, 50000, 120, {24, 48});
    sent.clear();
    for (const auto& m : recording->messages()) sent.push_back(describe(m.message));
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(Lines(sent.begin(), sent.begin() + 5),
              (Lines{"cc 3 7 100", "cc 2 7 100", "cc 9 7 100", "program 3 24", "program 2 48"}));
}

TEST_F(PlayerFixture, APreviewDoesNothingWhilePlaying) {
    setUpPlayer(false);
    Piece piece(2);
    play(piece);
    ASSERT_TRUE(recording->waitFor([](const auto& log) { return log.size() >= 33; }));
    const size_t before = recording->size();
    NoteTracks tracks;
    tracks.addNote(60, 1, 0x6440, {}, 50, 0);
    tracks.raiseEndTick(50);
    player->playPreview(tracks, 500000, 480, {0, 0});
    EXPECT_EQ(recording->size(), before);
    EXPECT_TRUE(player->isOpen());
    player->stop();
}

}  // namespace
}  // namespace varimel
