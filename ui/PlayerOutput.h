// PlayerOutput: chooses the player's MIDI output from the environment. VARIMEL_OUTPUT unset gives
// the default output (device -1, the built-in synthesiser); "recording" keeps every message in
// the process for tests; "capture:FILE.wav" renders every playback into FILE.wav with the built-in
// synthesiser, no sound device needed; any other text names an output.
#pragma once

#include <memory>

namespace varimel {

class PlayerContext;
class Recording;

inline constexpr const char* kOutputEnvVar = "VARIMEL_OUTPUT";
inline constexpr const char* kRecordingOutput = "recording";
inline constexpr const char* kCaptureOutputPrefix = "capture:";

// Answers the recording when the output records, else null. A capture that cannot work (no
// synthesiser or sound font, a file that cannot be written) is told on standard error, and the
// player's start then fails with the same text.
std::shared_ptr<Recording> configurePlayerOutput(PlayerContext& player);

}  // namespace varimel
