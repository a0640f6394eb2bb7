// The style dialog's page layout and pattern pictures.
#include <gtest/gtest.h>

#include "support/accompaniment_fixture.h"
#include "ui/model/PatternPicture.h"
#include "ui/model/StylePageLayout.h"

namespace varimel::model {
namespace {

using test::ev;
using test::makeStyle;

constexpr int kBoxWidth = 560;
constexpr int kLabelHeight = 16;

struct Category {
    std::vector<StyleEntry> entries;
    std::vector<Style> styles;

    void add(const std::string& name, int beatsPerBar) {
        entries.push_back({makeStyleId(0, static_cast<int>(entries.size())), name});
        Style style = makeStyle(4, 4, 96, 1, test::meterSet({{4, 4}}), {ev(1, 0, 0)});
        style.beatsPerBar = static_cast<uint8_t>(beatsPerBar);
        styles.push_back(style);
    }
    StylePageLayout layout() const {
        return layoutStylePage(0, entries, styles, kBoxWidth, kLabelHeight);
    }
};

TEST(StylePageLayout, FourBeatStylesFillTheRightColumnUnderAnEmptyTwoBeatGroup) {
    Category category;
    for (int i = 0; i < 7; ++i) category.add("S" + std::to_string(i), 4);
    const StylePageLayout layout = category.layout();

    ASSERT_EQ(layout.labels.size(), 2u);
    EXPECT_EQ(layout.labels[0].name, "l_Stl0_2");
    EXPECT_EQ(layout.labels[0].caption, "2 beats per bar");
    EXPECT_EQ(layout.labels[0].x, 6);
    EXPECT_EQ(layout.labels[0].y, 8);
    EXPECT_EQ(layout.labels[1].name, "l_Stl0_4");
    EXPECT_EQ(layout.labels[1].x, kBoxWidth / 2 + 6);
    EXPECT_EQ(layout.labels[1].y, 8);

    ASSERT_EQ(layout.pictures.size(), 7u);
    for (const StylePicturePlace& picture : layout.pictures) {
        EXPECT_GE(picture.x, kBoxWidth / 2) << picture.name;
        EXPECT_LE(picture.x + StylePageLayout::kPictureWidth, kBoxWidth) << picture.name;
    }
    // 286 + 54k: five pictures fit in 280 pixels; the sixth opens a new row.
    EXPECT_EQ(layout.pictures[0].y, 8 + kLabelHeight + 4);
    EXPECT_EQ(layout.pictures[4].x, kBoxWidth / 2 + 6 + 4 * 54);
    EXPECT_EQ(layout.pictures[5].y, layout.pictures[0].y + 40);
    EXPECT_EQ(layout.pictures[5].x, kBoxWidth / 2 + 12);
    EXPECT_EQ(layout.height, layout.pictures[6].y + StylePageLayout::kPictureHeight);
}

TEST(StylePageLayout, GroupsGoTwoToARowInAscendingBeats) {
    Category category;
    category.add("Six", 6);
    category.add("Two", 2);
    category.add("Four", 4);
    category.add("Three", 3);
    category.add("Three2", 3);
    const StylePageLayout layout = category.layout();

    ASSERT_EQ(layout.labels.size(), 4u);
    const int pictureTop = 8 + kLabelHeight + 4;
    const int secondRow = pictureTop + 44;
    EXPECT_EQ(layout.labels[0].caption, "2 beats per bar");
    EXPECT_EQ(layout.labels[1].caption, "3 beats per bar");
    EXPECT_EQ(layout.labels[1].x, kBoxWidth / 2 + 6);
    EXPECT_EQ(layout.labels[1].y, 8);
    EXPECT_EQ(layout.labels[2].caption, "4 beats per bar");
    EXPECT_EQ(layout.labels[2].x, 6);
    EXPECT_EQ(layout.labels[2].y, secondRow);
    EXPECT_EQ(layout.labels[3].caption, "6 beats per bar");
    EXPECT_EQ(layout.labels[3].x, kBoxWidth / 2 + 6);
    EXPECT_EQ(layout.labels[3].y, secondRow);

    const StylePicturePlace* six = layout.picture(makeStyleId(0, 0));
    ASSERT_NE(six, nullptr);
    EXPECT_EQ(six->x, kBoxWidth / 2 + 6);
    EXPECT_EQ(six->y, secondRow + kLabelHeight + 4);
    const StylePicturePlace* three2 = layout.picture(makeStyleId(0, 4));
    ASSERT_NE(three2, nullptr);
    EXPECT_EQ(three2->x, kBoxWidth / 2 + 6 + 54);
    EXPECT_EQ(three2->y, pictureTop);
    EXPECT_EQ(three2->hint, " Three2\n\r 3 beats per bar\n\r Meter 4/4");
}

TEST(StylePageLayout, StylesBelowTwoBeatsAreLeftOutAndTheBuilderEnds) {
    Category category;
    category.add("One", 1);
    category.add("Zero", 0);
    category.add("Four", 4);
    const StylePageLayout layout = category.layout();
    ASSERT_EQ(layout.pictures.size(), 1u);
    EXPECT_EQ(layout.pictures[0].name, "Four");
    EXPECT_EQ(layout.labels.size(), 2u);

    Category onlyShort;
    onlyShort.add("One", 1);
    EXPECT_TRUE(onlyShort.layout().pictures.empty());
    EXPECT_TRUE(onlyShort.layout().labels.empty());
}

TEST(PatternPicture, EventsArePlacedByTimeToneAndOctave) {
    // 4/4, 1 bar, ppq 96: 384 ticks over 40 pixels.
    const Style style =
        makeStyle(4, 4, 96, 1, test::meterSet({{4, 4}}),
                  {ev(1, 0, 0, 0, 4, 96), ev(3, 0, 2, 48, 5, 192), ev(-2, 0, 3, 0, 3, 24)}, 4);
    const PatternPicture picture = drawPattern(style, true, 50, 36);
    EXPECT_EQ(picture.background, style_colours::kFitBackground);
    EXPECT_EQ(picture.outline, style_colours::kFitOutline);
    EXPECT_EQ(picture.noteColour, style_colours::kFitNotes);
    ASSERT_EQ(picture.notes.size(), 3u);
    // x = 0 × 40/384 + 2; level 1 + 1 = 2, y = 18 + 2 − 4; w = 10 > 6, so right = x + w − 2.
    EXPECT_EQ(picture.notes[0], (PatternNote{2, 16, 10, 18}));
    // ticks 2 × 96 + 48 = 240 → x = 27; level 3 + 8 = 11, y = −2; w = 20.
    EXPECT_EQ(picture.notes[1], (PatternNote{27, -2, 45, 0}));
    // ticks 288 → x = 32; level |−2| − 6 = −4, y = 28; w = 2, so right = x + w.
    EXPECT_EQ(picture.notes[2], (PatternNote{32, 28, 34, 30}));
}

TEST(PatternPicture, AFailedStyleGetsAnEmptyPictureInTheOtherColours) {
    Style failed;  // as the library keeps a style whose file could not be read
    const PatternPicture picture = drawPattern(failed, false, 50, 36);
    EXPECT_TRUE(picture.notes.empty());
    EXPECT_EQ(picture.background, style_colours::kOtherBackground);
    EXPECT_EQ(picture.outline, style_colours::kOtherOutline);
    EXPECT_FALSE(meterFits(failed.meters, 4, 4));
}

}  // namespace
}  // namespace varimel::model
