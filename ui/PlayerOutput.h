// PlayerOutput: chooses the player's MIDI output from the environment. VARIMEL_OUTPUT unset gives
// the default output (device -1, the built-in synthesiser); "recording" keeps every message in
// the process for tests; any other text names an output.
#pragma once

#include <memory>

namespace varimel {

class PlayerContext;
class Recording;

inline constexpr const char* kOutputEnvVar = "VARIMEL_OUTPUT";
inline constexpr const char* kRecordingOutput = "recording";

// Answers the recording when the output records, else null.
std::shared_ptr<Recording> configurePlayerOutput(PlayerContext& player);

}  // namespace varimel
