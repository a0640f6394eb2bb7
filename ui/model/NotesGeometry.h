// NotesGeometry: the piano roll's scale and the rules of its loop and markers, without any
// control. Time runs left to right at a fixed number of pixels per beat of the first bar's
// meter; pitch bottom to top, 8 pixels per semitone over 132 keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varimel {
class MeterMap;
}

namespace varimel::model {

class NotesScale {
  public:
    static constexpr int kRowHeight = 8;
    static constexpr int kRows = 132;
    static constexpr int kNominalBarWidth = 120;
    static constexpr int kExtraBars = 10;  // sections drawn after the last bar

    // `firstNumerator` is the numerator of the meter the view is scaled by (the first full
    // bar's); `barCount` the bars of the melody.
    NotesScale(const MeterMap& meters, int32_t barCount, int firstNumerator);

    int pixelsPerBeat() const { return pixelsPerBeat_; }
    int barWidth() const { return barWidth_; }
    double pixelsPerTick() const { return pixelsPerTick_; }
    int32_t barCount() const { return barCount_; }

    // Section i (bar i, from 0) of the header: from round(tick(bar i) x ppt) to round(tick(bar
    // i + 1) x ppt), so bars of any meter line up with the notes drawn below them.
    int sectionLeft(int32_t bar) const;
    int sectionWidth(int32_t bar) const { return sectionLeft(bar + 1) - sectionLeft(bar); }
    int32_t sectionCount() const { return barCount_ + kExtraBars; }
    int headerWidth() const { return sectionLeft(sectionCount()); }
    // The bar whose section holds pixel x (the last section for pixels beyond it).
    int32_t barAtPixel(int x) const;

    int32_t tickOfPixel(int x) const;  // truncated toward zero
    int pixelOfTick(int32_t tick) const;

    // Horizontal scroll range in beats: the width of the melody's bars less half the visible
    // width, or the whole width when that would be negative.
    int horizontalScrollMaximum(int visibleWidth) const;
    static int verticalScrollMaximum(int visibleHeight);
    // The key under a pointer at y in a roll scrolled down by `offset` pixels.
    static int keyAtY(int y, int offset);

  private:
    const MeterMap& meters_;
    int32_t barCount_;
    int pixelsPerBeat_;
    int barWidth_;
    double pixelsPerTick_;
};

// A loop between two positions, in pixels and in ticks.
struct LoopRange {
    int startPixel = 0;
    int endPixel = 0;
    int32_t startTick = 0;
    int32_t endTick = 0;
};
// A drag longer than this share of a bar width sets a loop; a shorter one is a click.
inline constexpr double kLoopDragBars = 0.8;
bool dragSetsLoop(int fromPixel, int toPixel, int barWidth);
// The loop of a drag: edges ordered; shorter than half a bar width, the end moves half a bar
// width further.
LoopRange loopFromPixels(const NotesScale& scale, int a, int b);
// The loop of two typed positions: ordered; shorter than half of the start's bar, the end moves
// half a bar further.
LoopRange loopFromTicks(const NotesScale& scale, const MeterMap& meters, int32_t a, int32_t b);

// The markers of the strip above the ruler, sorted by pixel. Each has a name "m_<n>" with a
// running number that is never reused, so a name always designates one marker.
class MarkerList {
  public:
    struct Marker {
        int pixel = 0;
        std::string name;
    };
    // Adds a marker at `pixel`; false (nothing added) when one already stands there. Adding
    // switches marker jumps on.
    bool insert(int pixel);
    // Removes the named marker; false when there is none. Jumps go off with the last marker.
    bool remove(const std::string& name);
    void clear();
    const std::vector<Marker>& markers() const { return markers_; }
    const Marker* find(const std::string& name) const;
    // The nearest marker left of (before) or right of (after) a pixel, or null.
    const Marker* previous(int pixel) const;
    const Marker* next(int pixel) const;

    bool jumpsEnabled = false;

  private:
    std::vector<Marker> markers_;
    int nextNumber_ = 0;
};

}  // namespace varimel::model
