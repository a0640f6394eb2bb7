// A long melody for the window's benchmarks: a format-1 file of 4/4 quarters walking up and down
// a C major scale, written to the temporary folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace varimel {

inline void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}
inline void putDelta(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[5];
    int n = 0;
    do {
        bytes[n++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value);
    while (n > 0) {
        --n;
        out.push_back(static_cast<uint8_t>(bytes[n] | (n > 0 ? 0x80 : 0)));
    }
}

// A file of `bars` bars of 4/4 quarters walking up and down a C major scale.
inline std::filesystem::path longMelody(int bars) {
    std::vector<uint8_t> track = {0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08,
                                  0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};
    const int scale[] = {60, 62, 64, 65, 67, 69, 71, 72, 71, 69, 67, 65, 64, 62};
    for (int i = 0; i < bars * 4; ++i) {
        const auto key = static_cast<uint8_t>(scale[i % 14]);
        track.insert(track.end(), {0x00, 0x90, key, 0x50});
        putDelta(track, 480);
        track.insert(track.end(), {0x80, key, 0x00});
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0};
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    put32(file, static_cast<uint32_t>(track.size()));
    file.insert(file.end(), track.begin(), track.end());
    const auto path = std::filesystem::temp_directory_path() /
                      ("varimel-views-bench-" + std::to_string(bars) + ".mid");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    return path;
}

}  // namespace varimel
