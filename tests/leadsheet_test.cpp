// Lead sheets: MusicXML written from a composition, read back, and read from files that others
// write; chord markers in exported MIDI files; ABC tunes.
#include "leadsheet/LeadSheet.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "engine/Limits.h"
#include "engine/MidiExport.h"
#include "engine/Tonality.h"
#include "leadsheet/MelodyFiles.h"
#include "leadsheet/MusicXmlImport.h"
#include "leadsheet/Xml.h"
#include "leadsheet/Zip.h"
#include "support/melody.h"
#include "support/samples.h"
#include "support/smf_walker.h"

namespace varimel {
namespace {

using namespace varimel::test;
namespace fs = std::filesystem;

std::unique_ptr<ChordMaster> loadBytes(const std::vector<uint8_t>& bytes) {
    TempMidiFile file(bytes);
    auto master = std::make_unique<ChordMaster>(file.pathString());
    master->loadMidi();
    return master;
}

// Seven bars, one note each, over five pitch classes.
std::unique_ptr<ChordMaster> oneNoteABar(std::string_view meter, Length bar) {
    return loadBytes(melody(meter, {{"C5", bar},
                                    {"D5", bar},
                                    {"E5", bar},
                                    {"F5", bar},
                                    {"G5", bar},
                                    {"A5", bar},
                                    {"B4", bar}}));
}

// Gives every bar the same chord, so that export has a chord track without harmonising.
void setChords(Composition& c, ChordCode chord) {
    c.chordTrack.assign(static_cast<size_t>(std::max<int32_t>(c.barCount, 1)), ChordTrackEntry{});
    for (ChordTrackEntry& entry : c.chordTrack) entry.chord = chord;
}

xml::Element parsed(const std::string& text) {
    xml::Element root;
    std::string error;
    EXPECT_TRUE(xml::parse(text, root, error)) << error;
    return root;
}

std::vector<const xml::Element*> childrenNamed(const xml::Element& parent, std::string_view name) {
    std::vector<const xml::Element*> found;
    for (const xml::Element& child : parent.children)
        if (child.name == name) found.push_back(&child);
    return found;
}

std::vector<const xml::Element*> measuresOf(const xml::Element& root, size_t part = 0) {
    const auto parts = childrenNamed(root, "part");
    return part < parts.size() ? childrenNamed(*parts[part], "measure")
                               : std::vector<const xml::Element*>{};
}

// Every measure's notes fill its meter exactly (a pick-up bar only needs to be shorter); the
// answer is the number of measures checked.
size_t expectFullMeasures(const xml::Element& root, size_t part = 0) {
    int divisions = 0, beats = 4, beatType = 4;
    size_t checked = 0;
    for (const xml::Element* measure : measuresOf(root, part)) {
        if (const xml::Element* attributes = measure->child("attributes")) {
            if (attributes->child("divisions"))
                divisions = std::stoi(attributes->childText("divisions"));
            if (const xml::Element* time = attributes->child("time")) {
                beats = std::stoi(time->childText("beats"));
                beatType = std::stoi(time->childText("beat-type"));
            }
        }
        int64_t sum = 0;
        for (const xml::Element* note : childrenNamed(*measure, "note"))
            if (!note->child("chord")) sum += std::stoll(note->childText("duration"));
        const int64_t expected = int64_t{beats} * 4 * divisions / beatType;
        const std::string* implicit = measure->attribute("implicit");
        if (implicit && *implicit == "yes") {
            EXPECT_LT(sum, expected) << "pick-up measure";
        } else {
            EXPECT_EQ(sum, expected) << "measure " << *measure->attribute("number");
        }
        ++checked;
    }
    return checked;
}

std::vector<const xml::Element*> notesOf(const xml::Element& measure) {
    return childrenNamed(measure, "note");
}

bool hasTie(const xml::Element& note, const std::string& type) {
    for (const xml::Element* tie : childrenNamed(note, "tie"))
        if (*tie->attribute("type") == type) return true;
    return false;
}

TEST(LeadSheetExport, NotesAcrossBarLinesAreTiedAndBarsStayFull) {
    // A dotted half from beat 3 reaches into the next bar; a whole note and a quarter fill
    // five beats.
    const auto master = loadBytes(melody("4/4", {{"C5", 2_beats},
                                                 {"D5", 3_beats},
                                                 {"E5", 1_beat},
                                                 {"F5", 1_beat},
                                                 {"G5", 1_beat},
                                                 {"A5", 5_beats},
                                                 {"B4", 1_beat},
                                                 {"C5", 2_beats}}));
    const xml::Element root = parsed(musicXmlLeadSheet(*master->composition(), {}));
    EXPECT_EQ(expectFullMeasures(root), 4u);
    const auto measures = measuresOf(root);
    const auto first = notesOf(*measures[0]);
    const auto second = notesOf(*measures[1]);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_TRUE(hasTie(*first[1], "start"));
    EXPECT_EQ(first[1]->childText("type"), "half");
    EXPECT_TRUE(hasTie(*second[0], "stop"));
    EXPECT_FALSE(hasTie(*second[0], "start"));
    EXPECT_EQ(second[0]->childText("type"), "quarter");
    // The five-beat A: a whole note in bar 3, tied to a quarter in bar 4.
    const auto third = notesOf(*measures[2]);
    const auto fourth = notesOf(*measures[3]);
    EXPECT_EQ(third.back()->childText("type"), "whole");
    EXPECT_TRUE(hasTie(*third.back(), "start"));
    EXPECT_TRUE(hasTie(*fourth.front(), "stop"));
    EXPECT_EQ(third.back()->child("notations")->child("tied")->name, "tied");
}

TEST(LeadSheetExport, DottedValuesTripletsAndSixEight) {
    // 6/8: two dotted quarters, then a bar of a dotted quarter and three 16ths + an eighth.
    const auto sixEight = loadBytes(melody("6/8", {{"C5", 3_beats},
                                                   {"D5", 3_beats},
                                                   {"E5", 3_beats},
                                                   {"F5", 1_beat},
                                                   {"G5", 2_beats},
                                                   {"A5", 6_beats},
                                                   {"B4", 6_beats}}));
    xml::Element root = parsed(musicXmlLeadSheet(*sixEight->composition(), {}));
    expectFullMeasures(root);
    const auto bar1 = notesOf(*measuresOf(root)[0]);
    ASSERT_EQ(bar1.size(), 2u);
    for (const xml::Element* note : bar1) {
        EXPECT_EQ(note->childText("type"), "quarter");
        EXPECT_EQ(childrenNamed(*note, "dot").size(), 1u);
    }
    const auto time = measuresOf(root)[0]->child("attributes")->child("time");
    EXPECT_EQ(time->childText("beats"), "6");
    EXPECT_EQ(time->childText("beat-type"), "8");

    // Three triplet eighths on one beat, bracketed as one group.
    const auto triplets = loadBytes(melody("4/4", {{"C5", 160_ticks},
                                                   {"D5", 160_ticks},
                                                   {"E5", 160_ticks},
                                                   {"F5", 3_beats},
                                                   {"G5", 4_beats},
                                                   {"A5", 4_beats},
                                                   {"B4", 4_beats}}));
    root = parsed(musicXmlLeadSheet(*triplets->composition(), {}));
    expectFullMeasures(root);
    const auto bar = notesOf(*measuresOf(root)[0]);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(bar[static_cast<size_t>(i)]->childText("type"), "eighth");
        const xml::Element* modification = bar[static_cast<size_t>(i)]->child("time-modification");
        ASSERT_NE(modification, nullptr);
        EXPECT_EQ(modification->childText("actual-notes"), "3");
        EXPECT_EQ(modification->childText("normal-notes"), "2");
    }
    EXPECT_EQ(*bar[0]->child("notations")->child("tuplet")->attribute("type"), "start");
    EXPECT_EQ(*bar[2]->child("notations")->child("tuplet")->attribute("type"), "stop");
    EXPECT_EQ(bar[3]->childText("type"), "half");
}

TEST(LeadSheetExport, WrittenValuesMatchHandComputedOnesAndEveryMeasureAddsUp) {
    // A quarter pick-up; dotted, double-dotted, 16th, triplet and tied values in 4/4.
    MelodyOptions options;
    options.pickup = 1_beat;
    const auto master = loadBytes(melody("4/4",
                                         {{"E5", 1_beat},
                                          {"C5", 720_ticks},
                                          {"D5", 240_ticks},
                                          {"E5", 840_ticks},
                                          {"F5", 120_ticks},
                                          {"G5", 160_ticks},
                                          {"A5", 160_ticks},
                                          {"B5", 160_ticks},
                                          {"C6", 2_beats},
                                          {"D6", 2_beats},
                                          {"E6", 3_beats},
                                          {"C6", 4_beats}},
                                         options));
    const xml::Element root = parsed(musicXmlLeadSheet(*master->composition(), {}));
    EXPECT_EQ(expectFullMeasures(root), 5u);
    struct Written {
        std::string step;
        std::string type;
        size_t dots;
        std::string duration;  // in divisions: 12 a quarter (the grid is a 48th)
        bool triplet;
        std::string tie;  // "start", "stop" or ""
    };
    const std::vector<std::vector<Written>> expected = {
        {{"E", "quarter", 0, "12", false, ""}},
        {{"C", "quarter", 1, "18", false, ""},
         {"D", "eighth", 0, "6", false, ""},
         {"E", "quarter", 2, "21", false, ""},
         {"F", "16th", 0, "3", false, ""}},
        {{"G", "eighth", 0, "4", true, ""},
         {"A", "eighth", 0, "4", true, ""},
         {"B", "eighth", 0, "4", true, ""},
         {"C", "half", 0, "24", false, ""},
         {"D", "quarter", 0, "12", false, "start"}},
        {{"D", "quarter", 0, "12", false, "stop"}, {"E", "half", 1, "36", false, ""}},
        {{"C", "whole", 0, "48", false, ""}},
    };
    const auto measures = measuresOf(root);
    ASSERT_EQ(measures.size(), expected.size());
    EXPECT_EQ(measures[0]->child("attributes")->childText("divisions"), "12");
    for (size_t m = 0; m < expected.size(); ++m) {
        const auto notes = notesOf(*measures[m]);
        ASSERT_EQ(notes.size(), expected[m].size()) << "measure " << m;
        for (size_t n = 0; n < notes.size(); ++n) {
            const Written& want = expected[m][n];
            const xml::Element& note = *notes[n];
            EXPECT_EQ(note.child("pitch")->childText("step"), want.step) << m << ":" << n;
            EXPECT_EQ(note.childText("type"), want.type) << m << ":" << n;
            EXPECT_EQ(childrenNamed(note, "dot").size(), want.dots) << m << ":" << n;
            EXPECT_EQ(note.childText("duration"), want.duration) << m << ":" << n;
            EXPECT_EQ(note.child("time-modification") != nullptr, want.triplet) << m << ":" << n;
            EXPECT_EQ(hasTie(note, "start"), want.tie == "start") << m << ":" << n;
            EXPECT_EQ(hasTie(note, "stop"), want.tie == "stop") << m << ":" << n;
        }
    }
}

TEST(LeadSheetExport, AnAbcPickUpLeavesTheNoteValuesOfTheTuneWithoutOne) {
    if (std::system("abc2midi -ver > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "abc2midi is not installed";
    const std::string body = "G2B d2B|c2A F2D|G3 G3|]\n";
    TempDir folder;
    std::vector<std::vector<std::string>> written;
    for (const std::string pickUp : {"", "D|"}) {
        const fs::path file = folder / "tune.abc";
        std::ofstream(file) << "X:1\nT:Jig\nM:6/8\nL:1/8\nK:G\n" << pickUp << body;
        ChordMaster master(file.string());
        std::vector<std::string> warnings;
        ASSERT_EQ(loadMelodyFile(master, {}, warnings), status::kOk) << master.readerMessage();
        const xml::Element root = parsed(musicXmlLeadSheet(*master.composition(), {}));
        expectFullMeasures(root);
        auto measures = measuresOf(root);
        EXPECT_EQ(measures.front()->child("attributes")->childText("divisions"), "2");
        if (!pickUp.empty()) {
            ASSERT_EQ(*measures[0]->attribute("implicit"), "yes");
            measures.erase(measures.begin());
        }
        std::vector<std::string> values;
        for (const xml::Element* measure : measures)
            for (const xml::Element* note : notesOf(*measure))
                values.push_back(note->childText("type") +
                                 std::string(childrenNamed(*note, "dot").size(), '.'));
        written.push_back(values);
    }
    EXPECT_EQ(written[0], written[1]);
    EXPECT_EQ(written[0].size(), 10u);
}

TEST(LeadSheetExport, MeterChangesPickUpKeyTempoAndTitle) {
    MelodyOptions options;
    options.key = "A minor";
    options.tempoBpm = 90;
    options.pickup = 1_beat;
    options.meterChanges = {{2, "2/4"}};
    const auto master = loadBytes(melody("3/4",
                                         {{"E5", 1_beat},
                                          {"A4", 2_beats},
                                          {"B4", 1_beat},
                                          {"C5", 1_beat},
                                          {"D5", 1_beat},
                                          {"E5", 1_beat},
                                          {"F5", 1_beat},
                                          {"G#5", 1_beat},
                                          {"A5", 2_beats}},
                                         options));
    Composition& c = *master->composition();
    LeadSheetOptions sheet;
    sheet.title = "Tune & <Title>";
    sheet.composer = "Trad.";
    const std::string text = musicXmlLeadSheet(c, sheet);
    const xml::Element root = parsed(text);
    EXPECT_EQ(root.name, "score-partwise");
    EXPECT_EQ(*root.attribute("version"), "4.0");
    EXPECT_EQ(root.child("work")->childText("work-title"), "Tune & <Title>");
    EXPECT_EQ(root.child("identification")->childText("creator"), "Trad.");
    expectFullMeasures(root);

    const auto measures = measuresOf(root);
    ASSERT_GE(measures.size(), 4u);
    EXPECT_EQ(*measures[0]->attribute("number"), "0");
    EXPECT_EQ(*measures[0]->attribute("implicit"), "yes");
    EXPECT_EQ(*measures[1]->attribute("number"), "1");
    const xml::Element* attributes = measures[0]->child("attributes");
    EXPECT_EQ(attributes->child("key")->childText("fifths"), "0");
    EXPECT_EQ(attributes->child("key")->childText("mode"), "minor");
    ASSERT_EQ(notesOf(*measures[0]).size(), 1u);
    const xml::Element* sound = measures[0]->child("direction")->child("sound");
    EXPECT_EQ(*sound->attribute("tempo"), "90");
    // The meter changes at the third bar (the pick-up counted), and only there.
    EXPECT_EQ(measures[1]->child("attributes"), nullptr);
    EXPECT_EQ(measures[2]->child("attributes")->child("time")->childText("beats"), "2");
    EXPECT_EQ(measures[3]->child("attributes"), nullptr);
}

TEST(LeadSheetExport, ChordSymbolsOnEveryBarButMutedOnes) {
    const auto master = oneNoteABar("4/4", 4_beats);
    Composition& c = *master->composition();
    setChords(c, makeChordCode(keyFromName("B-dur"), 1));  // Bb7
    c.chordTrack[2].enabled = 0;
    c.chordTrack[3].chord = kNoChord;
    const xml::Element root = parsed(musicXmlLeadSheet(c, {}));
    const auto measures = measuresOf(root);
    ASSERT_EQ(measures.size(), c.chordTrack.size());
    for (size_t bar = 0; bar < measures.size(); ++bar) {
        const xml::Element* harmony = measures[bar]->child("harmony");
        if (bar == 2 || bar == 3) {
            EXPECT_EQ(harmony, nullptr) << bar;
            continue;
        }
        ASSERT_NE(harmony, nullptr) << bar;
        EXPECT_EQ(harmony->child("root")->childText("root-step"), "B");
        EXPECT_EQ(harmony->child("root")->childText("root-alter"), "-1");
        EXPECT_EQ(harmony->childText("kind"), "dominant");
        EXPECT_EQ(*harmony->child("kind")->attribute("text"), "7");
    }
}

TEST(LeadSheetExport, EveryChordTypeNamesAValidKind) {
    // The kinds the MusicXML 4.0 schema allows.
    const std::set<std::string> valid = {"major",
                                         "minor",
                                         "augmented",
                                         "diminished",
                                         "dominant",
                                         "major-seventh",
                                         "minor-seventh",
                                         "diminished-seventh",
                                         "augmented-seventh",
                                         "half-diminished",
                                         "major-minor",
                                         "major-sixth",
                                         "minor-sixth",
                                         "dominant-ninth",
                                         "major-ninth",
                                         "minor-ninth",
                                         "dominant-11th",
                                         "major-11th",
                                         "minor-11th",
                                         "dominant-13th",
                                         "major-13th",
                                         "minor-13th",
                                         "suspended-second",
                                         "suspended-fourth",
                                         "Neapolitan",
                                         "Italian",
                                         "French",
                                         "German",
                                         "pedal",
                                         "power",
                                         "Tristan",
                                         "other",
                                         "none"};
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        std::set<std::string> kinds;
        for (int type = 0; type < kChordTypeCount; ++type) {
            const ChordCode chord = makeChordCode(key, type);
            const std::string kind = musicXmlChordKind(chord);
            EXPECT_TRUE(valid.count(kind)) << kind;
            kinds.insert(kind);
            // Root and suffix give the chord's name back.
            std::string name = chordName(chord);
            while (!name.empty() && name.back() == ' ') name.pop_back();
            EXPECT_EQ(spelledNoteName(tonicOf(key), kNoKey) + chordSuffix(chord), name);
        }
        EXPECT_EQ(kinds.size(), 5u) << "each type its own kind in " << keyName(key);
    }
    EXPECT_STREQ(musicXmlChordKind(makeChordCode(keyFromName("a-moll"), 3)), "half-diminished");
    EXPECT_STREQ(musicXmlChordKind(kNoChord), "none");
}

TEST(LeadSheetExport, PlayedDurationsAreQuantisedWithoutChangingBarLengths) {
    // Notes played a little short and late, as a keyboard records them.
    MelodyOptions options;
    options.extraNotes = {};
    std::vector<Step> steps;
    const char* pitches[] = {"C5", "D5", "E5", "F5", "G5", "A5", "B4", "C5"};
    for (int i = 0; i < 16; ++i) {
        steps.push_back({pitches[i % 8], Length{0, 455 + (i % 3) * 7}});
        steps.push_back({"r", Length{0, 480 - 455 - (i % 3) * 7}});
    }
    const auto master = loadBytes(melody("4/4", steps, options));
    const xml::Element root = parsed(musicXmlLeadSheet(*master->composition(), {}));
    EXPECT_EQ(expectFullMeasures(root), 4u);
    const auto first = notesOf(*measuresOf(root)[0]);
    ASSERT_EQ(first.size(), 4u);  // four quarter notes, no tiny rests
    for (const xml::Element* note : first) EXPECT_EQ(note->childText("type"), "quarter");
}

TEST(LeadSheetExport, APlayedMelodyWithAPickUpKeepsPlainValues) {
    // Every note struck a few ticks late, the pick-up's too: the grid comes from where notes
    // fall in their bars, not from the pick-up's odd length.
    MelodyOptions options;
    options.pickup = 1_beat;
    std::vector<Step> steps;
    const char* pitches[] = {"E5", "C5", "D5", "E5", "F5", "G5", "A5", "B4", "C5"};
    for (const char* pitch : pitches) {
        steps.push_back({"r", 7_ticks});
        steps.push_back({pitch, 473_ticks});
    }
    steps.push_back({"C5", 4_beats});
    const auto master = loadBytes(melody("4/4", steps, options));
    const xml::Element root = parsed(musicXmlLeadSheet(*master->composition(), {}));
    EXPECT_EQ(expectFullMeasures(root), 4u);
    const auto measures = measuresOf(root);
    EXPECT_EQ(*measures[0]->attribute("implicit"), "yes");
    for (size_t m = 0; m < 3; ++m) {
        const auto notes = notesOf(*measures[m]);
        ASSERT_EQ(notes.size(), m == 0 ? 1u : 4u) << m;
        for (const xml::Element* note : notes) {
            EXPECT_EQ(note->childText("type"), "quarter") << m;
            EXPECT_EQ(note->child("dot"), nullptr) << m;
        }
    }
}

TEST(LeadSheetExport, ALongPickUpIsKnownByTheShortLastBar) {
    // Three beats before the first bar line and one in the last bar make one bar: a pick-up,
    // though most of its bar sounds. Without the short last bar it is a bar opening with a rest.
    for (const bool shortLastBar : {true, false}) {
        MelodyOptions options;
        options.pickup = 3_beats;
        std::vector<Step> steps = {{"G4", 1_beat}, {"A4", 1_beat}, {"B4", 1_beat}};
        for (const char* pitch : {"C5", "D5", "E5", "F5", "G5", "A5", "B5", "C6"})
            steps.push_back({pitch, 1_beat});
        steps.push_back({"C5", shortLastBar ? 1_beat : 4_beats});
        const auto master = loadBytes(melody("4/4", steps, options));
        const xml::Element root = parsed(musicXmlLeadSheet(*master->composition(), {}));
        expectFullMeasures(root);
        const xml::Element& first = *measuresOf(root)[0];
        EXPECT_EQ(first.attribute("implicit") != nullptr, shortLastBar);
        EXPECT_EQ(notesOf(first).size(), shortLastBar ? 3u : 4u);
    }
}

TEST(LeadSheetExport, PlayedTripletsAtADivisionWithoutThirdsKeepEveryNote) {
    // 1024 ticks a quarter cannot hold a third of a beat; the lead sheet still shows triplets
    // and loses none of the notes.
    MelodyOptions options;
    options.division = 1024;
    std::vector<Step> steps;
    const char* pitches[] = {"C5", "D5", "E5", "F5", "G5", "A5", "B4", "C5"};
    for (int i = 0; i < 24; ++i)
        steps.push_back({pitches[i % 8], Length{0, i % 3 == 2 ? 342 : 341}});
    steps.push_back({"C5", 4_beats});
    const auto master = loadBytes(melody("4/4", steps, options));
    const xml::Element root = parsed(musicXmlLeadSheet(*master->composition(), {}));
    expectFullMeasures(root);
    size_t notes = 0;
    for (const xml::Element* measure : measuresOf(root))
        for (const xml::Element* note : notesOf(*measure))
            if (note->child("pitch") && !hasTie(*note, "stop")) ++notes;
    EXPECT_EQ(notes, 25u);
    const auto first = notesOf(*measuresOf(root)[0]);
    EXPECT_EQ(first[0]->childText("type"), "eighth");
    EXPECT_NE(first[0]->child("time-modification"), nullptr);
}

TEST(LeadSheetExport, AccompanimentPartHoldsTheBlockChords) {
    const auto master = oneNoteABar("3/4", 3_beats);
    Composition& c = *master->composition();
    setChords(c, makeChordCode(keyFromName("C-dur"), 0));
    LeadSheetOptions options;
    options.accompaniment = true;
    const xml::Element root = parsed(musicXmlLeadSheet(c, options));
    ASSERT_EQ(childrenNamed(*root.child("part-list"), "score-part").size(), 2u);
    expectFullMeasures(root, 1);
    const auto chord = notesOf(*measuresOf(root, 1)[0]);
    ASSERT_EQ(chord.size(), 3u);  // C E G struck together
    EXPECT_EQ(chord[0]->child("chord"), nullptr);
    EXPECT_NE(chord[1]->child("chord"), nullptr);
    EXPECT_EQ(chord[0]->childText("type"), "half");
    EXPECT_EQ(childrenNamed(*chord[0], "dot").size(), 1u);
}

// --- Import ----------------------------------------------------------------------------------

struct NoteAt {
    int key;
    SongPosition position;
    int duration;
    friend bool operator==(const NoteAt&, const NoteAt&) = default;
};

std::vector<NoteAt> melodyNotes(const Composition& c) {
    std::vector<NoteAt> notes;
    for (const NoteRecord& note : c.noteTracks().notes(0))
        notes.push_back({note.key, note.position, note.duration});
    return notes;
}

void PrintTo(const NoteAt& n, std::ostream* os) {
    *os << n.key << "@" << n.position.bar << ":" << int(n.position.beat) << ":" << n.position.tick
        << "+" << n.duration;
}

class LeadSheetSample : public ::testing::TestWithParam<std::string> {};

TEST_P(LeadSheetSample, ExportReadsBackToTheSameNotes) {
    ChordMaster original(GetParam());
    const StatusCode status = original.loadMidi();
    if (status != status::kOk && status != status::kTooLittleMaterial)
        GTEST_SKIP() << "not a usable melody (status " << status << ")";
    original.harmonise();
    const std::string text = musicXmlLeadSheet(*original.composition(), {});
    expectFullMeasures(parsed(text));

    TempMidiFile file(std::vector<uint8_t>(text.begin(), text.end()), ".musicxml");
    ChordMaster reread(file.pathString());
    std::vector<std::string> warnings;
    EXPECT_EQ(loadMelodyFile(reread, {}, warnings), status) << reread.readerMessage();
    EXPECT_TRUE(warnings.empty());
    ASSERT_NE(reread.composition(), nullptr);
    EXPECT_EQ(melodyNotes(*reread.composition()), melodyNotes(*original.composition()));
    EXPECT_EQ(reread.composition()->barCount, original.composition()->barCount);
    EXPECT_EQ(reread.composition()->eventValue(event_kind::kTempo, 0),
              original.composition()->eventValue(event_kind::kTempo, 0));
    EXPECT_EQ(reread.composition()->fileKey, original.composition()->keys.front().key);
}

INSTANTIATE_TEST_SUITE_P(Samples, LeadSheetSample, ::testing::ValuesIn(sampleMelodyFiles()),
                         [](const auto& info) { return fs::path(info.param).stem().string(); });

// A score as notation programs write it, with the parts of the measures given.
std::string score(const std::string& measures, const std::string& moreParts = {}) {
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD "
           "MusicXML 3.1 Partwise//EN\" \"http://www.musicxml.org/dtds/partwise.dtd\">\n"
           "<score-partwise version=\"3.1\"><part-list><score-part id=\"P1\"><part-name>M"
           "</part-name></score-part></part-list><part id=\"P1\">" +
           measures + "</part>" + moreParts + "</score-partwise>";
}

std::string note(const std::string& step, int octave, int duration, const std::string& extra = {},
                 int voice = 1) {
    return "<note><pitch><step>" + step + "</step><octave>" + std::to_string(octave) +
           "</octave></pitch><duration>" + std::to_string(duration) + "</duration>" + extra +
           "<voice>" + std::to_string(voice) + "</voice></note>";
}

const char* kAttributes =
    "<attributes><divisions>2</divisions><key><fifths>0</fifths></key><time><beats>4</beats>"
    "<beat-type>4</beat-type></time></attributes>";

ImportedMelody imported(const std::string& text, MusicXmlChoice choice = {}) {
    ImportedMelody melody;
    std::string problem;
    EXPECT_TRUE(readMusicXml(text, choice, melody, problem)) << problem;
    return melody;
}

TEST(MusicXmlImport, VoicesBackupTiesChordsAndGraceNotes) {
    // Voice 1: C (tied over the bar line into bar 2), a chord E+G, a grace note, then F.
    // Voice 2 after <backup>: a whole-bar low C in each bar.
    const std::string text = score(
        "<measure number=\"1\">" + std::string(kAttributes) + note("C", 5, 4) + note("E", 5, 2) +
        "<note><chord/><pitch><step>G</step><octave>5</octave></pitch>"
        "<duration>2</duration><voice>1</voice></note>" +
        note("D", 5, 2, "<tie type=\"start\"/>") + "<backup><duration>8</duration></backup>" +
        note("C", 3, 8, {}, 2) + "</measure><measure number=\"2\">" +
        note("D", 5, 2, "<tie type=\"stop\"/>") +
        "<note><grace/><pitch><step>B</step><octave>4</octave></pitch><voice>1</voice></note>" +
        note("F", 5, 6) + "<backup><duration>8</duration></backup>" + note("C", 3, 8, {}, 2) +
        "</measure>");
    ImportedMelody melody = imported(text);
    ASSERT_EQ(melody.notes.size(), 4u);
    EXPECT_EQ(melody.ticksPerQuarter, 480);
    EXPECT_EQ(melody.notes[0].key, 72);
    EXPECT_EQ(melody.notes[1].key, 79);  // the chord's top note
    EXPECT_EQ(melody.notes[1].start, 960);
    EXPECT_EQ(melody.notes[2].key, 74);
    EXPECT_EQ(melody.notes[2].duration, 960);  // tied over the bar line
    EXPECT_EQ(melody.notes[3].start, 2400);
    EXPECT_EQ(melody.warnings.size(), 2u);  // grace notes, chords

    MusicXmlChoice second;
    second.voice = 2;
    melody = imported(text, second);
    ASSERT_EQ(melody.notes.size(), 2u);
    EXPECT_EQ(melody.notes[1].start, 1920);
    EXPECT_EQ(melody.notes[1].key, 48);
}

TEST(MusicXmlImport, DivisionsChangesMetersTemposAndPickUp) {
    // A pick-up of one quarter in 3/4, divisions 1 then 3, tempo 72, then a bar of 2/4.
    const std::string text = score(
        "<measure number=\"0\" implicit=\"yes\"><attributes><divisions>1</divisions><key>"
        "<fifths>-2</fifths><mode>minor</mode></key><time><beats>3</beats><beat-type>4</beat-type>"
        "</time></attributes><sound tempo=\"72\"/>" +
        note("D", 5, 1) +
        "</measure><measure number=\"1\"><attributes><divisions>3</divisions>"
        "</attributes>" +
        note("G", 4, 3) + note("A", 4, 1) + note("B", 4, 1) + note("C", 5, 1) + note("D", 5, 3) +
        "</measure><measure number=\"2\"><attributes><time><beats>2</beats>"
        "<beat-type>4</beat-type></time></attributes>" +
        note("E", 5, 6) + "</measure>");
    const ImportedMelody melody = imported(text);
    EXPECT_EQ(melody.ticksPerQuarter, 480);
    ASSERT_EQ(melody.notes.size(), 7u);
    EXPECT_EQ(melody.notes[0].start, 960);  // the pick-up ends on the first bar line
    EXPECT_EQ(melody.notes[1].start, 1440);
    EXPECT_EQ(melody.notes[2].duration, 160);  // a triplet eighth
    EXPECT_EQ(melody.notes[6].start, 1440 * 2);
    ASSERT_EQ(melody.meters.size(), 2u);
    EXPECT_EQ(melody.meters[1].tick, 2880);
    EXPECT_EQ(melody.meters[1].numerator, 2);
    ASSERT_EQ(melody.keys.size(), 1u);
    EXPECT_EQ(melody.keys[0].fifths, -2);
    EXPECT_EQ(melody.keys[0].minor, 1);
    ASSERT_EQ(melody.tempos.size(), 1u);
    EXPECT_EQ(melody.tempos[0].microsecondsPerQuarter, 833333);
}

TEST(MusicXmlImport, TheSameMelodyReadsAlikeAtEveryDivision) {
    // Quarters, a half, a whole note, a whole note tied over three bars and a note of seven
    // quarters, written at four resolutions; at 10,080 a quarter every note over 6.5 quarters
    // once lost its end.
    auto melodyAt = [](int divisions) {
        const int q = divisions;
        auto n = [](const std::string& step, int length, const std::string& tie = {}) {
            std::string extra;
            if (tie == "start" || tie == "both") extra += "<tie type=\"start\"/>";
            if (tie == "stop" || tie == "both") extra += "<tie type=\"stop\"/>";
            return note(step, 5, length, extra);
        };
        return score("<measure number=\"1\"><attributes><divisions>" + std::to_string(q) +
                     "</divisions><time><beats>4</beats><beat-type>4</beat-type></time>"
                     "</attributes>" +
                     n("C", q) + n("D", q) + n("E", 2 * q) + "</measure><measure number=\"2\">" +
                     n("F", 4 * q) + "</measure><measure number=\"3\">" + n("G", 4 * q, "start") +
                     "</measure><measure number=\"4\">" + n("G", 4 * q, "both") +
                     "</measure><measure number=\"5\">" + n("G", 4 * q, "stop") +
                     "</measure><measure number=\"6\">" + n("A", 4 * q, "start") +
                     "</measure><measure number=\"7\">" + n("A", 3 * q, "stop") + n("B", q) +
                     "</measure>");
    };
    std::vector<NoteAt> first;
    for (int divisions : {1, 2, 480, 10080}) {
        const ImportedMelody melody = imported(melodyAt(divisions));
        ASSERT_EQ(melody.notes.size(), 7u) << divisions;
        EXPECT_LE(melody.ticksPerQuarter, 960) << divisions;
        const int64_t q = melody.ticksPerQuarter;
        EXPECT_EQ(melody.notes[3].duration, 4 * q) << divisions;   // the whole note
        EXPECT_EQ(melody.notes[4].duration, 12 * q) << divisions;  // held over three bars
        EXPECT_EQ(melody.notes[5].duration, 7 * q) << divisions;
        EXPECT_EQ(melody.notes[6].start, 27 * q) << divisions;

        const std::string text = melodyAt(divisions);
        TempMidiFile file(std::vector<uint8_t>(text.begin(), text.end()), ".musicxml");
        ChordMaster master(file.pathString());
        std::vector<std::string> warnings;
        ASSERT_EQ(loadMelodyFile(master, {}, warnings), status::kOk) << master.readerMessage();
        EXPECT_EQ(master.composition()->barCount, 7) << divisions;
        if (first.empty()) {
            first = melodyNotes(*master.composition());
            continue;
        }
        // The same positions and, in quarters, the same lengths.
        const auto notes = melodyNotes(*master.composition());
        ASSERT_EQ(notes.size(), first.size());
        const int64_t tpq = master.composition()->ticksPerQuarter;
        for (size_t i = 0; i < notes.size(); ++i) {
            EXPECT_EQ(notes[i].position.bar, first[i].position.bar) << divisions << " " << i;
            EXPECT_EQ(notes[i].position.beat, first[i].position.beat) << divisions << " " << i;
            EXPECT_EQ(notes[i].duration * 480, first[i].duration * tpq) << divisions << " " << i;
        }
    }
    // The size limits hold at the finest division: 10,000 bars of whole notes are read whole.
    std::string bars =
        "<measure number=\"1\"><attributes><divisions>10080</divisions><time>"
        "<beats>4</beats><beat-type>4</beat-type></time></attributes>" +
        note("C", 5, 40320) + "</measure>";
    for (int bar = 2; bar <= limits::kMaxBars; ++bar)
        bars += "<measure number=\"" + std::to_string(bar) + "\">" +
                note(bar % 2 ? "C" : "D", 5, 40320) + "</measure>";
    const ImportedMelody many = imported(score(bars));
    ASSERT_EQ(many.notes.size(), size_t{limits::kMaxBars});
    EXPECT_EQ(many.notes.back().start, int64_t{4} * many.ticksPerQuarter * (limits::kMaxBars - 1));
    EXPECT_EQ(many.notes.back().duration, 4 * many.ticksPerQuarter);
}

TEST(MusicXmlImport, TransposedPartsTiesAndChordsSoundAsTheScoreMeansThem) {
    // A B-flat trumpet part in written D major; a tie start that no stop takes up; chords
    // whose top note continues a tie, given first and given last; a D.S. sign.
    const std::string text = score(
        "<measure number=\"1\"><attributes><divisions>1</divisions><key><fifths>2</fifths>"
        "</key><time><beats>4</beats><beat-type>4</beat-type></time><transpose><diatonic>-1"
        "</diatonic><chromatic>-2</chromatic></transpose></attributes>" +
        note("D", 5, 2, "<tie type=\"start\"/>") + note("D", 5, 2) +
        "</measure><measure number=\"2\">" + note("E", 5, 2) +
        "<note><chord/><pitch><step>A</step><octave>5</octave></pitch><duration>2</duration>"
        "<tie type=\"start\"/><voice>1</voice></note>" +
        note("F", 5, 2) +
        "<note><chord/><pitch><step>A</step><octave>5</octave></pitch><duration>2</duration>"
        "<tie type=\"stop\"/><voice>1</voice></note>"
        "</measure><measure number=\"3\"><direction><direction-type><words>D.S. al Coda</words>"
        "</direction-type></direction>" +
        note("A", 5, 2, "<tie type=\"stop\"/>") +
        "<note><chord/><pitch><step>F</step><octave>5</octave></pitch><duration>2</duration>"
        "<voice>1</voice></note>" +
        note("B", 5, 2) + "</measure>");
    const ImportedMelody melody = imported(text);
    ASSERT_EQ(melody.keys.size(), 1u);
    EXPECT_EQ(melody.keys[0].fifths, 0);  // sounding C major
    const int64_t q = melody.ticksPerQuarter;
    ASSERT_EQ(melody.notes.size(), 3u);
    EXPECT_EQ(melody.notes[0].key, 72);  // written D5 sounds C5, joined over the dangling tie
    EXPECT_EQ(melody.notes[0].duration, 4 * q);
    EXPECT_EQ(melody.notes[1].key, 79);  // the tied top note G5 (written A5), alone
    EXPECT_EQ(melody.notes[1].start, 4 * q);
    EXPECT_EQ(melody.notes[1].duration, 6 * q);
    EXPECT_EQ(melody.notes[2].key, 81);
    EXPECT_EQ(melody.notes[2].start, 10 * q);
    EXPECT_NE(
        std::find_if(melody.warnings.begin(), melody.warnings.end(),
                     [](const std::string& w) { return w.find("D.S.") != std::string::npos; }),
        melody.warnings.end());
}

// A note with an alteration, as notation programs write it.
std::string altered(const std::string& step, int alter, int octave, int duration,
                    const std::string& extra = {}) {
    return "<note><pitch><step>" + step + "</step><alter>" + std::to_string(alter) +
           "</alter><octave>" + std::to_string(octave) + "</octave></pitch><duration>" +
           std::to_string(duration) + "</duration>" + extra + "<voice>1</voice></note>";
}

TEST(LeadSheetExport, AScoreComesBackWithItsKeysRepeatsTitleAndFirstBar) {
    // D minor, a full first bar that opens with a rest, |: first and second endings :|, a
    // change to G minor, and a final note held over two more bars.
    const std::string text =
        "<?xml version=\"1.0\"?><score-partwise version=\"4.0\"><work><work-title>Tune in D"
        "</work-title></work><identification><creator type=\"composer\">A. Composer</creator>"
        "</identification><part-list><score-part id=\"P1\"><part-name>M</part-name>"
        "</score-part></part-list><part id=\"P1\"><measure number=\"1\"><attributes>"
        "<divisions>1</divisions><key><fifths>-1</fifths><mode>minor</mode></key><time>"
        "<beats>4</beats><beat-type>4</beat-type></time></attributes><barline location=\"left\">"
        "<repeat direction=\"forward\"/></barline><note><rest/><duration>1</duration>"
        "<voice>1</voice></note>" +
        note("D", 5, 1) + altered("C", 1, 5, 1) + note("D", 5, 1) +
        "</measure><measure number=\"2\"><barline location=\"left\"><ending number=\"1\" "
        "type=\"start\"/></barline>" +
        note("A", 4, 4) +
        "<barline location=\"right\"><ending number=\"1\" type=\"stop\"/><repeat "
        "direction=\"backward\"/></barline></measure><measure number=\"3\"><attributes><key>"
        "<fifths>-2</fifths><mode>minor</mode></key></attributes><barline location=\"left\">"
        "<ending number=\"2\" type=\"start\"/></barline>" +
        note("G", 4, 1) + altered("F", 1, 4, 1) + altered("B", -1, 4, 2) +
        "<barline location=\"right\"><ending number=\"2\" type=\"discontinue\"/></barline>"
        "</measure><measure number=\"4\">" +
        note("G", 4, 4, "<tie type=\"start\"/>") + "</measure><measure number=\"5\">" +
        note("G", 4, 4, "<tie type=\"stop\"/><tie type=\"start\"/>") +
        "</measure><measure number=\"6\">" + note("G", 4, 4, "<tie type=\"stop\"/>") +
        "</measure></part></score-partwise>";
    TempMidiFile file(std::vector<uint8_t>(text.begin(), text.end()), ".musicxml");
    ChordMaster master(file.pathString());
    std::vector<std::string> warnings;
    MelodyInfo info;
    ASSERT_NE(loadMelodyFile(master, {}, warnings, info), status::kUnreadableFile)
        << master.readerMessage();
    EXPECT_EQ(info.title, "Tune in D");
    EXPECT_EQ(info.composer, "A. Composer");
    ASSERT_EQ(info.repeats.size(), 3u);
    LeadSheetOptions options;
    options.title = info.title;
    options.composer = info.composer;
    options.repeats = info.repeats;
    const xml::Element root = parsed(musicXmlLeadSheet(*master.composition(), options));
    EXPECT_EQ(root.child("work")->childText("work-title"), "Tune in D");
    expectFullMeasures(root);
    const auto measures = measuresOf(root);
    ASSERT_EQ(measures.size(), 6u);  // the held note's bars too
    // The first bar is bar 1, not a pick-up, and keeps its rest.
    EXPECT_EQ(*measures[0]->attribute("number"), "1");
    EXPECT_EQ(measures[0]->attribute("implicit"), nullptr);
    const auto first = notesOf(*measures[0]);
    ASSERT_EQ(first.size(), 4u);
    EXPECT_NE(first[0]->child("rest"), nullptr);
    // The leading tone of D minor is C-sharp, of G minor F-sharp; B-flat is in G minor's key.
    EXPECT_EQ(first[2]->child("pitch")->childText("step"), "C");
    EXPECT_EQ(first[2]->child("pitch")->childText("alter"), "1");
    const xml::Element* key = measures[2]->child("attributes")->child("key");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->childText("fifths"), "-2");
    const auto third = notesOf(*measures[2]);
    EXPECT_EQ(third[1]->child("pitch")->childText("step"), "F");
    EXPECT_EQ(third[1]->child("pitch")->childText("alter"), "1");
    EXPECT_EQ(third[2]->child("pitch")->childText("step"), "B");
    EXPECT_EQ(third[2]->child("pitch")->childText("alter"), "-1");
    EXPECT_TRUE(hasTie(*notesOf(*measures[5])[0], "stop"));
    // The repeat signs and endings stand where the score had them.
    auto barline = [&](size_t m, const std::string& location) -> const xml::Element* {
        for (const xml::Element* b : childrenNamed(*measures[m], "barline"))
            if (*b->attribute("location") == location) return b;
        return nullptr;
    };
    ASSERT_NE(barline(0, "left"), nullptr);
    EXPECT_EQ(*barline(0, "left")->child("repeat")->attribute("direction"), "forward");
    ASSERT_NE(barline(1, "left"), nullptr);
    EXPECT_EQ(*barline(1, "left")->child("ending")->attribute("number"), "1");
    ASSERT_NE(barline(1, "right"), nullptr);
    EXPECT_EQ(*barline(1, "right")->child("ending")->attribute("type"), "stop");
    EXPECT_EQ(*barline(1, "right")->child("repeat")->attribute("direction"), "backward");
    ASSERT_NE(barline(2, "right"), nullptr);
    EXPECT_EQ(*barline(2, "right")->child("ending")->attribute("type"), "discontinue");
    EXPECT_EQ(barline(3, "left"), nullptr);
}

TEST(MusicXmlImport, RefusesHostileAndBrokenFiles) {
    struct Case {
        std::string text;
        std::string reason;  // a part of the problem text
    };
    const std::string laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 "
        "\"&lol;&lol;&lol;&lol;\">]><score-partwise>&lol2;</score-partwise>";
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<a>";
    for (int i = 0; i < 5000; ++i) deep += "</a>";
    const std::vector<Case> cases = {
        {laughs, "declarations"},
        {"<score-partwise>&lol;</score-partwise>", "undeclared entity"},
        {deep, "nested too deeply"},
        {"MThd this is no XML", "not a readable XML file"},
        {"<score-partwise><part></score-partwise>", "mismatch"},
        {"<html><body/></html>", "root element is 'html'"},
        {score("<measure>" + note("C", 5, 4) + "</measure>"), "divisions"},
        {score("<measure>" + std::string(kAttributes) + note("C", 5, 4) +
               "<note><pitch><step>D"
               "</step><octave>5</octave></pitch><duration>1e300</duration></note></measure>"),
         "duration"},
        {score("<measure><attributes><divisions>99999999999</divisions></attributes></measure>"),
         "divisions"},
        {score("<measure>" + std::string(kAttributes) + note("H", 5, 4) + "</measure>"), "pitch"},
    };
    for (const Case& c : cases) {
        ImportedMelody melody;
        std::string problem;
        EXPECT_FALSE(readMusicXml(c.text, {}, melody, problem)) << c.reason;
        EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
    }
    ImportedMelody melody;
    std::string problem;
    MusicXmlChoice third;
    third.part = 3;
    EXPECT_FALSE(readMusicXml(score("<measure/>"), third, melody, problem));
    EXPECT_EQ(problem, "the score has 1 part, not 3");

    // A score saved as UTF-16 (little-endian with its mark) reads as its UTF-8 original.
    const std::string utf8 =
        score("<measure>" + std::string(kAttributes) + note("E", 5, 8) + "</measure>");
    std::string utf16 = "\xFF\xFE";
    for (char c : utf8) utf16 += std::string{c, '\0'};
    EXPECT_EQ(imported(utf16).notes.size(), 1u);
}

TEST(MusicXmlImport, BadFilesEndWithStatus101AndAReason) {
    TempDir folder;
    const fs::path huge = folder / "huge.musicxml";
    { std::ofstream(huge) << "<score-partwise>"; }
    fs::resize_file(huge, 100u * 1024 * 1024);  // sparse: costs no disk
    ChordMaster master(huge.string());
    std::vector<std::string> warnings;
    EXPECT_EQ(loadMelodyFile(master, {}, warnings), status::kUnreadableFile);
    EXPECT_NE(master.readerMessage().find("larger than"), std::string::npos);

    const fs::path broken = folder / "broken.xml";
    { std::ofstream(broken) << "<score-partwise version=\"4.0\"><part id=\"P1\">"; }
    ChordMaster second(broken.string());
    EXPECT_EQ(loadMelodyFile(second, {}, warnings), status::kUnreadableFile);
    EXPECT_FALSE(second.readerMessage().empty());
    EXPECT_EQ(second.composition(), nullptr);
}

// --- Compressed files ------------------------------------------------------------------------

// One entry of a zip archive as a packer writes it; the sizes and CRC in the headers can lie.
struct ZipEntry {
    std::string name;
    std::string content;
    bool deflate = false;
    uint16_t flags = 0;        // bit 0: encrypted
    int64_t claimedSize = -1;  // -1: the true size
    bool wrongCrc = false;
};

std::vector<uint8_t> zipOf(const std::vector<ZipEntry>& entries) {
    std::vector<uint8_t> zip, directory;
    auto put16 = [](std::vector<uint8_t>& out, uint32_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto put32 = [&](std::vector<uint8_t>& out, uint32_t v) {
        put16(out, v & 0xFFFF);
        put16(out, v >> 16);
    };
    for (const ZipEntry& entry : entries) {
        std::string packed = entry.content;
        if (entry.deflate) {
            z_stream stream{};
            deflateInit2(&stream, 1, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
            packed.resize(deflateBound(&stream, entry.content.size()));
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(entry.content.data()));
            stream.avail_in = static_cast<uInt>(entry.content.size());
            stream.next_out = reinterpret_cast<Bytef*>(packed.data());
            stream.avail_out = static_cast<uInt>(packed.size());
            deflate(&stream, Z_FINISH);
            packed.resize(stream.total_out);
            deflateEnd(&stream);
        }
        const uint32_t crc =
            static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(entry.content.data()),
                                        static_cast<uInt>(entry.content.size()))) ^
            (entry.wrongCrc ? 1u : 0u);
        const uint32_t method = entry.deflate ? 8 : 0;
        const uint32_t size = static_cast<uint32_t>(
            entry.claimedSize >= 0 ? entry.claimedSize : int64_t(entry.content.size()));
        const uint32_t packedSize = static_cast<uint32_t>(packed.size());
        const uint32_t offset = static_cast<uint32_t>(zip.size());
        put32(zip, 0x04034b50);
        for (uint32_t v : {20u, uint32_t{entry.flags}, method, 0u, 0u}) put16(zip, v);
        for (uint32_t v : {crc, packedSize, size}) put32(zip, v);
        put16(zip, static_cast<uint32_t>(entry.name.size()));
        put16(zip, 0);
        zip.insert(zip.end(), entry.name.begin(), entry.name.end());
        zip.insert(zip.end(), packed.begin(), packed.end());
        put32(directory, 0x02014b50);
        for (uint32_t v : {20u, 20u, uint32_t{entry.flags}, method, 0u, 0u}) put16(directory, v);
        for (uint32_t v : {crc, packedSize, size}) put32(directory, v);
        put16(directory, static_cast<uint32_t>(entry.name.size()));
        for (uint32_t v : {0u, 0u, 0u, 0u}) put16(directory, v);
        put32(directory, 0);
        put32(directory, offset);
        directory.insert(directory.end(), entry.name.begin(), entry.name.end());
    }
    const uint32_t start = static_cast<uint32_t>(zip.size());
    zip.insert(zip.end(), directory.begin(), directory.end());
    put32(zip, 0x06054b50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, static_cast<uint32_t>(entries.size()));
    put16(zip, static_cast<uint32_t>(entries.size()));
    put32(zip, static_cast<uint32_t>(directory.size()));
    put32(zip, start);
    put16(zip, 0);
    return zip;
}

TEST(MxlFile, TheContainerNamesTheScoreOrTheSingleScoreIsTaken) {
    const std::string melody =
        score("<measure>" + std::string(kAttributes) + note("E", 5, 8) + "</measure>");
    const std::string container =
        "<?xml version=\"1.0\"?><container><rootfiles><rootfile full-path=\"music/tune.xml\"/>"
        "</rootfiles></container>";
    const auto zip = zipOf({{"META-INF/container.xml", container},
                            {"decoy.xml", "<not-this/>", true},
                            {"music/tune.xml", melody, true}});
    std::string text, problem;
    std::vector<std::string> warnings;
    ASSERT_TRUE(readMxlScore(zip, 1 << 20, text, problem, warnings)) << problem;
    EXPECT_EQ(text, melody);
    EXPECT_TRUE(warnings.empty());
    // Without a container the first score outside META-INF is taken; a container that cannot
    // be parsed (a file name with an unescaped quote) is passed over with a warning.
    ASSERT_TRUE(readMxlScore(zipOf({{"tune.musicxml", melody}}), 1 << 20, text, problem, warnings));
    EXPECT_EQ(text, melody);
    const std::string broken =
        "<container><rootfiles><rootfile full-path='Don't.xml'/>"
        "</rootfiles></container>";
    ASSERT_TRUE(
        readMxlScore(zipOf({{"META-INF/container.xml", broken}, {"Don't.xml", melody, true}}),
                     1 << 20, text, problem, warnings))
        << problem;
    EXPECT_EQ(text, melody);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("container.xml cannot be read"), std::string::npos);
    // Nothing unpacks beyond the limit, and a damaged archive is refused.
    EXPECT_FALSE(readMxlScore(zip, 100, text, problem, warnings));
    std::vector<uint8_t> damaged = zip;
    damaged.resize(damaged.size() - 30);
    EXPECT_FALSE(readMxlScore(damaged, 1 << 20, text, problem, warnings));
}

TEST(MxlFile, DamagedEncryptedAndInflatingEntriesAreRefused) {
    const std::string melody =
        score("<measure>" + std::string(kAttributes) + note("E", 5, 8) + "</measure>");
    struct Case {
        ZipEntry entry;
        std::string reason;
    };
    const std::string zeros(24u << 20, '\0');
    const std::vector<Case> cases = {
        {{"s.xml", melody, true, 0, -1, true}, "CRC"},
        {{"s.xml", melody, false, 0, -1, true}, "CRC"},
        {{"s.xml", melody, false, 1}, "encrypted"},
        // 24 MB of zeros packs into 24 KB: refused whether the header says so or lies.
        {{"s.xml", zeros, true}, "size limit"},
        {{"s.xml", zeros, true, 0, 1000}, "size limit"},
    };
    for (const Case& c : cases) {
        std::string text, problem;
        std::vector<std::string> warnings;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(readMxlScore(zipOf({c.entry}), 16u << 20, text, problem, warnings))
            << c.reason;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
        EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
        EXPECT_LE(text.size(), 16u << 20);
    }
}

TEST(MxlFile, ANotationProgramsFileImportsWithTheNotesOfItsMidiFile) {
    ChordMaster midi(std::string(VARIMEL_SAMPLES_DIR) + "/twinkle.mid");
    ASSERT_EQ(midi.loadMidi(), status::kOk);
    ChordMaster mxl(std::string(VARIMEL_TEST_DATA_DIR) + "/leadsheet/twinkle_mscore3.mxl");
    std::vector<std::string> warnings;
    ASSERT_EQ(loadMelodyFile(mxl, {}, warnings), status::kOk) << mxl.readerMessage();
    EXPECT_EQ(melodyNotes(*mxl.composition()), melodyNotes(*midi.composition()));
}

// --- MIDI export and ABC ---------------------------------------------------------------------

TEST(ChordMarkers, ExportedMidiNamesEachBarsChordAtItsFirstTick) {
    const auto master = oneNoteABar("3/4", 3_beats);
    Composition& c = *master->composition();
    setChords(c, makeChordCode(keyFromName("a-moll"), 1));
    c.chordTrack[1].enabled = 0;
    c.keys = {KeyRecord{static_cast<int16_t>(keyFromName("a-moll")), 0, 0}};
    TempDir folder;
    std::string error;
    ASSERT_TRUE(exportMidi(c, nullptr, (folder / "out.mid").string(), error)) << error;
    std::ifstream in(folder / "out.mid", std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    const SmfWalk walk = walkSmf(bytes);
    ASSERT_TRUE(walk.file) << walk.error;
    const auto markers = walk.file->metas(0x06);
    ASSERT_EQ(markers.size(), c.chordTrack.size() - 1);
    EXPECT_EQ(markers[0].tick, 0);
    EXPECT_EQ(markers[1].tick, 2 * 1440);  // bar 2 is muted
    EXPECT_EQ(std::string(markers[0].data.begin(), markers[0].data.end()), "Am7");
    // The file had no key signature: the harmony's key is written.
    const auto keys = walk.file->metas(0x59);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].data, (std::vector<uint8_t>{0, 1}));
}

// The lead sheet spells every chord root as the window and the chord markers name it for the
// piece's key: Bb and Eb in F major, C# and F# in D major, the key list's names in C major.
TEST(LeadSheetExport, ChordRootsAreSpelledForThePiecesKey) {
    const auto master = oneNoteABar("4/4", 4_beats);
    Composition& c = *master->composition();
    for (const char* keyName : {"F-dur", "B-dur", "D-dur", "C-dur", "a-moll", "d-moll"}) {
        const KeyIndex key = keyFromName(keyName);
        c.keys = {KeyRecord{static_cast<int16_t>(key), 0, 0}};
        for (KeyIndex major = 0; major < 12; ++major) {  // every root, as a major triad
            const ChordCode chord = makeChordCode(major, 0);
            setChords(c, chord);
            const xml::Element sheet = parsed(musicXmlLeadSheet(c, {}));
            const xml::Element* harmonyRoot = measuresOf(sheet)[0]->child("harmony")->child("root");
            std::string written = harmonyRoot->childText("root-step");
            const std::string alter = harmonyRoot->childText("root-alter");
            if (alter == "1") written += '#';
            if (alter == "-1") written += 'b';
            const std::string name = chordName(chord, key);
            EXPECT_EQ(written + ' ', name) << keyName;
        }
    }
}

TEST(AbcTune, OpensThroughTheConverterOrSaysWhatIsMissing) {
    TempDir folder;
    const fs::path file = folder / "tunes.abc";
    std::ofstream(file) << "X:3\nT:First\nM:3/4\nL:1/4\nK:G\nG A B|c d e|d c B|A G F|G3|]\n\n"
                           "X:7\nT:Second\nM:4/4\nL:1/4\nK:C\n\"C\"C D E F|G A B c|c B A G|"
                           "F E D C|]\n";
    const auto tunes = abcTunes(file.string());
    ASSERT_EQ(tunes.size(), 2u);
    EXPECT_EQ(tunes[1].number, 7);
    EXPECT_EQ(tunes[1].title, "Second");

    MelodySource source;
    source.tune = 9;
    std::vector<std::string> warnings;
    ChordMaster missing(file.string());
    EXPECT_EQ(loadMelodyFile(missing, source, warnings), status::kUnreadableFile);
    if (std::system("abc2midi -ver > /dev/null 2>&1") != 0) {
        EXPECT_NE(missing.readerMessage().find("abcmidi"), std::string::npos);
        GTEST_SKIP() << "abc2midi is not installed";
    }
    EXPECT_NE(missing.readerMessage().find("X:9"), std::string::npos);
    source.tune = 7;
    ChordMaster second(file.string());
    EXPECT_NE(loadMelodyFile(second, source, warnings), status::kUnreadableFile)
        << second.readerMessage();
    // Only the melody: the chord symbol does not become a second channel.
    ASSERT_NE(second.composition(), nullptr);
    EXPECT_EQ(second.composition()->noteTracks().count(0), 16);
    EXPECT_EQ(second.composition()->barCount, 4);
}

bool haveConverter() {
    return std::system("abc2midi -ver > /dev/null 2>&1") == 0;
}

// Opens the only tune of an ABC text as the Open command does.
std::unique_ptr<ChordMaster> openAbc(const fs::path& folder, const std::string& text,
                                     std::vector<std::string>& warnings, StatusCode& status,
                                     const MelodySource& source = {}) {
    const fs::path file = folder / "tune.abc";
    std::ofstream(file, std::ios::binary) << text;
    auto master = std::make_unique<ChordMaster>(file.string());
    warnings.clear();
    status = loadMelodyFile(*master, source, warnings);
    return master;
}

TEST(AbcTune, TheOpeningIsReckonedWithTheStandardsLengths) {
    struct Case {
        std::string header;
        std::string body;
        AbcLength bar;
        AbcLength pickUp;
    };
    const std::vector<Case> cases = {
        {"M:6/8\nL:1/8", "D|:G2B d2B|", {6, 8}, {1, 8}},
        {"M:6/8\nL:1/8", "|:D2|G2B d2B|", {6, 8}, {1, 4}},  // a repeat sign before the pick-up
        {"M:4/4\nL:1/8", "(3ABc|d8|", {4, 4}, {1, 4}},
        {"M:6/8\nL:1/8", "(2AB|c6|", {6, 8}, {3, 8}},  // a duplet in compound time
        {"M:4/4\nL:1/8", "\"G\"[DGB]2 !p!A>B|c8|", {4, 4}, {1, 2}},
        {"M:3/4\nL:1/4", "G\n% the pick-up stands alone\n|c d e|", {3, 4}, {1, 4}},
        {"M:3/4\nL:1/4", "[L:1/16]GA|c12|", {3, 4}, {1, 8}},
        {"M:C", "G,/A,/|c8|", {4, 4}, {1, 8}},          // no L: in 4/4: eighths
        {"M:2/4", "G2|c8|", {2, 4}, {1, 8}},            // no L: below 3/4: sixteenths
        {"M:3/4\nL:1/8", "c2 d2 e2|", {3, 4}, {3, 4}},  // a full bar: no pick-up to move
    };
    for (const Case& c : cases) {
        const AbcOpening opening = abcOpening("X:1\nT:t\n" + c.header + "\nK:C\n" + c.body, 1);
        ASSERT_TRUE(opening.known) << c.body;
        EXPECT_EQ(opening.bar.n * c.bar.d, c.bar.n * opening.bar.d) << c.body;
        EXPECT_EQ(opening.pickUp.n * c.pickUp.d, c.pickUp.n * opening.pickUp.d)
            << c.body << ": " << opening.pickUp.n << "/" << opening.pickUp.d;
    }
    EXPECT_FALSE(abcOpening("X:1\nM:none\nK:C\nG|c|", 1).known);
    EXPECT_FALSE(abcOpening("X:1\nM:3/4\nK:C\nG Z2|c|", 1).known);
}

TEST(AbcTune, EveryBarLineLandsWhereTheTunePutsIt) {
    if (!haveConverter()) GTEST_SKIP() << "abc2midi is not installed";
    // Every bar starts with a C and no other note is a C, so the Cs must all fall on bar lines.
    struct Case {
        std::string name;
        std::string tune;
        int downbeats;  // bars that start with a C, repeats played out
        int bars;
    };
    const std::vector<Case> cases = {
        {"pick-up before |: :|", "M:6/8\nL:1/8\nK:G\nD|:c2B d2B|c2A F2D|c2B d2B|c3 G2D:|", 8, 9},
        {"repeat back to the start over the pick-up",
         "M:6/8\nL:1/8\nK:G\nE|c2B d2B|c2A G2:|E|c3 d3|c6|]", 6, 7},
        {"pick-up on its own line", "M:3/4\nL:1/4\nK:C\nG\n|c d e|c2 G|c3|]", 3, 4},
        {"triplet pick-up", "M:4/4\nL:1/8\nK:C\n(3GAB|c2d2 e2f2|c8|]", 2, 3},
        {"first and second endings", "M:2/4\nL:1/8\nK:C\nG|:c2 e2|[1 c3 G:|[2 c4|]", 4, 5},
        {"no L: in 2/4", "M:2/4\nK:C\nG2|c2e2 g2e2|c4 G4|c8|]", 3, 4},
        {"no L: in 3/4", "M:3/4\nK:C\nG|c2 d2 e2|c6|]", 2, 3},
        {"no L: in 4/4, no pick-up", "M:4/4\nK:C\nc2d2 e2f2|c8|]", 2, 2},
        {"no L: in 6/8", "M:6/8\nK:C\nG|c2B d2B|c6|]", 2, 3},
        {"a chord in the melody", "M:4/4\nL:1/4\nK:C\nG|[ceg] d e f|[Ac]4|]", 1, 3},
    };
    TempDir folder;
    for (const Case& c : cases) {
        std::vector<std::string> warnings;
        StatusCode status = 0;
        const auto master =
            openAbc(folder.path(), "X:1\nT:" + c.name + "\n" + c.tune + "\n", warnings, status);
        ASSERT_NE(master->composition(), nullptr) << c.name << ": " << master->readerMessage();
        EXPECT_NE(status, status::kNotMonophonic) << c.name;
        int downbeats = 0;
        for (const NoteRecord& n : master->composition()->noteTracks().notes(0)) {
            if (n.key % 12 != 0) continue;
            EXPECT_TRUE(n.position.beat == 0 && n.position.tick == 0)
                << c.name << ": a C at bar " << n.position.bar + 1 << " beat "
                << int(n.position.beat) + 1 << " tick " << n.position.tick;
            ++downbeats;
        }
        EXPECT_EQ(downbeats, c.downbeats) << c.name;
        EXPECT_EQ(master->composition()->barCount, c.bars) << c.name;
    }
}

TEST(AbcTune, ConverterFailuresAreReportedAsTheyAreAndLeaveNoFiles) {
    if (!haveConverter()) GTEST_SKIP() << "abc2midi is not installed";
    TempDir folder;
    const fs::path bin = folder / "bin";
    const fs::path scratch = folder / "tmp";
    fs::create_directories(bin);
    fs::create_directories(scratch);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    const std::string tmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    setenv("TMPDIR", scratch.c_str(), 1);
    const std::string tune = "X:1\nT:t\nM:4/4\nL:1/4\nK:C\nC D E F|G A B c|c B A G|F E D C|]\n";
    struct Case {
        std::string script;  // the converter's stand-in; "" runs the real one
        std::string message;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"printf 'MThd' > \"$4\"; echo 'Error in line 5: note length denominator is zero or "
         "less'; exit 1",
         "note length denominator is zero or less"},
        {"kill -SEGV $$", "crashed"},
        {"printf 'MThd' > \"$4\"; exec sleep 30", "did not finish within 1 s"},
        {"printf 'not a midi file' > \"$4\"", "wrote no melody"},
    };
    for (const Case& c : cases) {
        if (!c.script.empty()) {
            std::ofstream(bin / "abc2midi") << "#!/bin/sh\n" << c.script << "\n";
            fs::permissions(bin / "abc2midi", fs::perms::owner_all);
            setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
        }
        MelodySource source;
        source.converterSeconds = 1;
        std::vector<std::string> warnings;
        StatusCode status = 0;
        const auto started = std::chrono::steady_clock::now();
        const auto master = openAbc(folder.path(), tune, warnings, status, source);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        if (c.message.empty()) {
            EXPECT_EQ(status, status::kOk) << master->readerMessage();
        } else {
            EXPECT_EQ(status, status::kUnreadableFile) << c.script;
            EXPECT_NE(master->readerMessage().find(c.message), std::string::npos)
                << master->readerMessage();
            EXPECT_EQ(master->readerMessage().find("not installed"), std::string::npos);
        }
        EXPECT_TRUE(fs::is_empty(scratch)) << c.script;
    }
    setenv("PATH", path.c_str(), 1);
    if (tmp.empty())
        unsetenv("TMPDIR");
    else
        setenv("TMPDIR", tmp.c_str(), 1);
}

}  // namespace
}  // namespace varimel
