// WavWriter: the built-in synthesiser's output written as a WAV file (44.1 kHz, 16-bit stereo)
// through SafeWrite, block by block. Private to playback; only sources built with FluidSynth
// include it.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/SafeWrite.h"
#include "playback/FluidSynthCommon.h"
#include "playback/WavRender.h"

namespace varimel::fluid {

inline constexpr int kWavChannels = 2;

// The synthesiser with its sound font and the file it renders into. Samples are streamed into the
// output; where the output cannot seek back (standard output, a FIFO), they are kept until the
// end so that the header can carry the real length. Dropped unfinished, it removes its temporary
// file and leaves the target alone.
class WavWriter {
  public:
    // Loads the sound font (or the configured or system one when `soundFont` names no file) and
    // opens the file; null, with `error` set, when either fails.
    static std::unique_ptr<WavWriter> open(const std::string& soundFont,
                                           const std::filesystem::path& path, std::string& error);
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    Synth& synth() { return *synth_; }
    // Renders the sound up to `seconds` from the file's start; false, with error() set, when the
    // file would grow too long or cannot be written.
    bool renderUntil(double seconds);
    // Lets the last notes ring out for at most `tailSeconds` (less once they have decayed),
    // completes the file and answers the result; `musicSeconds` is the length before the tail.
    WavRenderResult finish(double musicSeconds, double tailSeconds);
    const std::string& error() const { return error_; }

  private:
    static constexpr int kBlockFrames = 4096;

    WavWriter(std::unique_ptr<Synth> synth, std::filesystem::path path);
    bool renderTo(int64_t frame);
    bool renderTail(float floor, int64_t maxFrames);
    bool close();
    // Renders `count` frames and answers their peak level (0..1).
    float renderBlock(int count);
    bool put(const char* data, size_t size);
    bool fail(std::string text);

    std::unique_ptr<Synth> synth_;
    std::filesystem::path path_;
    OutputFile output_;
    std::vector<char> held_;
    bool ok_ = true;
    int64_t frames_ = 0;
    std::string error_;
    std::array<float, kBlockFrames * kWavChannels> floats_{};
    std::array<char, kBlockFrames * kWavChannels * 2> bytes_{};
};

}  // namespace varimel::fluid
