// Opening a document as the window does: the tempo before the part plan, the file's instruments,
// a project's own harmony and accompaniment, and the libraries' failures in the user's words.
#include <gtest/gtest.h>

#include <filesystem>

#include "accompaniment/DocumentOpening.h"
#include "accompaniment/PartPlan.h"
#include "accompaniment/StyleRenderer.h"
#include "accompaniment/Tarangsmaster.h"
#include "accompaniment/Tstylemaster.h"
#include "engine/Mas_file.h"
#include "support/melody.h"
#include "support/samples.h"

namespace varimel {
namespace {

namespace fs = std::filesystem;
using namespace test;

// The libraries the build compiled, as the application holds them.
struct BuiltLibraries {
    StyleLibrary styles;
    ArrangementLibrary arrangements;
    std::vector<std::string> reported;

    explicit BuiltLibraries(const std::string& arrangementDir = VARIMEL_BINARY_DIR
                            "/data/arrangements/") {
        styles.setDirectory(VARIMEL_BINARY_DIR "/data/styles/");
        arrangements.setDirectory(arrangementDir);
        arrangements.setErrorReporter(
            [this](const std::string& text) { reported.push_back(text); });
        EXPECT_TRUE(styles.load());
        arrangements.loadList();
    }

    OpeningRequest request(const std::string& path, DocumentKind kind) {
        OpeningRequest request;
        request.path = path;
        request.kind = kind;
        request.styles = &styles;
        request.arrangements = &arrangements;
        request.report = [this](const std::string& text) { reported.push_back(text); };
        return request;
    }
};

// Harmonises an opened melody and creates its accompaniment, as Create Accompaniment does.
void harmoniseAndAccompany(OpenedDocument& document) {
    ASSERT_EQ(document.master->harmonise(document.options), status::kOk);
    finishHarmonising(document, {});
}

// Sixteen bars of quarters in 4/4; every fourth bar one held whole note, which closes a phrase.
std::vector<uint8_t> phrasedMelody(int bpm, MelodyOptions options = {}) {
    const char* scale[] = {"C5", "D5", "E5", "F5", "G5", "A5", "B5", "C6"};
    std::vector<Step> steps;
    for (int bar = 0; bar < 16; ++bar) {
        if (bar % 4 == 3) {
            steps.push_back({bar % 8 == 7 ? "C5" : "G5", 4_beats});
            continue;
        }
        for (int beat = 0; beat < 4; ++beat) steps.push_back({scale[(bar + beat) % 8], 1_beat});
    }
    options.tempoBpm = bpm;
    return melody("4/4", steps, options);
}

bool isFill(int16_t part) {
    return part == plan_part::kFill || part == plan_part::kStrongFill;
}

TEST(DocumentOpening, TheFilesTempoReachesThePartPlan) {
    BuiltLibraries libraries;
    std::vector<int16_t> plans[2];
    const int tempos[] = {60, 120};
    for (int i = 0; i < 2; ++i) {
        TempMidiFile file(phrasedMelody(tempos[i]));
        OpenedDocument document;
        ASSERT_EQ(openDocument(document, libraries.request(file.pathString(), DocumentKind::kMidi)),
                  status::kOk);
        EXPECT_EQ(document.composition()->tempo, 60000000 / tempos[i]);
        harmoniseAndAccompany(document);
        plans[i] = document.composition()->partPlan;
        ASSERT_EQ(plans[i].size(), 16u);
    }
    // A slow piece changes its pattern every four bars, a lively one every eight.
    EXPECT_TRUE(isFill(plans[0][4]));
    EXPECT_TRUE(isFill(plans[0][8]));
    EXPECT_FALSE(isFill(plans[1][4]));
    EXPECT_TRUE(isFill(plans[1][8]));
}

TEST(DocumentOpening, AFluteMelodyKeepsItsInstrumentInTheExport) {
    BuiltLibraries libraries;
    MelodyOptions flute;
    flute.channel = 5;
    flute.program = 73;
    TempMidiFile file(phrasedMelody(100, flute));
    OpenedDocument document;
    ASSERT_EQ(openDocument(document, libraries.request(file.pathString(), DocumentKind::kMidi)),
              status::kOk);
    EXPECT_EQ(document.channels.program[0], 73);
    harmoniseAndAccompany(document);
    storeDocumentSettings(document);
    EXPECT_EQ(document.composition()->eventValue(event_kind::kProgramChange | 0, 0), 73);
}

TEST(DocumentOpening, TheUsersTempoGoesIntoTheTempoEventsAndLaterChangesKeepTheirRatio) {
    // Unchanged, a piece without a tempo event gains none: an old project saves as before.
    Composition plain;
    storeTempo(plain);
    EXPECT_EQ(plain.conductorEvents.count(), 0);
    plain.tempo = 400000;
    storeTempo(plain);
    ASSERT_EQ(plain.conductorEvents.count(), 1);
    EXPECT_EQ(plain.eventValue(event_kind::kTempo, 0), 400000);

    // At 100 beats a minute, slowing to 50 later, played at 150: 150, then 75.
    Composition piece;
    piece.conductorEvents.append({event_kind::kTempo, 600000, 0, SongPosition{}});
    piece.conductorEvents.append({event_kind::kTempo, 1200000, 0, SongPosition{4, 0, 0}});
    piece.tempo = 400000;
    storeTempo(piece);
    EXPECT_EQ(piece.conductorEvents[0].value, 400000);
    EXPECT_EQ(piece.conductorEvents[1].value, 800000);
    EXPECT_EQ(piece.eventValue(event_kind::kTempo, 0), piece.tempo);
}

TEST(DocumentOpening, AProjectReopensWithItsOwnChordsAndAccompaniment) {
    BuiltLibraries libraries;
    TempDir dir;
    const std::string project = (dir / "song.vml").string();
    ChordCode edited = kNoChord;
    {
        OpenedDocument document;
        ASSERT_EQ(openDocument(document, libraries.request(VARIMEL_SAMPLES_DIR "/greensleeves.mid",
                                                           DocumentKind::kMidi)),
                  status::kOk);
        harmoniseAndAccompany(document);
        Composition& c = *document.composition();
        ASSERT_GT(c.chordTrack.size(), 3u);
        // A chord chosen by hand, as the chords view would store it.
        edited = c.chordTrack[2].chord == makeChordCode(6, 0) ? makeChordCode(8, 1)
                                                              : makeChordCode(6, 0);
        c.chordTrack[2].chord = edited;
        // An automatic style is not stored with the chord track.
        EXPECT_NE(c.style, nullptr);
        EXPECT_EQ(c.styleId(), kNoStyle);
        storeDocumentSettings(document);
        std::string error;
        ASSERT_TRUE(ProjectWriter::write(project, c, document.options, error)) << error;
    }
    BuiltLibraries fresh;
    OpenedDocument reopened;
    ASSERT_EQ(openDocument(reopened, fresh.request(project, DocumentKind::kProject)), status::kOk);
    Composition& c = *reopened.composition();
    EXPECT_EQ(c.chordTrack[2].chord, edited);
    EXPECT_NE(c.style, nullptr) << "the style is chosen again";
    EXPECT_EQ(c.accompanimentParts, accompaniment_part::kStyle);
    EXPECT_EQ(c.partPlan.size(), static_cast<size_t>(c.barCount));
    EXPECT_EQ(c.testStateFlags(state_flag::kNeedsSave), false);
    renderAccompaniment(c);
    EXPECT_GT(c.noteTracks().count(1), 0);
}

TEST(DocumentOpening, AProjectSavedInTheBlockChordModeReopensInIt) {
    BuiltLibraries libraries;
    TempDir dir;
    const std::string project = (dir / "blocks.vml").string();
    {
        OpenedDocument document;
        ASSERT_EQ(openDocument(document, libraries.request(VARIMEL_SAMPLES_DIR "/twinkle.mid",
                                                           DocumentKind::kMidi)),
                  status::kOk);
        harmoniseAndAccompany(document);
        Composition& c = *document.composition();
        // The piece got a style, then the user switched to block chords.
        ASSERT_NE(c.style, nullptr);
        setAccompanimentMode(document.setup, c, accompaniment_part::kBlockChords, ModeChange::kAdd);
        ASSERT_EQ(c.accompanimentParts, accompaniment_part::kBlockChords);
        std::string error;
        ASSERT_TRUE(ProjectWriter::write(project, c, document.options, error)) << error;
    }
    OpenedDocument reopened;
    ASSERT_EQ(openDocument(reopened, libraries.request(project, DocumentKind::kProject)),
              status::kOk);
    EXPECT_EQ(reopened.composition()->accompanimentParts, accompaniment_part::kBlockChords);
}

TEST(DocumentOpening, AMissingArrangementFileIsReportedInTheUsersWords) {
    TempDir dir;
    fs::copy(VARIMEL_BINARY_DIR "/data/arrangements", dir / "arrangements");
    const std::string arrangementDir = (dir / "arrangements").string() + "/";
    const std::string project = (dir / "song.vml").string();
    {
        BuiltLibraries libraries(arrangementDir);
        OpenedDocument document;
        ASSERT_EQ(openDocument(document, libraries.request(VARIMEL_SAMPLES_DIR "/greensleeves.mid",
                                                           DocumentKind::kMidi)),
                  status::kOk);
        harmoniseAndAccompany(document);
        chooseArrangement(document.setup, *document.composition(), kNoArrangement);
        ASSERT_GE(document.composition()->arrangementId, 0);
        ASSERT_NE(document.composition()->arrangement, nullptr);
        std::string error;
        ASSERT_TRUE(
            ProjectWriter::write(project, *document.composition(), document.options, error));
        EXPECT_TRUE(libraries.reported.empty());
    }
    for (const auto& entry : fs::directory_iterator(dir / "arrangements")) {
        if (entry.path().extension() == ".art") fs::remove(entry.path());
    }
    BuiltLibraries libraries(arrangementDir);
    OpenedDocument reopened;
    ASSERT_EQ(openDocument(reopened, libraries.request(project, DocumentKind::kProject)),
              status::kOk);
    EXPECT_EQ(libraries.reported, std::vector<std::string>{kCannotLoadArrangementMessage});
    EXPECT_EQ(reopened.composition()->arrangement, nullptr);
}

TEST(DocumentOpening, APickUpBarInItsOwnMeterGetsAStyleOfThePiecesMeter) {
    BuiltLibraries libraries;
    // A 1/4 bar holding the upbeat, then waltz time.
    std::vector<Step> steps{{"D5", 1_beat}};
    const char* tune[] = {"G5", "G5", "A5", "B5", "G5", "D5", "C5", "B4", "A4"};
    for (int bar = 0; bar < 12; ++bar) {
        for (int beat = 0; beat < 3; ++beat) steps.push_back({tune[(bar * 3 + beat) % 9], 1_beat});
    }
    MelodyOptions waltz;
    waltz.meterChanges = {{1, "3/4"}};
    TempMidiFile file(melody("1/4", steps, waltz));
    OpenedDocument document;
    ASSERT_EQ(openDocument(document, libraries.request(file.pathString(), DocumentKind::kMidi)),
              status::kOk);
    int numerator = 0, denominator = 0;
    document.composition()->meterMap().meterOfPiece(numerator, denominator);
    EXPECT_EQ(numerator * 10 + denominator, 34);
    harmoniseAndAccompany(document);
    EXPECT_TRUE(libraries.reported.empty()) << libraries.reported.front();
    const Style* style = document.composition()->style;
    ASSERT_NE(style, nullptr);
    EXPECT_TRUE(StyleLibrary::meterFits(style->meters, 3, 4));
    chooseArrangement(document.setup, *document.composition(), kNoArrangement);
    EXPECT_EQ(libraries.arrangements.currentMeterKey(), meterKey(3, 4));
}

TEST(HarmonySnapshot, AFailedHarmonisationPutsThePreviousHarmonyBackAndASuccessKeepsTheStyle) {
    BuiltLibraries libraries;
    TempMidiFile file(phrasedMelody(100));
    OpenedDocument document;
    ASSERT_EQ(openDocument(document, libraries.request(file.pathString(), DocumentKind::kMidi)),
              status::kOk);
    harmoniseAndAccompany(document);
    Composition& c = *document.composition();
    ChordMaster& master = *document.master;
    c.chordTrack.front().extra = 3;  // a style the user chose
    const auto chords = c.chordTrack;
    const auto slots = c.slots.size();
    const KeyIndex key = master.key;
    const int32_t signature = c.eventValue(event_kind::kKeySignature, 0);

    // A harmonisation in another key that fails midway leaves no chords: the snapshot returns.
    HarmonySnapshot before = takeHarmonySnapshot(master);
    HarmonyOptions minor = document.options;
    setFileKey(c, 19, minor);  // a-moll
    c.clearDerived();
    master.key = kNoKey;
    restoreHarmony(master, std::move(before));
    ASSERT_EQ(c.chordTrack.size(), chords.size());
    for (size_t i = 0; i < chords.size(); ++i) EXPECT_EQ(c.chordTrack[i].chord, chords[i].chord);
    EXPECT_EQ(c.slots.size(), slots);
    EXPECT_EQ(c.styleId(), 3);
    EXPECT_EQ(master.key, key);
    EXPECT_EQ(c.eventValue(event_kind::kKeySignature, 0), signature);
    EXPECT_FALSE(c.keys.empty());

    // A new harmony rebuilds the chord track; the chosen style carries over into it.
    HarmonySnapshot again = takeHarmonySnapshot(master);
    ASSERT_EQ(master.harmonise(document.options), status::kOk);
    EXPECT_EQ(c.styleId(), kNoStyle);
    keepChosenStyle(c, again);
    EXPECT_EQ(c.styleId(), 3);
}

TEST(DocumentOpening, KindsFollowTheExtensionInAnyCase) {
    EXPECT_EQ(documentKindByExtension("SONG.MID"), DocumentKind::kMidi);
    EXPECT_EQ(documentKindByExtension("dir.v/song.Vml"), DocumentKind::kProject);
    EXPECT_EQ(documentKindByExtension("song.midi"), DocumentKind::kMidi);
    EXPECT_EQ(documentKindByExtension("song.txt"), DocumentKind::kNone);
    EXPECT_EQ(documentKindByExtension("folder.mid/song"), DocumentKind::kNone);
    EXPECT_EQ(oneLine("There are no accompaniment style \n\r for meter 6/8 in our collection."),
              "There are no accompaniment style for meter 6/8 in our collection.");
}

}  // namespace
}  // namespace varimel
