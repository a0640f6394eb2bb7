#include "playback/WavRender.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/SafeWrite.h"
#include "playback/EventTable.h"
#include "playback/MidiResult.h"
#include "playback/MidiStream.h"
#include "playback/OutputPort.h"

#if VARIMEL_HAVE_FLUIDSYNTH
#include "playback/FluidSynthCommon.h"
#include "playback/SoundFont.h"
#endif

namespace varimel {

#if !VARIMEL_HAVE_FLUIDSYNTH

bool canRenderWav() {
    return false;
}

WavRenderResult renderToWav(const Composition&, const ChannelSettings&, const WavRenderOptions&,
                            const std::filesystem::path&) {
    WavRenderResult result;
    result.error = "This build has no built-in synthesiser to render with.";
    return result;
}

#else

namespace {

constexpr int kChannels = 2;
constexpr int kBitsPerSample = 16;
constexpr int kBlockFrames = 4096;
constexpr uint32_t kHeaderBytes = 44;
// The tail after the last note ends once the sound has decayed below -60 dBFS.
constexpr float kTailFloor = 0.001f;

void putLe(std::vector<char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The canonical 44-byte header of a PCM WAV file (RIFF, "fmt " and "data" chunks).
std::vector<char> wavHeader(uint32_t dataBytes) {
    const auto rate = static_cast<uint32_t>(fluid::kSampleRate);
    const uint32_t blockAlign = kChannels * kBitsPerSample / 8;
    std::vector<char> header;
    header.reserve(kHeaderBytes);
    for (char c : std::string_view("RIFF")) header.push_back(c);
    putLe(header, kHeaderBytes - 8 + dataBytes, 4);
    for (char c : std::string_view("WAVEfmt ")) header.push_back(c);
    putLe(header, 16, 4);  // size of the format chunk
    putLe(header, 1, 2);   // PCM
    putLe(header, kChannels, 2);
    putLe(header, rate, 4);
    putLe(header, rate * blockAlign, 4);
    putLe(header, blockAlign, 2);
    putLe(header, kBitsPerSample, 2);
    for (char c : std::string_view("data")) header.push_back(c);
    putLe(header, dataBytes, 4);
    return header;
}

// Streams the samples into the output; where the output cannot seek back (standard output, a
// FIFO), they are kept until close() so that the header can carry the real length.
class WavWriter {
  public:
    explicit WavWriter(fluid::Synth& synth) : synth_(synth) {}

    bool open(const std::filesystem::path& path) {
        if (!output_.open(path)) return false;
        const std::vector<char> header = wavHeader(0);
        return put(header.data(), header.size());
    }

    // Renders the synthesiser's output up to `frame` (frames from the file's start).
    bool renderTo(int64_t frame) {
        while (frames_ < frame && ok_)
            renderBlock(static_cast<int>(std::min<int64_t>(frame - frames_, kBlockFrames)));
        return ok_;
    }

    // Renders on until the last block's peak falls below `floor` or `maxFrames` more are made.
    bool renderTail(float floor, int64_t maxFrames) {
        const int64_t end = frames_ + maxFrames;
        while (frames_ < end && ok_) {
            if (renderBlock(static_cast<int>(std::min<int64_t>(end - frames_, kBlockFrames))) <
                floor)
                break;
        }
        return ok_;
    }

    bool close() {
        const uint64_t dataBytes = static_cast<uint64_t>(frames_) * kChannels * 2;
        const std::vector<char> header = wavHeader(static_cast<uint32_t>(dataBytes));
        if (!ok_) return false;
        if (output_.seekable()) {
            ok_ = std::fseek(output_.handle(), 0, SEEK_SET) == 0 &&
                  std::fwrite(header.data(), 1, header.size(), output_.handle()) == header.size();
        } else {
            std::copy(header.begin(), header.end(), held_.begin());
            ok_ = std::fwrite(held_.data(), 1, held_.size(), output_.handle()) == held_.size();
        }
        return output_.commit() && ok_;
    }

    int64_t frames() const { return frames_; }
    // Why the output failed, naming the file and the system's reason.
    const std::string& error() const { return output_.error(); }

  private:
    // Renders `count` frames and answers their peak level (0..1).
    float renderBlock(int count) {
        fluid_synth_write_float(synth_.synth(), count, floats_.data(), 0, kChannels, floats_.data(),
                                1, kChannels);
        float peak = 0;
        for (int i = 0; i < count * kChannels; ++i) {
            const float sample = std::clamp(floats_[static_cast<size_t>(i)], -1.0f, 1.0f);
            peak = std::max(peak, std::abs(sample));
            const auto value = static_cast<int16_t>(std::lrint(sample * 32767.0f));
            const auto bits = static_cast<uint16_t>(value);
            bytes_[static_cast<size_t>(2 * i)] = static_cast<char>(bits & 0xFF);
            bytes_[static_cast<size_t>(2 * i + 1)] = static_cast<char>(bits >> 8);
        }
        ok_ = put(bytes_.data(), static_cast<size_t>(count * kChannels * 2)) && ok_;
        frames_ += count;
        return peak;
    }

    bool put(const char* data, size_t size) {
        if (!output_.seekable()) {
            held_.insert(held_.end(), data, data + size);
            return true;
        }
        return std::fwrite(data, 1, size, output_.handle()) == size;
    }

    fluid::Synth& synth_;
    OutputFile output_;
    std::vector<char> held_;
    bool ok_ = true;
    int64_t frames_ = 0;
    std::array<float, kBlockFrames * kChannels> floats_{};
    std::array<char, kBlockFrames * kChannels * 2> bytes_{};
};

int64_t frameAt(double seconds) {
    return std::llround(seconds * fluid::kSampleRate);
}

}  // namespace

bool canRenderWav() {
    return true;
}

WavRenderResult renderToWav(const Composition& composition, const ChannelSettings& channels,
                            const WavRenderOptions& options, const std::filesystem::path& path) {
    installMidiErrorTexts();
    WavRenderResult result;
    std::unique_ptr<fluid::Synth> synth;
    if (fluid::Synth::create(findSoundFont(options.soundFont), false, synth, result.error) !=
        midi_result::kOk) {
        return result;
    }

    const int32_t end =
        options.rangeEnd < 0 ? composition.noteTracks().melodyEndTick() : options.rangeEnd;
    EventTable table;
    try {
        table.build(composition, options.rangeStart, end);
    } catch (const AppError& e) {
        result.error = e.what();
        return result;
    }

    // What the player sends when it starts: each channel's program, then its volume (0 for a
    // silenced channel).
    ChannelSettings settings = channels;
    settings.updateSoloMode();
    for (int channel = 0; channel < ChannelSettings::kChannels; ++channel) {
        synth->play(
            shortMessage(0xC0 | channel, settings.program[static_cast<size_t>(channel)], 0));
    }
    for (int channel = 0; channel < ChannelSettings::kChannels; ++channel) {
        const int volume =
            settings.silenced(channel) ? 0 : settings.volume[static_cast<size_t>(channel)];
        synth->play(shortMessage(0xB0 | channel, 7, volume));
    }

    const double division = std::max<int>(composition.ticksPerQuarter, 1);
    double tempo = options.tempo > 0
                       ? options.tempo
                       : composition.eventValue(event_kind::kTempo, 0) * options.tempoFactor;
    tempo = std::clamp(tempo, 1.0, double{stream_event::kParameterMask});

    WavWriter writer(*synth);
    if (!writer.open(path)) {
        result.error = writer.error();
        return result;
    }
    // Dropping the writer unfinished removes its temporary file and leaves the target alone.
    auto fail = [&](std::string text) {
        result.error = std::move(text);
        return result;
    };
    const std::string writeError = "cannot write " + path.string();
    const std::string lengthError = "The piece is too long for a WAV file.";
    constexpr int64_t kMaxFrames =
        (std::numeric_limits<uint32_t>::max() - kHeaderBytes) / (kChannels * 2);

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
            if (frameAt(seconds) > kMaxFrames) return fail(lengthError);
            if (!writer.renderTo(frameAt(seconds))) return fail(writeError);
            const uint32_t word = words[i + 2];
            if (eventType(word) == stream_event::kTempo) {
                tempo = std::max<double>(word & stream_event::kParameterMask, 1);
            } else if (eventType(word) == stream_event::kShortMessage) {
                synth->play(word & stream_event::kParameterMask);
            }
        }
    }
    result.musicSeconds = seconds;
    const int64_t tailFrames =
        std::min(frameAt(std::max(options.tailSeconds, 0.0)), kMaxFrames - writer.frames());
    if (tailFrames < 0) return fail(lengthError);
    if (!writer.renderTail(kTailFloor, tailFrames)) return fail(writeError);
    if (!writer.close()) return fail(writer.error().empty() ? writeError : writer.error());
    result.ok = true;
    result.frames = writer.frames();
    result.seconds = static_cast<double>(result.frames) / fluid::kSampleRate;
    return result;
}

#endif

}  // namespace varimel
