#include "playback/WavRender.h"

#include <algorithm>
#include <vector>

#include "playback/EventTable.h"
#include "playback/MidiResult.h"
#include "playback/MidiStream.h"
#include "playback/OutputPort.h"

#if VARIMEL_HAVE_FLUIDSYNTH
#include "playback/FluidSynthCommon.h"
#include "playback/WavWriter.h"
#endif

namespace varimel {

#if !VARIMEL_HAVE_FLUIDSYNTH

bool canRenderWav() {
    return false;
}

WavRenderResult renderToWav(const Composition&, const ChannelSettings&, const WavRenderOptions&,
                            const std::filesystem::path&) {
    WavRenderResult result;
    result.error = kNoSynthesiserText;
    return result;
}

#else

bool canRenderWav() {
    return true;
}

WavRenderResult renderToWav(const Composition& composition, const ChannelSettings& channels,
                            const WavRenderOptions& options, const std::filesystem::path& path) {
    installMidiErrorTexts();
    WavRenderResult result;
    const int32_t end =
        options.rangeEnd < 0 ? composition.noteTracks().melodyEndTick() : options.rangeEnd;
    EventTable table;
    try {
        table.build(composition, options.rangeStart, end);
    } catch (const AppError& e) {
        result.error = e.what();
        return result;
    }
    const std::unique_ptr<fluid::WavWriter> writer =
        fluid::WavWriter::open(options.soundFont, path, result.error);
    if (!writer) return result;
    fluid::Synth& synth = writer->synth();

    // What the player sends when it starts: each channel's program, then its volume (0 for a
    // silenced channel).
    ChannelSettings settings = channels;
    settings.updateSoloMode();
    for (int channel = 0; channel < ChannelSettings::kChannels; ++channel) {
        synth.play(shortMessage(0xC0 | channel, settings.program[static_cast<size_t>(channel)], 0));
    }
    for (int channel = 0; channel < ChannelSettings::kChannels; ++channel) {
        const int volume =
            settings.silenced(channel) ? 0 : settings.volume[static_cast<size_t>(channel)];
        synth.play(shortMessage(0xB0 | channel, 7, volume));
    }

    const double division = std::max<int>(composition.ticksPerQuarter, 1);
    double tempo = options.tempo > 0
                       ? options.tempo
                       : composition.eventValue(event_kind::kTempo, 0) * options.tempoFactor;
    tempo = std::clamp(tempo, 1.0, double{stream_event::kParameterMask});

    // Leaving early drops the writer unfinished: its temporary file goes, the target stays.
    std::vector<uint32_t> words(kStreamBufferWords);
    double seconds = 0;
    int more = 1;
    while (more == 1) {
        uint32_t used = 0;
        uint32_t events = 0;
        more = table.fill(words, used, events, settings, options.tempoFactor);
        for (uint32_t i = 0; i + stream_event::kWordsPerEvent <= used;
             i += stream_event::kWordsPerEvent) {
            seconds += words[i] * tempo / (division * 1e6);
            if (!writer->renderUntil(seconds)) {
                result.error = writer->error();
                return result;
            }
            const uint32_t word = words[i + 2];
            if (eventType(word) == stream_event::kTempo) {
                tempo = std::max<double>(word & stream_event::kParameterMask, 1);
            } else if (eventType(word) == stream_event::kShortMessage) {
                synth.play(word & stream_event::kParameterMask);
            }
        }
    }
    return writer->finish(seconds, options.tailSeconds);
}

#endif

}  // namespace varimel
