// Tonality: the shared tonal vocabulary - note and key names, the scales of the 24 keys, the
// degree of a pitch class in a key, and how the ten chord types are spelled and named.
// Constant data and pure functions only; key recognition, the harmonizer, the chords window,
// the notes view and the renderers all read it.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "engine/ChordCode.h"

namespace varimel {

inline constexpr int kPitchClassCount = 12;
inline constexpr int kDegreeCount = 7;
inline constexpr int kMaxChordTones = kDegreeCount;

// One step of wrap-around only: enough for a sum of two pitch classes (n = 12) or of two key
// indices (n = 24), and cheaper than a modulo in the scoring loops.
constexpr int wrap(int value, int n) {
    if (value < 0) return value + n;
    if (value >= n) return value - n;
    return value;
}

// "C", "C#", ... "B"; empty for anything outside 0..11.
std::string_view noteName(int pitchClass);

// "Cis-dur" ... "cis-moll"; empty for an invalid key.
std::string_view keyName(KeyIndex key);

// The key whose name is exactly `name` (case matters: "B-dur" and "b-moll" differ), or -1.
KeyIndex keyFromName(std::string_view name);

// Degrees are counted 0..6 (I..VII) in arguments. A degree code, as degreeOf answers it, is
// d + 1 for the plain degree d and -(d + 1) for its alteration.

// Major keys may raise I, II and IV and lower VI and VII; minor keys may raise I, III, IV, VI
// and VII.
bool isAlterableDegree(KeyIndex key, int degree);

// The degree code of a pitch class in a key: plain degrees are tried before alterations,
// degree by degree from I; 0 when nothing matches (only for an invalid key or pitch class,
// since every key reaches all twelve pitch classes this way).
int degreeOf(int pitchClass, KeyIndex key);

// The pitch class of degree 0..6, or of an altered degree given as -(d + 1). When
// neighbourOut is given it receives the chromatic neighbour (for an alterable degree the
// plain and the altered pitch are each other's neighbours). -1 for an invalid key or degree.
int degreePitch(KeyIndex key, int degree, int* neighbourOut = nullptr);

// The key's tonic pitch class, or -1.
inline int tonicOf(KeyIndex key) {
    return degreePitch(key, 0);
}

struct RelatedKeys {
    KeyIndex dominant = kNoKey;
    KeyIndex subdominant = kNoKey;
};

// Major key: the major keys on degrees V and IV. Minor key: the major key on V (the harmonic
// minor's dominant) and the minor key on IV.
RelatedKeys relatedKeys(KeyIndex key);

struct SignatureAccidentals {
    bool sharps = false;
    std::span<const int> pitchClasses;  // in the order they are written in the signature
};

// The accidentals of the key's signature; a minor key has the signature of its relative major.
SignatureAccidentals signatureAccidentals(KeyIndex key);

// The seven pattern characters of a chord type in a key's mode, degrees I..VII: ' ' not in the
// chord, '+' the degree, '-' the degree altered. Empty for an invalid key or type.
std::string_view chordPattern(KeyIndex key, int type);

// Whether the chord (key, type) holds the degree given as a degree code (see degreeOf).
bool chordHasDegree(KeyIndex key, int type, int degreeCode);

// Up to seven chord tones in degree order. With degree tags, bits 16 and up hold the signed
// degree code of the tone; use tonePitch and toneTag to take a value apart.
struct ChordTones {
    int count = 0;
    std::array<int, kMaxChordTones> values{};

    const int* begin() const { return values.data(); }
    const int* end() const { return values.data() + count; }
    int operator[](int i) const { return values[static_cast<std::size_t>(i)]; }
};

// basePitch + pitch class of each tone (0..127 in practice; tags need it non-negative).
ChordTones chordTones(KeyIndex key, int type, int basePitch = 0, bool tagDegrees = false);

constexpr int tonePitch(int value) {
    return value & 0xFFFF;
}
constexpr int toneTag(int value) {
    return value >> 16;
}

// A pitch class as a piece in `pieceKey` writes it: black keys as sharps in a key with sharps in
// its signature, as flats in a key with flats; without accidentals (C major, A minor) or without
// a key, as the key list names them (C#, Eb, F#, Ab, Bb).
std::string spelledNoteName(int pitchClass, KeyIndex pieceKey);

// Root name and type suffix: "C ", "G7", "Cmaj7", "Am", "F#m7b5", "Bb6"; the root spelled for a
// piece in `pieceKey` (see spelledNoteName). " - " for no chord (and for a code that names no
// chord).
std::string chordName(ChordCode code, KeyIndex pieceKey = kNoKey);

// Each tone's note name between blanks: " C  E  G ", " Bb  D  F "; the root as chordName spells
// it, the other tones on the letters of their degrees above it. Empty for no chord.
std::string chordToneNames(ChordCode code, KeyIndex pieceKey = kNoKey);

}  // namespace varimel
