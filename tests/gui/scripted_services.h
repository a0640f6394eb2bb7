// Scripted stand-ins for the window's seams: boxes and file dialogs that answer as a test says
// and remember what they were asked, a launcher, a help sink and a fixed random source.
#pragma once

#include <QDialog>
#include <QStringList>
#include <QUrl>
#include <QtTest>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "accompaniment/Tstylemaster.h"
#include "engine/Mas_file.h"
#include "engine/Wchordmaster.h"
#include "settings/RegFile.h"
#include "settings/RegSetup.h"
#include "support/samples.h"
#include "ui/DialogProvider.h"
#include "ui/Fabout1.h"
#include "ui/Fmain.h"
#include "ui/HelpWindow.h"
#include "ui/Launcher.h"
#include "ui/model/Random.h"

namespace varimel {

struct ShownMessage {
    model::MessageKind kind;
    QString text;
    QWidget* owner = nullptr;
};

class ScriptedDialogs final : public DialogProvider {
  public:
    QMessageBox::StandardButton message(QWidget* owner, model::MessageKind kind,
                                        const QString& text,
                                        QMessageBox::StandardButtons) override {
        messages.push_back({kind, text, owner});
        if (answers.empty()) return QMessageBox::Ok;
        const QMessageBox::StandardButton answer = answers.front();
        answers.pop_front();
        return answer;
    }
    QString openFileName(QWidget*, const QString&, const QString& dir, const QString&) override {
        openDirs.append(dir);
        return fileToOpen;
    }
    QString saveFileName(QWidget*, const QString&, const QString& proposed,
                         const QString&) override {
        proposedNames.append(proposed);
        return fileToSave;
    }
    bool print(QWidget*, QPrinter& printer) override {
        ++printDialogs;
        return onPrint ? onPrint(printer) : false;
    }
    int run(QDialog& dialog) override {
        ran.append(dialog.objectName());
        if (auto* about = qobject_cast<TfAbout*>(&dialog)) aboutText = about->versionText();
        return onRun ? onRun(dialog) : QDialog::Accepted;
    }

    std::vector<ShownMessage> messages;
    std::deque<QMessageBox::StandardButton> answers;  // for the next boxes; then OK
    QStringList openDirs;
    QString fileToOpen;
    QStringList proposedNames;
    QString fileToSave;  // empty: the save dialog is cancelled
    QStringList ran;
    QString aboutText;
    int printDialogs = 0;
    std::function<bool(QPrinter&)> onPrint;  // sets the printer up; unset: the dialog is cancelled
    // Plays the user's part in one of our dialogs (selects, ticks) and answers how it closed;
    // unset: accepted as it stands.
    std::function<int(QDialog&)> onRun;
};

class ScriptedLauncher final : public Launcher {
  public:
    bool startDetached(const QString& program, const QString& argument) override {
        started.append(program + QLatin1Char(' ') + argument);
        return true;
    }
    bool openUrl(const QUrl& url) override {
        urls.append(url.toString());
        return canOpen;
    }
    bool canOpen = true;
    QStringList started;
    QStringList urls;
};

class RecordingHelp final : public HelpSink {
  public:
    void setHelpPath(const QString& path) override { helpPath = path; }
    void showHelp(int topic) override { topics.push_back(topic); }
    QString helpPath;
    std::vector<int> topics;
};

class FixedRandom final : public model::RandomSource {
  public:
    std::uint32_t next() override { return values[index++ % values.size()]; }
    std::vector<std::uint32_t> values{4, 6, 2};
    std::size_t index = 0;
};

inline void writeText(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// An installation under `dir` (its data in dir/data, its registry dir/registry.reg) with the
// build's style and arrangement libraries and the given instrument list; the tip of the day
// shows at start when `showTips` says so.
inline bool installWithLibraries(const std::filesystem::path& dir,
                                 const std::string& instruments = "Piano\nBright Piano\n",
                                 bool showTips = true) {
    const std::filesystem::path root = dir / "data";
    writeText(root / "gmi.txt", instruments);
    InstallLayout layout;
    layout.installPath = root.string();
    layout.showTips = showTips;
    layout.styleDir = std::string(VARIMEL_BUILD_LIBRARY_DIR) + "styles/";
    layout.arrangementDir = std::string(VARIMEL_BUILD_LIBRARY_DIR) + "arrangements/";
    RegistryFile registry(dir / "registry.reg");
    return writeInstallation(registry, layout, true);
}

// A melody harmonised with Draft I, as the command line does it, saved as the project `target`;
// `parts` other than 0 replaces the accompaniment parts it is saved with. Empty on failure.
inline QString writeHarmonisedProject(const std::filesystem::path& melody,
                                      const std::filesystem::path& target, uint32_t parts = 0) {
    ChordMaster master(melody.string());
    if (master.loadMidi() != 0 || master.harmonise(defaultOptions) != 0) return {};
    if (parts != 0) master.composition()->accompanimentParts = parts;
    std::string error;
    if (!ProjectWriter::write(target.string(), *master.composition(), defaultOptions, error)) {
        return {};
    }
    return QString::fromStdString(target.string());
}

// A 4/4 style of the first category other than the one the library has chosen; none when the
// library has no such style.
inline StyleId anotherStyleFor44(const StyleLibrary& styles) {
    for (int index = 0; index < 64; ++index) {
        const StyleId id = makeStyleId(1, index);
        const Style* style = styles.find(id);
        if (id != styles.selection() && style && StyleLibrary::meterFits(style->meters, 4, 4))
            return id;
    }
    return kNoStyle;
}

// What every window test holds: a folder of its own (the installation's registry lives there),
// the scripted seams and the window. Tests derive from it next to QObject and call `prepare` and
// `finish` from their init and cleanup.
class WindowFixture {
  protected:
    std::unique_ptr<test::TempDir> dir_;
    ScriptedDialogs dialogs_;
    ScriptedLauncher launcher_;
    RecordingHelp help_;
    FixedRandom random_;
    std::unique_ptr<TfMain> window_;

    MainServices services() { return {&dialogs_, &launcher_, &help_, &random_}; }

    // A fresh folder named after the test, the registry and the user's data folder in it, the
    // recording output.
    void prepare(const char* folder) {
        dir_ = std::make_unique<test::TempDir>(folder);
        qputenv(kRegistryEnvVar,
                QByteArray::fromStdString((dir_->path() / "registry.reg").string()));
        qputenv("VARIMEL_OUTPUT", "recording");
        // Recovery copies stay in the test's folder, never in the user's.
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString((dir_->path() / "data-home").string()));
        dialogs_ = ScriptedDialogs();
    }
    // "Instrument 0" to "Instrument 127": every program named after its number.
    static std::string numberedInstruments() {
        std::string names;
        for (int program = 0; program < 128; ++program)
            names += "Instrument " + std::to_string(program) + "\n";
        return names;
    }
    // The installation with these instruments, the window started and shown, the harmony
    // options at their defaults (a test before may have changed them).
    void startWindow(const std::string& instruments) {
        QVERIFY(installWithLibraries(dir_->path(), instruments, false));
        window_ = std::make_unique<TfMain>(services(), QString());
        QVERIFY(window_->started());
        window_->show();
        currentOptions = defaultOptions;
    }
    // The player's worker ends before the window and the folder go.
    void finish() {
        if (window_) {
            window_->player().stop();
            window_->player().waitForEnd();
        }
        window_.reset();
        dir_.reset();
    }
};

}  // namespace varimel
