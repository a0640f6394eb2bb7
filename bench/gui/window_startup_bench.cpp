// Start-up of the main window, offscreen: settings, instrument names, both libraries, every
// control, up to the shown window. Exit (which writes the settings) is not timed.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <fstream>

#include "settings/RegFile.h"
#include "settings/RegSetup.h"
#include "ui/DialogProvider.h"
#include "ui/Fmain.h"
#include "ui/Fstyle1.h"
#include "ui/Launcher.h"

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

void BM_WindowStartup(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString() + "/data";
    std::filesystem::create_directories(root);
    {
        std::ofstream names(root + "/gmi.txt");
        for (int program = 1; program <= 128; ++program) names << "Program " << program << '\n';
    }
    const std::string registryFile = dir.path().toStdString() + "/registry.reg";
    {
        RegistryFile registry(registryFile);
        InstallLayout layout;
        layout.installPath = root;
        layout.showTips = false;
        layout.styleDir = std::string(VARIMEL_BUILD_LIBRARY_DIR) + "styles/";
        layout.arrangementDir = std::string(VARIMEL_BUILD_LIBRARY_DIR) + "arrangements/";
        if (!writeInstallation(registry, layout, true)) {
            state.SkipWithError("cannot write the registry");
            return;
        }
    }
    qputenv(kRegistryEnvVar, QByteArray::fromStdString(registryFile));
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
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
