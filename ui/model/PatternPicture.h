// PatternPicture: the small picture of a style's pattern in the style dialog — a rounded
// frame and one short bar per event, placed by time and by chord tone and octave.
#pragma once

#include <vector>

#include "accompaniment/PatternFiles.h"
#include "ui/model/Rgb.h"

namespace varimel::model {

namespace style_colours {
inline constexpr Rgb kFitBackground{218, 204, 188};
inline constexpr Rgb kFitOutline{165, 130, 90};
inline constexpr Rgb kFitNotes{0, 0, 128};
inline constexpr Rgb kOtherBackground{192, 192, 192};
inline constexpr Rgb kOtherOutline{128, 128, 128};
inline constexpr Rgb kOtherNotes{128, 128, 128};
inline constexpr Rgb kSelectedOutline{0, 255, 0};
inline constexpr Rgb kPendingOutline{255, 255, 0};
}  // namespace style_colours

// A filled rectangle from (left, top) to (right, bottom), the right and bottom edges excluded.
struct PatternNote {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    friend bool operator==(const PatternNote&, const PatternNote&) = default;
};

struct PatternPicture {
    static constexpr int kCornerSize = 6;

    int width = 0;
    int height = 0;
    Rgb background;
    Rgb outline;
    Rgb noteColour;
    std::vector<PatternNote> notes;
};

// The picture of `style` at width × height; `fits` picks the colours. A style that failed to
// load (no bars, ticks or meter) gets an empty frame.
PatternPicture drawPattern(const Style& style, bool fits, int width, int height);

}  // namespace varimel::model
