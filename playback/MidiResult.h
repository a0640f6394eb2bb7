// MidiResult: the result codes of the MIDI stream layer and its output ports, with the texts the
// program shows for them. Code 0 is success; the error functions of the composition unit turn any
// other code into a text exception through midiResultText.
#pragma once

#include <string>

namespace varimel {

namespace midi_result {
inline constexpr int kOk = 0;
inline constexpr int kError = 1;          // anything without a code of its own
inline constexpr int kBadDevice = 2;      // no output with that device number or name
inline constexpr int kInvalidHandle = 5;  // the stream is closed
inline constexpr int kNoDriver = 6;       // built without any output backend
inline constexpr int kNoMemory = 7;
inline constexpr int kInvalidParam = 11;  // a null header, a tempo or division of 0, ...
inline constexpr int kUnprepared = 64;    // a buffer queued without being prepared
inline constexpr int kStillPlaying = 65;  // a buffer changed while it is still queued
inline constexpr int kNoDevice = 68;      // the output exists but cannot make sound now
inline constexpr int kNoSoundFont = 70;   // the built-in synthesiser has no instruments
inline constexpr int kPortFailed = 71;    // the output refused a message
}  // namespace midi_result

// The text of a result code; never empty.
std::string midiResultText(int result);

// Makes raiseMidiError throw these texts. Safe to call any number of times from any thread.
void installMidiErrorTexts();

}  // namespace varimel
