#include "playback/FluidSynthPort.h"

#include <mutex>
#include <utility>

#include "playback/FluidSynthCommon.h"
#include "playback/MidiResult.h"
#include "playback/SoundFont.h"

#if VARIMEL_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace varimel {

namespace {

// The synthesiser and its audio output, shared by every port opened on it.
class RealtimeSynth {
  public:
    static int create(std::shared_ptr<RealtimeSynth>& made, std::string& error) {
        auto synth = std::shared_ptr<RealtimeSynth>(new RealtimeSynth);
        const int result = fluid::Synth::create(findSoundFont(), true, synth->synth_, error);
        if (result != midi_result::kOk) return result;
        // A sound server first (PipeWire answers as PulseAudio), then the ALSA device; JACK is
        // left out because its client would try to start a server of its own.
        for (const char* driver : {"pulseaudio", "alsa"}) {
            fluid_settings_setstr(synth->synth_->settings(), "audio.driver", driver);
            synth->driver_ =
                new_fluid_audio_driver(synth->synth_->settings(), synth->synth_->synth());
            if (synth->driver_) break;
        }
        if (!synth->driver_) {
            error = "No sound output for the built-in synthesiser: " + fluid::lastLogError();
            return midi_result::kNoDevice;
        }
        made = std::move(synth);
        return midi_result::kOk;
    }

    ~RealtimeSynth() {
        if (driver_) delete_fluid_audio_driver(driver_);
    }

    fluid::Synth& synth() { return *synth_; }

  private:
    RealtimeSynth() = default;
    std::unique_ptr<fluid::Synth> synth_;
    fluid_audio_driver_t* driver_ = nullptr;
};

class FluidSynthPort final : public OutputPort {
  public:
    explicit FluidSynthPort(std::shared_ptr<RealtimeSynth> synth) : synth_(std::move(synth)) {}
    void send(uint32_t message, ClockTime) override { synth_->synth().play(message); }
    void silence() override { synth_->synth().silence(); }

  private:
    std::shared_ptr<RealtimeSynth> synth_;
};

std::mutex sharedMutex;
std::shared_ptr<RealtimeSynth> shared;
std::string openError;

#if VARIMEL_HAVE_ALSA
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif

}  // namespace

int openFluidSynthPort(std::unique_ptr<OutputPort>& port) {
    std::lock_guard lock(sharedMutex);
    if (!shared) {
#if VARIMEL_HAVE_ALSA
        // Probing for a sound card prints ALSA's complaints; the result code says it better.
        snd_lib_error_set_handler(quietAlsa);
#endif
        openError.clear();
        const int result = RealtimeSynth::create(shared, openError);
        if (result != midi_result::kOk) return result;
    }
    port = std::make_unique<FluidSynthPort>(shared);
    return midi_result::kOk;
}

std::string fluidSynthOpenError() {
    std::lock_guard lock(sharedMutex);
    return openError;
}

}  // namespace varimel
