// Loading melodies from Standard MIDI Files into a composition, end to end through the
// chord master's load path.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "engine/Tonality.h"
#include "engine/Wchordmaster.h"
#include "support/melody.h"
#include "support/smf_bytes.h"

using namespace varimel;
using namespace varimel::test;
namespace s = varimel::test::smf;

namespace {

// Eight bars of a C major tune in quarter notes (for the meter given).
std::vector<Step> tune(int notes = 32) {
    const char* pitches[] = {"C5", "D5", "E5", "F5", "G5", "A5", "B5", "C6"};
    std::vector<Step> steps;
    for (int i = 0; i < notes; ++i) steps.push_back({pitches[(i * 3) % 8], 1_beat});
    return steps;
}

struct Loaded {
    std::unique_ptr<ChordMaster> master;
    StatusCode status;
    const Composition& c() const { return *master->composition(); }
};

Loaded load(const std::vector<uint8_t>& bytes) {
    TempMidiFile file(bytes);
    auto master = std::make_unique<ChordMaster>(file.pathString());
    const StatusCode result = master->loadMidi();
    return {std::move(master), result};
}

// Options set by a few assignments, so each test names only what it changes.
template <typename Set>
MelodyOptions with(Set set) {
    MelodyOptions options;
    set(options);
    return options;
}

StatusCode loadPath(const std::string& path) {
    ChordMaster master(path);
    return master.loadMidi();
}

}  // namespace

TEST(Loader, FileWithoutMetaEventsTakesTheDefaults) {
    const Loaded loaded = load(melody("none", tune()));
    ASSERT_EQ(loaded.status, 0);
    const Composition& c = loaded.c();
    EXPECT_EQ(c.eventValue(event_kind::kTempo, 0), 500000);
    int numerator = 0, denominator = 0;
    c.eventValue(event_kind::kTimeSignature, 0, &numerator, &denominator);
    EXPECT_EQ(numerator, 4);
    EXPECT_EQ(denominator, 4);
    EXPECT_EQ(c.findEvent(event_kind::kTimeSignature, 0, false), nullptr);
    EXPECT_EQ(c.fileKey, -1);
    // Without a time signature the file is in 4/4: 32 quarter notes make 8 bars.
    EXPECT_EQ(c.barCount, 8);
}

TEST(Loader, HeaderTempoAndKeySignatureReachTheComposition) {
    const Loaded loaded = load(melody("3/4", tune(), with([](MelodyOptions& o) {
                                          o.division = 96;
                                          o.key = "Bb major";
                                          o.tempoBpm = 100;
                                      })));
    ASSERT_EQ(loaded.status, 0);
    const Composition& c = loaded.c();
    EXPECT_EQ(c.ticksPerQuarter, 96);
    EXPECT_EQ(c.fileFormat, 1);
    EXPECT_EQ(c.trackCount, 2);
    EXPECT_EQ(c.meterMap().ticksPerWhole, 384);
    EXPECT_EQ(c.meterMap().sixteenth, 24);
    EXPECT_EQ(c.eventValue(event_kind::kTempo, 0), 600000);
    EXPECT_EQ(c.fileKey, 5);  // two flats: "B-dur"
    EXPECT_EQ(c.currentKey, 5);
    EXPECT_EQ(c.barCount, 11);  // 32 beats in 3/4
    EXPECT_EQ(c.meterMap().ticksPerBar(0), 288);
}

TEST(Loader, FiveFlatsReadAsTheKeyOfCSharp) {
    const Loaded loaded =
        load(melody("4/4", tune(), with([](MelodyOptions& o) { o.key = "Db major"; })));
    ASSERT_EQ(loaded.status, 0);
    EXPECT_EQ(loaded.c().fileKey, 0);
}

TEST(Loader, TheFirstKeySignatureSetsTheFileKeyAndALaterOneDoesNot) {
    namespace s = smf;
    // One sharp at the start, two sharps from bar 2; sixteen quarter notes on channel 0.
    const s::Bytes conductor =
        s::cat({s::meta(0, 0x59, {1, 0}), s::meta(3840, 0x59, {2, 0}), s::endOfTrack()});
    s::Bytes notes;
    for (int i = 0; i < 16; ++i) {
        const int key = 72 + (i * 5) % 12;
        for (const s::Bytes& part : {s::noteOn(0, 0, key, 100), s::noteOff(480, 0, key)}) {
            notes.insert(notes.end(), part.begin(), part.end());
        }
    }
    const s::Bytes end = s::endOfTrack();
    notes.insert(notes.end(), end.begin(), end.end());
    const Loaded loaded = load(s::file(1, 480, {conductor, notes}));
    ASSERT_EQ(loaded.status, 0);
    EXPECT_EQ(keyName(loaded.c().fileKey), "G-dur");
    EXPECT_EQ(keyName(loaded.c().currentKey), "G-dur");
}

TEST(Loader, SevenSharpsAndSevenFlatsAreReadAsKeys) {
    struct Case {
        const char* key;
        int sharpsFlats;
        int minor;
        std::string_view keyName;
    };
    for (const Case& c : {Case{"C# major", 7, 0, "Cis-dur"}, Case{"Cb major", -7, 0, "H-dur"},
                          Case{"A# minor", 7, 1, "b-moll"}, Case{"Ab minor", -7, 1, "as-moll"}}) {
        SCOPED_TRACE(c.key);
        const Loaded loaded =
            load(melody("4/4", tune(), with([&](MelodyOptions& o) { o.key = c.key; })));
        ASSERT_EQ(loaded.status, 0);
        int sharpsFlats = 0, minor = -1;
        loaded.c().eventValue(event_kind::kKeySignature, 0, &sharpsFlats, &minor);
        EXPECT_EQ(sharpsFlats, c.sharpsFlats);
        EXPECT_EQ(minor, c.minor);
        EXPECT_EQ(keyName(loaded.c().fileKey), c.keyName);
    }
}

TEST(Loader, MeterChangeOnABarLineStartsAtThatBar) {
    // A 2/4 pick-up bar, then 3/4: the pick-up bar must not be lost.
    const Loaded loaded = load(melody("2/4", tune(26), with([](MelodyOptions& o) {
                                          o.meterChanges = {{1, "3/4"}};
                                      })));
    ASSERT_EQ(loaded.status, 0);
    const MeterMap& meter = loaded.c().meterMap();
    EXPECT_EQ(meter.ticksPerBar(0), 960);
    EXPECT_EQ(meter.ticksPerBar(1), 1440);
    EXPECT_EQ(loaded.c().barCount, 1 + 8);  // 2 beats, then 24 beats in 3/4
    EXPECT_EQ(loaded.c().noteTracks().note(2, 0)->position.bar, 1);
    EXPECT_EQ(loaded.c().noteTracks().note(2, 0)->position.beat, 0);
}

TEST(Loader, MeterChangeInsideABarStartsAtTheNextBar) {
    melodytext::Melody model = melodyModel("4/4", tune());
    model.meters.push_back({1920 + 480, {3, 4}});  // on beat 2 of bar 1
    const Loaded loaded = load(melodytext::encodeSmf(model));
    ASSERT_EQ(loaded.status, 0);
    const MeterMap& meter = loaded.c().meterMap();
    EXPECT_EQ(meter.ticksPerBar(1), 1920);
    EXPECT_EQ(meter.ticksPerBar(2), 1440);
}

TEST(Loader, MeterChangeJustAfterABarLineStartsAtTheNextBar) {
    // A 2/4 signature one tick after the line of bar 1: bar 1 stays in 4/4, so the 32 quarter
    // notes make 2 bars of 4/4 and 12 of 2/4.
    melodytext::Melody model = melodyModel("4/4", tune());
    model.meters.push_back({1920 + 1, {2, 4}});
    const Loaded loaded = load(melodytext::encodeSmf(model));
    ASSERT_EQ(loaded.status, 0);
    const MeterMap& meter = loaded.c().meterMap();
    EXPECT_EQ(meter.ticksPerBar(1), 1920);
    EXPECT_EQ(meter.ticksPerBar(2), 960);
    EXPECT_EQ(loaded.c().barCount, 14);
    const NoteRecord* ninth = loaded.c().noteTracks().note(8, 0);
    ASSERT_NE(ninth, nullptr);
    EXPECT_EQ(ninth->position, (SongPosition{2, 0, 0}));
}

TEST(Loader, UpbeatIsMeasuredFromTheBarLine) {
    const Loaded loaded =
        load(melody("3/4", tune(25), with([](MelodyOptions& o) { o.pickup = 1_beat; })));
    ASSERT_EQ(loaded.status, 0);
    EXPECT_EQ(loaded.c().noteTracks().cachedUpbeat(), 960);
    EXPECT_EQ(loaded.c().firstNoteOfBar[0], 0);
    EXPECT_EQ(loaded.c().firstNoteOfBar[1], 1);
}

TEST(Loader, MelodyOnAnotherChannelMovesToListZeroWithItsEvents) {
    MelodyOptions options;
    options.channel = 5;
    options.program = 73;
    const Loaded loaded = load(melody("4/4", tune(), options));
    ASSERT_EQ(loaded.status, 0);
    EXPECT_EQ(loaded.master->melodyChannel, 5);
    EXPECT_EQ(loaded.c().noteTracks().count(0), 32);
    EXPECT_EQ(loaded.c().noteTracks().count(5), 0);
    EXPECT_EQ(loaded.c().eventValue(event_kind::kProgramChange | 0, 0), 73);
}

TEST(Loader, NotesOnSeveralChannelsAskForAChoice) {
    MelodyOptions options;
    options.extraNotes = {{0, "E5", 480, 1}};
    const Loaded loaded = load(melody("4/4", tune(), options));
    EXPECT_EQ(loaded.status, 89);
    EXPECT_EQ(loaded.master->melodyChannel, -1);
    EXPECT_EQ(loaded.master->noteChannels(), 0b11);
    EXPECT_EQ(loaded.c().barCount, 0);  // not analysed until a channel is chosen

    loaded.master->melodyChannel = 1;
    EXPECT_EQ(loaded.master->analyse(1), 91);  // one note is no melody
}

TEST(Loader, OneChannelInSeveralTracksIsOneMelody) {
    melodytext::Melody model = melodyModel("4/4", tune());
    melodytext::Track second = model.tracks.front();
    second.notes.clear();
    second.notes.push_back({32 * 480, 480, 72, 90});
    model.tracks.push_back(second);
    const Loaded loaded = load(melodytext::encodeSmf(model));
    EXPECT_EQ(loaded.status, 0);
    EXPECT_EQ(loaded.c().noteTracks().count(0), 33);
}

TEST(Loader, ChordsAreRefusedAsNotMonophonic) {
    std::vector<Step> steps = tune();
    steps[5] = {"[C5 E5 G5]", 1_beat};
    EXPECT_EQ(load(melody("4/4", steps)).status, 90);
}

TEST(Loader, ShortOrPoorMelodiesAreAnalysedAndWarned) {
    // Six notes over three bars: too few to recognise a key, but the document is complete.
    const Loaded six = load(melody("4/4", {{"C5", 4_beats},
                                           {"D5", 2_beats},
                                           {"E5", 2_beats},
                                           {"F5", 2_beats},
                                           {"G5", 2_beats},
                                           {"A5", 4_beats}}));
    EXPECT_EQ(six.status, 92);
    EXPECT_EQ(six.c().barCount, 4);
    EXPECT_EQ(six.c().accompanimentOctave, 4);

    // Four pitch classes only.
    std::vector<Step> four;
    for (int i = 0; i < 16; ++i)
        four.push_back({i % 4 == 0 ? "C5" : i % 4 == 1 ? "D5" : i % 4 == 2 ? "E5" : "G5", 1_beat});
    const Loaded poor = load(melody("4/4", four));
    EXPECT_EQ(poor.status, 92);
    EXPECT_EQ(poor.c().barCount, 4);

    // Two bars are too short.
    EXPECT_EQ(load(melody("4/4", tune(8))).status, 91);
}

TEST(Loader, LowMelodyIsRefusedWithItsOwnStatus) {
    std::vector<Step> steps;
    const char* pitches[] = {"C2", "D2", "E2", "F2",
                             "G2", "A2", "B2", "C3"};  // mostly below MIDI 48
    for (int i = 0; i < 16; ++i) steps.push_back({pitches[i % 8], 1_beat});
    const Loaded low = load(melody("4/4", steps));
    EXPECT_EQ(low.status, 93);
    EXPECT_EQ(low.c().barCount, 0);
}

TEST(Loader, NoteOffsEndTheOldestNoteOfTheirKey) {
    melodytext::Melody model = melodyModel("4/4", tune());
    // Two overlapping notes of one key; the file's note-offs come at 40 beats + 720 and + 960.
    model.tracks.front().notes.push_back({40 * 480, 960, 84, 100});
    model.tracks.front().notes.push_back({40 * 480 + 240, 480, 84, 100});
    const Loaded loaded = load(melodytext::encodeSmf(model));
    ASSERT_EQ(loaded.status, 0);
    const NoteTracks& notes = loaded.c().noteTracks();
    const NoteRecord* first = notes.note(notes.count(0) - 2, 0);
    const NoteRecord* second = notes.note(notes.count(0) - 1, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->key, 84);
    // The first note-off ends the first note-on.
    EXPECT_EQ(first->duration, 720);
    EXPECT_EQ(second->duration, 720);
}

TEST(Loader, ZeroVelocityNoteOnEndsANote) {
    const Loaded loaded =
        load(melody("4/4", tune(), with([](MelodyOptions& o) { o.zeroVelocityNoteOff = true; })));
    ASSERT_EQ(loaded.status, 0);
    EXPECT_EQ(loaded.c().noteTracks().note(3, 0)->duration, 480);
}

TEST(Loader, ReleaseVelocityIsKeptInTheLowByte) {
    melodytext::Melody model = melodyModel("4/4", tune());
    model.releaseVelocity = 33;
    const Loaded loaded = load(melodytext::encodeSmf(model));
    ASSERT_EQ(loaded.status, 0);
    EXPECT_EQ(loaded.c().noteTracks().note(0, 0)->velocity, (100 << 8) | 33);
}

TEST(Loader, ShortestNoteSetsTheGapTolerance) {
    // A 64th note among quarters: shorter than a 32nd, so gaps are measured against a 32nd.
    std::vector<Step> steps = tune();
    steps[5].length = 30_ticks;
    steps.insert(steps.begin() + 6, Step{"r", 450_ticks});
    const Loaded loaded = load(melody("4/4", steps));
    ASSERT_EQ(loaded.status, 0);
    EXPECT_EQ(loaded.c().meterMap().shortestNote, 30);
    EXPECT_EQ(loaded.c().meterMap().gapTolerance, 60);
    // Quarters only: the shortest note counts as a sixteenth, which is also the tolerance.
    const Loaded plain = load(melody("4/4", tune()));
    EXPECT_EQ(plain.c().meterMap().shortestNote, 120);
    EXPECT_EQ(plain.c().meterMap().gapTolerance, 120);
}

TEST(Loader, LongNotesSaturateInsteadOfWrapping) {
    melodytext::Melody model = melodyModel("4/4", tune());
    model.tracks.front().notes.push_back({32 * 480, 70000, 72, 100});
    const Loaded loaded = load(melodytext::encodeSmf(model));
    ASSERT_EQ(loaded.status, 0);
    const NoteTracks& notes = loaded.c().noteTracks();
    EXPECT_EQ(notes.note(notes.count(0) - 1, 0)->duration, 65535);
}

// --- Valid files that use the less common parts of the format ---------------------------------

namespace {

// Quarter notes at 96 ticks per quarter on channel 0, rising by the major scale from `from`, each
// body ending with its end-of-track event.
s::Bytes scale(int from, int notes) {
    static const int steps[] = {0, 2, 4, 5, 7, 9, 11};
    s::Bytes body;
    for (int i = 0; i < notes; ++i) {
        const int key = from + 12 * (i / 7) + steps[i % 7];
        body = s::cat({body, s::noteOn(0, 0, key, 100), s::noteOff(96, 0, key)});
    }
    return s::cat({body, s::endOfTrack()});
}

s::Bytes conductor(const s::Bytes& before = {}, std::uint32_t endDelta = 0) {
    return s::cat(
        {before, s::meta(0, 0x58, {3, 2, 24, 8}), s::tempo(0, 600000), s::endOfTrack(endDelta)});
}

std::vector<int> melodyKeys(const Composition& c) {
    std::vector<int> keys;
    const NoteTracks& notes = c.noteTracks();
    for (int32_t i = 0; i < notes.count(0); ++i) keys.push_back(notes.note(i, 0)->key);
    return keys;
}

}  // namespace

TEST(LoaderFormat, SysexEscapesAndPacketsDoNotStopTheMelody) {
    const s::Bytes withSysex = s::cat({
        s::event(0, {0xF7, 0x01, 0xF8}),              // an escaped clock
        s::event(0, {0xF0, 0x03, 0x7E, 0x7F, 0x09}),  // GM System On in three packets
        s::event(0, {0xF7, 0x01, 0x01}),
        s::event(0, {0xF7, 0x01, 0xF7}),
    });
    const Loaded loaded = load(s::file(1, 96, {conductor(withSysex), scale(60, 16)}));
    ASSERT_EQ(loaded.status, 0) << loaded.master->readerMessage();
    EXPECT_EQ(loaded.c().noteTracks().count(0), 16);
    EXPECT_EQ(loaded.c().eventValue(event_kind::kTempo, 0), 600000);
}

TEST(LoaderFormat, ChunkOfAnotherTypeBeforeTheFirstTrackIsSkipped) {
    const s::Bytes bytes = s::cat({s::headerChunk(1, 2, 96), s::chunk("XFIH", s::ascii("info")),
                                   s::trackChunk(conductor()), s::trackChunk(scale(60, 16))});
    const Loaded loaded = load(bytes);
    ASSERT_EQ(loaded.status, 0) << loaded.master->readerMessage();
    EXPECT_EQ(loaded.c().noteTracks().count(0), 16);
}

TEST(LoaderFormat, TrackClaimingSixteenMegabytesMoreThanTheFileIsRefusedWithItsReason) {
    const s::Bytes melody = scale(60, 16);
    const auto file = [&](std::uint32_t extra) {
        return s::cat({s::headerChunk(1, 2, 96), s::trackChunk(conductor()), s::ascii("MTrk"),
                       s::be32(static_cast<std::uint32_t>(melody.size()) + extra), melody});
    };
    const Loaded refused = load(file(16u << 20));
    EXPECT_EQ(refused.status, 101);
    EXPECT_EQ(refused.master->readerMessage(),
              "error: track 2 runs 16777216 bytes past the end of the file\n");
    // Two bytes short, with its end-of-track event in place: read as before.
    EXPECT_EQ(load(file(2)).status, 0);
}

TEST(LoaderFormat, LargePauseInTheConductorTrackKeepsTheMelody) {
    const Loaded loaded = load(s::file(1, 96, {conductor({}, 0x1000000), scale(60, 16)}));
    ASSERT_EQ(loaded.status, 0) << loaded.master->readerMessage();
    EXPECT_EQ(loaded.c().noteTracks().count(0), 16);
    int numerator = 0, denominator = 0;
    loaded.c().eventValue(event_kind::kTimeSignature, 0, &numerator, &denominator);
    EXPECT_EQ(numerator, 3);
}

TEST(LoaderFormat, FormatTwoPatternsFollowOneAnother) {
    // A two-octave scale as two independent patterns of one octave each, and an empty third.
    const Loaded loaded = load(s::file(
        2, 96,
        {s::cat({s::meta(0, 0x58, {4, 2, 24, 8}), scale(60, 7)}), scale(72, 8), scale(0, 0)}));
    ASSERT_EQ(loaded.status, 0) << loaded.master->readerMessage();
    EXPECT_EQ(melodyKeys(loaded.c()),
              (std::vector<int>{60, 62, 64, 65, 67, 69, 71, 72, 74, 76, 77, 79, 81, 83, 84}));
    const NoteRecord* upper = loaded.c().noteTracks().note(7, 0);
    ASSERT_NE(upper, nullptr);
    // The second pattern starts where the first ended, on the last beat of bar 2.
    EXPECT_EQ(upper->position.bar, 1);
    EXPECT_EQ(upper->position.beat, 3);
}

TEST(LoaderFormat, SmpteDivisionIsRefusedWithItsOwnReason) {
    // -25 frames per second, 40 subframes: 0xE728.
    const Loaded loaded = load(s::file(1, 0xE728, {conductor(), scale(60, 16)}));
    EXPECT_EQ(loaded.status, 101);
    EXPECT_EQ(loaded.master->readerMessage(),
              "error: SMPTE time division is not supported; save the file with a metrical "
              "division (ticks per quarter note)\n");
}

TEST(LoaderFormat, TrackCountAndTimeSignatureAreKeptAsTheFileHasThem) {
    // 300 tracks: the melody and 299 empty ones.
    s::Bytes bytes = s::cat({s::headerChunk(1, 300, 96), s::trackChunk(scale(60, 16))});
    for (int i = 1; i < 300; ++i) bytes = s::cat({bytes, s::trackChunk(s::endOfTrack())});
    const Loaded many = load(bytes);
    ASSERT_EQ(many.status, 0) << many.master->readerMessage();
    EXPECT_EQ(many.c().trackCount, 300);
    EXPECT_FALSE(many.c().meterFromFile);

    // Without notes the conductor events are trimmed, but the meter still came from the file.
    const Loaded empty = load(s::file(1, 96, {conductor(), s::endOfTrack()}));
    EXPECT_TRUE(empty.c().meterFromFile);
}

// --- Files that are not melodies --------------------------------------------------------------

TEST(LoaderBadInput, EveryBrokenFileEndsWithStatus101) {
    const std::vector<uint8_t> good = melody("4/4", tune());
    EXPECT_EQ(load({}).status, 101);                    // empty
    EXPECT_EQ(load({'M', 'T', 'h', 'd'}).status, 101);  // header cut short
    EXPECT_EQ(load(std::vector<uint8_t>(good.begin(), good.begin() + 30)).status, 101);
    EXPECT_EQ(load(std::vector<uint8_t>(good.begin(), good.end() - 3)).status, 101);
    std::vector<uint8_t> garbage(4096);
    std::mt19937 random(7);
    for (auto& byte : garbage) byte = static_cast<uint8_t>(random());
    EXPECT_EQ(load(garbage).status, 101);

    // A track chunk whose length lies far beyond the file.
    std::vector<uint8_t> hugeChunk = good;
    hugeChunk[14 + 4] = 0x7F;
    EXPECT_EQ(load(hugeChunk).status, 101);

    EXPECT_EQ(loadPath("/nonexistent/varimel/melody.mid"), 101);
    EXPECT_EQ(loadPath(std::filesystem::temp_directory_path().string()), 101);
}

TEST(LoaderBadInput, EveryTruncationEndsWithAStatus) {
    const std::vector<uint8_t> good = melody("3/4", tune(), with([](MelodyOptions& o) {
                                                 o.key = "G major";
                                                 o.tempoBpm = 90;
                                             }));
    for (size_t size = 0; size < good.size(); ++size) {
        const Loaded loaded = load(std::vector<uint8_t>(good.begin(), good.begin() + size));
        EXPECT_TRUE(loaded.status == 101 || loaded.status == 91 || loaded.status == 92 ||
                    loaded.status == 0)
            << "size " << size << " status " << loaded.status;
    }
}

TEST(LoaderBadInput, ZeroDivisionIsRefused) {
    std::vector<uint8_t> bytes = melody("4/4", tune());
    bytes[12] = 0;
    bytes[13] = 0;
    EXPECT_EQ(load(bytes).status, 101);
}

TEST(LoaderBadInput, MelodyBeyondTheBarLimitIsRefused) {
    // At 96 ticks per quarter a note 20000 bars on is still within one delta time.
    melodytext::Melody model =
        melodyModel("4/4", tune(), with([](MelodyOptions& o) { o.division = 96; }));
    model.tracks.front().notes.push_back({int64_t{20000} * 384, 96, 72, 100});
    EXPECT_EQ(load(melodytext::encodeSmf(model)).status, 101);
}

TEST(LoaderBadInput, LargeRandomFileIsRefusedQuickly) {
    std::vector<uint8_t> big(50 * 1024 * 1024);
    std::mt19937_64 random(11);
    for (size_t i = 0; i + 8 <= big.size(); i += 8) {
        const uint64_t word = random();
        std::memcpy(&big[i], &word, 8);
    }
    EXPECT_EQ(load(big).status, 101);
}
