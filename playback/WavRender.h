// WavRender: renders a composition offline into a WAV file (44.1 kHz, 16-bit stereo) with the
// built-in synthesiser — the same events, in the same order, as the player sends, so the file
// sounds as playback does, only made far faster than real time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/Apperr.h"
#include "engine/ChannelSettings.h"

namespace varimel {

struct WavRenderOptions {
    int32_t rangeStart = 0;
    int32_t rangeEnd = -1;     // -1: the end of the notes
    int32_t tempo = 0;         // microseconds per quarter at the start; 0: the file's, scaled
    double tempoFactor = 1.0;  // the user's tempo / the file's, as the player applies it
    std::string soundFont;     // empty: the configured or system sound font
    // At most this long after the range end, so the last notes can ring out; the tail stops
    // sooner once the sound has decayed below -60 dBFS.
    double tailSeconds = 3.0;
};

struct WavRenderResult {
    bool ok = false;
    std::string error;
    int64_t frames = 0;       // stereo sample frames written
    double seconds = 0;       // length of the file
    double musicSeconds = 0;  // length of the range, without the tail
};

inline constexpr const char* kNoSynthesiserText =
    "This build has no built-in synthesiser to render with.";

// Whether this build can render (it needs the built-in synthesiser).
bool canRenderWav();

WavRenderResult renderToWav(const Composition& composition, const ChannelSettings& channels,
                            const WavRenderOptions& options, const std::filesystem::path& path);

}  // namespace varimel
