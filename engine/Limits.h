// Limits: how much a melody or project file may hold. Files beyond them are refused with status
// 101 before they can cost minutes or gigabytes; no real melody comes near any of them. The
// reasons are in docs/limits.md.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varimel::limits {

// Bars of a piece; positions store the bar in 16 bits, and the harmony works bar by bar.
inline constexpr std::int32_t kMaxBars = 10000;
// Notes of a piece: the melody file's note-ons on every channel, a project's melody notes.
inline constexpr std::int32_t kMaxNotes = 200000;
// Non-note events kept from a file (tempo, meter, key, controllers, programs, pressure), both
// lists together.
inline constexpr std::int32_t kMaxEvents = 500000;
// A Standard MIDI File is read whole into memory; a melody file is a few kilobytes.
inline constexpr std::size_t kMaxMidiFileSize = 16u * 1024 * 1024;
// A project file stores 14 bytes a note and 20 an event; anything bigger is not one of ours.
inline constexpr std::size_t kMaxProjectFileSize = 64u * 1024 * 1024;

}  // namespace varimel::limits
