// Byte values of the Standard MIDI File format and the reader's option bits, named in one place so
// that reader, writer and their tests agree on them.
#pragma once

#include <cstdint>

namespace varimel::midi {

// Chunk identifiers as big-endian 32-bit numbers.
inline constexpr std::uint32_t kHeaderChunkId = 0x4D546864;  // "MThd"
inline constexpr std::uint32_t kTrackChunkId = 0x4D54726B;   // "MTrk"

// Channel message kinds (high nibble of the status byte).
inline constexpr int kNoteOff = 0x80;
inline constexpr int kNoteOn = 0x90;
inline constexpr int kPolyPressure = 0xA0;
inline constexpr int kControlChange = 0xB0;
inline constexpr int kProgramChange = 0xC0;
inline constexpr int kChannelPressure = 0xD0;
inline constexpr int kPitchBend = 0xE0;

// System messages.
inline constexpr int kSysex = 0xF0;
inline constexpr int kSysexEscape = 0xF7;  // also the byte that ends every sysex
inline constexpr int kSongPosition = 0xF2;
inline constexpr int kSongSelect = 0xF3;
inline constexpr int kTuneRequest = 0xF6;
inline constexpr int kClock = 0xF8;
inline constexpr int kStart = 0xFA;
inline constexpr int kContinue = 0xFB;
inline constexpr int kStop = 0xFC;
inline constexpr int kActiveSensing = 0xFE;
inline constexpr int kMeta = 0xFF;

// Meta event types.
inline constexpr int kMetaSequenceNumber = 0x00;
inline constexpr int kMetaTextFirst = 0x01;
inline constexpr int kMetaTextLast = 0x0F;
inline constexpr int kMetaChannelPrefix = 0x20;
inline constexpr int kMetaPort = 0x21;
inline constexpr int kMetaEndOfTrack = 0x2F;
inline constexpr int kMetaTempo = 0x51;
inline constexpr int kMetaSmpteOffset = 0x54;
inline constexpr int kMetaTimeSignature = 0x58;
inline constexpr int kMetaKeySignature = 0x59;

// Controller numbers that have callbacks of their own.
inline constexpr int kCcBankSelectMsb = 0;
inline constexpr int kCcModulation = 1;
inline constexpr int kCcBreath = 2;
inline constexpr int kCcFootController = 4;
inline constexpr int kCcPortamentoTime = 5;
inline constexpr int kCcDataEntry = 6;
inline constexpr int kCcVolume = 7;
inline constexpr int kCcPan = 10;
inline constexpr int kCc11 = 11;  // expression
inline constexpr int kCcBankSelectLsb = 32;
inline constexpr int kCcSustain = 64;
inline constexpr int kCcReverbDepth = 91;
inline constexpr int kCcChorusDepth = 93;
inline constexpr int kCcDataIncrement = 96;
inline constexpr int kCcDataDecrement = 97;
inline constexpr int kCcRpnLsb = 100;
inline constexpr int kCcRpnMsb = 101;

// Delta times from this value on are taken as a broken file rather than music.
inline constexpr long kLargePauseTicks = 0x1000000;
// The largest number a variable-length quantity of four bytes holds.
inline constexpr long kMaxVarLen = 0x0FFFFFFF;
// A pause of this many seconds or more at the current tempo is also unrealistic.
inline constexpr long kLargePauseSeconds = 3600;

inline constexpr int kDefaultTempo = 500000;  // microseconds per quarter note, 120 bpm

// First option byte: parts of the decoding switched to raw delivery.
inline constexpr std::uint8_t kOptControllersUndivided = 0x01;
inline constexpr std::uint8_t kOptHeadersOnly = 0x02;
inline constexpr std::uint8_t kOptRawMeta = 0x04;
inline constexpr std::uint8_t kOptRawSysex = 0x08;
inline constexpr std::uint8_t kOptRawNotes = 0x10;
inline constexpr std::uint8_t kOptRawPolyPressure = 0x20;
inline constexpr std::uint8_t kOptRawControllers = 0x40;
inline constexpr std::uint8_t kOptRawPrograms = 0x80;
// Second option byte.
inline constexpr std::uint8_t kOpt2RawChannelPressure = 0x01;
inline constexpr std::uint8_t kOpt2RawPitchBend = 0x02;
inline constexpr std::uint8_t kOpt2RawSystem = 0x04;

}  // namespace varimel::midi
