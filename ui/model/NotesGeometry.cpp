#include "ui/model/NotesGeometry.h"

#include <algorithm>
#include <cmath>

#include "engine/Wctpu.h"

namespace varimel::model {

NotesScale::NotesScale(const MeterMap& meters, int32_t barCount, int firstNumerator)
    : meters_(meters), barCount_(std::max(barCount, 0)) {
    const int numerator = std::max(firstNumerator, 1);
    pixelsPerBeat_ = std::max(kNominalBarWidth / numerator, 1);
    barWidth_ = numerator * pixelsPerBeat_;
    // Every bar is drawn numerator x pixels-per-beat wide; pixels per tick spreads that width
    // evenly over the ticks, so that notes and sections agree in any mix of meters.
    const int32_t endTick = meters_.tickOfBar(barCount_);
    double totalWidth = 0;
    for (int32_t bar = 0; bar < barCount_; ++bar) {
        int barNumerator = 0;
        int denominator = 0;
        meters_.meterOfBar(bar, barNumerator, denominator);
        totalWidth += static_cast<double>(std::max(barNumerator, 1)) * pixelsPerBeat_;
    }
    pixelsPerTick_ = endTick > 0
                         ? totalWidth / endTick
                         : static_cast<double>(barWidth_) / std::max(meters_.ticksPerBar(0), 1);
}

int NotesScale::sectionLeft(int32_t bar) const {
    return static_cast<int>(std::lround(meters_.tickOfBar(std::max(bar, 0)) * pixelsPerTick_));
}

int32_t NotesScale::barAtPixel(int x) const {
    // Sections grow with the bar, so a binary search finds the last one starting at or before x.
    int32_t low = 0;
    int32_t high = sectionCount() - 1;
    while (low < high) {
        const int32_t middle = low + (high - low + 1) / 2;
        if (sectionLeft(middle) <= x) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return low;
}

int32_t NotesScale::tickOfPixel(int x) const {
    return static_cast<int32_t>(x / pixelsPerTick_);
}

int NotesScale::pixelOfTick(int32_t tick) const {
    return static_cast<int>(tick * pixelsPerTick_);
}

int NotesScale::horizontalScrollMaximum(int visibleWidth) const {
    const int beats = sectionLeft(barCount_) / pixelsPerBeat_;
    const int maximum = beats - visibleWidth / pixelsPerBeat_ / 2;
    return maximum < 0 ? beats : maximum;
}

int NotesScale::verticalScrollMaximum(int visibleHeight) {
    return std::max(kRows - visibleHeight / kRowHeight, 0);
}

int NotesScale::keyAtY(int y, int offset) {
    return std::clamp(kRows - 1 - (y + offset) / kRowHeight, 0, kRows - 1);
}

bool dragSetsLoop(int fromPixel, int toPixel, int barWidth) {
    return std::abs(toPixel - fromPixel) > kLoopDragBars * barWidth;
}

LoopRange loopFromPixels(const NotesScale& scale, int a, int b) {
    LoopRange loop;
    loop.startPixel = std::max(std::min(a, b), 0);
    loop.endPixel = std::max(std::max(a, b), 0);
    const int half = scale.barWidth() / 2;
    if (loop.endPixel - loop.startPixel < half) loop.endPixel += half;
    loop.startTick = scale.tickOfPixel(loop.startPixel);
    loop.endTick = scale.tickOfPixel(loop.endPixel);
    return loop;
}

LoopRange loopFromTicks(const NotesScale& scale, const MeterMap& meters, int32_t a, int32_t b) {
    LoopRange loop;
    loop.startTick = std::max(std::min(a, b), 0);
    loop.endTick = std::max(std::max(a, b), 0);
    const SongPosition start = meters.positionOfTick(loop.startTick);
    const int32_t halfBar = meters.ticksPerBar(start.bar) / 2;
    if (loop.endTick - loop.startTick < halfBar) loop.endTick += halfBar;
    loop.startPixel = scale.pixelOfTick(loop.startTick);
    loop.endPixel = scale.pixelOfTick(loop.endTick);
    return loop;
}

bool MarkerList::insert(int pixel) {
    const auto at = std::lower_bound(markers_.begin(), markers_.end(), pixel,
                                     [](const Marker& m, int p) { return m.pixel < p; });
    if (at != markers_.end() && at->pixel == pixel) return false;
    markers_.insert(at, Marker{pixel, "m_" + std::to_string(nextNumber_++)});
    jumpsEnabled = true;
    return true;
}

bool MarkerList::remove(const std::string& name) {
    const auto at = std::find_if(markers_.begin(), markers_.end(),
                                 [&](const Marker& m) { return m.name == name; });
    if (at == markers_.end()) return false;
    markers_.erase(at);
    if (markers_.empty()) jumpsEnabled = false;
    return true;
}

void MarkerList::clear() {
    markers_.clear();
    jumpsEnabled = false;
}

const MarkerList::Marker* MarkerList::find(const std::string& name) const {
    for (const Marker& m : markers_) {
        if (m.name == name) return &m;
    }
    return nullptr;
}

const MarkerList::Marker* MarkerList::previous(int pixel) const {
    const Marker* found = nullptr;
    for (const Marker& m : markers_) {
        if (m.pixel < pixel) found = &m;
    }
    return found;
}

const MarkerList::Marker* MarkerList::next(int pixel) const {
    for (const Marker& m : markers_) {
        if (m.pixel > pixel) return &m;
    }
    return nullptr;
}

}  // namespace varimel::model
