#include "ui/PlayerOutput.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "playback/MidiOutputs.h"
#include "playback/MidiResult.h"
#include "playback/RecordingPort.h"
#include "playback/Tmplay.h"
#include "playback/WavCapture.h"

namespace varimel {

namespace {

void configureCapture(PlayerContext& player, std::string_view file) {
    std::string error;
    std::shared_ptr<WavCapture> capture =
        WavCapture::create(std::filesystem::path(file), player.clock(), {}, error);
    if (!capture) {
        const std::string text =
            "Cannot capture playback to \"" + std::string(file) + "\": " + error;
        std::cerr << "varimel: " << text << '\n';
        player.setOutputOpener(
            [text](int, std::unique_ptr<OutputPort>&) -> int { throw AppError(text); });
        return;
    }
    player.setOutputOpener([capture](int, std::unique_ptr<OutputPort>& port) {
        port = capture->openPort();
        return midi_result::kOk;
    });
}

}  // namespace

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
    if (const std::string_view text(chosen); text.starts_with(kCaptureOutputPrefix)) {
        configureCapture(player, text.substr(std::string_view(kCaptureOutputPrefix).size()));
        return nullptr;
    }
    const int device = findOutput(chosen);
    if (device >= 0) player.device = device;
    return nullptr;
}

}  // namespace varimel
