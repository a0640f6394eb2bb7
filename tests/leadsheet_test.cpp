// Lead sheets: MusicXML written from a composition, read back, and read from files that others
// write; chord markers in exported MIDI files; ABC tunes.
#include "leadsheet/LeadSheet.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

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
    const std::vector<Case> cases = {
        {laughs, "declarations"},
        {"<score-partwise>&lol;</score-partwise>", "undeclared entity"},
        {deep, "nested too deeply"},
        {"MThd this is no XML", "not a readable XML file"},
        {"<score-partwise><part></score-partwise>", "closes"},
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

// A zip archive of stored (not deflated) entries.
std::vector<uint8_t> storedZip(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<uint8_t> zip, directory;
    auto put16 = [](std::vector<uint8_t>& out, uint32_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto put32 = [&](std::vector<uint8_t>& out, uint32_t v) {
        put16(out, v & 0xFFFF);
        put16(out, v >> 16);
    };
    for (const auto& [name, content] : files) {
        const uint32_t offset = static_cast<uint32_t>(zip.size());
        const uint32_t size = static_cast<uint32_t>(content.size());
        put32(zip, 0x04034b50);
        for (uint32_t v : {20u, 0u, 0u, 0u, 0u}) put16(zip, v);
        for (uint32_t v : {0u, size, size}) put32(zip, v);
        put16(zip, static_cast<uint32_t>(name.size()));
        put16(zip, 0);
        zip.insert(zip.end(), name.begin(), name.end());
        zip.insert(zip.end(), content.begin(), content.end());
        put32(directory, 0x02014b50);
        for (uint32_t v : {20u, 20u, 0u, 0u, 0u, 0u}) put16(directory, v);
        for (uint32_t v : {0u, size, size}) put32(directory, v);
        put16(directory, static_cast<uint32_t>(name.size()));
        for (uint32_t v : {0u, 0u, 0u, 0u}) put16(directory, v);
        put32(directory, 0);
        put32(directory, offset);
        directory.insert(directory.end(), name.begin(), name.end());
    }
    const uint32_t start = static_cast<uint32_t>(zip.size());
    zip.insert(zip.end(), directory.begin(), directory.end());
    put32(zip, 0x06054b50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, static_cast<uint32_t>(files.size()));
    put16(zip, static_cast<uint32_t>(files.size()));
    put32(zip, static_cast<uint32_t>(directory.size()));
    put32(zip, start);
    put16(zip, 0);
    return zip;
}

TEST(MxlFile, TheContainerNamesTheScore) {
    const std::string melody =
        score("<measure>" + std::string(kAttributes) + note("E", 5, 8) + "</measure>");
    const std::string container =
        "<?xml version=\"1.0\"?><container><rootfiles><rootfile full-path=\"music/tune.xml\"/>"
        "</rootfiles></container>";
    const auto zip = storedZip({{"META-INF/container.xml", container},
                                {"decoy.xml", "<not-this/>"},
                                {"music/tune.xml", melody}});
    std::string text, problem;
    ASSERT_TRUE(readMxlScore(zip, 1 << 20, text, problem)) << problem;
    EXPECT_EQ(text, melody);
    // Without a container the first score outside META-INF is taken.
    ASSERT_TRUE(readMxlScore(storedZip({{"tune.musicxml", melody}}), 1 << 20, text, problem));
    EXPECT_EQ(text, melody);
    // Nothing unpacks beyond the limit, and a damaged archive is refused.
    EXPECT_FALSE(readMxlScore(zip, 100, text, problem));
    std::vector<uint8_t> damaged = zip;
    damaged.resize(damaged.size() - 30);
    EXPECT_FALSE(readMxlScore(damaged, 1 << 20, text, problem));
}

TEST(MxlFile, DeflatedEntriesUnpack) {
    // zlib's raw deflate of three copies of a container line.
    const std::vector<uint8_t> packed = {
        0xb3, 0x49, 0xce, 0xcf, 0x2b, 0x49, 0xcc, 0xcc, 0x4b, 0x2d, 0xb2, 0xb3, 0x29, 0xca, 0xcf,
        0x2f, 0x49, 0xcb, 0xcc, 0x49, 0x2d, 0x46, 0x30, 0x15, 0xd2, 0x4a, 0x73, 0x72, 0x74, 0x0b,
        0x12, 0x4b, 0x32, 0x6c, 0x95, 0x8a, 0x93, 0xf3, 0x8b, 0x52, 0xf5, 0x2a, 0x72, 0x73, 0x94,
        0xf4, 0xed, 0x6c, 0xf4, 0x91, 0x14, 0xeb, 0x23, 0x99, 0x31, 0xa8, 0x8d, 0x03, 0x00};
    std::string line =
        "<container><rootfiles><rootfile full-path=\"score.xml\"/></rootfiles></container>";
    std::string out;
    ASSERT_TRUE(inflate(packed.data(), packed.size(), 1000, out));
    EXPECT_EQ(out, line + line + line);
    EXPECT_FALSE(inflate(packed.data(), packed.size(), 100, out));  // beyond the limit
    EXPECT_FALSE(inflate(packed.data(), packed.size() / 2, 1000, out));
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

TEST(AbcTune, APickUpIsPaddedToAFullFirstBar) {
    const std::string two =
        "X:1\nT:A\nM:3/4\nL:1/8\nK:G\nD2|G2 B2 d2|]\n\nX:2\nT:B\nM:C\nK:C\n"
        "\"G\"^F/G/ !p!A|B4 c4|]\n";
    // 3/4 in eighths is 6; a quarter before the bar line leaves 4.
    EXPECT_EQ(padAbcPickUp(two, 1),
              "X:1\nT:A\nM:3/4\nL:1/8\nK:G\nz4/1 D2|G2 B2 d2|]\n\nX:2\nT:B\nM:C\nK:C\n"
              "\"G\"^F/G/ !p!A|B4 c4|]\n");
    // C is 4/4, whose default unit is an eighth: 8 - (1/2 + 1/2 + 1) = 6; the rest goes before
    // the first note, after the chord symbol.
    const std::string padded = padAbcPickUp(two, 2);
    EXPECT_NE(padded.find("\"G\"z6/1 ^F/G/ !p!A|"), std::string::npos) << padded;
    EXPECT_NE(padded.find("K:G\nD2|"), std::string::npos);
    // No pick-up, a full bar, or notes the reckoning does not read: unchanged.
    for (const std::string body : {"|:G2 B2 d2|", "G2 B2 d2|e6|", "(3DEF G2 B2|", "[DG]2|G6|"}) {
        const std::string tune = "X:1\nM:3/4\nL:1/8\nK:G\n" + body + "\n";
        EXPECT_EQ(padAbcPickUp(tune, 1), tune) << body;
    }
}

}  // namespace
}  // namespace varimel
