// Start-up of the main window, offscreen: settings, instrument names, both libraries, every
// control, up to the shown window. Exit (which writes the settings) is not timed.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <fstream>

#include "gui_bench_support.h"
#include "settings/RegFile.h"
#include "settings/RegSetup.h"
#include "ui/DialogProvider.h"
#include "ui/Fmain.h"
#include "ui/Fstyle1.h"
#include "ui/Launcher.h"

namespace {

using namespace varimel;

using bench::CountingDialogs;
using bench::NoLauncher;

void BM_WindowStartup(benchmark::State& state) {
    QTemporaryDir dir;
    if (!bench::installWindow(dir)) {
        state.SkipWithError("cannot write the registry");
        return;
    }
    CountingDialogs dialogs;
    NoLauncher launcher;
    model::SeededRandom random(1);
    const MainServices services{&dialogs, &launcher, &launcher, &random};
    for (auto _ : state) {
        auto window = std::make_unique<TfMain>(services, QString());
        window->show();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(window->isVisible());
        state.PauseTiming();
        if (!window->started() || dialogs.count != 0 || !window->styleDialog()->library().loaded())
            state.SkipWithError("the window did not start cleanly");
        window.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowStartup)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
    return varimel::bench::runBenchmarks(argc, argv);
}
