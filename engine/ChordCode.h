// KeyIndex and ChordCode: the two small integers through which keys and chords travel between
// key recognition, the harmonizer, the chord track and the project file.
#pragma once

#include <cstdint>

namespace varimel {

// 0..11 the major keys, 12..23 their relative minors (same signature), in key-name table order.
using KeyIndex = int;

// The chord's own key in the high byte, its type 0..4 in the low byte; -1 is no chord.
using ChordCode = int16_t;

inline constexpr int kKeyCount = 24;
inline constexpr int kMajorKeyCount = 12;
inline constexpr int kChordTypeCount = 5;
inline constexpr KeyIndex kNoKey = -1;
inline constexpr ChordCode kNoChord = -1;

constexpr bool isValidKey(KeyIndex key) {
    return key >= 0 && key < kKeyCount;
}
constexpr bool isMinorKey(KeyIndex key) {
    return key >= kMajorKeyCount && key < kKeyCount;
}

// A major key and its relative minor share a signature, twelve places apart.
constexpr KeyIndex relativeKey(KeyIndex key) {
    return isValidKey(key) ? (key + kMajorKeyCount) % kKeyCount : kNoKey;
}

constexpr ChordCode makeChordCode(KeyIndex key, int type) {
    return static_cast<ChordCode>(key << 8 | (type & 0xFF));
}

// Both answer -1 for "no chord" (any negative code).
constexpr KeyIndex chordKey(ChordCode code) {
    return code < 0 ? kNoKey : code >> 8;
}
constexpr int chordType(ChordCode code) {
    return code < 0 ? -1 : code & 0xFF;
}

}  // namespace varimel
