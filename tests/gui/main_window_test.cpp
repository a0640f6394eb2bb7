// The main window driven offscreen through its controls, with scripted boxes, launcher, help and
// random source, over a temporary installation and registry file.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "engine/Apperr.h"
#include "playback/RecordingPort.h"
#include "playback/WavRender.h"
#include "scripted_services.h"
#include "settings/RegFile.h"
#include "settings/RegSetup.h"
#include "settings/Tmyregistry.h"
#include "support/accompaniment_fixture.h"
#include "support/samples.h"
#include "support/wav.h"
#include "ui/Application.h"
#include "ui/DialogProvider.h"
#include "ui/Fabout1.h"
#include "ui/Farrangs.h"
#include "ui/Finputval.h"
#include "ui/Fmain.h"
#include "ui/Fsetchnl.h"
#include "ui/Fstyle1.h"
#include "ui/Ftipsd.h"
#include "ui/HelpWindow.h"
#include "ui/Launcher.h"
#include "ui/model/HelpTopics.h"

using namespace varimel;
namespace fs = std::filesystem;

class MainWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::TempDir> dir_;
    fs::path root_;
    fs::path registry_;
    ScriptedDialogs dialogs_;
    ScriptedLauncher launcher_;
    RecordingHelp help_;
    FixedRandom random_;

    MainServices services() { return {&dialogs_, &launcher_, &help_, &random_}; }

    // An installation with 10 instrument names, 3 tips, no libraries and no tips at start.
    void install(bool withLibraries, bool showTips = false) {
        root_ = dir_->path() / "data";
        std::string names;
        for (int i = 0; i < 10; ++i) names += "Instrument " + std::to_string(i) + "\r\n";
        writeText(root_ / "gmi.txt", names);
        writeText(root_ / "tips.txt", "Tip one\nTip two\nTip three\n");
        InstallLayout layout;
        layout.installPath = root_.string();
        layout.showTips = showTips;
        if (withLibraries) {
            layout.styleDir = std::string(VARIMEL_BUILD_LIBRARY_DIR) + "styles/";
            layout.arrangementDir = std::string(VARIMEL_BUILD_LIBRARY_DIR) + "arrangements/";
        } else {
            layout.styleDir = (dir_->path() / "nostyles/").string();
            layout.arrangementDir = (dir_->path() / "noarrangements/").string();
        }
        RegistryFile registry(registry_);
        QVERIFY(writeInstallation(registry, layout, true));
    }

    std::int32_t registryInteger(std::string_view key, std::string_view name) {
        RegistryFile registry(registry_);
        if (!registry.openKey(programKey(key), false)) return -1;
        return registry.readInteger(name);
    }

    QStringList messageTexts() const {
        QStringList texts;
        for (const ShownMessage& message : dialogs_.messages) texts.append(message.text);
        return texts;
    }

  private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<test::TempDir>("varimel-gui");
        registry_ = dir_->path() / "registry.reg";
        qputenv(kRegistryEnvVar, QByteArray::fromStdString(registry_.string()));
        qunsetenv("VARIMEL_OUTPUT");
        dialogs_ = ScriptedDialogs();
        launcher_ = ScriptedLauncher();
        help_ = RecordingHelp();
        random_ = FixedRandom();
    }

    void cleanup() { dir_.reset(); }

    void withoutSettingsTheProgramEndsWithCodeOneBeforeItsLoop() {
        bool loopRan = false;
        QTimer::singleShot(0, qApp, [&] {
            loopRan = true;
            qApp->exit(99);
        });
        QCOMPARE(runVarimel(*qApp, {}, services()), 1);
        QVERIFY(!loopRan);
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        QCOMPARE(dialogs_.messages[0].kind, model::MessageKind::Error);
        // The box names the command that writes the settings, and where they are looked for.
        const QString& text = dialogs_.messages[0].text;
        QVERIFY2(text.startsWith(QStringLiteral("Please run setup again")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("varimel-regsetup --install-path DIR")),
                 qPrintable(text));
        QVERIFY2(text.contains(QString::fromStdString(registry_.string())), qPrintable(text));
        QVERIFY(!fs::exists(registry_));    // nothing written at exit
        QCoreApplication::processEvents();  // let the guard timer go
    }

    void withoutTheInstrumentListTheProgramEndsWithCodeOne() {
        install(false);
        fs::remove(root_ / "gmi.txt");
        QCOMPARE(runVarimel(*qApp, {}, services()), 1);
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        const QString expected = QStringLiteral("Can't open file ") +
                                 QString::fromStdString((root_ / "gmi.txt").string()) +
                                 QStringLiteral(" \nNo such file or directory");
        QCOMPARE(dialogs_.messages[0].text, expected);
        QCOMPARE(registryInteger(kDeskTopKey, "Height"), -1);
    }

    void withoutLibrariesBothMessagesShowAndTheWindowRunsOn() {
        install(false);
        TfMain window(services(), QString());
        QVERIFY(window.started());
        QCOMPARE(messageTexts(), QStringList({displayText(kStylesLibraryMessage),
                                              displayText(kArrangementsLibraryMessage)}));
        QCOMPARE(dialogs_.messages[0].kind, model::MessageKind::Error);
        // The window is complete: instruments, caption, help path, command state 0.
        auto* patches = window.findChild<QListWidget*>("cb_Patchs");
        QVERIFY(patches);
        QCOMPARE(patches->count(), 138);
        QCOMPARE(patches->item(9)->text(), QStringLiteral("Instrument 9"));
        QCOMPARE(patches->item(10)->text(), QStringLiteral("1"));
        QCOMPARE(window.windowTitle(), QStringLiteral("  Varimel "));
        QCOMPARE(help_.helpPath, QString::fromStdString(root_.string()) + "/help/");
        QVERIFY(!window.findChild<QAction*>("tb_Save")->isEnabled());
        QVERIFY(!window.findChild<QAction*>("mnFPrint")->isEnabled());
        QVERIFY(window.findChild<QAction*>("mnFOpen")->isEnabled());
        QCOMPARE(window.statusPanel(0)->text(), QStringLiteral("For Help, press F1"));
        // The picture of the empty window, kept beside the test as an artefact to look at.
        window.show();
        const QImage picture = window.grab().toImage();
        QCOMPARE(picture.size(), window.size());
        QVERIFY(picture.save(QDir::current().filePath("main_window.png")));
    }

    void librariesLoadAndImportButtonsNeedAnExecutableTool() {
        install(true);
        writeText(root_ / "tools/varimel-style-import", "#!/bin/sh\n");
        fs::permissions(root_ / "tools/varimel-style-import", fs::perms::owner_all);
        TfMain window(services(), QString());
        QVERIFY(window.started());
        QVERIFY2(dialogs_.messages.empty(), qPrintable(messageTexts().join('|')));
        QVERIFY(window.styleDialog()->library().loaded());
        QVERIFY(window.arrangementDialog()->library().listLoaded());
        QCOMPARE(window.styleDialog()->meterNumerator(), 4);
        QCOMPARE(window.arrangementDialog()->library().currentMeterKey(), 0x0404);
        QVERIFY(window.styleDialog()
                    ->findChild<QPushButton*>("b_Import")
                    ->isVisibleTo(window.styleDialog()));
        QVERIFY(!window.arrangementDialog()
                     ->findChild<QPushButton*>("b_Reload")
                     ->isVisibleTo(window.arrangementDialog()));
    }

    void commandStatesSwitchTheNamedControls() {
        install(false);
        TfMain window(services(), QString());
        window.setCommandState(model::command_mode::kOpened);
        QVERIFY(window.findChild<QAction*>("tb_Save")->isEnabled());
        QVERIFY(window.findChild<QToolButton*>("b_Play")->isEnabled());
        QVERIFY(!window.findChild<QPushButton*>("b_StyleAcc")->isEnabled());
        QVERIFY(!window.findChild<QAction*>("tb_Print")->isEnabled());
        window.setCommandState(model::command_mode::kAccompaniment);
        QVERIFY(window.findChild<QAction*>("tb_Print")->isEnabled());
        QVERIFY(window.findChild<QWidget*>("imgSAM")->isVisibleTo(&window));
        window.findChild<QPushButton*>("chb_MelOff")->setChecked(true);
        window.findChild<QComboBox*>("cb_Key")->setCurrentIndex(5);
        window.setCommandState(model::command_mode::kClosed);
        QVERIFY(!window.findChild<QPushButton*>("chb_MelOff")->isChecked());
        QCOMPARE(window.findChild<QComboBox*>("cb_Key")->currentIndex(), 0);
        QVERIFY(!window.findChild<QAction*>("tb_Print")->isEnabled());
        window.setDocumentCaption(" - /m/tune.mid");
        QCOMPARE(window.windowTitle(), QStringLiteral("  Varimel  - /m/tune.mid"));
        QCOMPARE(QApplication::applicationDisplayName(), QStringLiteral(" Varimel  - /m/tune.mid"));
    }

    void commandLineTailIsOpenedWithoutTips() {
        install(false, true);
        TfMain window(services(), QStringLiteral("/m/a tune.mid"));
        window.show();
        // The file does not exist: the load fails with its status, and no document remains.
        QVERIFY(!dialogs_.messages.empty());
        QCOMPARE(dialogs_.messages.back().text,
                 QStringLiteral("Can't open file /m/a tune.mid \n101"));
        QCOMPARE(window.documentKind(), 0);
        QCoreApplication::processEvents();
        QVERIFY(!window.tipsDialog());
    }

    void closingIsRefusedWhilePlaying() {
        install(false);
        qputenv("VARIMEL_OUTPUT", "recording");
        TfMain window(services(), QString());
        QVERIFY(window.outputRecording());
        test::Piece piece = test::loadPiece("4/4", 16);
        QCOMPARE(piece.status, 0);
        window.player().composition = &piece.composition();
        window.show();
        QVERIFY(window.player().start());
        QVERIFY(window.player().isPlaying());
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        QTRY_VERIFY(window.outputRecording()->size() > 0);
        window.player().stop();
        window.player().waitForEnd();
        QVERIFY(window.close());
        window.player().composition = nullptr;
    }

    // Plays `piece` to its end on the window's player; answers the error shown, if any.
    static std::string playToEnd(TfMain& window, test::Piece& piece) {
        std::string error;
        window.player().composition = &piece.composition();
        if (!window.player().start(
                {}, [&error](const std::string&, const std::string& text) { error = text; }))
            return "not started";
        window.player().waitForEnd();
        window.player().composition = nullptr;
        return error;
    }

    void aCaptureOutputRendersThePlaybackIntoItsFileWithoutASoundDevice() {
        install(false);
        test::Piece piece = test::loadPiece("4/4", 4, {.tempoBpm = 240});  // four seconds
        QCOMPARE(piece.status, 0);
        // A folder that does not exist: playing fails, saying why.
        const fs::path missing = dir_->path() / "none" / "out.wav";
        qputenv("VARIMEL_OUTPUT", QByteArray::fromStdString("capture:" + missing.string()));
        {
            TfMain window(services(), QString());
            const std::string error = playToEnd(window, piece);
            QCOMPARE(error, "Cannot capture playback to \"" + missing.string() + "\": " +
                                (canRenderWav() ? "cannot write " + missing.string() +
                                                      ": No such file or directory"
                                                : std::string(kNoSynthesiserText)));
        }
        QVERIFY(!fs::exists(missing.parent_path()));
        if (!canRenderWav()) return;

        const fs::path wav = dir_->path() / "out.wav";
        qputenv("VARIMEL_OUTPUT", QByteArray::fromStdString("capture:" + wav.string()));
        double played = 0;
        {
            TfMain window(services(), QString());
            QVERIFY(!window.outputRecording());
            const auto start = std::chrono::steady_clock::now();
            QCOMPARE(playToEnd(window, piece), std::string());
            played =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }  // the window's player ends with it: the file is complete
        const test::Wav sound = test::readWav(wav);
        QCOMPARE(sound.rate, 44100);
        // The time played, and at most three seconds of the last notes ringing out.
        QVERIFY2(
            sound.seconds() >= 0.95 * played && sound.seconds() <= 1.05 * played + 3.0,
            qPrintable(QStringLiteral("%1 s for %2 s played").arg(sound.seconds()).arg(played)));
        QVERIFY(test::rms(sound.mono, 0, sound.mono.size()) > 0.005);  // 0.012 measured
    }

    void tipsShowAtStartAndTheirChoiceIsStoredAtOnce() {
        install(false, true);
        TfMain window(services(), QString());
        window.show();
        QTRY_VERIFY(window.tipsDialog() && window.tipsDialog()->isVisible());
        TfTips* tips = window.tipsDialog();
        QCOMPARE(tips->tipText(), QStringLiteral("   Tip two"));  // 4 mod 3
        QTest::mouseClick(tips->findChild<QPushButton*>("Button1"), Qt::LeftButton);
        QCOMPARE(tips->tipText(), QStringLiteral("   Tip one"));  // 6 mod 3
        tips->findChild<QCheckBox*>("CheckBox1")->setChecked(false);
        QTest::mouseClick(tips->findChild<QPushButton*>("Button2"), Qt::LeftButton);
        QVERIFY(!tips->isVisible());
        QCOMPARE(registryInteger(kSettingsKey, "ShowTips"), 0);
        QCOMPARE(window.showTips(), std::uint8_t{0});
        // "Tip of the Day" brings the same dialog back, reloaded.
        window.findChild<QAction*>("mnTips")->trigger();
        QCOMPARE(window.tipsDialog(), tips);
        QVERIFY(tips->isVisible());
        QCOMPARE(tips->tipText(), QStringLiteral("   Tip three"));  // 2 mod 3
        QVERIFY(!tips->findChild<QCheckBox*>("CheckBox1")->isChecked());
    }

    void aRefusedShowTipsWriteSaysSoAndKeepsTheFlag() {
        install(false, true);
        TfMain window(services(), QString());
        window.findChild<QAction*>("mnTips")->trigger();
        dialogs_.messages.clear();
        // A file that is no registry export is never written.
        writeText(registry_, "not a registry\n");
        window.tipsDialog()->findChild<QCheckBox*>("CheckBox1")->setChecked(false);
        QTest::mouseClick(window.tipsDialog()->findChild<QPushButton*>("Button2"), Qt::LeftButton);
        QCOMPARE(messageTexts(), QStringList({"Failed to set data for 'ShowTips'"}));
        QCOMPARE(dialogs_.messages[0].kind, model::MessageKind::Error);
        QCOMPARE(window.showTips(), std::uint8_t{1});
    }

    void engineMessagesFromAnyThreadBecomeErrorBoxes() {
        install(false);
        TfMain window(services(), QString());
        dialogs_.messages.clear();
        std::thread([] { reportError(7); }).join();
        QTRY_COMPARE(messageTexts(), QStringList({"Error 7"}));
        QCOMPARE(dialogs_.messages[0].kind, model::MessageKind::Error);
    }

    void missingTipsFileDisablesNextTip() {
        install(false);
        fs::remove(root_ / "tips.txt");
        TfMain window(services(), QString());
        window.findChild<QAction*>("mnTips")->trigger();
        QVERIFY(window.tipsDialog()->isVisible());
        QVERIFY(!window.tipsDialog()->findChild<QPushButton*>("Button1")->isEnabled());
        QCOMPARE(window.tipsDialog()->tipText(), QString());
    }

    void webCommandsOpenTheSiteOrSayWhereItIs() {
        install(false);
        TfMain window(services(), QString());
        dialogs_.messages.clear();
        window.findChild<QAction*>("VarimelWebsite1")->trigger();
        QCOMPARE(launcher_.urls, QStringList({"http://www.belmora.com/varimel"}));
        QVERIFY(dialogs_.messages.empty());
        launcher_.canOpen = false;
        window.findChild<QAction*>("mnSmpWS")->trigger();
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        QCOMPARE(dialogs_.messages[0].kind, model::MessageKind::Plain);
        QCOMPARE(dialogs_.messages[0].text, QStringLiteral("Visit www.belmora.com/varimel."));
        QVERIFY(launcher_.started.isEmpty());

        // The desktop's opener is there, but no browser is set up for web addresses: the real
        // launcher says it cannot open the site rather than starting an opener that shows nothing.
        const fs::path bin = dir_->path() / "bin";
        writeText(bin / "xdg-open", "#!/bin/sh\ntouch \"$0.ran\"\n");
        writeText(bin / "xdg-mime", "#!/bin/sh\nexit 0\n");
        for (const char* tool : {"xdg-open", "xdg-mime"})
            fs::permissions(bin / tool, fs::perms::owner_all, fs::perm_options::add);
        const QByteArray path = qgetenv("PATH");
        const QByteArray browser = qgetenv("BROWSER");
        qputenv("PATH", QByteArray::fromStdString(bin.string()));
        qunsetenv("BROWSER");
        DesktopLauncher desktop;
        const bool opened = desktop.openUrl(QUrl(QStringLiteral("http://www.belmora.com/varimel")));
        qputenv("PATH", path);
        if (!browser.isEmpty()) qputenv("BROWSER", browser);
        QVERIFY(!opened);
        QVERIFY(!fs::exists(bin / "xdg-open.ran"));
    }

    void helpCommandsAndF1OpenTheirTopics() {
        install(false);
        TfMain window(services(), QString());
        for (const char* item : {"mnContents", "mnQuickTour", "mnMelReq", "mnVmelDemos", "mnBRF"})
            window.findChild<QAction*>(item)->trigger();
        QCOMPARE(help_.topics, (std::vector<int>{0, 2, 29, 28, 30}));
        QCOMPARE(window.findChild<QAction*>("mnContents")->text(), QStringLiteral("&Contents\tF1"));

        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        help_.topics.clear();
        window.findChild<QComboBox*>("cb_Key")->setFocus();
        QTest::keyClick(&window, Qt::Key_F1);
        window.findChild<QPushButton*>("chb_MelOff")->setEnabled(true);
        window.findChild<QPushButton*>("chb_MelOff")->setFocus();
        QTest::keyClick(&window, Qt::Key_F1);
        auto* helpMenu = window.findChild<QMenu*>("mnHelp");
        helpMenu->popup(window.mapToGlobal(QPoint(10, 10)));
        QTRY_VERIFY(helpMenu->isVisible());
        QTest::keyClick(helpMenu, Qt::Key_F1);
        helpMenu->close();
        QTest::mouseClick(window.styleDialog()->findChild<QPushButton*>("b_Help"), Qt::LeftButton);
        QCOMPARE(help_.topics, (std::vector<int>{23, 8, 22, 24}));

        dialogs_.fileToOpen = QStringLiteral("/s/x.mid");
        window.findChild<QAction*>("Local1")->trigger();
        QCOMPARE(dialogs_.openDirs,
                 QStringList({QString::fromStdString(root_.string()) + "/samples"}));
        QCOMPARE(window.documentKind(), 0);  // /s/x.mid does not exist
    }

    void aboutBoxNeedsItsPicture() {
        install(false);
        TfMain window(services(), QString());
        dialogs_.messages.clear();
        window.findChild<QAction*>("mnAbout")->trigger();
        QVERIFY(dialogs_.ran.isEmpty());
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        QCOMPARE(dialogs_.messages[0].kind, model::MessageKind::Error);
        QVERIFY(dialogs_.messages[0].text.contains(
            QString::fromStdString((root_ / "images/About.jpg").string())));

        fs::create_directories(root_ / "images");
        QImage picture(120, 80, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(QString::fromStdString((root_ / "images/About.jpg").string()), "JPG"));
        window.findChild<QAction*>("mnAbout")->trigger();
        QCOMPARE(dialogs_.ran, QStringList({"TfAbout"}));
        QVERIFY(dialogs_.aboutText.contains("Linux"));
        QVERIFY(dialogs_.aboutText.contains(VARIMEL_VERSION_TEXT));
    }

    void inputAndChannelDialogsHandValuesInAndOut() {
        TfIV input;
        input.setTexts("Composition info", "Before printing", "Composition title:", "Author name:");
        input.setValues("Air", "Anon");
        QCOMPARE(input.windowTitle(), QStringLiteral("Composition info"));
        QCOMPARE(input.findChild<QLabel*>("Label1")->text(), QStringLiteral("Composition title:"));
        input.findChild<QLineEdit*>("Edit2")->setText("Someone");
        QTest::mouseClick(input.findChild<QPushButton*>("Button1"), Qt::LeftButton);
        QCOMPARE(input.result(), int(QDialog::Accepted));
        QCOMPARE(input.value1(), QStringLiteral("Air"));
        QCOMPARE(input.value2(), QStringLiteral("Someone"));

        TfSetChn channels;
        QCOMPARE(channels.windowTitle(), QStringLiteral("Select Channel of Melody"));
        QCOMPARE(channels.selectedChannel(), -1);
        channels.addChannel("Channel 3", 2);
        channels.addChannel("Channel 10", 9);
        QCOMPARE(channels.selectedChannel(), 2);
        channels.list()->setCurrentIndex(1);
        QCOMPARE(channels.selectedChannel(), 9);
        for (int i = 0; i < 20; ++i) channels.addChannel("more", 1);
        QCOMPARE(channels.list()->count(), 16);
    }

    void helpWindowShowsTopicPagesAndSaysWhenOneIsMissing() {
        const fs::path help = dir_->path() / "help";
        writeText(help / "index.html", "<h1>Contents</h1><a href=\"topic-2.html\">Tour</a>");
        writeText(help / "topic-2.html", "<h1>Quick Tour</h1><a href=\"index.html\">Contents</a>");
        HelpWindow window;
        window.setHelpPath(QString::fromStdString(help.string()) + "/");
        window.showHelp(model::help_topic::kQuickTour);
        QVERIFY(window.isVisible());
        QVERIFY(window.browser()->source().toLocalFile().endsWith("topic-2.html"));
        QVERIFY(window.browser()->toPlainText().contains("Quick Tour"));
        window.showHelp(model::help_topic::kContents);
        QVERIFY(window.browser()->toPlainText().contains("Contents"));
        window.showHelp(model::help_topic::kSupport);
        QVERIFY(window.browser()->toPlainText().contains("topic-30.html"));
    }

    void helpFromAModalDialogIsUsableAboveItAndFitsTheScreen() {
        const fs::path help = dir_->path() / "help";
        writeText(help / "index.html", "<h1>Contents</h1>");
        writeText(help / "topic-26.html", "<h1>Options</h1>");
        HelpWindow window;
        window.setHelpPath(QString::fromStdString(help.string()) + "/");
        QDialog dialog;
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QRect screen = dialog.screen()->availableGeometry();
        // Left low on the screen, as a window manager may place it.
        window.move(screen.left(), screen.bottom() - 100);

        window.showHelp(model::help_topic::kOptionsDialog);
        QVERIFY(window.isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY2(screen.contains(window.frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(window.frameGeometry().x())
                                .arg(window.frameGeometry().y())
                                .arg(window.frameGeometry().width())
                                .arg(window.frameGeometry().height())));
        // Its buttons answer clicks while the dialog is open: Contents, then Back.
        auto* home = window.findChild<QToolButton*>("b_HelpHome");
        auto* back = window.findChild<QToolButton*>("b_HelpBack");
        QVERIFY(home && back);
        QTest::mouseClick(home, Qt::LeftButton);
        QTRY_VERIFY(window.browser()->toPlainText().contains("Contents"));
        QVERIFY(back->isEnabled());
        QTest::mouseClick(back, Qt::LeftButton);
        QTRY_VERIFY(window.browser()->toPlainText().contains("Options"));

        // The dialog closes; the help stays open on its own.
        dialog.hide();
        QVERIFY(window.isVisible());
        QVERIFY(window.parentWidget() == nullptr);
    }

    void aBoxRaisedUnderAModalDialogIsOwnedByIt() {
        // An arrangement library whose files cannot be read.
        const fs::path broken = dir_->path() / "arrangements";
        fs::copy(std::string(VARIMEL_BUILD_LIBRARY_DIR) + "arrangements", broken);
        for (const auto& entry : fs::directory_iterator(broken)) {
            if (entry.path().extension() == ".art") writeText(entry.path(), "bad");
        }
        install(true);
        {
            RegistryFile registry(registry_);
            InstallLayout layout;
            layout.installPath = root_.string();
            layout.styleDir = std::string(VARIMEL_BUILD_LIBRARY_DIR) + "styles/";
            layout.arrangementDir = (broken / "").string();
            QVERIFY(writeInstallation(registry, layout, true));
        }
        TfMain window(services(), QString());
        QVERIFY(window.started());
        window.show();
        TfArrang* dialog = window.arrangementDialog();
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QLabel* entry = nullptr;
        for (QLabel* text : dialog->findChildren<QLabel*>()) {
            if (text->objectName().startsWith("mi_")) entry = text;
        }
        QVERIFY(entry != nullptr);
        QTest::mouseClick(entry, Qt::LeftButton);
        QTRY_VERIFY(!dialogs_.messages.empty());
        QCOMPARE(dialogs_.messages.back().text, QStringLiteral("Can't Load selected Arrangement?"));
        QVERIFY(dialogs_.messages.back().owner == dialog);
        dialog->hide();
    }

    void exitClosesTheOtherWindowsAndDialogsReopenWhereTheyWere() {
        install(false);
        TfMain window(services(), QString());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        auto* options = window.findChild<QDialog*>("TfOptions");
        QVERIFY(options != nullptr);
        options->show();
        options->move(options->pos() + QPoint(37, 41));
        const QPoint place = options->pos();
        options->hide();
        options->show();
        QCOMPARE(options->pos(), place);
        options->hide();

        HelpWindow help;
        help.show();
        window.findChild<QAction*>("mnTips")->trigger();
        QVERIFY(window.tipsDialog() && window.tipsDialog()->isVisible());
        window.findChild<QAction*>("mnFExit")->trigger();
        QVERIFY(!window.isVisible());
        QVERIFY(!help.isVisible());
        QVERIFY(!window.tipsDialog()->isVisible());
    }

    void everyMenuCommandIsDescribedInTheHelp() {
        install(false);
        TfMain window(services(), QString());
        QString help;
        const QDir pages(QStringLiteral(VARIMEL_SOURCE_DIR "/data/help"));
        for (const QFileInfo& page : pages.entryInfoList({QStringLiteral("*.html")})) {
            QFile file(page.filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QTextDocument document;
            document.setHtml(QString::fromUtf8(file.readAll()));
            help += document.toPlainText() + QLatin1Char(' ');
        }
        help = help.simplified();
        QStringList missing;
        std::function<void(QMenu*)> walk = [&](QMenu* menu) {
            for (QAction* action : menu->actions()) {
                if (action->isSeparator() || !action->isVisible()) continue;
                QString caption = action->text().remove(QLatin1Char('&')).section('\t', 0, 0);
                caption = caption.trimmed();
                if (caption.endsWith(QLatin1String("..."))) caption.chop(3);
                caption = caption.trimmed();
                if (!caption.isEmpty() && !help.contains(caption, Qt::CaseInsensitive))
                    missing.append(caption);
                if (action->menu()) walk(action->menu());
            }
        };
        for (QAction* top : window.menuBar()->actions()) {
            if (top->isVisible() && top->menu()) walk(top->menu());
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(", "))));
    }

    void exitWritesTheNormalBoundsAndTheMaximisedState() {
        install(false);
        {
            TfMain window(services(), QString());
            window.setGeometry(40, 50, 700, 600);
            window.show();
            window.showMaximized();
            QCoreApplication::processEvents();
        }
        QCOMPARE(registryInteger(kDeskTopKey, "Width"), 700);
        QCOMPARE(registryInteger(kDeskTopKey, "Height"), 600);
        QCOMPARE(registryInteger(kDeskTopKey, "Maximize"), 1);
        TfMain again(services(), QString());
        QCOMPARE(again.placement(), (WindowPlacement{600, 700, 40, 50}));
        // Menu bar, toolbar, 200 of melody, 49 + 230 fixed and the status bar all fit.
        QVERIFY2(again.minimumHeight() >= 200 + 49 + 230 + 18 + 2 * 20,
                 qPrintable(QString::number(again.minimumHeight())));
        QCOMPARE(again.minimumWidth(), 620);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
