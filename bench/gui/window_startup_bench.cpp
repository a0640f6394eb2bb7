// The main window offscreen. Start-up: settings, instrument names, both libraries, every
// control, up to the shown window (exit, which writes the settings, is not timed). Create
// Accompaniment on a long melody, and the play timer's tick while it plays.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <thread>

#include "engine/Apperr.h"
#include "long_melody.h"
#include "settings/RegFile.h"
#include "settings/RegSetup.h"
#include "ui/DialogProvider.h"
#include "ui/Fchords1.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/Fstyle1.h"
#include "ui/Launcher.h"
#include "ui/PlayerOutput.h"

namespace {

using namespace varimel;

// Counts boxes instead of showing them; a benchmark must never block.
class CountingDialogs final : public DialogProvider {
  public:
    QMessageBox::StandardButton message(QWidget*, model::MessageKind, const QString&,
                                        QMessageBox::StandardButtons) override {
        ++count;
        return QMessageBox::Ok;
    }
    QString openFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
    bool print(QWidget*, QPrinter&) override { return false; }
    int run(QDialog&) override { return QDialog::Rejected; }
    int count = 0;
};

class NoLauncher final : public Launcher, public HelpSink {
  public:
    bool startDetached(const QString&, const QString&) override { return false; }
    bool openUrl(const QUrl&) override { return false; }
    void setHelpPath(const QString&) override {}
    void showHelp(int) override {}
};

// An installation with 128 instrument names and the build's libraries, registered for the
// window; false when it cannot be written.
bool install(const QTemporaryDir& dir) {
    const std::string root = dir.path().toStdString() + "/data";
    std::filesystem::create_directories(root);
    {
        std::ofstream names(root + "/gmi.txt");
        for (int program = 1; program <= 128; ++program) names << "Program " << program << '\n';
    }
    const std::string registryFile = dir.path().toStdString() + "/registry.reg";
    RegistryFile registry(registryFile);
    InstallLayout layout;
    layout.installPath = root;
    layout.showTips = false;
    layout.styleDir = std::string(VARIMEL_BUILD_LIBRARY_DIR) + "styles/";
    layout.arrangementDir = std::string(VARIMEL_BUILD_LIBRARY_DIR) + "arrangements/";
    if (!writeInstallation(registry, layout, true)) return false;
    qputenv(kRegistryEnvVar, QByteArray::fromStdString(registryFile));
    return true;
}

void BM_WindowStartup(benchmark::State& state) {
    QTemporaryDir dir;
    if (!install(dir)) {
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

// Create Accompaniment on a 2,000-bar melody: harmonising, the chords grid, the style and the
// lights, as the button does it.
void BM_CreateAccompaniment2000Bars(benchmark::State& state) {
    QTemporaryDir dir;
    if (!install(dir)) {
        state.SkipWithError("cannot write the registry");
        return;
    }
    const auto melody = longMelody(2000);
    CountingDialogs dialogs;
    NoLauncher launcher;
    model::SeededRandom random(1);
    TfMain window({&dialogs, &launcher, &launcher, &random}, QString());
    window.show();
    window.openFile(QString::fromStdString(melody.string()), 0);
    Composition* composition = window.notesView() ? window.notesView()->composition() : nullptr;
    if (composition == nullptr) {
        state.SkipWithError("the melody did not open");
        return;
    }
    for (auto _ : state) {
        // Another draft chosen: Create harmonises again.
        composition->setStateFlags(state_flag::kHarmonySettingsChanged, true);
        window.b_CreateAccClick();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(composition->chordTrack.data());
    }
    if (composition->chordTrack.size() < 2000 || dialogs.count != 0)
        state.SkipWithError("Create did not harmonise cleanly");
    std::filesystem::remove(melody);
}
BENCHMARK(BM_CreateAccompaniment2000Bars)->Unit(benchmark::kMillisecond)->Iterations(5);

// The play timer's tick while a harmonised 2,000-bar melody plays from its middle (recording
// output): the player's position and tempo, the cursor, the chord grid's playing bar, the
// status bar's position and the tempo controls. Ticks come a few milliseconds apart, as from the
// timer, so that the player runs between them as it does in use; only the tick is timed.
void BM_PlayTimerTick2000Bars(benchmark::State& state) {
    QTemporaryDir dir;
    if (!install(dir)) {
        state.SkipWithError("cannot write the registry");
        return;
    }
    qputenv(kOutputEnvVar, kRecordingOutput);
    const auto melody = longMelody(2000);
    CountingDialogs dialogs;
    NoLauncher launcher;
    model::SeededRandom random(1);
    TfMain window({&dialogs, &launcher, &launcher, &random}, QString());
    window.resize(1000, 700);
    window.show();
    window.openFile(QString::fromStdString(melody.string()), 0);
    TfNotes_l* notes = window.notesView();
    if (notes) window.b_CreateAccClick();
    if (!notes || !window.chordsView() || !window.chordsView()->hasGrid()) {
        state.SkipWithError("the melody did not open and harmonise");
        std::filesystem::remove(melody);
        return;
    }
    notes->playRange().set(PlayRange::kStart, 1000 * 4 * 480);
    window.b_PlayClick();
    window.playTimerTimer();
    const int firstPixel = notes->cursorPixel();
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const auto start = std::chrono::steady_clock::now();
        window.playTimerTimer();
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    // The ticks did their work: the piece still plays, the cursor moved on with it, and the grid
    // marks a bar of the second half.
    if (!window.player().isPlaying() || notes->cursorPixel() <= firstPixel ||
        window.chordsView()->playingBar() < 1000)
        state.SkipWithError("the ticks did not follow the playback");
    window.b_StopClick();
    std::filesystem::remove(melody);
}
BENCHMARK(BM_PlayTimerTick2000Bars)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Iterations(1000);

}  // namespace
