// ChordDictionary: the progressions the harmonizer accepts, as short chord sequences written in
// degrees of the main key, one table for major and one for minor main keys. It says whether a
// chord belongs to the vocabulary of the key at all and whether it may follow another chord.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/ChordCode.h"

namespace varimel {

// degree << 16 | mode << 8 | type: degree 1..7 for a diatonic degree of the main key, 8..14 for
// the altered degrees I..VII; mode 1 when the chord is built on a minor key; type 0..4, or
// kAnyType in a query.
using ChordDescriptor = int32_t;

struct DictionaryEntry {
    uint8_t count = 0;                        // 3 or 4
    std::array<ChordDescriptor, 4> places{};  // in order; unused places are 0
};

struct EntryMatch {
    int entry = -1;  // -1 when nothing matched
    int place = 0;   // 1..count
};

struct DictionaryAnswers;

class ChordDictionary {
  public:
    static constexpr int kAnyType = 255;
    // The type's bits in a descriptor.
    static constexpr ChordDescriptor kTypeMask = 0xFF;

    ChordDictionary() = default;
    ~ChordDictionary();
    // The process-wide current dictionary is tracked by address.
    ChordDictionary(const ChordDictionary&) = delete;
    ChordDictionary& operator=(const ChordDictionary&) = delete;

    // No key and no table: every query answers "not found".
    void reset();
    // Minor keys use the minor table, major keys the major one; an invalid key resets.
    void selectKey(KeyIndex key);

    KeyIndex key() const { return key_; }
    std::span<const DictionaryEntry> entries() const { return table_; }

    ChordDescriptor descriptor(KeyIndex chordKey, int type) const {
        if (chordKey >= 0 && chordKey < kKeyCount) {
            return keyDescriptors_[static_cast<size_t>(chordKey)] | (type & kTypeMask);
        }
        return describe(chordKey, type);
    }

    // The place (1..count) of the descriptor in the entry, searching from lastPosition down to
    // place 1 (from the last place when lastPosition is negative); 0 when absent.
    int entryPosition(int entry, ChordDescriptor descriptor, int lastPosition = -1) const;

    // The first entry from fromEntry on that holds the descriptor, with its last place there.
    EntryMatch findEntry(ChordDescriptor descriptor, int fromEntry = 0) const;

    // Whether any chord on this key occurs in the selected table.
    bool isKnownChordKey(KeyIndex chordKey) const;

    // The first entry in which the previous chord stands no later than the candidate, or -1.
    int canFollow(KeyIndex chordKey, int type, KeyIndex previousKey, int previousType) const;

    static std::span<const DictionaryEntry> majorTable();
    static std::span<const DictionaryEntry> minorTable();

    // The dictionary that chord lookups outside the chord master go through: the one most
    // recently made current, or null once that one is destroyed.
    static ChordDictionary* current();
    void makeCurrent();

  private:
    // The descriptor worked out from the key's tonic and the selected key.
    ChordDescriptor describe(KeyIndex chordKey, int type) const;
    // Fills keyDescriptors_ for the selected key (or none).
    void describeKeys();

    KeyIndex key_ = kNoKey;
    // The descriptor of a chord on each key, its type left 0: the harmonizer asks for them
    // several times a bar.
    std::array<ChordDescriptor, kKeyCount> keyDescriptors_ = describedWithoutKey();
    static const std::array<ChordDescriptor, kKeyCount>& describedWithoutKey();
    std::span<const DictionaryEntry> table_;
    const DictionaryAnswers* answers_ = nullptr;  // the table's answers worked out in advance
};

}  // namespace varimel
