#include "ui/model/StylePageLayout.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace varimel::model {

namespace {

constexpr int kFirstGroup = 2;
constexpr int kMargin = 6;
constexpr int kTop = 8;
constexpr int kPictureStep = 54;
constexpr int kRowStep = 40;
constexpr int kGroupRowGap = 44;

// The smallest beats-per-bar value above `after` (none when no style has one).
std::optional<int> nextGroup(const std::vector<Style>& styles, size_t count, int after) {
    std::optional<int> next;
    for (size_t i = 0; i < count; ++i) {
        const int beats = styles[i].beatsPerBar;
        if (beats > after && (!next || beats < *next)) next = beats;
    }
    return next;
}

}  // namespace

const StylePicturePlace* StylePageLayout::picture(StyleId id) const {
    const auto it = std::find_if(pictures.begin(), pictures.end(),
                                 [id](const StylePicturePlace& place) { return place.id == id; });
    return it == pictures.end() ? nullptr : &*it;
}

std::string styleHint(const std::string& name, const Style& style) {
    char text[128];
    std::snprintf(text, sizeof text, " %s\n\r %d beats per bar\n\r Meter %d/%d", name.c_str(),
                  static_cast<int>(style.beatsPerBar), static_cast<int>(style.meterNum),
                  static_cast<int>(style.meterDen));
    return text;
}

StylePageLayout layoutStylePage(int category, const std::vector<StyleEntry>& entries,
                                const std::vector<Style>& styles, int boxWidth, int labelHeight) {
    StylePageLayout layout;
    const size_t count = std::min(entries.size(), styles.size());
    const auto shown = static_cast<size_t>(
        std::count_if(styles.begin(), styles.begin() + static_cast<std::ptrdiff_t>(count),
                      [](const Style& style) { return style.beatsPerBar >= kFirstGroup; }));

    int group = kFirstGroup;
    int x = kMargin;
    int y = kTop;
    int lowestRowTop = kTop;
    size_t placed = 0;
    for (int k = 0; placed < shown; ++k) {
        const bool left = k % 2 == 0;
        const int labelTop = y;
        layout.labels.push_back({"l_Stl" + std::to_string(category) + "_" + std::to_string(group),
                                 std::to_string(group) + " beats per bar", group, x, y});
        layout.height = std::max(layout.height, y + labelHeight);
        y += labelHeight + 4;
        const int limit = left ? boxWidth / 2 : boxWidth;
        for (size_t i = 0; i < count; ++i) {
            if (styles[i].beatsPerBar != group) continue;
            layout.pictures.push_back({entries[i].id, static_cast<int>(i), entries[i].name,
                                       styleHint(entries[i].name, styles[i]), x, y});
            layout.height = std::max(layout.height, y + StylePageLayout::kPictureHeight);
            lowestRowTop = std::max(lowestRowTop, y);
            ++placed;
            x += kPictureStep;
            if (x + StylePageLayout::kPictureWidth > limit) {
                y += kRowStep;
                x = left ? kMargin : boxWidth / 2 + 12;
            }
        }
        if (left) {
            y = labelTop;
            x = boxWidth / 2 + kMargin;
        } else {
            x = kMargin;
            y = lowestRowTop + kGroupRowGap;
        }
        const std::optional<int> next = nextGroup(styles, count, group);
        if (!next) break;
        group = *next;
    }
    return layout;
}

}  // namespace varimel::model
