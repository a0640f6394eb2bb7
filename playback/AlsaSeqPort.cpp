#include "playback/AlsaSeqPort.h"

#include <RtMidi.h>

#include <array>
#include <cstddef>

#include "playback/MidiResult.h"

#if VARIMEL_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace varimel {

namespace {

constexpr const char* kClientName = "Varimel";

#if VARIMEL_HAVE_ALSA
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif

// RtMidi reports through exceptions or, with a callback, through the callback: we answer codes.
void ignoreRtMidiError(RtMidiError::Type, const std::string&, void*) {}

std::unique_ptr<RtMidiOut> makeClient() {
#if VARIMEL_HAVE_ALSA
    snd_lib_error_set_handler(quietAlsa);
    // RtMidi prints its complaint before throwing when there is no sequencer: ask first.
    snd_seq_t* sequencer = nullptr;
    if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) return nullptr;
    snd_seq_close(sequencer);
#endif
    try {
        auto client = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, kClientName);
        client->setErrorCallback(ignoreRtMidiError, nullptr);
        return client;
    } catch (const RtMidiError&) {
        return nullptr;  // no sequencer on this machine
    }
}

class AlsaSeqPort final : public OutputPort {
  public:
    explicit AlsaSeqPort(std::unique_ptr<RtMidiOut> client) : client_(std::move(client)) {}

    void send(uint32_t message, ClockTime) override {
        const int status = messageStatus(message);
        const std::array<unsigned char, 3> bytes{static_cast<unsigned char>(status),
                                                 static_cast<unsigned char>(messageData1(message)),
                                                 static_cast<unsigned char>(messageData2(message))};
        const auto length = static_cast<std::size_t>(1 + messageDataLength(status));
        try {
            client_->sendMessage(bytes.data(), length);
        } catch (const RtMidiError&) {
            // The port went away; the next open reports it.
        }
    }

    void silence() override {
        // Sustain off, all sound off, all notes off on every channel (MIDI 1.0 channel mode
        // messages 120 and 123): a reset that any synthesiser understands.
        for (int channel = 0; channel < 16; ++channel) {
            for (const int controller : {64, 120, 123}) {
                send(shortMessage(0xB0 | channel, controller, 0), 0);
            }
        }
    }

  private:
    std::unique_ptr<RtMidiOut> client_;
};

}  // namespace

std::vector<std::string> alsaOutputPorts() {
    std::vector<std::string> names;
    std::unique_ptr<RtMidiOut> client = makeClient();
    if (!client) return names;
    try {
        const unsigned count = client->getPortCount();
        for (unsigned i = 0; i < count; ++i) names.push_back(client->getPortName(i));
    } catch (const RtMidiError&) {
        names.clear();
    }
    return names;
}

int openAlsaPort(const std::string& name, std::unique_ptr<OutputPort>& port) {
    std::unique_ptr<RtMidiOut> client = makeClient();
    if (!client) return midi_result::kNoDevice;
    try {
        const unsigned count = client->getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            if (client->getPortName(i) != name) continue;
            client->openPort(i, "Varimel output");
            if (!client->isPortOpen()) return midi_result::kNoDevice;
            port = std::make_unique<AlsaSeqPort>(std::move(client));
            return midi_result::kOk;
        }
    } catch (const RtMidiError&) {
        return midi_result::kNoDevice;
    }
    return midi_result::kBadDevice;
}

}  // namespace varimel
