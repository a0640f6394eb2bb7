#include "engine/Tonality.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace varimel {
namespace {

// The key's tonic read from its German name: H is B natural, B is B flat, "-is" raises,
// "-es"/"-s" lowers.
int tonicFromGermanName(std::string_view name) {
    constexpr std::string_view letters = "cdefgahb";
    constexpr int pitches[] = {0, 2, 4, 5, 7, 9, 11, 10};
    const std::string_view root = name.substr(0, name.find('-'));
    const auto letter = letters.find(static_cast<char>(std::tolower(root[0])));
    if (letter == std::string_view::npos) return -1;
    const int pitch = pitches[letter];
    const std::string_view accidental = root.substr(1);
    if (accidental == "is") return (pitch + 1) % 12;
    if (accidental == "es" || accidental == "s") return (pitch + 11) % 12;
    return accidental.empty() ? pitch : -1;
}

std::vector<int> scaleOf(KeyIndex key) {
    std::vector<int> scale;
    for (int degree = 0; degree < kDegreeCount; ++degree) scale.push_back(degreePitch(key, degree));
    return scale;
}

// Intervals of a chord's tones above its root, in the order chordTones gives them.
std::vector<int> intervalsAboveRoot(KeyIndex key, int type) {
    std::vector<int> intervals;
    for (const int tone : chordTones(key, type)) {
        intervals.push_back((tone - tonicOf(key) + 12) % 12);
    }
    return intervals;
}

TEST(Wrap, MovesByOneStepOnly) {
    EXPECT_EQ(wrap(-1, 12), 11);
    EXPECT_EQ(wrap(12, 12), 0);
    EXPECT_EQ(wrap(23, 24), 23);
    EXPECT_EQ(wrap(25, 12), 13);  // two steps out stays out: callers add at most one span
}

TEST(KeyTable, NamesSpellTheTonicOfEachScale) {
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        const std::string_view name = keyName(key);
        SCOPED_TRACE(std::string(name));
        EXPECT_EQ(tonicFromGermanName(name), tonicOf(key));
        EXPECT_EQ(name.ends_with("-moll"), isMinorKey(key));
        EXPECT_EQ(name.ends_with("-dur"), !isMinorKey(key));
    }
}

TEST(KeyTable, EveryScaleHasTheStepsOfMajorOrNaturalMinor) {
    const std::vector<int> majorSteps = {2, 2, 1, 2, 2, 2, 1};
    const std::vector<int> minorSteps = {2, 1, 2, 2, 1, 2, 2};
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        const std::vector<int> scale = scaleOf(key);
        std::vector<int> steps;
        for (int i = 0; i < kDegreeCount; ++i)
            steps.push_back((scale[(i + 1) % 7] - scale[i] + 12) % 12);
        EXPECT_EQ(steps, isMinorKey(key) ? minorSteps : majorSteps) << keyName(key);
    }
}

TEST(KeyTable, NamesLookUpBothWays) {
    EXPECT_EQ(keyFromName("C-dur"), 7);
    EXPECT_EQ(keyFromName("a-moll"), 19);
    EXPECT_EQ(keyFromName("b-moll"), 12);
    EXPECT_EQ(keyFromName("c-dur"), kNoKey);  // names are matched exactly
    EXPECT_EQ(keyFromName("Auto"), kNoKey);
    for (KeyIndex key = 0; key < kKeyCount; ++key) EXPECT_EQ(keyFromName(keyName(key)), key);
    EXPECT_EQ(noteName(10), "A#");
}

TEST(DegreeOf, AnswersTheWorkedExamples) {
    const KeyIndex cMajor = keyFromName("C-dur");
    const KeyIndex aMinor = keyFromName("a-moll");
    EXPECT_EQ(degreeOf(0, cMajor), 1);
    EXPECT_EQ(degreeOf(11, cMajor), 7);
    EXPECT_EQ(degreeOf(1, cMajor), -1);
    EXPECT_EQ(degreeOf(10, cMajor), -7);
    EXPECT_EQ(degreeOf(3, cMajor), -2);  // III is not alterable in major, II raised is
    EXPECT_EQ(degreeOf(6, cMajor), -4);
    EXPECT_EQ(degreeOf(8, cMajor), -6);
    EXPECT_EQ(degreeOf(8, aMinor), -7);
    EXPECT_EQ(degreeOf(6, aMinor), -6);
    EXPECT_EQ(degreeOf(10, aMinor), -1);
    EXPECT_EQ(degreeOf(1, aMinor), -3);
    EXPECT_EQ(degreeOf(3, aMinor), -4);
    EXPECT_EQ(degreeOf(9, aMinor), 1);
}

TEST(DegreeOf, GivesEveryPitchClassItsOwnCodeInEveryKey) {
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        std::set<int> codes;
        for (int pc = 0; pc < 12; ++pc) {
            const int code = degreeOf(pc, key);
            EXPECT_NE(code, 0) << keyName(key) << " pc " << pc;
            if (code < 0) {
                EXPECT_TRUE(isAlterableDegree(key, -code - 1));
            }
            codes.insert(code);
        }
        EXPECT_EQ(codes.size(), 12u) << keyName(key);
    }
}

TEST(DegreePitch, IsTheInverseOfDegreeOf) {
    // Also for the raised I, II and IV of a major key: C# is "-1" in C major both ways.
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        for (int pc = 0; pc < 12; ++pc) {
            const int code = degreeOf(pc, key);
            const int degree = code > 0 ? code - 1 : code;
            EXPECT_EQ(degreePitch(key, degree), pc) << keyName(key) << " code " << code;
        }
    }
}

TEST(DegreePitch, NeighboursPairThePlainAndTheAlteredNote) {
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        for (int degree = 0; degree < kDegreeCount; ++degree) {
            if (!isAlterableDegree(key, degree)) continue;
            int plainNeighbour = -1, alteredNeighbour = -1;
            const int plain = degreePitch(key, degree, &plainNeighbour);
            const int altered = degreePitch(key, -(degree + 1), &alteredNeighbour);
            EXPECT_EQ(plainNeighbour, altered) << keyName(key) << " degree " << degree;
            EXPECT_EQ(alteredNeighbour, plain) << keyName(key) << " degree " << degree;
        }
    }
}

TEST(DegreePitch, GivesChromaticNeighboursOfTheNonAlterableDegrees) {
    int neighbour = -1;
    EXPECT_EQ(degreePitch(keyFromName("C-dur"), 2, &neighbour), 4);
    EXPECT_EQ(neighbour, 3);  // E, neighbour E flat
    EXPECT_EQ(degreePitch(keyFromName("C-dur"), 4, &neighbour), 7);
    EXPECT_EQ(neighbour, 8);
    EXPECT_EQ(degreePitch(keyFromName("a-moll"), 1, &neighbour), 11);
    EXPECT_EQ(neighbour, 10);  // B, neighbour B flat
    EXPECT_EQ(degreePitch(keyFromName("Cis-dur"), 6, &neighbour), 0);
    EXPECT_EQ(neighbour, 11);  // wraps below C
}

TEST(RelatedKeys, AreTheDominantAndSubdominantKeys) {
    const RelatedKeys cMajor = relatedKeys(keyFromName("C-dur"));
    EXPECT_EQ(keyName(cMajor.dominant), "G-dur");
    EXPECT_EQ(keyName(cMajor.subdominant), "F-dur");
    const RelatedKeys aMinor = relatedKeys(keyFromName("a-moll"));
    EXPECT_EQ(keyName(aMinor.dominant), "E-dur");
    EXPECT_EQ(keyName(aMinor.subdominant), "d-moll");

    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        const RelatedKeys related = relatedKeys(key);
        EXPECT_EQ(tonicOf(related.dominant), degreePitch(key, 4)) << keyName(key);
        EXPECT_FALSE(isMinorKey(related.dominant)) << keyName(key);
        EXPECT_EQ(tonicOf(related.subdominant), degreePitch(key, 3)) << keyName(key);
        EXPECT_EQ(isMinorKey(related.subdominant), isMinorKey(key)) << keyName(key);
    }
}

TEST(SignatureAccidentals, CountAndKindFollowTheKey) {
    const auto eMajor = signatureAccidentals(keyFromName("E-dur"));
    EXPECT_TRUE(eMajor.sharps);
    EXPECT_EQ(std::vector<int>(eMajor.pitchClasses.begin(), eMajor.pitchClasses.end()),
              (std::vector<int>{6, 1, 8, 3}));
    const auto flats = [](const char* key) {
        const SignatureAccidentals a = signatureAccidentals(keyFromName(key));
        return a.sharps ? -1 : static_cast<int>(a.pitchClasses.size());
    };
    EXPECT_EQ(flats("As-dur"), 4);
    EXPECT_EQ(flats("f-moll"), 4);
    EXPECT_EQ(flats("Cis-dur"), 5);  // written as D flat major
    EXPECT_EQ(flats("Fis-dur"), 6);
    EXPECT_EQ(flats("H-dur"), 7);
    EXPECT_TRUE(signatureAccidentals(keyFromName("a-moll")).pitchClasses.empty());
}

TEST(SignatureAccidentals, NameExactlyTheKeysBlackNotesAndOnlyScaleNotes) {
    const std::set<int> blackKeys = {1, 3, 6, 8, 10};
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        const std::vector<int> scale = scaleOf(key);
        std::set<int> accidentals;
        for (const int pc : signatureAccidentals(key).pitchClasses) {
            EXPECT_TRUE(std::ranges::count(scale, pc) == 1) << keyName(key) << " pc " << pc;
            accidentals.insert(pc);
        }
        for (const int pc : scale) {
            if (blackKeys.contains(pc)) {
                EXPECT_TRUE(accidentals.contains(pc)) << keyName(key);
            }
        }
    }
}

TEST(ChordTones, SpellTheNamedChordsInEveryKey) {
    const std::vector<std::vector<int>> major = {
        {0, 4, 7}, {0, 4, 7, 10}, {0, 4, 7, 11}, {0, 4, 7, 9}, {}};
    const std::vector<std::vector<int>> minor = {
        {0, 3, 7}, {0, 3, 7, 10}, {0, 3, 7, 9}, {0, 3, 6, 10}, {0, 3, 6, 9}};
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        for (int type = 0; type < kChordTypeCount; ++type) {
            EXPECT_EQ(intervalsAboveRoot(key, type), (isMinorKey(key) ? minor : major)[type])
                << keyName(key) << " type " << type;
        }
    }
}

TEST(ChordTones, AddTheBasePitchAndTagDegrees) {
    const ChordTones g7 = chordTones(keyFromName("G-dur"), 1, 48);
    EXPECT_EQ(std::vector<int>(g7.begin(), g7.end()), (std::vector<int>{55, 59, 50, 53}));

    const ChordTones am6 = chordTones(keyFromName("a-moll"), 2, 48, true);
    std::vector<int> pitches, tags;
    for (const int value : am6) {
        pitches.push_back(tonePitch(value));
        tags.push_back(toneTag(value));
    }
    EXPECT_EQ(pitches, (std::vector<int>{57, 48, 52, 54}));
    EXPECT_EQ(tags, (std::vector<int>{1, 3, 5, -6}));

    const ChordTones untagged = chordTones(keyFromName("a-moll"), 2, 48, false);
    for (const int value : untagged) EXPECT_EQ(toneTag(value), 0);
}

TEST(ChordPattern, AgreesWithTheTonesAndTheDegreeCodes) {
    EXPECT_EQ(chordPattern(keyFromName("C-dur"), 1), "+ + + -");
    EXPECT_EQ(chordPattern(keyFromName("a-moll"), 3), "+ +-  +");
    EXPECT_EQ(chordPattern(7, 5), "");
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        for (int type = 0; type < kChordTypeCount; ++type) {
            int held = 0;
            for (int pc = 0; pc < 12; ++pc) {
                const bool inChord = std::ranges::count(chordTones(key, type), pc) == 1;
                EXPECT_EQ(chordHasDegree(key, type, degreeOf(pc, key)), inChord)
                    << keyName(key) << " type " << type << " pc " << pc;
                held += inChord;
            }
            EXPECT_EQ(held, chordTones(key, type).count);
        }
    }
    EXPECT_FALSE(chordHasDegree(7, 0, 0));
    EXPECT_FALSE(chordHasDegree(7, 0, 8));
}

TEST(ChordName, JoinsRootAndSuffix) {
    EXPECT_EQ(chordName(kNoChord), " - ");
    EXPECT_EQ(chordName(makeChordCode(19, 0)), "Am");
    EXPECT_EQ(chordName(makeChordCode(8, 1)), "G7");
    EXPECT_EQ(chordName(makeChordCode(7, 2)), "Cmaj7");
    EXPECT_EQ(chordName(makeChordCode(7, 4)), "C ");
    EXPECT_EQ(chordName(makeChordCode(0, 3)), "C#6");
    EXPECT_EQ(chordName(makeChordCode(12, 1)), "Bbm7");  // as the key list writes b-moll
    EXPECT_EQ(chordName(makeChordCode(21, 3)), "Bm7b5");
    EXPECT_EQ(chordName(makeChordCode(23, 4)), "C#dim7");
}

TEST(ChordName, SpellsTheRootForThePiecesKey) {
    const KeyIndex cMajor = keyFromName("C-dur");
    const KeyIndex fMajor = keyFromName("F-dur");
    const KeyIndex bFlatMajor = keyFromName("B-dur");
    const KeyIndex dMajor = keyFromName("D-dur");
    const KeyIndex eMajor = keyFromName("E-dur");
    const ChordCode bFlatSixth = makeChordCode(keyFromName("B-dur"), 3);
    // Flat keys, and C major as its key list names the keys: flats.
    EXPECT_EQ(chordName(bFlatSixth, cMajor), "Bb6");
    EXPECT_EQ(chordName(bFlatSixth, fMajor), "Bb6");
    EXPECT_EQ(chordName(makeChordCode(keyFromName("Es-dur"), 0), bFlatMajor), "Eb ");
    EXPECT_EQ(chordName(makeChordCode(keyFromName("As-dur"), 1), bFlatMajor), "Ab7");
    // Sharp keys: sharps, also for a chord whose own key the list writes with flats.
    EXPECT_EQ(chordName(makeChordCode(keyFromName("Fis-dur"), 0), dMajor), "F# ");
    EXPECT_EQ(chordName(makeChordCode(keyFromName("Cis-dur"), 1), eMajor), "C#7");
    EXPECT_EQ(chordName(makeChordCode(keyFromName("as-moll"), 0), eMajor), "G#m");
    EXPECT_EQ(chordName(makeChordCode(keyFromName("as-moll"), 0), bFlatMajor), "Abm");
    // The tones follow the root's letter.
    EXPECT_EQ(chordToneNames(bFlatSixth, cMajor), " Bb  D  F  G ");
    EXPECT_EQ(chordToneNames(makeChordCode(keyFromName("as-moll"), 0), eMajor), " G#  B  D# ");
    EXPECT_EQ(chordToneNames(makeChordCode(keyFromName("Es-dur"), 1), cMajor), " Eb  G  Bb  Db ");
    EXPECT_EQ(spelledNoteName(3, eMajor), "D#");
    EXPECT_EQ(spelledNoteName(3, kNoKey), "Eb");
    EXPECT_EQ(spelledNoteName(4, bFlatMajor), "E");
}

TEST(ChordToneNames, WriteEachToneBetweenBlanks) {
    EXPECT_EQ(chordToneNames(makeChordCode(7, 2)), " C  E  G  B ");
    EXPECT_EQ(chordToneNames(makeChordCode(19, 4)), " A  C  D#  F# ");
    EXPECT_EQ(chordToneNames(makeChordCode(7, 4)), "");
    EXPECT_EQ(chordToneNames(kNoChord), "");
}

TEST(Tonality, AnswersNothingForInvalidKeysDegreesAndChords) {
    int neighbour = 5;
    EXPECT_EQ(degreePitch(7, 7, &neighbour), -1);
    EXPECT_EQ(neighbour, -1);
    EXPECT_EQ(degreePitch(7, -8), -1);
    EXPECT_EQ(degreePitch(24, 0), -1);
    EXPECT_EQ(degreeOf(12, 7), 0);
    EXPECT_EQ(degreeOf(0, -1), 0);
    EXPECT_EQ(keyName(24), "");
    EXPECT_EQ(noteName(12), "");
    EXPECT_EQ(relatedKeys(-1).dominant, kNoKey);
    EXPECT_TRUE(signatureAccidentals(-1).pitchClasses.empty());
    EXPECT_EQ(chordTones(keyFromName("C-dur"), 5).count, 0);
    EXPECT_EQ(chordTones(24, 0).count, 0);
    EXPECT_EQ(chordName(makeChordCode(24, 0)), " - ");
    EXPECT_EQ(chordName(makeChordCode(7, 5)), " - ");
}

TEST(ChordCode, PacksKeyAndType) {
    const ChordCode code = makeChordCode(23, 4);
    EXPECT_EQ(code, 23 << 8 | 4);
    EXPECT_EQ(chordKey(code), 23);
    EXPECT_EQ(chordType(code), 4);
    EXPECT_EQ(chordKey(kNoChord), kNoKey);
    EXPECT_EQ(chordType(kNoChord), -1);
    EXPECT_EQ(relativeKey(7), 19);
    EXPECT_EQ(relativeKey(19), 7);
}

}  // namespace
}  // namespace varimel
