// StylePageLayout: where the style dialog puts the group labels and the pattern pictures of one
// category page — groups by beats per bar in ascending order, two groups to a row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "accompaniment/PatternFiles.h"

namespace varimel::model {

struct StyleGroupLabel {
    std::string name;     // "l_Stl" category "_" beats
    std::string caption;  // beats " beats per bar"
    int beatsPerBar = 0;
    int x = 0;
    int y = 0;
};

struct StylePicturePlace {
    StyleId id = kNoStyle;
    int index = 0;     // position in the category
    std::string name;  // the entry's name
    std::string hint;  // with "\n\r" line breaks
    int x = 0;
    int y = 0;
};

struct StylePageLayout {
    static constexpr int kPictureWidth = 50;
    static constexpr int kPictureHeight = 36;

    std::vector<StyleGroupLabel> labels;
    std::vector<StylePicturePlace> pictures;
    int height = 0;  // bottom of the lowest label or picture

    // The picture of an identifier (null when the page does not show it).
    const StylePicturePlace* picture(StyleId id) const;
};

// Lays out one category for a scroll area `boxWidth` wide whose labels are `labelHeight` high.
// Styles with fewer than 2 beats per bar are left out.
StylePageLayout layoutStylePage(int category, const std::vector<StyleEntry>& entries,
                                const std::vector<Style>& styles, int boxWidth, int labelHeight);

std::string styleHint(const std::string& name, const Style& style);

}  // namespace varimel::model
