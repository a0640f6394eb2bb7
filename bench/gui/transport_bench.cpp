// The play timer's tick in the main window while a 2,000-bar piece plays (recording output,
// offscreen): the player's position and tempo, the cursor, the chord grid's playing bar, the
// status bar's position and the tempo controls. Then the same tick with the repaint it asks for.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <thread>

#include "gui_bench_support.h"
#include "ui/Fchords1.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/PlayerOutput.h"
#include "ui/model/Random.h"

namespace {

using namespace varimel;

// A window playing a harmonised 2,000-bar melody from its middle; null (with the benchmark
// told why) when any step failed.
struct PlayingWindow {
    QTemporaryDir dir;
    bench::CountingDialogs dialogs;
    bench::NoLauncher launcher;
    model::SeededRandom random{1};
    std::filesystem::path melody;
    std::unique_ptr<TfMain> window;

    explicit PlayingWindow(benchmark::State& state) {
        qputenv(kOutputEnvVar, kRecordingOutput);
        melody = bench::longMelody(2000);
        if (!bench::installWindow(dir)) {
            state.SkipWithError("cannot write the registry");
            return;
        }
        window = std::make_unique<TfMain>(MainServices{&dialogs, &launcher, &launcher, &random},
                                          QString());
        window->resize(1000, 700);
        window->show();
        window->openFile(QString::fromStdString(melody.string()), 0);
        TfNotes_l* notes = window->notesView();
        if (!notes || !notes->composition()) {
            state.SkipWithError("the melody did not open");
            window.reset();
            return;
        }
        window->b_CreateAccClick();
        if (!window->chordsView()->hasGrid()) {
            state.SkipWithError("the melody was not harmonised");
            window.reset();
            return;
        }
        notes->playRange().set(PlayRange::kStart, 1000 * 4 * 480);
        window->b_PlayClick();
        QCoreApplication::processEvents();
        if (!window->player().isPlaying()) {
            state.SkipWithError("the piece does not play");
            window.reset();
        }
    }
    ~PlayingWindow() {
        if (window) window->b_StopClick();
        window.reset();
        std::filesystem::remove(melody);
    }
};

// Ticks come a few milliseconds apart, as from the timer, so that the player runs between them
// as it does in use; only the tick itself is timed.
void BM_PlayTimerTick2000Bars(benchmark::State& state) {
    PlayingWindow playing(state);
    if (!playing.window) return;
    TfMain& window = *playing.window;
    window.playTimerTimer();
    const int firstPixel = window.notesView()->cursorPixel();
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const auto start = std::chrono::steady_clock::now();
        window.playTimerTimer();
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    // The ticks did their work: the piece still plays, the cursor moved on with it, and the grid
    // marks a bar of the second half.
    if (!window.player().isPlaying() || window.notesView()->cursorPixel() <= firstPixel ||
        window.chordsView()->playingBar() < 1000)
        state.SkipWithError("the ticks did not follow the playback");
}
BENCHMARK(BM_PlayTimerTick2000Bars)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Iterations(1000);

void BM_PlayTimerTickAndRepaint2000Bars(benchmark::State& state) {
    PlayingWindow playing(state);
    if (!playing.window) return;
    for (auto _ : state) {
        playing.window->playTimerTimer();
        QCoreApplication::processEvents();
    }
    if (playing.window->chordsView()->playingBar() < 1000)
        state.SkipWithError("the ticks did not follow the playback");
}
BENCHMARK(BM_PlayTimerTickAndRepaint2000Bars)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    return varimel::bench::runBenchmarks(argc, argv);
}
