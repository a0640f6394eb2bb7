// The options dialog and the manual chord progression dialog, on their own and opened from the
// main window, driven offscreen through their controls with scripted boxes.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <vector>

#include "engine/Apperr.h"
#include "scripted_services.h"
#include "settings/HarmonyOptions.h"
#include "support/samples.h"
#include "ui/DialogProvider.h"
#include "ui/Fchrman.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/Foptions.h"
#include "ui/model/HelpTopics.h"
#include "ui/model/InstrumentNames.h"

using namespace varimel;
namespace fs = std::filesystem;

namespace {

template <typename Widget>
Widget* child(QObject* parent, const char* name) {
    auto* widget = parent->findChild<Widget*>(QString::fromLatin1(name));
    if (!widget) qWarning("no control %s", name);
    return widget;
}

// Options that differ from the defaults in every field the dialog shows and in some it does not.
HarmonyOptions changedOptions() {
    HarmonyOptions options;
    options.SHBmode = 0;
    options.CSFilter = true;
    options.DSFilter = true;
    options.MaxNumCustomChords = 4;
    options.AutoKey = false;
    options.DefAccPatch = 5;
    options.AutoSaveOpt = false;
    options.ApplyPKey = true;
    options.MinWT = 0.55f;
    return options;
}

model::InstrumentNames tenNames() {
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) names.push_back("Instrument " + std::to_string(i));
    model::InstrumentNames list;
    list.setNames(std::move(names));
    return list;
}

void press(QWidget* dialog, const char* button) {
    QTest::mouseClick(child<QAbstractButton>(dialog, button), Qt::LeftButton);
}

// Where the screenshot goes when VARIMEL_SHOTS names a folder.
void saveShot(QWidget& widget, const char* name) {
    const QByteArray folder = qgetenv("VARIMEL_SHOTS");
    if (folder.isEmpty()) return;
    fs::create_directories(folder.toStdString());
    QVERIFY(widget.grab().save(QString::fromUtf8(folder) + "/" + name));
}

}  // namespace

class OptionsDialogsTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::TempDir> dir_;
    ScriptedDialogs dialogs_;
    ScriptedLauncher launcher_;
    RecordingHelp help_;
    FixedRandom random_;
    HarmonyOptions savedOptions_;
    const model::InstrumentNames names_ = tenNames();

    MainServices services() { return {&dialogs_, &launcher_, &help_, &random_}; }

    // A window over an installation with ten instrument names, showing a sample melody.
    std::unique_ptr<TfMain> windowWithMelody() {
        std::string names;
        for (int i = 0; i < 10; ++i) names += "Instrument " + std::to_string(i) + "\n";
        if (!installWithLibraries(dir_->path(), names)) return nullptr;
        auto window = std::make_unique<TfMain>(services(), QString());
        if (!window->started()) return nullptr;
        window->show();
        dialogs_.fileToOpen = QString::fromStdString(test::sampleMelodyPath("ode_to_joy").string());
        window->findChild<QAction*>("mnFOpen")->trigger();
        return window;
    }

    // An options dialog over `options`, its patch list filled with ten names, shown.
    std::unique_ptr<TfOptions> shownOptions(HarmonyOptions& options) {
        auto dialog = std::make_unique<TfOptions>(options, help_);
        dialog->fillPatchList(names_);
        dialog->show();
        return dialog;
    }

    static Composition* composition(TfMain& window) {
        return window.notesView() ? window.notesView()->composition() : nullptr;
    }

  private Q_SLOTS:
    void init() {
        dir_ = std::make_unique<test::TempDir>("varimel-options");
        qputenv(kRegistryEnvVar,
                QByteArray::fromStdString((dir_->path() / "registry.reg").string()));
        qputenv("VARIMEL_OUTPUT", "recording");
        dialogs_ = ScriptedDialogs();
        help_ = RecordingHelp();
        savedOptions_ = currentOptions;
    }

    void cleanup() {
        currentOptions = savedOptions_;
        dir_.reset();
    }

    void everyControlIsFoundByItsNameOnItsPage() {
        HarmonyOptions options;
        TfOptions dialog(options, help_);
        auto* pages = child<QTabWidget>(&dialog, "pgc_Options");
        QVERIFY(pages);
        QCOMPARE(pages->count(), 1);
        QWidget* page = pages->widget(0);
        QCOMPARE(page->objectName(), QStringLiteral("oAcc"));
        for (const char* name :
             {"chb_OnGetTon", "Label1", "cb_DAP", "GroupBox1", "rb_Standart", "rb_Advanced",
              "chb_DSF", "chb_CSF", "st_NCC", "mt_NCC", "cb_setdopt", "b_Default"})
            QVERIFY2(child<QWidget>(page, name), name);
        for (const char* name : {"b_Ok", "b_Cancel", "b_Help"})
            QVERIFY2(child<QWidget>(&dialog, name)->parentWidget() == &dialog, name);
    }

    void everyShowReloadsTheRecordSoCancelledEditsVanish() {
        HarmonyOptions options = changedOptions();
        const auto dialog = shownOptions(options);
        auto* patch = child<QComboBox>(dialog.get(), "cb_DAP");
        auto* count = child<QLineEdit>(dialog.get(), "mt_NCC");
        QCOMPARE(patch->count(), names_.entryCount());
        QCOMPARE(patch->currentIndex(), 5);
        QCOMPARE(count->text(), QStringLiteral(" 4"));
        QVERIFY(child<QRadioButton>(dialog.get(), "rb_Standart")->isChecked());
        QVERIFY(!child<QCheckBox>(dialog.get(), "chb_OnGetTon")->isChecked());

        count->setText("7");
        press(dialog.get(), "rb_Advanced");
        press(dialog.get(), "b_Cancel");
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QCOMPARE(options, changedOptions());

        dialog->show();
        QCOMPARE(count->text(), QStringLiteral(" 4"));
        QVERIFY(child<QRadioButton>(dialog.get(), "rb_Standart")->isChecked());
        dialog->clearPatchList();
        QCOMPARE(patch->count(), 0);
    }

    void defaultOnlyRefillsTheControlsAndOkStoresTheShownFields_data() {
        QTest::addColumn<QString>("closingButton");
        QTest::newRow("Cancel leaves the options") << QStringLiteral("b_Cancel");
        QTest::newRow("OK stores the defaults") << QStringLiteral("b_Ok");
    }

    void defaultOnlyRefillsTheControlsAndOkStoresTheShownFields() {
        QFETCH(QString, closingButton);
        HarmonyOptions options = changedOptions();
        const auto dialog = shownOptions(options);
        press(dialog.get(), "b_Default");
        QCOMPARE(dialog->controls(), model::optionsControls(defaultOptions, names_));
        QCOMPARE(options, changedOptions());
        press(dialog.get(), closingButton.toLatin1().constData());
        HarmonyOptions expected = changedOptions();
        if (closingButton == "b_Ok") {
            QCOMPARE(dialog->result(), int(QDialog::Accepted));
            expected = defaultOptions;
            expected.ApplyPKey = true;  // not shown, so kept
            expected.MinWT = 0.55f;
        }
        QCOMPARE(options, expected);
    }

    void everyControlLandsInItsOwnFieldAndComesBack() {
        // One control at a time away from the defaults; only its own field may change.
        struct Edit {
            const char* control;
            std::function<void(QWidget&)> change;
            std::function<void(HarmonyOptions&)> expect;
        };
        const auto click = [](const char* name) {
            return [name](QWidget& dialog) { child<QAbstractButton>(&dialog, name)->click(); };
        };
        const std::vector<Edit> edits{
            {"chb_OnGetTon", click("chb_OnGetTon"), [](HarmonyOptions& o) { o.AutoKey = false; }},
            {"cb_DAP", [](QWidget& d) { child<QComboBox>(&d, "cb_DAP")->setCurrentIndex(6); },
             [](HarmonyOptions& o) { o.DefAccPatch = 6; }},
            {"rb_Standart", click("rb_Standart"), [](HarmonyOptions& o) { o.SHBmode = 0; }},
            {"chb_DSF", click("chb_DSF"), [](HarmonyOptions& o) { o.DSFilter = true; }},
            {"chb_CSF", click("chb_CSF"), [](HarmonyOptions& o) { o.CSFilter = true; }},
            {"mt_NCC", [](QWidget& d) { child<QLineEdit>(&d, "mt_NCC")->setText("6"); },
             [](HarmonyOptions& o) { o.MaxNumCustomChords = 6; }},
            {"cb_setdopt", click("cb_setdopt"), [](HarmonyOptions& o) { o.AutoSaveOpt = false; }},
        };
        for (const Edit& edit : edits) {
            HarmonyOptions options = defaultOptions;
            const auto dialog = shownOptions(options);
            edit.change(*dialog);
            press(dialog.get(), "b_Ok");
            HarmonyOptions expected = defaultOptions;
            edit.expect(expected);
            QVERIFY2(options == expected, edit.control);
            dialog->show();
            QVERIFY2(dialog->controls() == model::optionsControls(expected, names_), edit.control);
        }
    }

    void saveAsDefaultKeepsTheOptionsForLaterMelodiesAndTheNextRun() {
        auto window = windowWithMelody();
        QVERIFY(window);
        const auto setOptions = [this](const char* customChords, bool asDefault) {
            dialogs_.onRun = [customChords, asDefault](QDialog& dialog) {
                dialog.show();
                child<QLineEdit>(&dialog, "mt_NCC")->setText(customChords);
                child<QCheckBox>(&dialog, "cb_setdopt")->setChecked(asDefault);
                press(&dialog, "b_Ok");
                return dialog.result();
            };
        };
        const auto openMelody = [this, &window](const char* sample) {
            dialogs_.fileToOpen = QString::fromStdString(test::sampleMelodyPath(sample).string());
            window->findChild<QAction*>("mnFOpen")->trigger();
            QVERIFY(composition(*window));
        };
        // Ticked: every melody opened from now on starts from these options.
        setOptions("3", true);
        window->findChild<QAction*>("mnAOptions")->trigger();
        openMelody("twinkle");
        QCOMPARE(currentOptions.MaxNumCustomChords, std::int16_t{3});
        // Unticked: for this session only; the next melody starts from the saved ones again.
        setOptions("2", false);
        window->findChild<QAction*>("mnAOptions")->trigger();
        QCOMPARE(currentOptions.MaxNumCustomChords, std::int16_t{2});
        openMelody("ode_to_joy");
        QCOMPARE(currentOptions.MaxNumCustomChords, std::int16_t{3});
        // A draft changes the session's options, never the saved ones.
        window->findChild<QAction*>("mnHDraft2")->trigger();
        QCOMPARE(currentOptions.MaxNumCustomChords, std::int16_t{5});

        // The next run starts from what was saved as the default.
        window.reset();
        currentOptions = defaultOptions;
        window = std::make_unique<TfMain>(services(), QString());
        QVERIFY(window->started());
        QCOMPARE(currentOptions.MaxNumCustomChords, std::int16_t{3});
        QVERIFY(currentOptions.AutoSaveOpt);
        openMelody("twinkle");
        QCOMPARE(currentOptions.MaxNumCustomChords, std::int16_t{3});
        // A run that saved nothing writes nothing over them.
        window->findChild<QAction*>("mnHDraft2")->trigger();
        window.reset();
        window = std::make_unique<TfMain>(services(), QString());
        QCOMPARE(window->savedDefaults().MaxNumCustomChords, std::int16_t{3});
    }

    void typingTwelveStoresNineAndReopeningShowsNine() {
        HarmonyOptions options;
        TfOptions dialog(options, help_);
        dialog.show();
        auto* count = child<QLineEdit>(&dialog, "mt_NCC");
        count->clear();
        QTest::keyClicks(count, "12");
        press(&dialog, "b_Ok");
        QCOMPARE(options.MaxNumCustomChords, std::int16_t{9});
        // No list was filled, so no entry was chosen: the program stays.
        QCOMPARE(options.DefAccPatch, defaultOptions.DefAccPatch);
        dialog.show();
        QCOMPARE(count->text(), QStringLiteral(" 9"));
    }

    void helpOpensTheOptionsTopic() {
        HarmonyOptions options;
        TfOptions dialog(options, help_);
        dialog.show();
        press(&dialog, "b_Help");
        QCOMPARE(help_.topics, std::vector<int>{model::help_topic::kOptionsDialog});
        QVERIFY(dialog.isVisible());
    }

    void optionsOkFromTheWindowStoresAndMarksTheHarmonySettingsChanged() {
        auto window = windowWithMelody();
        QVERIFY(window);
        Composition* piece = composition(*window);
        QVERIFY(piece);
        piece->setStateFlags(0xFF, false);
        currentOptions = defaultOptions;
        int listed = -1;
        int page = -1;
        dialogs_.onRun = [&](QDialog& dialog) {
            dialog.show();
            listed = child<QComboBox>(&dialog, "cb_DAP")->count();
            page = child<QTabWidget>(&dialog, "pgc_Options")->currentIndex();
            child<QLineEdit>(&dialog, "mt_NCC")->setText("3");
            child<QComboBox>(&dialog, "cb_DAP")->setCurrentIndex(7);
            press(&dialog, "b_Ok");
            return dialog.result();
        };
        window->findChild<QAction*>("mnAOptions")->trigger();
        QCOMPARE(dialogs_.ran.last(), QStringLiteral("TfOptions"));
        QCOMPARE(listed, window->instrumentNames().entryCount());
        QCOMPARE(page, 0);
        QCOMPARE(currentOptions.MaxNumCustomChords, std::int16_t{3});
        QCOMPARE(currentOptions.DefAccPatch, std::int8_t{7});
        QVERIFY(piece->testStateFlags(state_flag::kHarmonySettingsChanged));
        QVERIFY(!piece->testStateFlags(state_flag::kKeyChanged));
        auto* dialog = window->findChild<TfOptions*>("TfOptions");
        QVERIFY(dialog);
        QCOMPARE(child<QComboBox>(dialog, "cb_DAP")->count(), 0);
    }

    void optionsCancelFromTheToolbarChangesNothing() {
        auto window = windowWithMelody();
        QVERIFY(window);
        Composition* piece = composition(*window);
        QVERIFY(piece);
        piece->setStateFlags(0xFF, false);
        currentOptions = changedOptions();
        dialogs_.onRun = [&](QDialog& dialog) {
            dialog.show();
            press(&dialog, "b_Default");
            press(&dialog, "b_Cancel");
            return dialog.result();
        };
        window->findChild<QAction*>("tb_Opt")->trigger();
        QCOMPARE(dialogs_.ran.last(), QStringLiteral("TfOptions"));
        QCOMPARE(currentOptions, changedOptions());
        QVERIFY(!piece->testStateFlags(state_flag::kHarmonySettingsChanged));
        QCOMPARE(child<QComboBox>(window.get(), "cb_DAP")->count(), 0);
    }

    void manualDialogEnablesOkForAMeterWithAKeyOrWithoutOne() {
        TfChrMan dialog(help_);
        dialog.show();
        auto* meter = child<QComboBox>(&dialog, "lb_Meter");
        auto* key = child<QComboBox>(&dialog, "lb_Key");
        auto* keyless = child<QCheckBox>(&dialog, "chb_woKey");
        auto* ok = child<QPushButton>(&dialog, "b_Ok");
        QCOMPARE(key->count(), 25);
        QVERIFY(!ok->isEnabled());
        QVERIFY(!keyless->isEnabled());

        // A meter alone: "w/o Key" is offered, OK is not.
        QTest::keyClick(meter, Qt::Key_Down);
        QVERIFY(dialog.meterChosen());
        QVERIFY(keyless->isEnabled());
        QVERIFY(!ok->isEnabled());
        // A key as well: OK. Back to the placeholder: no OK.
        QTest::keyClick(key, Qt::Key_Down);
        QVERIFY(dialog.keyChosen());
        QVERIFY(ok->isEnabled());
        QTest::keyClick(key, Qt::Key_Up);
        QVERIFY(!dialog.keyChosen());
        QVERIFY(!ok->isEnabled());

        // Without a key: OK, the lists locked until the box is cleared.
        QTest::mouseClick(keyless, Qt::LeftButton);
        QVERIFY(ok->isEnabled());
        QVERIFY(!meter->isEnabled());
        QVERIFY(!key->isEnabled());
        QCOMPARE(dialog.choice().key, kNoKey);
        QTest::mouseClick(keyless, Qt::LeftButton);
        QVERIFY(meter->isEnabled());
        QVERIFY(!ok->isEnabled());

        press(&dialog, "b_Help");
        QCOMPARE(help_.topics, std::vector<int>{model::help_topic::kContents});
    }

    void createManuallyShowsItsDialogOnceMadeAndTheNoteAfterOk() {
        auto window = windowWithMelody();
        QVERIFY(window);
        auto* command = window->findChild<QAction*>("mnHCreateman");
        QVERIFY(!command->isVisible());
        const std::size_t before = dialogs_.messages.size();

        dialogs_.onRun = [](QDialog& dialog) {
            dialog.show();
            press(&dialog, "b_Cancel");
            return dialog.result();
        };
        command->trigger();
        QCOMPARE(dialogs_.ran.last(), QStringLiteral("TfChrMan"));
        QCOMPARE(dialogs_.messages.size(), before);

        dialogs_.onRun = [](QDialog& dialog) {
            dialog.show();
            QTest::keyClick(child<QComboBox>(&dialog, "lb_Meter"), Qt::Key_Down);
            QTest::keyClick(child<QComboBox>(&dialog, "lb_Key"), Qt::Key_Down);
            press(&dialog, "b_Ok");
            return dialog.result();
        };
        command->trigger();
        QCOMPARE(dialogs_.messages.size(), before + 1);
        QCOMPARE(dialogs_.messages.back().kind, model::MessageKind::Plain);
        QCOMPARE(dialogs_.messages.back().text, QStringLiteral("Manualy  ....."));
        QCOMPARE(window->findChildren<TfChrMan*>().size(), 1);
        // Drafts stay as they were.
        QVERIFY(window->findChild<QAction*>("mnHDraft1")->isChecked());
    }

    void optionsDialogPicture() {
        HarmonyOptions options = changedOptions();
        const model::InstrumentNames names = tenNames();
        TfOptions dialog(options, help_);
        dialog.fillPatchList(names);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // Nothing is clipped: every control gets at least the size it asks for.
        for (QWidget* widget : dialog.findChildren<QWidget*>()) {
            const QString name = widget->objectName();
            if (!widget->isVisible() || name.isEmpty() || name.startsWith("qt_")) continue;
            const QSize hint = widget->minimumSizeHint();
            QVERIFY2(widget->width() >= hint.width() && widget->height() >= hint.height(),
                     qPrintable(name));
        }
        saveShot(dialog, "options.png");
        TfChrMan manual(help_);
        manual.show();
        QVERIFY(QTest::qWaitForWindowExposed(&manual));
        saveShot(manual, "manual_chords.png");
    }

    void boxesAndFileDialogsOpenAboveTheWindowsThatStayOnTop() {
        // The tips and the instruments window stay on top of the main window: a modal box or
        // file dialog must not open beneath them, where the tips could not even be closed.
        QtDialogProvider provider;
        QWidget owner;
        owner.show();
        std::vector<bool> onTop;
        const auto closeTheNextModal = [&onTop, &owner] {
            QTimer::singleShot(0, &owner, [&onTop] {
                QWidget* modal = QApplication::activeModalWidget();
                onTop.push_back(modal != nullptr &&
                                modal->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
                if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
            });
        };
        closeTheNextModal();
        QCOMPARE(provider.openFileName(&owner, "Open", QDir::tempPath(), "Midi Files (*.mid)"),
                 QString());
        closeTheNextModal();
        QCOMPARE(provider.saveFileName(&owner, "Save As", QDir::tempPath(), "Projects (*.vml)"),
                 QString());
        closeTheNextModal();
        provider.message(&owner, model::MessageKind::Confirmation, "Save changes?",
                         QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        closeTheNextModal();
        QCOMPARE(provider.choose(&owner, model::MessageKind::Confirmation, "Restore?",
                                 {"Restore", "Discard", "Later"}),
                 2);
        QCOMPARE(onTop, (std::vector<bool>{true, true, true, true}));
    }
};

QTEST_MAIN(OptionsDialogsTest)
#include "options_dialogs_test.moc"
