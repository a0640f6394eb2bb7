// Reading back the WAV files the renderers write, and measuring them: loudness and pitch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace varimel::test {

struct Wav {
    int channels = 0;
    int rate = 0;
    int bits = 0;
    std::vector<double> mono;  // the channels' mean, -1..1

    double seconds() const { return rate > 0 ? static_cast<double>(mono.size()) / rate : 0.0; }
};

// Reads a canonical PCM WAV file (44-byte header); a test failure when it is not one or its
// sizes disagree with the file. Samples are read for 16-bit stereo only.
Wav readWav(const std::filesystem::path& path);

// The root mean square of samples [from, to).
double rms(const std::vector<double>& samples, std::size_t from, std::size_t to);

// The frequency of the strongest bin of a Hann-windowed FFT of `count` (a power of two) samples.
double loudestFrequency(const std::vector<double>& samples, std::size_t from, std::size_t count,
                        int rate);

// The MIDI key number (fractional) of a frequency.
double midiPitch(double frequency);

// A melody to render: three bars of 4/4 at 120 BPM, six seconds, in quarter notes
// A4 C5 E5 G5 | F5 D5 B4 G4 | and a whole A4.
std::vector<std::uint8_t> threeBarMelody();

}  // namespace varimel::test
