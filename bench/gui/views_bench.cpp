// The document views on long pieces, offscreen: opening and laying out a 2,000-bar melody, one
// paint of a screen of its piano roll, and building the chords grid of 10,000 bars.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "long_melody.h"
#include "playback/Tmplay.h"
#include "ui/Fchords1.h"
#include "ui/Fnotes_l1.h"

namespace {

using namespace varimel;

OpeningRequest requestFor(const std::filesystem::path& path) {
    OpeningRequest request;
    request.path = path.string();
    request.kind = DocumentKind::kMidi;
    return request;
}

// Opens a melody into a view of a usual size and lays it out, as the window does; false when
// it did not load.
bool openInto(TfNotes_l& view, const std::filesystem::path& path) {
    view.resize(800, 300);
    if (view.openDocument(requestFor(path)) != 0) return false;
    view.layoutDocument();
    return true;
}

void BM_OpenAndLayout2000Bars(benchmark::State& state) {
    const auto path = longMelody(2000);
    PlayerContext player;
    for (auto _ : state) {
        TfNotes_l view(nullptr, player);
        if (!openInto(view, path)) {
            state.SkipWithError("the melody did not load");
            break;
        }
        benchmark::DoNotOptimize(view.scale());
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_OpenAndLayout2000Bars)->Unit(benchmark::kMillisecond);

void BM_PaintOneScreenOf2000Bars(benchmark::State& state) {
    const auto path = longMelody(2000);
    PlayerContext player;
    TfNotes_l view(nullptr, player);
    if (!openInto(view, path)) {
        state.SkipWithError("the melody did not load");
        std::filesystem::remove(path);
        return;
    }
    view.scb_H->setValue(view.scb_H->maximum() / 2);  // the middle of the piece
    QWidget* canvas = view.findChild<QWidget*>("plNts");
    QImage screen(canvas->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        canvas->render(&screen);
        benchmark::DoNotOptimize(screen.bits());
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_PaintOneScreenOf2000Bars)->Unit(benchmark::kMillisecond);

void BM_BuildGridOf10000Bars(benchmark::State& state) {
    const auto path = longMelody(10000);
    PlayerContext player;
    TfNotes_l view(nullptr, player);
    if (!openInto(view, path) || view.chordMaster()->harmonise() != 0) {
        state.SkipWithError("the melody did not harmonise");
        std::filesystem::remove(path);
        return;
    }
    TfChords grid(nullptr, player);
    grid.resize(800, 230);
    for (auto _ : state) {
        grid.createGrid(*view.composition(), *view.scale());
        benchmark::DoNotOptimize(grid.elementCount());
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_BuildGridOf10000Bars)->Unit(benchmark::kMillisecond);

}  // namespace
