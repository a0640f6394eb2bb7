// InstrumentsGrid: the instruments dialog's table without its controls — which channel each row
// shows, the cell texts, the mute and solo toggles and the volume a typed text gives.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "engine/ChannelSettings.h"

namespace varimel::model {

class InstrumentNames;

class InstrumentsGrid {
  public:
    static constexpr int kRows = 6;  // the header row and five channels
    static constexpr int kColumns = 5;
    static constexpr int kRowHeight = 18;
    static constexpr std::array<int, kColumns> kColumnWidths{20, 195, 36, 36, 50};
    static constexpr std::array<std::string_view, kColumns> kHeaders{"#", "Patch", "Mute", "Solo",
                                                                     "Volume"};
    enum Column { kNumberColumn, kPatchColumn, kMuteColumn, kSoloColumn, kVolumeColumn };
    static constexpr int kMelodyChannel = 0;
    static constexpr int kAccompanimentChannel = 1;
    static constexpr int kDrumsChannel = 9;
    static constexpr int kMaxVolumeDigits = 3;
    static constexpr int kMaxVolume = 127;

    // Rows 1..5 show channels 0, 1, 2, 3 and 9; -1 for any other row.
    static int channelOfRow(int row);
    // The row of a channel; -1 for a channel the grid does not show.
    static int rowOfChannel(int channel);
    // "Melody channel" ... "Drums channel"; empty for the header and rows outside the grid.
    static std::string_view statusText(int row);
    // The drums have one kit: their Patch cell offers no chooser.
    static bool hasPatchChooser(int row) { return row >= 1 && row < kRows && row != 5; }

    static std::string cellText(const ChannelSettings& settings, const InstrumentNames& names,
                                int row, int column);
    static std::string patchText(const InstrumentNames& names, int channel, int program);

    // A flag of 1 becomes 0, any other value 1. Answer the new flag.
    static uint8_t toggleMute(ChannelSettings& settings, int channel);
    // The same for solo; when the channel becomes solo every other channel's solo is cleared.
    static uint8_t toggleSolo(ChannelSettings& settings, int channel);

    // What the volume editor keeps of a typed or pasted text: its digits, at most three.
    static std::string volumeDigits(std::string_view text);
    // The volume of the editor's text: empty is 0, 128 and above are 127.
    static int parseVolume(std::string_view text);
};

}  // namespace varimel::model
