#include "playback/FluidSynthCommon.h"

#include <mutex>

#include "playback/MidiResult.h"
#include "playback/OutputPort.h"

namespace varimel::fluid {

namespace {

std::mutex logMutex;
std::string lastError;

void keepError(int, const char* message, void*) {
    std::lock_guard lock(logMutex);
    lastError = message ? message : "";
}

void discard(int, const char*, void*) {}

}  // namespace

void quietLogs() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, keepError, nullptr);
        fluid_set_log_function(FLUID_ERR, keepError, nullptr);
        fluid_set_log_function(FLUID_WARN, discard, nullptr);
        fluid_set_log_function(FLUID_INFO, discard, nullptr);
        fluid_set_log_function(FLUID_DBG, discard, nullptr);
    });
}

std::string lastLogError() {
    std::lock_guard lock(logMutex);
    return lastError;
}

int Synth::create(const std::string& soundFont, bool threadSafe, std::unique_ptr<Synth>& synth,
                  std::string& error) {
    quietLogs();
    synth.reset();
    if (soundFont.empty()) {
        error = midiResultText(midi_result::kNoSoundFont);
        return midi_result::kNoSoundFont;
    }
    std::unique_ptr<Synth> made(new Synth);
    made->settings_ = new_fluid_settings();
    if (!made->settings_) return midi_result::kNoMemory;
    fluid_settings_setnum(made->settings_, "synth.sample-rate", kSampleRate);
    fluid_settings_setnum(made->settings_, "synth.gain", kGain);
    fluid_settings_setint(made->settings_, "synth.threadsafe-api", threadSafe ? 1 : 0);
    // Only the samples of the programs in use are read: a full General MIDI font is large.
    fluid_settings_setint(made->settings_, "synth.dynamic-sample-loading", 1);
    made->synth_ = new_fluid_synth(made->settings_);
    if (!made->synth_) {
        error = lastLogError();
        return midi_result::kError;
    }
    if (fluid_synth_sfload(made->synth_, soundFont.c_str(), 1) == FLUID_FAILED) {
        error = "Cannot load the sound font " + soundFont + ": " + lastLogError();
        return midi_result::kNoSoundFont;
    }
    made->soundFont_ = soundFont;
    synth = std::move(made);
    return midi_result::kOk;
}

Synth::~Synth() {
    if (synth_) delete_fluid_synth(synth_);
    if (settings_) delete_fluid_settings(settings_);
}

void Synth::play(uint32_t message) {
    const int status = messageStatus(message);
    const int channel = status & 0x0F;
    const int data1 = messageData1(message);
    const int data2 = messageData2(message);
    switch (status & 0xF0) {
        case 0x80:
            fluid_synth_noteoff(synth_, channel, data1);
            break;
        case 0x90:
            // Velocity 0 is a note off (the MIDI standard's running-status convention).
            if (data2 == 0) {
                fluid_synth_noteoff(synth_, channel, data1);
            } else {
                fluid_synth_noteon(synth_, channel, data1, data2);
            }
            break;
        case 0xA0:
            fluid_synth_key_pressure(synth_, channel, data1, data2);
            break;
        case 0xB0:
            fluid_synth_cc(synth_, channel, data1, data2);
            break;
        case 0xC0:
            fluid_synth_program_change(synth_, channel, data1);
            break;
        case 0xD0:
            fluid_synth_channel_pressure(synth_, channel, data1);
            break;
        case 0xE0:
            fluid_synth_pitch_bend(synth_, channel, data1 | data2 << 7);
            break;
        default:
            break;
    }
}

void Synth::silence() {
    fluid_synth_all_sounds_off(synth_, -1);
}

}  // namespace varimel::fluid
