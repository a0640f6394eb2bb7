#include "playback/MidiOutputs.h"

#include <algorithm>
#include <cctype>

#include "playback/MidiResult.h"

#if VARIMEL_HAVE_FLUIDSYNTH
#include "playback/FluidSynthPort.h"
#endif
#if VARIMEL_HAVE_RTMIDI
#include "playback/AlsaSeqPort.h"
#endif

namespace varimel {

namespace {

std::string lower(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

}  // namespace

std::vector<OutputDescription> listOutputs() {
    std::vector<OutputDescription> outputs;
#if VARIMEL_HAVE_FLUIDSYNTH
    outputs.push_back({std::string(kBuiltInSynthName), "synthesiser"});
#endif
#if VARIMEL_HAVE_RTMIDI
    for (std::string& name : alsaOutputPorts()) {
        outputs.push_back({std::move(name), "ALSA sequencer port"});
    }
#endif
    return outputs;
}

int openOutput(int device, std::unique_ptr<OutputPort>& port) {
    port.reset();
#if VARIMEL_HAVE_FLUIDSYNTH
    if (device == -1 || device == 0) return openFluidSynthPort(port);
#endif
    const std::vector<OutputDescription> outputs = listOutputs();
    if (outputs.empty()) {
#if VARIMEL_HAVE_RTMIDI
        return midi_result::kNoDevice;
#else
        return midi_result::kNoDriver;
#endif
    }
    if (device == -1) device = 0;
    if (device < 0 || device >= static_cast<int>(outputs.size())) return midi_result::kBadDevice;
#if VARIMEL_HAVE_RTMIDI
    return openAlsaPort(outputs[static_cast<size_t>(device)].name, port);
#else
    return midi_result::kBadDevice;
#endif
}

int findOutput(std::string_view name) {
    const std::vector<OutputDescription> outputs = listOutputs();
    const std::string wanted = lower(name);
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (lower(outputs[i].name) == wanted) return static_cast<int>(i);
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (lower(outputs[i].name).find(wanted) != std::string::npos) return static_cast<int>(i);
    }
    return -2;
}

std::string lastOutputError() {
#if VARIMEL_HAVE_FLUIDSYNTH
    return fluidSynthOpenError();
#else
    return {};
#endif
}

}  // namespace varimel
