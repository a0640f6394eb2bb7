// The instruments dialog's grid rules and the arrangement dialog's rows.
#include <gtest/gtest.h>

#include "ui/model/ArrangementRows.h"
#include "ui/model/InstrumentNames.h"
#include "ui/model/InstrumentsGrid.h"

namespace varimel::model {
namespace {

using Grid = InstrumentsGrid;

TEST(InstrumentsGrid, RowsShowTheFourPlayedChannelsAndTheDrums) {
    const int channels[] = {0, 1, 2, 3, 9};
    for (int row = 1; row <= 5; ++row) {
        EXPECT_EQ(Grid::channelOfRow(row), channels[row - 1]);
        EXPECT_EQ(Grid::rowOfChannel(channels[row - 1]), row);
    }
    EXPECT_EQ(Grid::channelOfRow(0), -1);
    EXPECT_EQ(Grid::channelOfRow(6), -1);
    EXPECT_EQ(Grid::rowOfChannel(4), -1);
    EXPECT_EQ(Grid::rowOfChannel(15), -1);
    EXPECT_EQ(Grid::statusText(5), "Drums channel");
    EXPECT_EQ(Grid::statusText(0), "");
    EXPECT_FALSE(Grid::hasPatchChooser(5));
    EXPECT_TRUE(Grid::hasPatchChooser(4));
    EXPECT_FALSE(Grid::hasPatchChooser(0));
}

TEST(InstrumentsGrid, CellTextsFollowTheSettings) {
    InstrumentNames names;
    names.setNames({"Acoustic Grand Piano", "Bright Acoustic Piano"});
    ChannelSettings settings;
    settings.program[1] = 1;
    settings.program[9] = 1;
    settings.mute[1] = 1;
    settings.solo[3] = 1;
    settings.volume[2] = 64;
    EXPECT_EQ(Grid::cellText(settings, names, 0, Grid::kVolumeColumn), "Volume");
    EXPECT_EQ(Grid::cellText(settings, names, 2, Grid::kNumberColumn), "2");
    EXPECT_EQ(Grid::cellText(settings, names, 2, Grid::kPatchColumn), "Bright Acoustic Piano");
    EXPECT_EQ(Grid::cellText(settings, names, 5, Grid::kPatchColumn), "General MIDI Drums");
    EXPECT_EQ(Grid::cellText(settings, names, 2, Grid::kMuteColumn), "M");
    EXPECT_EQ(Grid::cellText(settings, names, 1, Grid::kMuteColumn), "");
    EXPECT_EQ(Grid::cellText(settings, names, 4, Grid::kSoloColumn), "S");
    EXPECT_EQ(Grid::cellText(settings, names, 3, Grid::kVolumeColumn), "64");
}

TEST(InstrumentsGrid, MuteFlagsOtherThanOneToggleToOne) {
    ChannelSettings settings;
    settings.mute[2] = 5;
    EXPECT_EQ(Grid::toggleMute(settings, 2), 1);
    EXPECT_EQ(Grid::toggleMute(settings, 2), 0);
    EXPECT_EQ(Grid::toggleMute(settings, 2), 1);
    EXPECT_EQ(Grid::toggleMute(settings, 16), 0);
}

TEST(InstrumentsGrid, AtMostOneChannelIsSolo) {
    ChannelSettings settings;
    Grid::toggleSolo(settings, 2);
    EXPECT_EQ(Grid::toggleSolo(settings, 3), 1);
    EXPECT_EQ(settings.solo[2], 0);
    EXPECT_EQ(settings.solo[3], 1);
    EXPECT_TRUE(settings.silenced(2));
    EXPECT_FALSE(settings.silenced(3));
    EXPECT_EQ(Grid::toggleSolo(settings, 3), 0);
    EXPECT_FALSE(settings.silenced(2));
}

TEST(InstrumentsGrid, VolumeTextsKeepThreeDigitsAndStopAt127) {
    EXPECT_EQ(Grid::parseVolume("300"), 127);
    EXPECT_EQ(Grid::parseVolume("128"), 127);
    EXPECT_EQ(Grid::parseVolume("127"), 127);
    EXPECT_EQ(Grid::parseVolume("64"), 64);
    EXPECT_EQ(Grid::parseVolume(""), 0);
    EXPECT_EQ(Grid::volumeDigits("1a2-34"), "123");
    EXPECT_EQ(Grid::parseVolume("0099"), 9);
}

ArrangementGroup group(int numerator, int denominator, std::vector<std::string> names) {
    ArrangementGroup result;
    result.key = static_cast<uint16_t>(meterKey(numerator, denominator));
    for (std::string& name : names) result.entries.push_back({0, std::move(name)});
    return result;
}

TEST(ArrangementRows, AMeterWithoutGroupGetsAGreenAutoRowAfterGreyOnes) {
    const std::vector<ArrangementGroup> groups{group(4, 4, {"Rock", "Swing"}),
                                               group(3, 4, {"Waltz"})};
    const auto rows = arrangementRows(groups, meterKey(6, 8), makeArrangementId(0, 1));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].name, "lmg_0");
    EXPECT_EQ(rows[0].meterText, "4/4");
    EXPECT_EQ(rows[0].colour, arrangement_colours::kOtherMeter);
    // The selection lies in a row of another meter: it is not lit.
    EXPECT_EQ(rows[0].items[1].name, "mi_0_1");
    EXPECT_EQ(rows[0].items[1].colour, arrangement_colours::kOtherMeter);
    EXPECT_EQ(rows[1].meterText, "3/4");
    EXPECT_EQ(rows[1].colour, arrangement_colours::kOtherMeter);
    EXPECT_EQ(rows[2].name, "lmg_3");
    EXPECT_EQ(rows[2].meterText, "6/8");
    EXPECT_EQ(rows[2].colour, arrangement_colours::kCurrentMeter);
    ASSERT_EQ(rows[2].items.size(), 1u);
    EXPECT_EQ(rows[2].items[0].name, "ma_3_0");
    EXPECT_EQ(rows[2].items[0].caption, "Auto");
    EXPECT_EQ(rows[2].items[0].tag, makeArrangementId(3, 0));
    EXPECT_EQ(rows[2].items[0].colour, arrangement_colours::kCurrentMeter);

    const auto autoSelected = arrangementRows(groups, meterKey(6, 8), makeArrangementId(3, 0));
    EXPECT_EQ(autoSelected[2].items[0].colour, arrangement_colours::kSelected);
}

TEST(ArrangementRows, TheSelectionIsLimeInARowOfTheCurrentMeter) {
    const std::vector<ArrangementGroup> groups{group(4, 4, {"Rock", "Swing"}),
                                               group(3, 4, {"Waltz"})};
    const auto rows = arrangementRows(groups, meterKey(4, 4), makeArrangementId(0, 1));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].colour, arrangement_colours::kCurrentMeter);
    EXPECT_EQ(rows[0].items[0].colour, arrangement_colours::kCurrentMeter);
    EXPECT_EQ(rows[0].items[1].colour, arrangement_colours::kSelected);
    EXPECT_EQ(rows[0].items[1].tag, makeArrangementId(0, 1));
    EXPECT_EQ(rows[1].items[0].caption, "Waltz");

    EXPECT_TRUE(arrangementSelectable(groups, meterKey(4, 4), makeArrangementId(0, 1)));
    EXPECT_FALSE(arrangementSelectable(groups, meterKey(4, 4), makeArrangementId(1, 0)));
    EXPECT_FALSE(arrangementSelectable(groups, meterKey(4, 4), makeArrangementId(3, 0)));
    EXPECT_TRUE(arrangementSelectable(groups, meterKey(6, 8), makeArrangementId(3, 0)));
}

}  // namespace
}  // namespace varimel::model
