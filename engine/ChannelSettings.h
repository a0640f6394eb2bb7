// ChannelSettings: the open document's table of program, volume, mute and solo for the 16 MIDI
// channels. Owned by the document's view; read by the player, the export and the accompaniment
// decisions. Channel 0 carries the melody, 1 the chords or style, 2 organ, 3 bass, 9 drums.
#pragma once

#include <array>
#include <cstdint>

namespace varimel {

struct ChannelSettings {
    static constexpr int kChannels = 16;
    static constexpr uint8_t kDefaultVolume = 100;

    std::array<uint8_t, kChannels> program{};
    std::array<uint8_t, kChannels> volume{};
    std::array<uint8_t, kChannels> mute{};
    std::array<uint8_t, kChannels> solo{};
    uint8_t soloMode = 0;  // 1 when any solo flag is set; recomputed when playback starts

    ChannelSettings() { reset(); }

    void reset() {
        program.fill(0);
        volume.fill(kDefaultVolume);
        mute.fill(0);
        solo.fill(0);
        soloMode = 0;
    }
    void updateSoloMode() {
        soloMode = 0;
        for (uint8_t flag : solo) soloMode |= flag ? 1 : 0;
    }
    // A silenced channel is muted, or not solo while another channel is.
    bool silenced(int channel) const {
        if (channel < 0 || channel >= kChannels) return true;
        return mute[static_cast<size_t>(channel)] != 0 ||
               (soloMode != 0 && solo[static_cast<size_t>(channel)] == 0);
    }
};

}  // namespace varimel
