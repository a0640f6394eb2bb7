// Byte builders for Standard MIDI File tests: chunks, variable-length numbers and events, so that
// a test states exactly the bytes a reader gets, broken ones included.
//
//   auto bytes = smf::file(1, 480, {smf::cat({smf::noteOn(0, 0, 60, 100),
//                                             smf::noteOff(480, 0, 60),
//                                             smf::endOfTrack()})});
//   TempMidiFile file(bytes);   // tests/support/melody.h
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace varimel::test::smf {

using Bytes = std::vector<std::uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts);
Bytes varLen(std::uint32_t value);
Bytes be16(std::uint32_t value);
Bytes be32(std::uint32_t value);
Bytes ascii(std::string_view text);

// A chunk: four-letter id, big-endian 32-bit length of body, body.
Bytes chunk(std::string_view id, const Bytes& body);
Bytes headerChunk(int format, int trackCount, int division);
Bytes trackChunk(const Bytes& events);
// A header and one track chunk per body (each body brings its own end-of-track event).
Bytes file(int format, int division, std::initializer_list<Bytes> trackBodies);

// A delta time followed by the bytes as given: running status, broken events, anything.
Bytes event(std::uint32_t delta, std::initializer_list<int> bytes);
Bytes noteOn(std::uint32_t delta, int ch, int key, int velocity);
Bytes noteOff(std::uint32_t delta, int ch, int key, int velocity = 0);
Bytes controller(std::uint32_t delta, int ch, int number, int value);
Bytes meta(std::uint32_t delta, int type, const Bytes& data);
Bytes text(std::uint32_t delta, int type, std::string_view text);
Bytes tempo(std::uint32_t delta, std::uint32_t microsecondsPerQuarter);
Bytes endOfTrack(std::uint32_t delta = 0);
// F0, the length of data, data (which should end with F7).
Bytes sysex(std::uint32_t delta, const Bytes& data);

}  // namespace varimel::test::smf
