// Showing the style dialog, offscreen: the three pages with their labels and the 24 pictures of
// the built library, and one paint of the shown page. Hiding (which drops them) is not timed.
#include <benchmark/benchmark.h>

#include <QApplication>

#include "ui/Fstyle1.h"
#include "ui/Launcher.h"

namespace {

using namespace varimel;

class NoHelp final : public HelpSink {
  public:
    void setHelpPath(const QString&) override {}
    void showHelp(int) override {}
};

void BM_StyleDialogShow(benchmark::State& state) {
    NoHelp help;
    TfStyle dialog(QStringLiteral(VARIMEL_BUILD_LIBRARY_DIR "styles/"), {}, help, nullptr);
    if (!dialog.library().load()) {
        state.SkipWithError("the built style library is missing");
        return;
    }
    dialog.library().style(dialog.library().findByName("PnBallad44"));
    for (auto _ : state) {
        dialog.show();
        benchmark::DoNotOptimize(dialog.grab());
        state.PauseTiming();
        dialog.hide();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StyleDialogShow)->Unit(benchmark::kMillisecond);

}  // namespace
