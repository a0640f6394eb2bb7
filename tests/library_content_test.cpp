// The bundled style and arrangement library: every compiled file reads back equal to its text
// source, the content covers what the program needs, and it plays chord tones in sensible
// ranges over real melodies.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "LibrarySource.h"
#include "accompaniment/AccompanimentChoice.h"
#include "accompaniment/StyleRenderer.h"
#include "accompaniment/Tarangsmaster.h"
#include "accompaniment/Tstylemaster.h"
#include "engine/ByteIO.h"
#include "engine/Tonality.h"
#include "support/accompaniment_fixture.h"
#include "support/samples.h"

using namespace varimel;
using namespace varimel::test;
namespace fs = std::filesystem;

namespace {

const fs::path kSources = fs::path(VARIMEL_SOURCE_DIR) / "data";
const fs::path kCompiled = fs::path(VARIMEL_LIBRARY_DIR);

std::vector<stylec::StyleSource> styleSources() {
    std::vector<stylec::StyleSource> sources;
    std::vector<stylec::SourceError> errors;
    EXPECT_TRUE(stylec::readStyleSources(kSources / "styles" / "src", sources, errors));
    for (const auto& error : errors) ADD_FAILURE() << error.text();
    return sources;
}

std::vector<stylec::ArrangementSource> arrangementSources() {
    std::vector<stylec::ArrangementSource> sources;
    std::vector<stylec::SourceError> errors;
    EXPECT_TRUE(stylec::readArrangementSources(kSources / "arrangements" / "src", sources, errors));
    for (const auto& error : errors) ADD_FAILURE() << error.text();
    return sources;
}

std::vector<uint8_t> fileBytes(const fs::path& path) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(readWholeFile(path.string(), kMaxLibraryFileSize, bytes)) << path;
    return bytes;
}

// A progression with triads, a seventh chord and minor chords, one chord per bar.
ChordCode chordOfBar(int bar) {
    static const ChordCode kProgression[] = {kC, kAm, kF, kG7, kEm, kF, kG7, kC};
    return kProgression[bar % 8];
}

std::set<int> pitchClassesOf(ChordCode chord) {
    std::set<int> classes;
    for (const int tone : chordTones(chordKey(chord), chordType(chord), 0))
        classes.insert(tone % 12);
    return classes;
}

// Every note of a list sounds a tone of the chord of the bar it starts in, within a range.
void expectChordTonesInRange(const Composition& c, int list, int lowest, int highest,
                             const std::string& what) {
    for (const NoteRecord& note : c.noteTracks().notes(list)) {
        ASSERT_LT(note.position.bar, c.barCount) << what;
        const ChordCode chord = c.chordTrack[note.position.bar].chord;
        EXPECT_TRUE(pitchClassesOf(chord).count(note.key % 12))
            << what << ": key " << int(note.key) << " in bar " << note.position.bar << " over "
            << chordName(chord);
        EXPECT_GE(note.key, lowest) << what;
        EXPECT_LE(note.key, highest) << what;
        EXPECT_GT(note.duration, 0) << what;
    }
}

}  // namespace

TEST(LibraryContent, EveryCompiledStyleReadsBackEqualToItsSource) {
    const auto sources = styleSources();
    StyleList expected;
    std::vector<stylec::SourceError> errors;
    ASSERT_TRUE(stylec::buildStyleList(sources, expected, errors));
    StyleLibrary library((kCompiled / "styles" / "").string());
    ASSERT_TRUE(library.load());
    for (int category = 0; category < kStyleCategoryCount; ++category) {
        EXPECT_EQ(library.entries(category), expected.categories[static_cast<size_t>(category)]);
    }
    EXPECT_EQ(fileBytes(kCompiled / "styles" / "styles.lst"), serializeStyleList(expected));
    for (const auto& source : sources) {
        const StyleId id = library.findByName(source.name);
        ASSERT_NE(id, kNoStyle) << source.name;
        EXPECT_EQ(id >> 24, source.category);
        const Style* style = library.find(id);
        ASSERT_NE(style, nullptr);
        EXPECT_EQ(*style, source.style) << source.name;
        EXPECT_EQ(fileBytes(kCompiled / "styles" / (source.name + ".stt")),
                  serializeStyle(source.style));
    }
}

TEST(LibraryContent, EveryCompiledArrangementReadsBackEqualToItsSource) {
    const auto sources = arrangementSources();
    ArrangementList expected;
    std::vector<stylec::SourceError> errors;
    ASSERT_TRUE(stylec::buildArrangementList(sources, expected, errors));
    ArrangementLibrary library((kCompiled / "arrangements").string());
    ASSERT_TRUE(library.loadList());
    EXPECT_EQ(library.groups(), expected.groups);
    EXPECT_EQ(fileBytes(kCompiled / "arrangements" / "arangs.lst"),
              serializeArrangementList(expected));
    for (const auto& source : sources) {
        const ArrangementId id = library.findByName(source.name);
        ASSERT_NE(id, kNoArrangement) << source.name;
        EXPECT_EQ(library.entry(id)->tempoMask, source.tempoMask);
        ASSERT_EQ(library.select(id), id) << source.name;
        EXPECT_EQ(*library.current(), source.arrangement) << source.name;
        EXPECT_EQ(fileBytes(kCompiled / "arrangements" / (source.name + ".art")),
                  serializeArrangement(source.arrangement));
    }
}

TEST(LibraryContent, StylesCoverEveryCategoryMeterAndBeatGroup) {
    StyleLibrary library((kCompiled / "styles" / "").string());
    ASSERT_TRUE(library.load());
    std::set<int> beatGroups;
    std::set<int> compoundGroups;  // the dialog groups by beats: every 6/8 style in one group
    for (int category = 0; category < kStyleCategoryCount; ++category) {
        const auto& styles = library.styles(category);
        EXPECT_GE(styles.size(), 8u) << StyleLibrary::categoryName(category);
        for (const auto& [numerator, denominator] :
             std::vector<std::pair<int, int>>{{2, 4}, {3, 4}, {4, 4}, {6, 8}}) {
            const auto fitting = std::count_if(styles.begin(), styles.end(), [&](const Style& s) {
                return meterFits(s.meters, numerator, denominator);
            });
            EXPECT_GE(fitting, 2) << StyleLibrary::categoryName(category) << " " << numerator << "/"
                                  << denominator;
        }
        for (const Style& style : styles) {
            beatGroups.insert(style.beatsPerBar);
            if (style.meterNum == 6 && style.meterDen == 8)
                compoundGroups.insert(style.beatsPerBar);
            EXPECT_TRUE(style.valid);
            EXPECT_LT(style.program, 128);
            EXPECT_TRUE(meterFits(style.meters, style.meterNum, style.meterDen));
            // The preview over C major places every event: all lie within the pattern's bars.
            EXPECT_EQ(renderStylePreview(style).eventsPlaced, style.eventCount());
        }
    }
    for (int group : {2, 3, 4, 6}) EXPECT_TRUE(beatGroups.count(group)) << group;
    EXPECT_EQ(compoundGroups, std::set<int>{6});
}

TEST(LibraryContent, ArrangementsCoverTheMetersAndTheThreeFourFourTempos) {
    ArrangementLibrary library((kCompiled / "arrangements" / "").string());
    ASSERT_TRUE(library.loadList());
    int entries = 0;
    std::set<int> keys;
    for (const ArrangementGroup& group : library.groups()) {
        keys.insert(group.key);
        entries += static_cast<int>(group.entries.size());
    }
    EXPECT_GE(entries, 8);
    for (int key : {0x0404, 0x0304, 0x0608, 0x0204}) EXPECT_TRUE(keys.count(key)) << key;

    library.setMeter(4, 4);
    const ArrangementId slow = library.autoChoose(80);
    const ArrangementId medium = library.autoChoose(110);
    const ArrangementId fast = library.autoChoose(160);
    EXPECT_EQ(library.entry(slow)->tempoMask, tempo_class::kSlow);
    EXPECT_EQ(library.entry(medium)->tempoMask, tempo_class::kMedium);
    EXPECT_EQ(library.entry(fast)->tempoMask, tempo_class::kFast);

    for (int g = 0; g < library.groupCount(); ++g) {
        for (size_t e = 0; e < library.groups()[static_cast<size_t>(g)].entries.size(); ++e) {
            const ArrangementId id = makeArrangementId(g, static_cast<int>(e));
            ASSERT_EQ(library.select(id), id);
            const Arrangement& arrangement = *library.current();
            ASSERT_EQ(arrangement.partCount(), 4);
            const ArrangementPart& part0 = arrangement.parts[0];
            EXPECT_GT(part0.organVolume, 0);
            EXPECT_GT(part0.bassVolume, 0);
            EXPECT_GT(part0.drumsVolume, 0);
            for (const ArrangementPart& part : arrangement.parts) {
                EXPECT_FALSE(part.organ.empty());
                EXPECT_FALSE(part.bass.empty());
                EXPECT_FALSE(part.drums.empty());
                for (const PatternEvent& drum : part.drums) {
                    EXPECT_GE(drum.tone, 35);  // General MIDI percussion
                    EXPECT_LE(drum.tone, 81);
                }
            }
        }
    }
}

// Every sample melody with every style of its meter, and with the arrangement the program
// would choose: chord tones only, in the instrument's range, and no bar left silent.
TEST(LibraryContent, EverySampleSoundsChordTonesWithEveryStyleAndArrangement) {
    StyleLibrary styles((kCompiled / "styles" / "").string());
    ArrangementLibrary arrangements((kCompiled / "arrangements" / "").string());
    ASSERT_TRUE(styles.load());
    ASSERT_TRUE(arrangements.loadList());
    int renders = 0;
    for (const fs::path& file : varimel::test::sampleMelodyPaths()) {
        ChordMaster master(file.string());
        const StatusCode loaded = master.loadMidi();
        if (loaded != status::kOk && loaded != status::kTooLittleMaterial) continue;
        Composition& c = *master.composition();
        std::vector<ChordCode> chords;
        for (int bar = 0; bar < c.barCount; ++bar) chords.push_back(chordOfBar(bar));
        setChords(c, chords);
        int numerator = 0, denominator = 0;
        c.meterMap().meterOfBar(0, numerator, denominator);

        for (int category = 0; category < kStyleCategoryCount; ++category) {
            for (const StyleEntry& entry : styles.entries(category)) {
                const Style* style = styles.find(entry.id);
                if (!meterFits(style->meters, numerator, denominator)) continue;
                const std::string what = file.stem().string() + " / " + entry.name;
                c.style = style;
                c.setAccompanimentParts(accompaniment_part::kStyle);
                renderAccompaniment(c);
                ++renders;
                expectChordTonesInRange(c, accompaniment_list::kChords, 24, 96, what);
                std::set<int> sounding;
                for (const NoteRecord& note : c.noteTracks().notes(accompaniment_list::kChords)) {
                    sounding.insert(note.position.bar);
                }
                for (int bar = 0; bar < c.barCount; ++bar) {
                    if (c.meterMap().ticksPerBar(bar) == c.meterMap().ticksPerBar(0)) {
                        EXPECT_TRUE(sounding.count(bar)) << what << ": bar " << bar << " silent";
                    }
                }
            }
        }

        AccompanimentSetup setup;
        setup.arrangements = &arrangements;
        c.tempo = c.eventValue(event_kind::kTempo, 0);
        chooseArrangement(setup, c, kNoArrangement);
        c.setAccompanimentParts(accompaniment_part::kArrangement);
        renderAccompaniment(c);
        ++renders;
        const std::string what = file.stem().string() + " / arrangement";
        expectChordTonesInRange(c, accompaniment_list::kOrgan, 36, 84, what);
        expectChordTonesInRange(c, accompaniment_list::kBass, 28, 62, what);
        EXPECT_GT(c.noteTracks().count(accompaniment_list::kDrums), c.barCount) << what;
        for (const NoteRecord& note : c.noteTracks().notes(accompaniment_list::kDrums)) {
            EXPECT_GE(note.key, 35) << what;
            EXPECT_LE(note.key, 81) << what;
        }
    }
    EXPECT_GT(renders, 50);
}

TEST(LibrarySource, ReadsPositionsLengthsAndVelocitiesAsMusiciansWriteThem) {
    const std::string text = R"(# a test style
style     Test68
category  Guitar
program   24
octave    4
beats     2
meter     6/8
ppq       120
bars      2
fits      6/8 3/4
note  2.1      1  3  q.    90/30
note  1.4+30   5  4  1.5b  70     # sorted into place by position
note  1.1      7  5  75    64
)";
    stylec::StyleSource source;
    std::vector<stylec::SourceError> errors;
    ASSERT_TRUE(stylec::parseStyleSource(text, "test.txt", source, errors));
    EXPECT_EQ(source.category, 1);
    EXPECT_EQ(source.style.program2, 24);  // defaults to the program
    EXPECT_EQ(source.style.meters, meterSet({{6, 8}, {3, 4}}));
    ASSERT_EQ(source.style.events.size(), 3u);
    EXPECT_EQ(source.style.events[0], ev(7, 0, 0, 0, 5, 75, 0x4040));
    EXPECT_EQ(source.style.events[1], ev(5, 0, 3, 30, 4, 90, 0x4640));  // 1.5 eighths
    EXPECT_EQ(source.style.events[2], ev(1, 1, 0, 0, 3, 180, 0x5A1E));  // dotted quarter

    stylec::ArrangementSource arrangement;
    ASSERT_TRUE(stylec::parseArrangementSource(R"(arrangement Band
meter 2/2
ppq 120
tempo 6
organ-program 16
organ-volume 70
bass-program 33
bass-volume 100
drums-volume 90
part 0
organ 1.2+120 1 q 70
bass 1.1 1 3 h 90
drum 1.1 kick e 100
drum 1.1 49 e 100
)",
                                               "band.txt", arrangement, errors));
    EXPECT_EQ(arrangement.tempoMask, 6);
    const ArrangementPart& part = arrangement.arrangement.parts.at(0);
    EXPECT_EQ(part.organ.at(0), ev(1, 0, 1, 120, 0, 120, 0x4640));
    EXPECT_EQ(part.bass.at(0).duration, 240);
    EXPECT_EQ(part.drums.at(0).tone, 36);
    EXPECT_EQ(part.drums.at(1).tone, 49);
    EXPECT_EQ(part.drumsVolume, 90);
    EXPECT_TRUE(errors.empty());
}

TEST(LibrarySource, ReportsEveryMistakeWithItsLine) {
    const std::string text = R"(style     ThisNameIsMuchTooLong
category  piano
program   0
octave    4
beats     4
meter     4/4
ppq       120
bars      1
fits      4/4
note  1.1      2  4  q  90
note  1.5      1  4  q  90
note  2.1      1  4  q  90
note  1.1+120  1  4  q  90
note  1.1      1  4  x  90
note  1.1      1  4  q  0
note  1.1      1  4  q
colour    blue
)";
    stylec::StyleSource source;
    std::vector<stylec::SourceError> errors;
    EXPECT_FALSE(stylec::parseStyleSource(text, "bad.txt", source, errors));
    std::set<int> lines;
    for (const auto& error : errors) lines.insert(error.line);
    // The name, then a selector without a tone, beat 5 of 4, bar 2 of 1, a tick past the beat,
    // an unknown length, velocity 0, a missing field and an unknown keyword.
    EXPECT_EQ(lines, (std::set<int>{1, 10, 11, 12, 13, 14, 15, 16, 17}));
    const auto name = std::find_if(errors.begin(), errors.end(),
                                   [](const stylec::SourceError& e) { return e.line == 1; });
    ASSERT_NE(name, errors.end());
    EXPECT_EQ(name->text().rfind("bad.txt:1: ", 0), 0u);

    errors.clear();
    stylec::ArrangementSource arrangement;
    EXPECT_FALSE(stylec::parseArrangementSource(R"(arrangement Bad
meter 4/4
ppq 120
tempo medium
organ-program 16
organ-volume 70
bass-program 33
bass-volume 100
drums-volume 100
part 1
bass 1.1 1 3 q 90
drum 1.1 cymbal e 90
)",
                                                "bad.txt", arrangement, errors));
    lines.clear();
    for (const auto& error : errors) lines.insert(error.line);
    // Parts start at 0, a part needs organ events, and "cymbal" is not a drum name.
    EXPECT_EQ(lines, (std::set<int>{10, 12}));
}
