// The command line's harmonise path: what a user gets for a file, a named key, an undecided
// major/minor key, and a whole folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "cli_harmonise.h"
#include "engine/Mas_file.h"
#include "engine/Tonality.h"
#include "support/melody.h"

using namespace varimel;
using namespace varimel::cli;
using namespace varimel::test;

namespace {

std::string sample(const char* name) { return std::string(VARIMEL_SAMPLES_DIR) + "/" + name; }

std::vector<std::string> keysOf(const nlohmann::ordered_json& json) {
    std::vector<std::string> keys;
    for (const auto& item : json.items()) keys.push_back(item.key());
    return keys;
}

}  // namespace

TEST(CliHarmonise, SampleTuneGetsItsKeyAndOneChordPerBar) {
    const HarmoniseOutcome outcome = harmoniseFile(sample("twinkle.mid"), {});
    ASSERT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.harmonised);
    EXPECT_EQ(outcome.master->key, keyFromName("C-dur"));
    const nlohmann::ordered_json json = outcomeJson(outcome);
    EXPECT_EQ(keysOf(json), (std::vector<std::string>{"file", "status", "stage", "melodyChannel",
                                                      "division", "barCount", "meter", "tempo",
                                                      "upbeat", "fileKey", "accompanimentOctave",
                                                      "key", "keyName", "keyMarks", "bars"}));
    EXPECT_EQ(json["stage"], "harmonise");
    EXPECT_EQ(json["keyName"], "C-dur");
    EXPECT_EQ(json["keyMarks"].size(), 24u);
    ASSERT_EQ(json["bars"].size(), 12u);
    const auto& first = json["bars"][0];
    EXPECT_EQ(keysOf(first), (std::vector<std::string>{"bar", "chord", "chordName", "enabled",
                                                       "mainCount", "extraCount", "candidates",
                                                       "cadenceKind"}));
    EXPECT_EQ(first["candidates"].size(),
              first["mainCount"].get<size_t>() + first["extraCount"].get<size_t>());
    EXPECT_EQ(first["chordName"], chordName(first["chord"].get<ChordCode>()));
    // The tune starts and ends on the tonic chord.
    EXPECT_EQ(chordKey(first["chord"].get<ChordCode>()) % 12, 7);
    EXPECT_EQ(chordKey(json["bars"][11]["chord"].get<ChordCode>()) % 12, 7);
    EXPECT_NE(chordChart(outcome).find("Key:    C-dur"), std::string::npos);
}

TEST(CliHarmonise, NamedKeyIsTakenFromTheKeySignature) {
    HarmoniseRequest request;
    request.key = "a-moll";
    const HarmoniseOutcome outcome = harmoniseFile(sample("twinkle.mid"), request);
    ASSERT_EQ(outcome.status, 0);
    EXPECT_FALSE(outcome.options.AutoKey);
    EXPECT_EQ(outcome.master->key, keyFromName("a-moll"));
    int sharpsFlats = 9, minor = 0;
    outcome.master->composition()->eventValue(event_kind::kKeySignature, 0, &sharpsFlats, &minor);
    EXPECT_EQ(sharpsFlats, 0);
    EXPECT_EQ(minor, 1);
}

TEST(CliHarmonise, UndecidedMajorOrMinorIsReportedOrAnswered) {
    // C D F G A only: C major and its relative minor cannot be told apart.
    std::vector<Step> steps;
    const char* pitches[] = {"C5", "D5", "F5", "G5", "A5", "G5", "F5", "D5"};
    for (int i = 0; i < 32; ++i) steps.push_back({pitches[i % 8], 1_beat});
    TempMidiFile file(melody("4/4", steps));
    const HarmoniseOutcome reported = harmoniseFile(file.pathString(), {});
    if (reported.status != 96) GTEST_SKIP() << "this melody is decided (status " << reported.status << ")";
    EXPECT_EQ(outcomeJson(reported)["key"], reported.master->key);
    EXPECT_LT(reported.master->key, 12);

    HarmoniseRequest minor;
    minor.answerMajorOrMinor = 1;
    const HarmoniseOutcome answered = harmoniseFile(file.pathString(), minor);
    EXPECT_EQ(answered.status, 0);
    EXPECT_EQ(answered.master->key, reported.master->key + 12);
    EXPECT_TRUE(answered.master->composition()->hasChordTrack());
}

TEST(CliHarmonise, LoadFailuresStopAtTheLoadStage) {
    const HarmoniseOutcome several = harmoniseFile(sample("jingle_bells.mid"), {});
    EXPECT_EQ(several.status, 89);
    const nlohmann::ordered_json json = outcomeJson(several);
    EXPECT_EQ(json["stage"], "load");
    EXPECT_EQ(json["melodyChannel"], -1);
    EXPECT_EQ(json["barCount"], 0);
    EXPECT_EQ(json["key"], -1);
    EXPECT_TRUE(json["keyName"].is_null());
    EXPECT_FALSE(json.contains("bars"));

    const HarmoniseOutcome missing = harmoniseFile("/nonexistent/file.mid", {});
    EXPECT_EQ(missing.status, 101);
    EXPECT_EQ(outcomeJson(missing)["upbeat"], -1);
}

TEST(CliHarmonise, KeyUnrecognisableAtOpeningIsTakenFromTheFile) {
    // Four pitch classes: the load warns (92) and harmonising takes the file's key signature.
    std::vector<Step> steps;
    const char* pitches[] = {"G4", "A4", "B4", "D5"};
    for (int i = 0; i < 16; ++i) steps.push_back({pitches[i % 4], 1_beat});
    TempMidiFile file(melody("4/4", steps, [] {
        MelodyOptions o;
        o.key = "G major";
        return o;
    }()));
    const HarmoniseOutcome outcome = harmoniseFile(file.pathString(), {});
    EXPECT_EQ(outcome.loadStatus, 92);
    EXPECT_FALSE(outcome.options.AutoKey);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.master->key, keyFromName("G-dur"));
}

TEST(CliHarmonise, DraftTwoLimitsTheCustomChords) {
    HarmoniseRequest request;
    request.draft = 2;
    const HarmoniseOutcome outcome = harmoniseFile(sample("greensleeves.mid"), request);
    ASSERT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.options.MaxNumCustomChords, 5);
    for (const HarmonySlot& slot : outcome.master->composition()->slots) {
        EXPECT_LE(slot.extraCount, 5);
    }
}

TEST(CliHarmonise, ProjectKeepsItsHarmonyOptions) {
    HarmoniseRequest draftThree;
    draftThree.draft = 3;
    const HarmoniseOutcome first = harmoniseFile(sample("twinkle.mid"), draftThree);
    ASSERT_EQ(first.status, 0);
    const std::string project = (std::filesystem::temp_directory_path() /
                                 ("varimel-cli-" + std::to_string(::getpid()) + ".vml"))
                                    .string();
    std::string error;
    ASSERT_TRUE(ProjectWriter::write(project, *first.master->composition(), first.options, error));
    const HarmoniseOutcome reopened = harmoniseFile(project, {});
    EXPECT_EQ(reopened.status, 0);
    EXPECT_TRUE(reopened.options.ApplyPKey);
    EXPECT_EQ(reopened.master->key, first.master->key);
    EXPECT_EQ(reopened.master->composition()->chordTrack, first.master->composition()->chordTrack);
    std::filesystem::remove(project);
}
