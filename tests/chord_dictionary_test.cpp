#include <gtest/gtest.h>

#include <set>

#include "engine/ChordDictionary.h"
#include "engine/Tonality.h"

namespace varimel {
namespace {

constexpr ChordDescriptor describe(int degree, bool minorChord, int type) {
    return degree << 16 | (minorChord ? 0x100 : 0) | type;
}

class DictionaryInKey : public ::testing::Test {
  protected:
    ChordDictionary& in(std::string_view keyName) {
        dictionary.selectKey(keyFromName(keyName));
        return dictionary;
    }
    ChordDictionary dictionary;
};

// Every chord the tables name must be one that some chord of the key can produce; the one
// known exception is the altered fifth degree (12) of a major key, which degreeOf never gives.
TEST(ChordDictionaryTables, NameOnlyChordsThatCanOccurExceptTheAlteredFifthOfMajor) {
    for (const char* mainKey : {"C-dur", "a-moll"}) {
        ChordDictionary dictionary;
        dictionary.selectKey(keyFromName(mainKey));
        std::set<ChordDescriptor> producible;
        for (KeyIndex key = 0; key < kKeyCount; ++key) {
            for (int type = 0; type < kChordTypeCount; ++type) {
                producible.insert(dictionary.descriptor(key, type));
            }
        }
        int unreachableEntries = 0;
        for (const DictionaryEntry& entry : dictionary.entries()) {
            bool unreachable = false;
            for (int place = 0; place < entry.count; ++place) {
                const ChordDescriptor d = entry.places[place];
                if (producible.contains(d)) continue;
                EXPECT_FALSE(isMinorKey(dictionary.key())) << mainKey << " " << std::hex << d;
                EXPECT_EQ(d >> 16, 12) << mainKey << " " << std::hex << d;
                unreachable = true;
            }
            unreachableEntries += unreachable;
        }
        EXPECT_EQ(unreachableEntries, isMinorKey(dictionary.key()) ? 0 : 3);
    }
    EXPECT_EQ(ChordDictionary::majorTable().size(), 60u);
    EXPECT_EQ(ChordDictionary::minorTable().size(), 54u);
}

TEST(ChordDictionaryDescriptor, DependsOnlyOnTheChordsPlaceInTheKey) {
    // Transposing main key and chord key together leaves every descriptor unchanged.
    ChordDictionary a, b;
    for (KeyIndex main = 0; main < kKeyCount; ++main) {
        a.selectKey(main);
        const int shift = tonicOf(main) - tonicOf(isMinorKey(main) ? 12 : 0);
        b.selectKey(isMinorKey(main) ? 12 : 0);
        for (KeyIndex chordKey = 0; chordKey < kKeyCount; ++chordKey) {
            KeyIndex shifted = kNoKey;
            for (KeyIndex k = 0; k < kKeyCount; ++k) {
                if (isMinorKey(k) == isMinorKey(chordKey) &&
                    (tonicOf(k) + shift + 12) % 12 == tonicOf(chordKey)) {
                    shifted = k;
                }
            }
            ASSERT_NE(shifted, kNoKey);
            EXPECT_EQ(a.descriptor(chordKey, 1), b.descriptor(shifted, 1))
                << keyName(main) << " " << keyName(chordKey);
        }
    }
}

TEST_F(DictionaryInKey, DescriptorCodesDegreeModeAndType) {
    EXPECT_EQ(in("C-dur").descriptor(keyFromName("G-dur"), 1), describe(5, false, 1));
    EXPECT_EQ(in("C-dur").descriptor(keyFromName("d-moll"), 1), describe(2, true, 1));
    EXPECT_EQ(in("C-dur").descriptor(keyFromName("Cis-dur"), 1), describe(8, false, 1));
    EXPECT_EQ(in("C-dur").descriptor(keyFromName("As-dur"), 0), describe(13, false, 0));
    EXPECT_EQ(in("C-dur").descriptor(keyFromName("B-dur"), 0), describe(14, false, 0));
    EXPECT_EQ(in("C-dur").descriptor(keyFromName("fis-moll"), 255), describe(11, true, 255));
    EXPECT_EQ(in("a-moll").descriptor(keyFromName("E-dur"), 1), describe(5, false, 1));
    EXPECT_EQ(in("a-moll").descriptor(keyFromName("B-dur"), 0), describe(8, false, 0));
    EXPECT_EQ(in("a-moll").descriptor(keyFromName("C-dur"), 0), describe(3, false, 0));
}

TEST_F(DictionaryInKey, SelectsTheTableOfTheKeysModeAndResets) {
    EXPECT_EQ(dictionary.key(), kNoKey);
    EXPECT_TRUE(dictionary.entries().empty());
    EXPECT_EQ(in("G-dur").entries().data(), ChordDictionary::majorTable().data());
    EXPECT_EQ(dictionary.key(), keyFromName("G-dur"));
    EXPECT_EQ(in("e-moll").entries().data(), ChordDictionary::minorTable().data());
    dictionary.reset();
    EXPECT_EQ(dictionary.key(), kNoKey);
    EXPECT_FALSE(dictionary.isKnownChordKey(keyFromName("C-dur")));
    EXPECT_EQ(dictionary.canFollow(keyFromName("G-dur"), 1, keyFromName("C-dur"), 0), -1);
    in("C-dur").selectKey(24);
    EXPECT_TRUE(dictionary.entries().empty());
}

TEST_F(DictionaryInKey, EntryPositionSearchesDownFromTheGivenPlace) {
    // Major entry 0 is tonic, dominant seventh, tonic.
    const ChordDictionary& d = in("C-dur");
    const ChordDescriptor tonic = describe(1, false, 0);
    const ChordDescriptor dominant7 = describe(5, false, 1);
    EXPECT_EQ(d.entryPosition(0, tonic), 3);
    EXPECT_EQ(d.entryPosition(0, tonic, 2), 1);
    EXPECT_EQ(d.entryPosition(0, dominant7), 2);
    EXPECT_EQ(d.entryPosition(0, dominant7, 1), 0);
    EXPECT_EQ(d.entryPosition(0, describe(5, false, 0)), 0);
    EXPECT_EQ(d.entryPosition(0, describe(5, false, 255)), 2);
    EXPECT_EQ(d.entryPosition(0, describe(5, true, 255)), 0);
    EXPECT_EQ(d.entryPosition(0, tonic, 0), 0);
    EXPECT_EQ(d.entryPosition(60, tonic), 0);
    EXPECT_EQ(d.entryPosition(-1, tonic), 0);
    // Never past the entry's own chords, where the unused places hold 0.
    EXPECT_EQ(d.entryPosition(0, 0, 4), 0);
}

TEST_F(DictionaryInKey, FindEntryAnswersTheFirstEntryFromTheStart) {
    const ChordDictionary& d = in("C-dur");
    const EntryMatch dominantTriad = d.findEntry(describe(5, false, 0));
    EXPECT_EQ(dominantTriad.entry, 3);
    EXPECT_EQ(dominantTriad.place, 2);
    EXPECT_EQ(d.findEntry(describe(5, false, 0), 4).entry, -1);
    const EntryMatch flatSixth7 = d.findEntry(describe(13, false, 1));
    EXPECT_EQ(flatSixth7.entry, 31);
    EXPECT_EQ(flatSixth7.place, 4);
    EXPECT_EQ(d.findEntry(describe(13, false, 1), 32).entry, 34);
    EXPECT_EQ(d.findEntry(describe(13, false, 1), 32).place, 3);
    EXPECT_EQ(d.findEntry(describe(1, false, 0), -5).entry, 0);
}

TEST_F(DictionaryInKey, KnowsTheChordKeysOfItsTables) {
    EXPECT_TRUE(in("C-dur").isKnownChordKey(keyFromName("G-dur")));
    EXPECT_TRUE(dictionary.isKnownChordKey(keyFromName("fis-moll")));  // 11m4
    EXPECT_FALSE(dictionary.isKnownChordKey(keyFromName("Fis-dur")));
    EXPECT_TRUE(dictionary.isKnownChordKey(keyFromName("As-dur")));  // 13M0
    EXPECT_FALSE(dictionary.isKnownChordKey(keyFromName("as-moll")));
    EXPECT_FALSE(dictionary.isKnownChordKey(keyFromName("G-dur") + 24));
    EXPECT_TRUE(in("a-moll").isKnownChordKey(keyFromName("B-dur")));  // 8M0
    EXPECT_TRUE(dictionary.isKnownChordKey(keyFromName("e-moll")));
    EXPECT_FALSE(dictionary.isKnownChordKey(keyFromName("Fis-dur")));
}

TEST_F(DictionaryInKey, CanFollowFindsAnEntryWithThePreviousChordNoLater) {
    const KeyIndex c = keyFromName("C-dur"), g = keyFromName("G-dur"), f = keyFromName("F-dur");
    const KeyIndex a = keyFromName("a-moll"), dMinor = keyFromName("d-moll");
    const KeyIndex dFlat = keyFromName("Cis-dur");
    EXPECT_EQ(in("C-dur").canFollow(g, 1, c, 0), 0);
    EXPECT_EQ(dictionary.canFollow(c, 0, g, 1), 0);
    EXPECT_EQ(dictionary.canFollow(f, 0, g, 1), 51);  // only "5M1 4M0 ..." puts V7 first
    EXPECT_EQ(dictionary.canFollow(dFlat, 1, dMinor, 1), 7);
    EXPECT_EQ(dictionary.canFollow(c, 0, a, 0), -1);  // vi stands last wherever it occurs
    EXPECT_EQ(dictionary.canFollow(keyFromName("Fis-dur"), 0, c, 0), -1);

    const KeyIndex e = keyFromName("E-dur");
    EXPECT_EQ(in("a-moll").canFollow(e, 1, a, 0), 0);
    EXPECT_EQ(dictionary.canFollow(dMinor, 0, e, 1), 40);
    EXPECT_EQ(dictionary.canFollow(keyFromName("B-dur"), 0, a, 0), 13);
}

// The answers the harmonizer gets by lookup are those of the search through the entries, for
// every pair of chords in major and minor keys alike (also keys with sharps and flats, whose
// chords fall on the altered degrees).
TEST(ChordDictionaryTables, AnswerEveryPairAsTheSearchThroughTheEntries) {
    for (const char* mainKey : {"C-dur", "a-moll", "Fis-dur", "es-moll"}) {
        ChordDictionary dictionary;
        dictionary.selectKey(keyFromName(mainKey));
        int found = 0;
        for (KeyIndex chord = 0; chord < kKeyCount; ++chord) {
            const bool known =
                dictionary.findEntry(dictionary.descriptor(chord, ChordDictionary::kAnyType))
                    .entry >= 0;
            EXPECT_EQ(dictionary.isKnownChordKey(chord), known) << mainKey << ' ' << chord;
            for (int type = 0; type < kChordTypeCount; ++type) {
                const ChordDescriptor candidate = dictionary.descriptor(chord, type);
                for (KeyIndex before = 0; before < kKeyCount; ++before) {
                    for (int beforeType = 0; beforeType < kChordTypeCount; ++beforeType) {
                        const ChordDescriptor previous = dictionary.descriptor(before, beforeType);
                        int expected = -1;
                        for (EntryMatch match = dictionary.findEntry(candidate); match.entry >= 0;
                             match = dictionary.findEntry(candidate, match.entry + 1)) {
                            if (dictionary.entryPosition(match.entry, previous, match.place) > 0) {
                                expected = match.entry;
                                break;
                            }
                        }
                        found += expected >= 0;
                        ASSERT_EQ(dictionary.canFollow(chord, type, before, beforeType), expected)
                            << mainKey << ": " << chord << '/' << type << " after " << before << '/'
                            << beforeType;
                    }
                }
            }
        }
        EXPECT_GT(found, 100) << mainKey;
    }
    ChordDictionary none;
    EXPECT_EQ(none.canFollow(0, 0, 7, 1), -1);
    EXPECT_FALSE(none.isKnownChordKey(0));
}

TEST(ChordDictionaryCurrent, IsTheLastMadeCurrentUntilItIsDestroyed) {
    ChordDictionary first;
    first.makeCurrent();
    EXPECT_EQ(ChordDictionary::current(), &first);
    {
        ChordDictionary second;
        EXPECT_EQ(ChordDictionary::current(), &first);
        second.makeCurrent();
        EXPECT_EQ(ChordDictionary::current(), &second);
    }
    EXPECT_EQ(ChordDictionary::current(), nullptr);
    first.makeCurrent();
    { ChordDictionary bystander; }
    EXPECT_EQ(ChordDictionary::current(), &first);
}

}  // namespace
}  // namespace varimel
