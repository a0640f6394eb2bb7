// MidiOutputs: the MIDI outputs the player can use, by device number: the built-in synthesiser
// first, then the ALSA sequencer's ports. Device -1 is the default, the built-in synthesiser (or,
// in a build without it, the first sequencer port).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "playback/OutputPort.h"

namespace varimel {

inline constexpr std::string_view kBuiltInSynthName = "FluidSynth (built-in synthesiser)";

struct OutputDescription {
    std::string name;
    std::string kind;  // "synthesiser" or "ALSA sequencer port"
};

std::vector<OutputDescription> listOutputs();
// Answers a MidiResult code.
int openOutput(int device, std::unique_ptr<OutputPort>& port);
// The device number of the output whose name equals `name`, or else contains it (ignoring
// case); -2 when none does.
int findOutput(std::string_view name);
// Why the last open failed, in more words than its result code, or empty.
std::string lastOutputError();

}  // namespace varimel
