#include "playback/MidiResult.h"

#include <mutex>

#include "engine/Apperr.h"

namespace varimel {

std::string midiResultText(int result) {
    using namespace midi_result;
    switch (result) {
        case kOk:
            return "The operation completed successfully.";
        case kError:
            return "An unspecified error occurred in the MIDI output.";
        case kBadDevice:
            return "There is no MIDI output with this number or name.";
        case kInvalidHandle:
            return "The MIDI stream is not open.";
        case kNoDriver:
            return "No MIDI output is available: the program was built without one.";
        case kNoMemory:
            return "There is not enough memory for the MIDI output.";
        case kInvalidParam:
            return "An invalid value was passed to the MIDI stream.";
        case kUnprepared:
            return "The MIDI stream buffer has not been prepared.";
        case kStillPlaying:
            return "The MIDI stream buffer is still queued for playing.";
        case kNoDevice:
            return "The MIDI output cannot play now: no sound device or port is available.";
        case kNoSoundFont:
            return "No General MIDI sound font was found for the built-in synthesiser. "
                   "Install one (fluid-soundfont-gm) or set SoundFont in the settings.";
        case kPortFailed:
            return "The MIDI output refused a message.";
        default:
            return "Unknown MIDI output error " + std::to_string(result) + ".";
    }
}

void installMidiErrorTexts() {
    static std::once_flag installed;
    std::call_once(installed, [] { setMidiErrorTextProvider(midiResultText); });
}

}  // namespace varimel
