// HarmonyOptions: the thirteen options of the harmony engine, their fixed 32-byte record (kept
// as is in project files), the two program-wide records and the drafts of the Harmony menu.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace varimel {

// Field names are the registry value names. Defaults are the compiled-in constants.
struct HarmonyOptions {
    std::uint8_t SHBmode = 1;    // harmonisation method: 0 "Standard", otherwise "Advanced"
    bool ApplyPKey = false;      // harmonise in the relative key of the recognised key
    std::int16_t MinTaktBT = 4;  // minimum bars of a key-recognition segment
    std::int32_t ModeStT = 21;   // degrees that make a key stable, bit i = degree i + 1
    float MinWT = 0.7f;          // minimum fit for a key to be accepted
    bool CSFilter = false;       // "Limit Number of Unusual Chords"
    bool DSFilter = false;       // "Limit Number of Dissonances"
    float kRecomChr = 0.8f;      // duration factor of the dissonance filter
    float kDSFilter = 0.4f;      // factor of the chord selection threshold
    std::int16_t MaxNumCustomChords = 9;
    bool AutoKey = true;          // recognise the key rather than take it from file or user
    std::int8_t DefAccPatch = 0;  // General MIDI program of the chord channel without a style
    bool AutoSaveOpt = true;      // "Save as Default": the window's options OK keeps them

    bool operator==(const HarmonyOptions&) const = default;
};

inline constexpr std::size_t kHarmonyOptionsSize = 32;
using HarmonyOptionsBytes = std::array<std::uint8_t, kHarmonyOptionsSize>;

// Little-endian, field by field, padding written as zero.
HarmonyOptionsBytes serializeHarmonyOptions(const HarmonyOptions& options);
// Padding is ignored; a flag byte other than 0 reads as true.
HarmonyOptions deserializeHarmonyOptions(std::span<const std::uint8_t, kHarmonyOptionsSize> bytes);

// Never changed, not even from the registry.
inline constexpr HarmonyOptions defaultOptions{};
// What the engine reads; the options dialog, the Harmony menu and project files change it.
extern HarmonyOptions currentOptions;

// The drafts of the Harmony menu, numbered as its items' tags.
inline constexpr int kDraftI = 1;
inline constexpr int kDraftII = 2;
inline constexpr int kDraftIII = 3;
// Draft IV is not an option set but a method of its own (see engine/DraftFour.h); the options
// it leaves behind are the defaults, so a project made with it stores no new field.
inline constexpr int kDraftIV = 4;

// Draft I: the defaults. Draft II: the given options made plainer (Standard method, no
// relative key, both filters, at most 5 custom chords), the rest kept. Draft III: the
// defaults harmonised in the relative key. Draft IV: the defaults. False, options untouched, for
// any other number.
bool applyDraft(int draft, HarmonyOptions& options);
// The options a draft leads to from the given ones; the given ones for an unknown draft.
HarmonyOptions draftOptions(int draft, const HarmonyOptions& from = currentOptions);

}  // namespace varimel
