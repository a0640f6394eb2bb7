#include "support/wav.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>

#include "support/melody.h"

namespace varimel::test {

namespace {

uint32_t le(const std::vector<char>& bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
    }
    return value;
}

}  // namespace

Wav readWav(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
    Wav wav;
    if (bytes.size() < 44 || std::string(bytes.data(), 4) != "RIFF" ||
        std::string(bytes.data() + 8, 8) != "WAVEfmt " ||
        std::string(bytes.data() + 36, 4) != "data") {
        ADD_FAILURE() << "not a canonical WAV file";
        return wav;
    }
    EXPECT_EQ(le(bytes, 4, 4), bytes.size() - 8);
    EXPECT_EQ(le(bytes, 20, 2), 1u) << "PCM";
    wav.channels = static_cast<int>(le(bytes, 22, 2));
    wav.rate = static_cast<int>(le(bytes, 24, 4));
    wav.bits = static_cast<int>(le(bytes, 34, 2));
    const uint32_t dataBytes = le(bytes, 40, 4);
    EXPECT_EQ(dataBytes, bytes.size() - 44);
    if (wav.channels != 2 || wav.bits != 16) return wav;
    for (size_t at = 44; at + 4 <= bytes.size(); at += 4) {
        const auto left = static_cast<int16_t>(le(bytes, at, 2));
        const auto right = static_cast<int16_t>(le(bytes, at + 2, 2));
        wav.mono.push_back((left + right) / 65536.0);
    }
    return wav;
}

double rms(const std::vector<double>& samples, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += samples[i] * samples[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

double loudestFrequency(const std::vector<double>& samples, size_t from, size_t count, int rate) {
    std::vector<std::complex<double>> x(count);
    for (size_t i = 0; i < count; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / (count - 1));
        x[i] = samples[from + i] * hann;
    }
    for (size_t i = 1, j = 0; i < count; ++i) {  // bit reversal
        size_t bit = count >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (size_t length = 2; length <= count; length <<= 1) {
        const auto step = std::polar(1.0, -2 * std::numbers::pi / static_cast<double>(length));
        for (size_t start = 0; start < count; start += length) {
            std::complex<double> w = 1;
            for (size_t k = 0; k < length / 2; ++k, w *= step) {
                const auto even = x[start + k];
                const auto odd = x[start + k + length / 2] * w;
                x[start + k] = even + odd;
                x[start + k + length / 2] = even - odd;
            }
        }
    }
    size_t best = 1;
    for (size_t bin = 1; bin < count / 2; ++bin) {
        if (std::abs(x[bin]) > std::abs(x[best])) best = bin;
    }
    return static_cast<double>(best) * rate / static_cast<double>(count);
}

double midiPitch(double frequency) {
    return 69 + 12 * std::log2(frequency / 440.0);
}

std::vector<std::uint8_t> threeBarMelody() {
    return melody("4/4",
                  {{"A4", 1_beat},
                   {"C5", 1_beat},
                   {"E5", 1_beat},
                   {"G5", 1_beat},
                   {"F5", 1_beat},
                   {"D5", 1_beat},
                   {"B4", 1_beat},
                   {"G4", 1_beat},
                   {"A4", 4_beats}},
                  {.tempoBpm = 120});
}

}  // namespace varimel::test
