// The command line's harmonise path: what a user gets for a file, a named key, an undecided
// major/minor key, and a whole folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "cli_harmonise.h"
#include "engine/ByteIO.h"
#include "engine/Mas_file.h"
#include "engine/MidiExport.h"
#include "engine/Tonality.h"
#include "support/melody.h"
#include "support/samples.h"
#include "support/smf_walker.h"

using namespace varimel;
using namespace varimel::cli;
using namespace varimel::test;

namespace {

std::string sample(const char* name) {
    return std::string(VARIMEL_SAMPLES_DIR) + "/" + name;
}

std::vector<std::string> keysOf(const nlohmann::ordered_json& json) {
    std::vector<std::string> keys;
    for (const auto& item : json.items()) keys.push_back(item.key());
    return keys;
}

}  // namespace

TEST(CliHarmonise, SampleTuneGetsItsKeyAndOneChordPerBar) {
    HarmoniseRequest draftOne;
    draftOne.draft = kDraftI;
    const HarmoniseOutcome outcome = harmoniseFile(sample("twinkle.mid"), draftOne);
    ASSERT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.harmonised);
    EXPECT_EQ(outcome.master->key, keyFromName("C-dur"));
    const nlohmann::ordered_json json = outcomeJson(outcome);
    EXPECT_EQ(keysOf(json), (std::vector<std::string>{
                                "file", "status", "stage", "melodyChannel", "division", "barCount",
                                "meter", "tempo", "upbeat", "fileKey", "accompanimentOctave", "key",
                                "keyName", "keyMarks", "bars", "accompaniment"}));
    EXPECT_EQ(json["stage"], "harmonise");
    EXPECT_EQ(json["keyName"], "C-dur");
    EXPECT_EQ(json["keyMarks"].size(), 24u);
    ASSERT_EQ(json["bars"].size(), 12u);
    const auto& first = json["bars"][0];
    EXPECT_EQ(keysOf(first),
              (std::vector<std::string>{"bar", "chord", "chordName", "enabled", "mainCount",
                                        "extraCount", "candidates", "cadenceKind"}));
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
    // Draft IV always decides; the question belongs to the harmonizer's key recognition.
    HarmoniseRequest draftOne;
    draftOne.draft = kDraftI;
    const HarmoniseOutcome reported = harmoniseFile(file.pathString(), draftOne);
    if (reported.status != 96)
        GTEST_SKIP() << "this melody is decided (status " << reported.status << ")";
    EXPECT_EQ(outcomeJson(reported)["key"], reported.master->key);
    EXPECT_LT(reported.master->key, 12);

    HarmoniseRequest minor = draftOne;
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
    HarmoniseRequest draftOne;
    draftOne.draft = kDraftI;
    const HarmoniseOutcome outcome = harmoniseFile(file.pathString(), draftOne);
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

namespace {

// The libraries the build compiled, found through the build tree's settings.
class BuildTreeSettings : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("VARIMEL_REGISTRY", VARIMEL_BINARY_DIR "/etc/varimel/registry.reg", 1);
    }
};
const auto* const buildTreeSettings = ::testing::AddGlobalTestEnvironment(new BuildTreeSettings);

std::map<std::string, int> accompanimentNotes(const nlohmann::ordered_json& json) {
    std::map<std::string, int> notes;
    for (const auto& [list, count] : json["accompaniment"]["notes"].items()) notes[list] = count;
    return notes;
}

}  // namespace

TEST(CliAccompaniment, CreateAccompanimentTakesAStyleThatFitsTheMeter) {
    const HarmoniseOutcome outcome = harmoniseFile(sample("greensleeves.mid"), {});
    ASSERT_EQ(outcome.status, 0);
    ASSERT_TRUE(outcome.accompanimentProblems.empty()) << outcome.accompanimentProblems.front();
    const nlohmann::ordered_json json = outcomeJson(outcome);
    EXPECT_EQ(keysOf(json).back(), "accompaniment");
    const auto& accompaniment = json["accompaniment"];
    EXPECT_EQ(accompaniment["parts"], 2);
    ASSERT_TRUE(accompaniment["styleName"].is_string());
    EXPECT_NE(accompaniment["styleName"].get<std::string>().find("34"), std::string::npos);  // 3/4
    EXPECT_TRUE(accompaniment["arrangementName"].is_null());
    const auto notes = accompanimentNotes(json);
    EXPECT_GT(notes.at("1"), 32);
    EXPECT_EQ(notes.at("2") + notes.at("3") + notes.at("9"), 0);
}

TEST(CliAccompaniment, PartsStyleAndArrangementAreHonoured) {
    HarmoniseRequest request;
    request.parts = "style+arrange";
    request.style = "PnWaltz34";
    const HarmoniseOutcome band = harmoniseFile(sample("greensleeves.mid"), request);
    ASSERT_EQ(band.status, 0);
    const nlohmann::ordered_json json = outcomeJson(band);
    EXPECT_EQ(json["accompaniment"]["parts"], 6);
    EXPECT_EQ(json["accompaniment"]["styleName"], "PnWaltz34");
    EXPECT_EQ(json["accompaniment"]["arrangementName"], "Waltz34");  // chosen by meter
    for (const auto& [list, count] : accompanimentNotes(json))
        EXPECT_GT(count, 0) << "list " << list;

    HarmoniseRequest blocks;
    blocks.parts = "1";
    const HarmoniseOutcome plain = harmoniseFile(sample("twinkle.mid"), blocks);
    const nlohmann::ordered_json plainJson = outcomeJson(plain);
    EXPECT_EQ(plainJson["accompaniment"]["parts"], 1);
    // One held chord (three or four tones) per bar with a chord.
    EXPECT_GE(accompanimentNotes(plainJson).at("1"), 3 * 12);
    EXPECT_LE(accompanimentNotes(plainJson).at("1"), 4 * 12);

    HarmoniseRequest unknown;
    unknown.style = "NoSuchStyle";
    const HarmoniseOutcome withUnknown = harmoniseFile(sample("twinkle.mid"), unknown);
    EXPECT_NE(withUnknown.requestError.find("NoSuchStyle"), std::string::npos);
}

TEST(CliAccompaniment, ExportCarriesTheAccompanimentAndItsInstruments) {
    HarmoniseRequest request;
    request.parts = "style+arrange";
    HarmoniseOutcome outcome = harmoniseFile(sample("twinkle.mid"), request);
    ASSERT_EQ(outcome.status, 0);
    const std::string exported = (std::filesystem::temp_directory_path() /
                                  ("varimel-cli-" + std::to_string(::getpid()) + ".mid"))
                                     .string();
    storeDocumentSettings(*outcome.document);
    std::string error;
    ASSERT_TRUE(exportMidi(*outcome.master->composition(), &outcome.channels(), exported, error))
        << error;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(readWholeFile(exported, 1 << 24, bytes));
    std::filesystem::remove(exported);
    const SmfWalk walked = walkSmf(bytes);
    ASSERT_TRUE(walked.file) << walked.error;
    std::map<int, int> notesPerChannel;
    for (const SmfNote& note : walked.file->notes()) ++notesPerChannel[note.channel];
    const Composition& c = *outcome.master->composition();
    for (int channel : {0, 1, 2, 3, 9}) {
        EXPECT_EQ(notesPerChannel[channel], c.noteTracks().count(channel)) << "channel " << channel;
        EXPECT_GT(notesPerChannel[channel], 0) << "channel " << channel;
    }
    // Every channel but the drums starts with its instrument.
    std::map<int, int> programs;
    for (const SmfTrack& track : walked.file->tracks) {
        for (const SmfEvent& event : track.events) {
            if (event.kind() == 0xC0 && !programs.count(event.channel())) {
                programs[event.channel()] = event.data[0];
            }
        }
    }
    EXPECT_EQ(programs[1], outcome.channels().program[1]);
    EXPECT_EQ(programs[2], outcome.channels().program[2]);
    EXPECT_EQ(programs.count(9), 0u);
}

// --- Draft IV and --explain ------------------------------------------------------------------

TEST(CliDraftFour, IsTheDefaultForMidiFilesAndReadsAsIV) {
    EXPECT_EQ(draftNumber("IV"), kDraftIV);
    EXPECT_EQ(draftNumber("III"), kDraftIII);
    EXPECT_EQ(draftNumber(""), 0);
    HarmoniseRequest named;
    named.draft = kDraftIV;
    const HarmoniseOutcome byName = harmoniseFile(sample("twinkle.mid"), named);
    const HarmoniseOutcome byDefault = harmoniseFile(sample("twinkle.mid"), {});
    ASSERT_EQ(byName.status, 0);
    EXPECT_EQ(byDefault.master->composition()->chordTrack,
              byName.master->composition()->chordTrack);
    // Draft I chooses differently on this tune, so the default is not Draft I.
    HarmoniseRequest first;
    first.draft = kDraftI;
    EXPECT_NE(harmoniseFile(sample("twinkle.mid"), first).master->composition()->chordTrack,
              byName.master->composition()->chordTrack);
}

TEST(CliDraftFour, MelodyWithTooLittleMaterialKeepsKeyRecognitionOn) {
    std::vector<Step> steps;
    for (const char* pitch : {"C5", "E5", "G5", "C5", "G4", "C5"})
        steps.push_back({pitch, 2_beats});
    TempMidiFile file(melody("4/4", steps));
    const HarmoniseOutcome outcome = harmoniseFile(file.pathString(), {});
    EXPECT_EQ(outcome.loadStatus, 92);
    EXPECT_TRUE(outcome.options.AutoKey);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.master->key, keyFromName("C-dur"));
}

namespace {
// Each bar's fit added to the tree, as an independent build of what --explain writes.
void addFit(nlohmann::ordered_json& json, const HarmoniseOutcome& outcome) {
    const std::vector<double> fit = chordFitOf(outcome);
    for (auto& bar : json["bars"]) {
        const size_t index = bar["bar"].get<size_t>();
        if (index < fit.size() && fit[index] >= 0) {
            bar["fit"] = roundedFit(fit[index]);
        } else {
            bar["fit"] = nullptr;
        }
    }
}
}  // namespace

TEST(CliDraftFour, ExplainGivesEveryBarItsFit) {
    const HarmoniseOutcome outcome = harmoniseFile(sample("twinkle.mid"), {});
    nlohmann::ordered_json json = outcomeJson(outcome);
    addFit(json, outcome);
    for (const auto& bar : json["bars"]) {
        ASSERT_TRUE(bar["fit"].is_number()) << bar.dump();
        const double fit = bar["fit"].get<double>();
        EXPECT_GE(fit, 0.0);
        EXPECT_LE(fit, 1.0);
        EXPECT_DOUBLE_EQ(fit * 1000.0, std::round(fit * 1000.0));
    }
    // Bar 1 holds C C G G under C: all on the chord's tones.
    EXPECT_DOUBLE_EQ(json["bars"][0]["fit"].get<double>(), 1.0);
    // A batch writes the same line without the tree.
    EXPECT_EQ(outcomeLine(outcome, true), json.dump());
    const std::string chart = fitChart(outcome);
    EXPECT_NE(chart.find("   1  C         100.0%"), std::string::npos) << chart;
}

TEST(CliProject, StoredHarmonyIsKeptUnlessADraftOrKeyIsAsked) {
    HarmoniseRequest firstDraft;
    firstDraft.draft = kDraftI;
    HarmoniseOutcome first = harmoniseFile(sample("greensleeves.mid"), firstDraft);
    ASSERT_EQ(first.status, 0);
    Composition& c = *first.master->composition();
    const ChordCode original = c.chordTrack[2].chord;
    const ChordCode edited =
        original == makeChordCode(6, 0) ? makeChordCode(8, 1) : makeChordCode(6, 0);
    c.chordTrack[2].chord = edited;  // a chord edited by hand in the window
    test::TempDir dir;
    const std::string project = (dir / "song.vml").string();
    std::string error;
    ASSERT_TRUE(ProjectWriter::write(project, c, first.options, error)) << error;

    // export, render, play and info open it without harmonising; harmonise without --draft too.
    HarmoniseOutcome opened = openFile(project, {}, false);
    ASSERT_EQ(opened.status, 0);
    EXPECT_EQ(opened.master->composition()->chordTrack[2].chord, edited);
    EXPECT_GT(opened.master->composition()->noteTracks().count(1), 0) << "no accompaniment";
    const HarmoniseOutcome again = harmoniseFile(project, {});
    EXPECT_EQ(again.master->composition()->chordTrack[2].chord, edited);
    EXPECT_EQ(outcomeJson(again)["bars"][2]["chord"], edited);

    HarmoniseRequest draft;
    draft.draft = 1;
    const HarmoniseOutcome anew = harmoniseFile(project, draft);
    EXPECT_EQ(anew.master->composition()->chordTrack[2].chord, original);
}

TEST(CliKeys, KeysAreReadInTheProgramsAndInEnglishNamesInAnyCase) {
    const std::pair<const char*, const char*> names[] = {
        {"C", "C-dur"},       {"Am", "a-moll"},      {"F#m", "fis-moll"}, {"Bb", "B-dur"},
        {"C major", "C-dur"}, {"a minor", "a-moll"}, {"c-DUR", "C-dur"},  {"Eb", "Es-dur"},
        {"db", "Cis-dur"},    {"B", "H-dur"},        {"bbm", "b-moll"},   {"G#m", "as-moll"},
    };
    for (const auto& [typed, key] : names) EXPECT_EQ(keyName(keyFromUserName(typed)), key) << typed;
    for (const char* typed : {"H#", "Cm7", "major", "", "C-sharp"}) {
        EXPECT_EQ(keyFromUserName(typed), kNoKey) << typed;
    }
}
