#include "ui/model/InstrumentsGrid.h"

#include <algorithm>
#include <cctype>

#include "ui/model/InstrumentNames.h"

namespace varimel::model {

namespace {

constexpr std::array<int, InstrumentsGrid::kRows> kRowChannels{-1, 0, 1, 2, 3, 9};
constexpr std::array<std::string_view, InstrumentsGrid::kRows> kStatusTexts{"",
                                                                            "Melody channel",
                                                                            "Accompaniment channel",
                                                                            "Organ channel",
                                                                            "Bass channel",
                                                                            "Drums channel"};

uint8_t toggled(uint8_t flag) {
    return flag == 1 ? 0 : 1;
}

}  // namespace

int InstrumentsGrid::channelOfRow(int row) {
    if (row < 1 || row >= kRows) return -1;
    return kRowChannels[static_cast<size_t>(row)];
}

int InstrumentsGrid::rowOfChannel(int channel) {
    if (channel < 0) return -1;
    const auto it = std::find(kRowChannels.begin(), kRowChannels.end(), channel);
    return it == kRowChannels.end() ? -1 : static_cast<int>(it - kRowChannels.begin());
}

std::string_view InstrumentsGrid::statusText(int row) {
    if (row < 0 || row >= kRows) return {};
    return kStatusTexts[static_cast<size_t>(row)];
}

std::string InstrumentsGrid::patchText(const InstrumentNames& names, int channel, int program) {
    if (channel == kDrumsChannel) return "General MIDI Drums";
    // Before the names are read the list is empty: show the program's number.
    if (names.entryCount() == 0) return std::to_string(program + 1);
    return names.programName(program);
}

std::string InstrumentsGrid::cellText(const ChannelSettings& settings, const InstrumentNames& names,
                                      int row, int column) {
    if (row == 0)
        return column >= 0 && column < kColumns ? std::string(kHeaders[static_cast<size_t>(column)])
                                                : std::string();
    const int channel = channelOfRow(row);
    if (channel < 0) return {};
    const auto index = static_cast<size_t>(channel);
    switch (column) {
        case kNumberColumn:
            return std::to_string(row);
        case kPatchColumn:
            return patchText(names, channel, settings.program[index]);
        case kMuteColumn:
            return settings.mute[index] != 0 ? "M" : "";
        case kSoloColumn:
            return settings.solo[index] != 0 ? "S" : "";
        case kVolumeColumn:
            return std::to_string(settings.volume[index]);
        default:
            return {};
    }
}

uint8_t InstrumentsGrid::toggleMute(ChannelSettings& settings, int channel) {
    if (channel < 0 || channel >= ChannelSettings::kChannels) return 0;
    uint8_t& flag = settings.mute[static_cast<size_t>(channel)];
    flag = toggled(flag);
    return flag;
}

uint8_t InstrumentsGrid::toggleSolo(ChannelSettings& settings, int channel) {
    if (channel < 0 || channel >= ChannelSettings::kChannels) return 0;
    uint8_t& flag = settings.solo[static_cast<size_t>(channel)];
    flag = toggled(flag);
    for (int other = 0; other < ChannelSettings::kChannels; ++other)
        if (other != channel) settings.solo[static_cast<size_t>(other)] = 0;
    settings.updateSoloMode();
    return flag;
}

std::string InstrumentsGrid::volumeDigits(std::string_view text) {
    std::string digits;
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) continue;
        if (digits.size() == kMaxVolumeDigits) break;
        digits.push_back(c);
    }
    return digits;
}

int InstrumentsGrid::parseVolume(std::string_view text) {
    int volume = 0;
    for (char c : volumeDigits(text)) volume = volume * 10 + (c - '0');
    return std::min(volume, kMaxVolume);
}

}  // namespace varimel::model
