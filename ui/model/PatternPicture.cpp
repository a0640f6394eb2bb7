#include "ui/model/PatternPicture.h"

#include <cstdlib>

namespace varimel::model {

PatternPicture drawPattern(const Style& style, bool fits, int width, int height) {
    PatternPicture picture;
    picture.width = width;
    picture.height = height;
    picture.background = fits ? style_colours::kFitBackground : style_colours::kOtherBackground;
    picture.outline = fits ? style_colours::kFitOutline : style_colours::kOtherOutline;
    picture.noteColour = fits ? style_colours::kFitNotes : style_colours::kOtherNotes;
    if (style.meterDen <= 0 || style.meterNum <= 0 || style.bars == 0 || style.ppq <= 0)
        return picture;
    const int ticksPerBeat = style.ppq * 4 / style.meterDen;
    if (ticksPerBeat <= 0) return picture;
    const double pixelsPerTick = static_cast<double>(width - 10) /
                                 (static_cast<double>(style.bars) * ticksPerBeat * style.meterNum);
    picture.notes.reserve(style.events.size());
    for (const PatternEvent& event : style.events) {
        const double ticks =
            (static_cast<double>(event.bar) * style.meterNum + event.beat) * ticksPerBeat +
            event.tick;
        const int x = static_cast<int>(ticks * pixelsPerTick + 2);
        int level = std::abs(static_cast<int>(event.tone));
        if (event.octave > style.octave)
            level += 8;
        else if (event.octave < style.octave)
            level -= 6;
        else
            level += 1;
        const int y = height / 2 + 2 - 2 * level;
        const int w = static_cast<int>(pixelsPerTick * event.duration);
        picture.notes.push_back({x, y, w > 6 ? x + w - 2 : x + w, y + 2});
    }
    return picture;
}

}  // namespace varimel::model
