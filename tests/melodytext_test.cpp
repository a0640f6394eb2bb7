// The melody text format and its file encoder, checked through an independent file walker.
#include "melodytext/melodytext.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "support/melody.h"
#include "support/smf_walker.h"

namespace varimel::test {
namespace {

namespace mt = melodytext;

SmfFile walkText(std::string_view text) {
    const mt::ParseResult parsed = mt::parse(text);
    EXPECT_TRUE(parsed.ok()) << parsed.errorText();
    const SmfWalk walk = walkSmf(mt::encodeSmf(parsed.melody));
    EXPECT_TRUE(walk.file.has_value()) << walk.error;
    return walk.file.value_or(SmfFile{});
}

std::vector<std::int64_t> durations(const SmfFile& file) {
    std::vector<std::int64_t> out;
    for (const SmfNote& note : file.notes()) out.push_back(note.durationTicks);
    return out;
}

std::vector<std::int64_t> starts(const SmfFile& file) {
    std::vector<std::int64_t> out;
    for (const SmfNote& note : file.notes()) out.push_back(note.startTick);
    return out;
}

std::vector<int> errorLines(std::string_view text) {
    std::vector<int> lines;
    for (const mt::ParseError& error : mt::parse(text).errors) lines.push_back(error.line);
    return lines;
}

std::string firstError(std::string_view text) {
    const mt::ParseResult parsed = mt::parse(text);
    return parsed.errors.empty() ? std::string() : parsed.errors.front().message;
}

TEST(MelodyTextLengths, EveryNoteValueDotAndTripletHasItsTickLength) {
    const SmfFile file =
        walkText("time: 13/4\nC4w C4h C4q C4e C4s C4t C4q. C4q.. C4e3 C4e3 C4e3 rt rs re\n");
    EXPECT_EQ(durations(file),
              (std::vector<std::int64_t>{1920, 960, 480, 240, 120, 60, 720, 840, 160, 160, 160}));
}

TEST(MelodyTextLengths, ANoteWithoutLengthRepeatsThePreviousLength) {
    const SmfFile file = walkText("time: 4/4\nC4 D4e E4 F4 G4 A4q | B4h. rq |\n");  // C4: a quarter
    EXPECT_EQ(durations(file), (std::vector<std::int64_t>{480, 240, 240, 240, 240, 480, 1440}));
    EXPECT_EQ(starts(file), (std::vector<std::int64_t>{0, 480, 720, 960, 1200, 1440, 1920}));
}

TEST(MelodyTextLengths, LengthsFollowTheDivision) {
    const SmfFile file = walkText("division: 96\ntime: 2/4\nC4e D4s E4s F4q\n");
    EXPECT_EQ(file.division, 96);
    EXPECT_EQ(durations(file), (std::vector<std::int64_t>{48, 24, 24, 96}));
}

TEST(MelodyTextLengths, LengthsThatAreNoWholeTickCountAreRejected) {
    EXPECT_NE(firstError("division: 100\nC4t\n").find("whole number of ticks"), std::string::npos);
    EXPECT_NE(firstError("division: 100\nC4e3\n").find("whole number of ticks"), std::string::npos);
    EXPECT_NE(firstError("C4x\n").find("unknown length"), std::string::npos);
}

TEST(MelodyTextPitches, ScientificNamesGiveMidiKeys) {
    EXPECT_EQ(mt::pitchFromName("C4"), 60);
    EXPECT_EQ(mt::pitchFromName("A4"), 69);
    EXPECT_EQ(mt::pitchFromName("F#4"), 66);
    EXPECT_EQ(mt::pitchFromName("Bb3"), 58);
    EXPECT_EQ(mt::pitchFromName("Cb4"), 59);  // the flat crosses the octave number downwards
    EXPECT_EQ(mt::pitchFromName("B#3"), 60);  // and the sharp upwards
    EXPECT_EQ(mt::pitchFromName("Ebb4"), 62);
    EXPECT_EQ(mt::pitchFromName("C-1"), 0);
    EXPECT_EQ(mt::pitchFromName("G9"), 127);
    EXPECT_EQ(mt::pitchFromName("G#9"), std::nullopt);
    EXPECT_EQ(mt::pitchFromName("Cb-1"), std::nullopt);
    EXPECT_EQ(mt::pitchFromName("H4"), std::nullopt);
    EXPECT_EQ(mt::pitchFromName("c4"), std::nullopt);
    EXPECT_EQ(mt::pitchFromName("C"), std::nullopt);
    EXPECT_EQ(mt::pitchFromName("C4q"), std::nullopt);
}

TEST(MelodyTextBars, ABarThatDoesNotFillItsMeterIsReportedWithItsLine) {
    const mt::ParseResult parsed = mt::parse("time: 3/4\nC4q D4 E4 |\nF4q G4 |\nA4h. |\n");
    ASSERT_EQ(parsed.errors.size(), 1u);
    EXPECT_EQ(parsed.errors[0].line, 3);
    EXPECT_EQ(parsed.errors[0].message, "bar 2 (from line 3) is 2 beats long; 3/4 needs 3 beats");
}

TEST(MelodyTextBars, AnOverfullBarIsReportedEvenAsTheFirstBar) {
    EXPECT_EQ(errorLines("time: 2/4\nC4q D4 E4 |\nF4h |\n"), std::vector<int>{2});
    EXPECT_EQ(errorLines("time: 2/4\nC4q D4 | E4q F4 G4 | A4h |\n"), std::vector<int>{2});
}

TEST(MelodyTextBars, TheLastBarMustBeCompleteToo) {
    EXPECT_EQ(errorLines("time: 4/4\nC4w |\nD4h"), std::vector<int>{3});
    EXPECT_TRUE(mt::parse("time: 4/4\nC4w |\nD4h rh").ok());
}

TEST(MelodyTextBars, APickUpIsPaddedWithSilenceSoItEndsOnTheFirstBarLine) {
    const SmfFile file = walkText("time: 3/4\nD4e E4e | G4h. | G4q A4 B4 |\n");
    EXPECT_EQ(starts(file), (std::vector<std::int64_t>{960, 1200, 1440, 2880, 3360, 3840}));
    ASSERT_EQ(file.tracks.size(), 2u);
    EXPECT_EQ(file.tracks[1].events.back().tick, 3 * 1440);  // end of track at the last bar line
}

TEST(MelodyTextBars, ABarLineRepeatedAtTheStartOfALineMakesNoEmptyBar) {
    const SmfFile file = walkText("time: 2/4\n| C4h |\n| D4h |\n|| E4q F4 ||\n");
    EXPECT_EQ(starts(file), (std::vector<std::int64_t>{0, 960, 1920, 2400}));
}

TEST(MelodyTextBars, WholeBarRestsLastFullBarsOfTheCurrentMeter) {
    const SmfFile file = walkText("time: 3/4\nR*2 | C4h. | R | time 2/4 | R | D4h |\n");
    EXPECT_EQ(starts(file), (std::vector<std::int64_t>{2880, 5760 + 960}));
    EXPECT_NE(firstError("time: 3/4\nC4q R |\n").find("start of a bar"), std::string::npos);
    EXPECT_NE(firstError("R*0 |\n").find("whole-bar rest"), std::string::npos);
}

TEST(MelodyTextMeter, AMeterChangeIsWrittenWhereItsBarBeginsAndChecksTheBarsAfterIt) {
    const SmfFile file = walkText("time: 3/4\nC4h. | time 2/4 D4h | E4h | time 3/4 | F4h. |\n");
    const auto meters = file.metas(0x58);
    ASSERT_EQ(meters.size(), 3u);
    EXPECT_EQ(meters[0].tick, 0);
    EXPECT_EQ(meters[1].tick, 1440);
    EXPECT_EQ(meters[1].data, (std::vector<std::uint8_t>{2, 2, 24, 8}));
    EXPECT_EQ(meters[2].tick, 1440 + 960 * 2);
    EXPECT_EQ(starts(file), (std::vector<std::int64_t>{0, 1440, 2400, 3360}));

    EXPECT_EQ(errorLines("time: 3/4\nC4h. | time 2/4 D4h. |\n"), std::vector<int>{2});
}

TEST(MelodyTextMeter, AMeterChangeInsideABarIsRejected) {
    EXPECT_NE(firstError("time: 4/4\nC4h time 2/4 D4h |\n").find("start of a bar"),
              std::string::npos);
    EXPECT_NE(firstError("C4w | time\n").find("needs a meter"), std::string::npos);
    EXPECT_NE(firstError("C4w | time 3/5 C4w\n").find("not a meter"), std::string::npos);
}

TEST(MelodyTextMeter, TracksMustAgreeOnMeterChanges) {
    const std::string both =
        "time: 4/4\ntrack: a\nC4w | time 3/4 D4h. |\ntrack: b\nE4w | time 3/4 F4h. |\n";
    const SmfFile file = walkText(both);
    EXPECT_EQ(file.metas(0x58).size(), 2u);  // the shared change is written once

    const mt::ParseResult clash =
        mt::parse("time: 4/4\ntrack: a\nC4w | time 3/4 D4h. |\ntrack: b\nE4w | time 2/4 F4h |\n");
    ASSERT_EQ(clash.errors.size(), 1u);
    EXPECT_EQ(clash.errors[0].line, 5);
    EXPECT_NE(clash.errors[0].message.find("disagrees"), std::string::npos);
}

TEST(MelodyTextMeter, WithoutATimeHeaderNoTimeSignatureIsWrittenAndBarsCountAsFourFour) {
    const SmfFile file = walkText("C4w | D4h E4h |\n");
    EXPECT_TRUE(file.metas(0x58).empty());
    EXPECT_EQ(errorLines("C4h. |\nD4w |\n"), std::vector<int>{});  // a 3-beat pick-up is fine
    EXPECT_EQ(errorLines("C4w | D4h. |\n"), std::vector<int>{1});
}

TEST(MelodyTextMeter, TimeSignatureBytesCarryThePowerOfTwoAndTheClickPerBeat) {
    EXPECT_EQ(walkText("time: 6/8\nC4q. D4q. |\n").metas(0x58).at(0).data,
              (std::vector<std::uint8_t>{6, 3, 36, 8}));  // a click per dotted quarter
    EXPECT_EQ(walkText("time: 3/4\nC4h. |\n").metas(0x58).at(0).data,
              (std::vector<std::uint8_t>{3, 2, 24, 8}));
    EXPECT_EQ(walkText("time: 2/2\nC4w |\n").metas(0x58).at(0).data,
              (std::vector<std::uint8_t>{2, 1, 48, 8}));
}

TEST(MelodyTextChords, ChordNotesStartTogetherAndShareTheirLength) {
    const SmfFile file = walkText("time: 2/4\n[C4 E4 G4]q. D5e |\n");
    const auto notes = file.notes();
    ASSERT_EQ(notes.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(notes[i].startTick, 0);
        EXPECT_EQ(notes[i].durationTicks, 720);
    }
    EXPECT_EQ(notes[0].key, 60);
    EXPECT_EQ(notes[2].key, 67);
    EXPECT_EQ(notes[3].startTick, 720);
    EXPECT_NE(firstError("[C4 E4 C4]q\n").find("twice"), std::string::npos);
    EXPECT_NE(firstError("[C4 E4q\n").find("without ']'"), std::string::npos);
    EXPECT_NE(firstError("[]q\n").find("empty chord"), std::string::npos);
}

TEST(MelodyTextTies, ATieJoinsNotesOfTheSamePitchAcrossBarLines) {
    const SmfFile file = walkText("time: 3/4\nC4h D4q~ | D4h.~ | D4q E4h |\n");
    EXPECT_EQ(durations(file), (std::vector<std::int64_t>{960, 480 + 1440 + 480, 960}));
    EXPECT_EQ(errorLines("time: 2/4\nC4q~ D4q |\n"), std::vector<int>{2});
    EXPECT_EQ(errorLines("time: 2/4\nC4q~ rq |\n"), std::vector<int>{2});
    EXPECT_EQ(errorLines("time: 2/4\nC4q D4q~ |\n"), std::vector<int>{2});
}

TEST(MelodyTextHeaders, KeySignaturesCountSharpsAndFlatsFromTheTonic) {
    EXPECT_EQ(mt::parseKey("C major"), (mt::KeySignature{0, false}));
    EXPECT_EQ(mt::parseKey("Bb major"), (mt::KeySignature{-2, false}));
    EXPECT_EQ(mt::parseKey("E minor"), (mt::KeySignature{1, true}));
    EXPECT_EQ(mt::parseKey("F# minor"), (mt::KeySignature{3, true}));
    EXPECT_EQ(mt::parseKey("Db major"), (mt::KeySignature{-5, false}));
    EXPECT_EQ(mt::parseKey("C# major"), (mt::KeySignature{7, false}));
    EXPECT_EQ(mt::parseKey("Ab minor"), (mt::KeySignature{-7, true}));
    EXPECT_EQ(mt::parseKey("G# major"), std::nullopt);  // would need eight sharps
    EXPECT_EQ(mt::parseKey("G dorian"), std::nullopt);

    EXPECT_EQ(walkText("key: Bb major\nC4w\n").metas(0x59).at(0).data,
              (std::vector<std::uint8_t>{0xFE, 0}));
    EXPECT_EQ(walkText("key: F# minor\nC4w\n").metas(0x59).at(0).data,
              (std::vector<std::uint8_t>{3, 1}));
    EXPECT_TRUE(walkText("key: none\nC4w\n").metas(0x59).empty());
}

TEST(MelodyTextHeaders, TempoIsWrittenInMicrosecondsPerQuarterOnlyWhenGiven) {
    EXPECT_EQ(walkText("tempo: 100\nC4w\n").metas(0x51).at(0).data,
              (std::vector<std::uint8_t>{0x09, 0x27, 0xC0}));  // 600000
    EXPECT_TRUE(walkText("C4w\n").metas(0x51).empty());
    EXPECT_FALSE(mt::parse("tempo: 0\nC4w\n").ok());
    EXPECT_FALSE(mt::parse("tempo: fast\nC4w\n").ok());
}

TEST(MelodyTextHeaders, TheChannelIsZeroBasedAndGoesIntoEveryNoteMessage) {
    const SmfFile file = walkText("channel: 5\nprogram: 73\nvelocity: 90\nC4q D4 E4 F4\n");
    std::vector<int> statuses;
    for (const SmfEvent& event : file.tracks.at(1).events)
        if (!event.isMeta()) statuses.push_back(event.status);
    EXPECT_EQ(statuses.front(), 0xC5);
    EXPECT_EQ(statuses.at(1), 0x95);
    EXPECT_EQ(statuses.at(2), 0x85);
    EXPECT_EQ(file.notes().at(0).velocity, 90);
    EXPECT_FALSE(mt::parse("channel: 16\nC4w\n").ok());
}

TEST(MelodyTextHeaders, MisplacedUnknownAndRepeatedHeadersAreReportedWithTheirLines) {
    const mt::ParseResult parsed =
        mt::parse("title: x\nmood: cheerful\ntitle: y\nC4w |\nkey: C major\nchannel: 2\nD4w\n");
    ASSERT_EQ(parsed.errors.size(), 4u);
    EXPECT_EQ(parsed.errors[0].toString(), "line 2: unknown header 'mood:'");
    EXPECT_EQ(parsed.errors[1].line, 3);
    EXPECT_EQ(parsed.errors[2].toString(), "line 5: 'key:' belongs before the first track");
    EXPECT_EQ(parsed.errors[3].line, 6);
    EXPECT_EQ(parsed.errorText().substr(0, 7), "line 2:");
}

TEST(MelodyTextHeaders, CommentsStartOnlyAtTheStartOfAWord) {
    const SmfFile file = walkText("# a tune\ntime: 2/4 # two beats\nF#4q G#4 | # F#4q\nA4h\n");
    ASSERT_EQ(file.notes().size(), 3u);
    EXPECT_EQ(file.notes()[0].key, 66);
    EXPECT_EQ(file.notes()[1].key, 68);
}

TEST(MelodyTextHeaders, WindowsLineEndsAreAccepted) {
    EXPECT_EQ(durations(walkText("time: 2/4\r\nC4q D4 |\r\nE4h |\r\n")),
              (std::vector<std::int64_t>{480, 480, 960}));
}

TEST(MelodyTextTracks, EachTrackGetsItsOwnChunkAndChannelAfterTheConductor) {
    const SmfFile file = walkText(
        "title: Two\ntime: 2/4\ntrack: A part\nchannel: 0\nC4h | D4h |\n"
        "track: B part\nchannel: 1\nR*2 | E4h | F4h |\n");
    ASSERT_EQ(file.tracks.size(), 3u);
    for (const SmfEvent& event : file.tracks[0].events) EXPECT_TRUE(event.isMeta());
    const auto names = file.metas(0x03);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(std::string(names[0].data.begin(), names[0].data.end()), "Two");
    const auto notes = file.notes();
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[1].channel, 0);
    EXPECT_EQ(notes[2].channel, 1);
    EXPECT_EQ(notes[2].track, 2);
    EXPECT_EQ(notes[2].startTick, 1920);
    // The conductor ends with the longest voice.
    EXPECT_EQ(file.tracks[0].events.back().tick, 3840);
}

TEST(MelodyTextTracks, TrackHeadersBeforeTheFirstTrackLineAreRejectedNotLost) {
    const mt::ParseResult parsed = mt::parse("channel: 3\ntrack: a\nC4w\n");
    ASSERT_EQ(parsed.errors.size(), 1u);
    EXPECT_EQ(parsed.errors[0].line, 2);
    EXPECT_EQ(parsed.melody.tracks.size(), 1u);  // no empty track is left behind
}

TEST(MelodyTextErrors, EveryErrorIsReportedOnceInLineOrder) {
    // A bar that holds a bad word is not reported again for being short.
    const std::string text = "time: 2/4\nC4q~ D4q |\nE4q Zq |\nF4q F4 F4 |\n[C4 X4]q rq |\n";
    EXPECT_EQ(errorLines(text), (std::vector<int>{2, 3, 4, 5}));
    const mt::ParseResult parsed = mt::parse(text);
    ASSERT_EQ(parsed.errors.size(), 4u);
    EXPECT_EQ(parsed.errors[1].message, "'Zq' is not a note");
    EXPECT_EQ(firstError(""), "the melody has no notes");
    EXPECT_EQ(firstError("time: 2/4\n"), "the melody has no notes");
}

TEST(SmfEncoder, WritesFormatOneWithAHeaderOfSixBytes) {
    const auto bytes = mt::encodeSmf(mt::parse("division: 240\nC4q\n").melody);
    const std::vector<std::uint8_t> header(bytes.begin(), bytes.begin() + 14);
    EXPECT_EQ(header,
              (std::vector<std::uint8_t>{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0, 240}));
}

TEST(SmfEncoder, FormatZeroPutsMetaEventsAndNotesIntoOneTrack) {
    const SmfFile file = walkText("format: 0\ntempo: 120\ntime: 2/4\nC4q D4 | E4h |\n");
    EXPECT_EQ(file.format, 0);
    ASSERT_EQ(file.tracks.size(), 1u);
    EXPECT_TRUE(file.tracks[0].events.front().isMeta());  // the meter comes before the notes
    EXPECT_EQ(file.notes().size(), 3u);
    EXPECT_EQ(file.tracks[0].events.back().tick, 1920);
}

TEST(SmfEncoder, AReleaseComesBeforeTheNextStrikeOfTheSameKey) {
    const SmfFile file = walkText("C4q C4q rh\n");
    const auto& events = file.tracks.at(1).events;
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[1].tick, 480);
    EXPECT_EQ(events[1].kind(), 0x80);
    EXPECT_EQ(events[2].kind(), 0x90);
    EXPECT_EQ(durations(file), (std::vector<std::int64_t>{480, 480}));
}

TEST(SmfEncoder, AZeroLengthNoteIsStruckBeforeItIsReleased) {
    mt::Melody melody;
    mt::Track track;
    track.notes = {{0, 0, 60, 100}, {0, 480, 64, 100}};
    melody.tracks.push_back(track);
    const SmfWalk walk = walkSmf(mt::encodeSmf(melody));
    ASSERT_TRUE(walk.file) << walk.error;
    const auto notes = walk.file->notes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].key, 60);
    EXPECT_EQ(notes[0].durationTicks, 0);
}

TEST(SmfEncoder, RunningStatusLeavesOutRepeatedStatusBytesButNotAfterMetaEvents) {
    // Chord notes share a status; the release of D4 follows a meta event and needs its own.
    const std::string notes = "format: 0\ntime: 2/4\n[C4 E4]q D4 | time 3/4 E4h. |\n";
    const SmfFile file = walkText("running-status: yes\n" + notes);
    std::vector<std::int64_t> omittedAt;
    for (const SmfEvent& event : file.tracks.at(0).events)
        if (event.statusWasOmitted) omittedAt.push_back(event.tick);
    EXPECT_EQ(omittedAt, (std::vector<std::int64_t>{0, 480}));
    const auto plain = mt::encodeSmf(mt::parse(notes).melody);
    const auto running = mt::encodeSmf(mt::parse("running-status: yes\n" + notes).melody);
    EXPECT_EQ(plain.size() - running.size(), 2u);
    EXPECT_EQ(durations(file), durations(walkText(notes)));
}

TEST(SmfEncoder, ZeroVelocityNoteOnsCanStandForNoteOffs) {
    const SmfFile file = walkText("note-off: zero-velocity\nC4q D4\n");
    for (const SmfEvent& event : file.tracks.at(1).events)
        if (!event.isMeta()) {
            EXPECT_EQ(event.kind(), 0x90);
        }
    EXPECT_EQ(durations(file), (std::vector<std::int64_t>{480, 480}));
}

TEST(SmfEncoder, LongSilencesUseMultiByteDeltaTimes) {
    const SmfFile file = walkText("R*100 | C4w |\n");  // 192000 ticks: a three-byte delta
    EXPECT_EQ(starts(file), std::vector<std::int64_t>{192000});
    EXPECT_EQ(durations(file), std::vector<std::int64_t>{1920});
}

TEST(SmfEncoder, RejectsWhatAFileCannotHold) {
    mt::Melody melody;
    mt::Track track;
    track.channel = 16;
    track.notes = {{0, 480, 60, 100}};
    melody.tracks.push_back(track);
    EXPECT_THROW(mt::encodeSmf(melody), std::invalid_argument);
    melody.tracks[0].channel = 0;
    melody.tracks[0].notes[0].key = 128;
    EXPECT_THROW(mt::encodeSmf(melody), std::invalid_argument);
    melody.tracks[0].notes[0] = {0, 480, 60, 0};  // velocity 0 would be a note off
    EXPECT_THROW(mt::encodeSmf(melody), std::invalid_argument);
    melody.tracks[0].notes[0] = {0, 480, 60, 100};
    melody.division = 0x8000;
    EXPECT_THROW(mt::encodeSmf(melody), std::invalid_argument);
}

TEST(SmfWalkerSelfCheck, RejectsBrokenFiles) {
    auto bytes = mt::encodeSmf(mt::parse("C4q D4\n").melody);
    EXPECT_TRUE(walkSmf(bytes).file.has_value());
    auto truncated = bytes;
    truncated.resize(truncated.size() - 2);
    EXPECT_FALSE(walkSmf(truncated).file.has_value());
    auto trailing = bytes;
    trailing.push_back(0);
    EXPECT_EQ(walkSmf(trailing).error.substr(0, 24), "bytes after the last tra");
    auto noEnd = bytes;
    noEnd[noEnd.size() - 2] = 0x01;  // end of track turned into an unknown meta
    EXPECT_FALSE(walkSmf(noEnd).file.has_value());
}

TEST(MelodyBuilder, BeatsFollowTheDenominatorOfTheMeterInForce) {
    const auto bytes = melody("6/8", {{"C4", 3_beats}, {"D4", 1_beat}, {"E4", 2_beats}},
                              {.meterChanges = {{1, "2/4"}}});
    const SmfWalk walk = walkSmf(bytes);
    ASSERT_TRUE(walk.file) << walk.error;
    EXPECT_EQ(durations(*walk.file), (std::vector<std::int64_t>{720, 240, 480}));
    const auto notes = walk.file->notes();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[1].startTick, 720);
    const auto meters = walk.file->metas(0x58);
    ASSERT_EQ(meters.size(), 2u);
    EXPECT_EQ(meters[1].tick, 1440);
}

TEST(MelodyBuilder, MeterChangesMoveLaterBarsAndBeatsChangeWithThem) {
    // Bar 1 becomes 2/4, so the note after it starts in a bar of quarter beats.
    const auto model = melodyModel("6/8", {{"C4", 6_beats}, {"D4", 2_beats}, {"E4", 1_beat}},
                                   {.meterChanges = {{1, "2/4"}}});
    ASSERT_EQ(model.tracks.size(), 1u);
    EXPECT_EQ(model.tracks[0].notes[1].durationTicks, 960);
    EXPECT_EQ(model.tracks[0].notes[2].startTick, 1440 + 960);
    EXPECT_EQ(model.tracks[0].notes[2].durationTicks, 480);
}

TEST(MelodyBuilder, PickupRestsChordsTicksAndOptions) {
    const auto bytes =
        melody("3/4", {{"D4", 1_beat}, {"[G4 B4]", 2_beats}, {"r", 0.5_beat}, {"A4", 240_ticks}},
               {.division = 96, .channel = 3, .key = "G major", .tempoBpm = 120, .pickup = 1_beat});
    const SmfWalk walk = walkSmf(bytes);
    ASSERT_TRUE(walk.file) << walk.error;
    const auto notes = walk.file->notes();
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[0].startTick, 192);  // 2 beats of silence before the 1-beat pick-up
    EXPECT_EQ(notes[1].startTick, 288);
    EXPECT_EQ(notes[2].startTick, 288);
    EXPECT_EQ(notes[3].startTick, 288 + 192 + 48);
    EXPECT_EQ(notes[3].durationTicks, 240);
    EXPECT_EQ(notes[0].channel, 3);
    EXPECT_EQ(walk.file->metas(0x59).at(0).data, (std::vector<std::uint8_t>{1, 0}));
    EXPECT_EQ(walk.file->metas(0x51).at(0).data, (std::vector<std::uint8_t>{0x07, 0xA1, 0x20}));
}

TEST(MelodyBuilder, WithoutAMeterNoTimeSignatureIsWritten) {
    const SmfWalk walk = walkSmf(melody("", {{"C4", 1_beat}}));
    ASSERT_TRUE(walk.file) << walk.error;
    EXPECT_TRUE(walk.file->metas(0x58).empty());
}

TEST(MelodyBuilder, PlacedNotesCanOverlapAndUseOtherChannels) {
    const auto bytes = melody("4/4", {{"C4", 1_beat}, {"D4", 1_beat}},
                              {.extraNotes = {{10, "E4", 100}, {0, "C4", 480, 2}}});
    const SmfWalk walk = walkSmf(bytes);
    ASSERT_TRUE(walk.file) << walk.error;
    ASSERT_EQ(walk.file->tracks.size(), 3u);  // conductor, channel 0, channel 2
    const auto notes = walk.file->notes();
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[1].channel, 2);
    EXPECT_EQ(notes[2].startTick, 10);
    EXPECT_EQ(notes[2].key, 64);
}

TEST(MelodyBuilder, UnreadableInputThrows) {
    EXPECT_THROW(melody("4/4", {{"X4", 1_beat}}), std::invalid_argument);
    EXPECT_THROW(melody("4/5", {{"C4", 1_beat}}), std::invalid_argument);
    EXPECT_THROW(melody("4/4", {{"C4", 1_beat}}, {.key = "H major"}), std::invalid_argument);
    EXPECT_THROW(melody("4/4", {{"C4", 0.001_beat}}), std::invalid_argument);
    EXPECT_THROW(melody("4/4", {{"C4", 1_beat}}, {.pickup = 5_beats}), std::invalid_argument);
}

TEST(MelodyBuilder, MelodyFromTextGivesTheSameBytesAsTheEncoder) {
    const std::string text = "time: 3/4\nkey: E minor\nE4q G4 B4 | E5h. |\n";
    EXPECT_EQ(melodyFromText(text), mt::encodeSmf(mt::parse(text).melody));
}

TEST(TempMidiFileTest, HoldsTheBytesWhileItLivesAndRemovesThemAfterwards) {
    const std::vector<std::uint8_t> bytes = melodyFromText("C4q D4 E4 F4\n");
    std::filesystem::path path;
    {
        TempMidiFile first(bytes);
        TempMidiFile second(bytes);
        path = first.path();
        EXPECT_NE(first.path(), second.path());
        EXPECT_EQ(path.extension(), ".mid");
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> read{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(read, bytes);

        TempMidiFile moved(std::move(first));
        EXPECT_EQ(moved.path(), path);
        EXPECT_TRUE(std::filesystem::exists(path));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace varimel::test
