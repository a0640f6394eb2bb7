// The built-in synthesiser as both the real-time output and the offline renderer use it: one
// FluidSynth synthesiser with a General MIDI sound font, and short messages played into it.
// Private to playback; only sources built with FluidSynth include it.
#pragma once

#include <fluidsynth.h>

#include <cstdint>
#include <memory>
#include <string>

namespace varimel::fluid {

inline constexpr double kSampleRate = 44100.0;
// FluidSynth's own default (0.2) is faint next to other players; 0.5 leaves headroom for a band.
inline constexpr double kGain = 0.5;

// Routes FluidSynth's messages away from standard error; keeps the last error for our texts.
void quietLogs();
std::string lastLogError();

class Synth {
  public:
    // Loads the sound font; answers a MidiResult code, with details in `error`.
    static int create(const std::string& soundFont, bool threadSafe, std::unique_ptr<Synth>& synth,
                      std::string& error);
    ~Synth();
    Synth(const Synth&) = delete;
    Synth& operator=(const Synth&) = delete;

    fluid_settings_t* settings() const { return settings_; }
    fluid_synth_t* synth() const { return synth_; }
    const std::string& soundFont() const { return soundFont_; }

    // Plays one short message; anything but a channel message is ignored.
    void play(uint32_t message);
    void silence();

  private:
    Synth() = default;
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    std::string soundFont_;
};

}  // namespace varimel::fluid
