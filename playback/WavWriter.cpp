#include "playback/WavWriter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>

#include "playback/MidiResult.h"
#include "playback/SoundFont.h"

namespace varimel::fluid {

namespace {

constexpr int kBitsPerSample = 16;
constexpr uint32_t kHeaderBytes = 44;
// The most frames the 32-bit sizes of a WAV file can hold.
constexpr int64_t kMaxFrames =
    (std::numeric_limits<uint32_t>::max() - kHeaderBytes) / (kWavChannels * 2);
// A tail after the last note ends once the sound has decayed below -60 dBFS.
constexpr float kTailFloor = 0.001f;

void putLe(std::vector<char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The canonical 44-byte header of a PCM WAV file (RIFF, "fmt " and "data" chunks).
std::vector<char> wavHeader(uint32_t dataBytes) {
    const auto rate = static_cast<uint32_t>(kSampleRate);
    const uint32_t blockAlign = kWavChannels * kBitsPerSample / 8;
    std::vector<char> header;
    header.reserve(kHeaderBytes);
    for (char c : std::string_view("RIFF")) header.push_back(c);
    putLe(header, kHeaderBytes - 8 + dataBytes, 4);
    for (char c : std::string_view("WAVEfmt ")) header.push_back(c);
    putLe(header, 16, 4);  // size of the format chunk
    putLe(header, 1, 2);   // PCM
    putLe(header, kWavChannels, 2);
    putLe(header, rate, 4);
    putLe(header, rate * blockAlign, 4);
    putLe(header, blockAlign, 2);
    putLe(header, kBitsPerSample, 2);
    for (char c : std::string_view("data")) header.push_back(c);
    putLe(header, dataBytes, 4);
    return header;
}

int64_t frameAt(double seconds) {
    return std::llround(seconds * kSampleRate);
}

}  // namespace

std::unique_ptr<WavWriter> WavWriter::open(const std::string& soundFont,
                                           const std::filesystem::path& path, std::string& error) {
    std::unique_ptr<Synth> synth;
    if (Synth::create(findSoundFont(soundFont), false, synth, error) != midi_result::kOk) {
        return nullptr;
    }
    std::unique_ptr<WavWriter> writer(new WavWriter(std::move(synth), path));
    const std::vector<char> header = wavHeader(0);
    if (!writer->output_.open(path) || !writer->put(header.data(), header.size())) {
        error = writer->output_.error();
        return nullptr;
    }
    return writer;
}

WavWriter::WavWriter(std::unique_ptr<Synth> synth, std::filesystem::path path)
    : synth_(std::move(synth)), path_(std::move(path)) {}

bool WavWriter::fail(std::string text) {
    error_ = std::move(text);
    return false;
}

bool WavWriter::renderUntil(double seconds) {
    const int64_t frame = frameAt(seconds);
    if (frame > kMaxFrames) return fail("The piece is too long for a WAV file.");
    return renderTo(frame) || fail("cannot write " + path_.string());
}

WavRenderResult WavWriter::finish(double musicSeconds, double tailSeconds) {
    WavRenderResult result;
    result.musicSeconds = musicSeconds;
    const int64_t tailFrames =
        std::clamp<int64_t>(frameAt(std::max(tailSeconds, 0.0)), 0, kMaxFrames - frames_);
    if (!renderTail(kTailFloor, tailFrames)) {
        result.error = "cannot write " + path_.string();
    } else if (!close()) {
        result.error = output_.error().empty() ? "cannot write " + path_.string() : output_.error();
    } else {
        result.ok = true;
        result.frames = frames_;
        result.seconds = static_cast<double>(frames_) / kSampleRate;
    }
    return result;
}

bool WavWriter::renderTo(int64_t frame) {
    while (frames_ < frame && ok_)
        renderBlock(static_cast<int>(std::min<int64_t>(frame - frames_, kBlockFrames)));
    return ok_;
}

bool WavWriter::renderTail(float floor, int64_t maxFrames) {
    const int64_t end = frames_ + maxFrames;
    while (frames_ < end && ok_) {
        if (renderBlock(static_cast<int>(std::min<int64_t>(end - frames_, kBlockFrames))) < floor)
            break;
    }
    return ok_;
}

bool WavWriter::close() {
    const uint64_t dataBytes = static_cast<uint64_t>(frames_) * kWavChannels * 2;
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

float WavWriter::renderBlock(int count) {
    fluid_synth_write_float(synth_->synth(), count, floats_.data(), 0, kWavChannels, floats_.data(),
                            1, kWavChannels);
    float peak = 0;
    for (int i = 0; i < count * kWavChannels; ++i) {
        const float sample = std::clamp(floats_[static_cast<size_t>(i)], -1.0f, 1.0f);
        peak = std::max(peak, std::abs(sample));
        const auto value = static_cast<int16_t>(std::lrint(sample * 32767.0f));
        const auto bits = static_cast<uint16_t>(value);
        bytes_[static_cast<size_t>(2 * i)] = static_cast<char>(bits & 0xFF);
        bytes_[static_cast<size_t>(2 * i + 1)] = static_cast<char>(bits >> 8);
    }
    ok_ = put(bytes_.data(), static_cast<size_t>(count * kWavChannels * 2)) && ok_;
    frames_ += count;
    return peak;
}

bool WavWriter::put(const char* data, size_t size) {
    if (!output_.seekable()) {
        held_.insert(held_.end(), data, data + size);
        return true;
    }
    return std::fwrite(data, 1, size, output_.handle()) == size;
}

}  // namespace varimel::fluid
