// What the window benchmarks share: seams that never block, a long melody file, and a main
// window's settings over the build's libraries.
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "settings/RegFile.h"
#include "settings/RegSetup.h"
#include "ui/DialogProvider.h"
#include "ui/HelpWindow.h"
#include "ui/Launcher.h"

namespace varimel::bench {

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

inline void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}
inline void putDelta(std::vector<uint8_t>& out, uint32_t value) {
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
inline std::filesystem::path longMelody(int bars) {
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

// An installation under `dir` (128 instrument names, no tips, the build's libraries) whose
// registry file the window will read; false when it could not be written.
inline bool installWindow(const QTemporaryDir& dir) {
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

// A benchmark program's main: offscreen unless the environment names a platform.
inline int runBenchmarks(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace varimel::bench
