// AlsaSeqPort: an ALSA sequencer port as MIDI output (an external synthesiser, or a software one
// such as a running FluidSynth or TiMidity), listed and chosen by name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "playback/OutputPort.h"

namespace varimel {

// The sequencer's writable ports by name; empty when there is no sequencer.
std::vector<std::string> alsaOutputPorts();
// Opens the port with exactly this name; answers a MidiResult code.
int openAlsaPort(const std::string& name, std::unique_ptr<OutputPort>& port);

}  // namespace varimel
