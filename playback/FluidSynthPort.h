// FluidSynthPort: the built-in synthesiser as a MIDI output, heard through the system's sound
// server (PulseAudio or PipeWire) or ALSA. The synthesiser and its sound font are loaded on the
// first open and kept for the rest of the run, so each play starts at once.
#pragma once

#include <memory>
#include <string>

#include "playback/OutputPort.h"

namespace varimel {

// Answers a MidiResult code: kNoSoundFont without a sound font, kNoDevice without sound output.
int openFluidSynthPort(std::unique_ptr<OutputPort>& port);
// What went wrong in the last failed open, in FluidSynth's or the sound system's words.
std::string fluidSynthOpenError();

}  // namespace varimel
