#include "ui/PlayerOutput.h"

#include <cstdlib>
#include <string>

#include "playback/MidiOutputs.h"
#include "playback/MidiResult.h"
#include "playback/RecordingPort.h"
#include "playback/Tmplay.h"

namespace varimel {

std::shared_ptr<Recording> configurePlayerOutput(PlayerContext& player) {
    const char* chosen = std::getenv(kOutputEnvVar);
    player.device = PlayerContext::kDefaultDevice;
    if (chosen == nullptr || *chosen == '\0') return nullptr;
    if (std::string(chosen) == kRecordingOutput) {
        auto recording = std::make_shared<Recording>();
        Clock& clock = player.clock();
        player.setOutputOpener([recording, &clock](int, std::unique_ptr<OutputPort>& port) {
            port = std::make_unique<RecordingPort>(recording, clock);
            return midi_result::kOk;
        });
        return recording;
    }
    const int device = findOutput(chosen);
    if (device >= 0) player.device = device;
    return nullptr;
}

}  // namespace varimel
