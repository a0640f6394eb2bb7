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

#include "playback/Tmplay.h"
#include "ui/Fchords1.h"
#include "ui/Fnotes_l1.h"

namespace {

using namespace varimel;

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}
void putDelta(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[5];
    int n = 0;
    do {
        bytes[n++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value);
    while (n > 0) {
        --n;
        out.push_back(static_cast<uint8_t>(bytes[n] | (n > 0 ? 0x80 : 0)));
    }
}

// A format-0 file of `bars` bars of 4/4 quarters walking up and down a C major scale.
std::filesystem::path longMelody(int bars) {
    std::vector<uint8_t> track = {0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08,
                                  0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};
    const int scale[] = {60, 62, 64, 65, 67, 69, 71, 72, 71, 69, 67, 65, 64, 62};
    for (int i = 0; i < bars * 4; ++i) {
        const auto key = static_cast<uint8_t>(scale[i % 14]);
        track.insert(track.end(), {0x00, 0x90, key, 0x50});
        putDelta(track, 480);
        track.insert(track.end(), {0x80, key, 0x00});
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0};
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    put32(file, static_cast<uint32_t>(track.size()));
    file.insert(file.end(), track.begin(), track.end());
    const auto path = std::filesystem::temp_directory_path() /
                      ("varimel-views-bench-" + std::to_string(bars) + ".mid");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    return path;
}

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

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
