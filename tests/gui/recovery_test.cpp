// The window's recovery copies, offscreen: edits reach a copy within the autosave interval, Save
// and Close take it away, and at start the copies that dead windows left are offered — a damaged
// one reported and kept aside, one discarded, one kept for later, one restored — while a living
// window's copy is left alone.
#include <QAction>
#include <QPushButton>
#include <QtTest>

#include "recovery_support.h"
#include "scripted_services.h"
#include "ui/Fnotes_l1.h"
#include "ui/RecoveryKeeper.h"

using namespace varimel;
namespace fs = std::filesystem;

class RecoveryTest : public QObject, public WindowFixture {
    Q_OBJECT

  private:
    fs::path folder() const { return test::recoveryFolderIn(dir_->path()); }
    fs::path melody() const { return dir_->path() / "twinkle.mid"; }
    Composition* composition() {
        return window_->notesView() ? window_->notesView()->composition() : nullptr;
    }
    void start(int autosaveSeconds) {
        QVERIFY(installWithLibraries(dir_->path(), numberedInstruments(), false));
        QVERIFY(test::setAutosaveInterval(dir_->path() / "registry.reg", autosaveSeconds));
        window_ = std::make_unique<TfMain>(services(), QString());
        QVERIFY(window_->started());
        window_->show();
        currentOptions = defaultOptions;
    }
    void trigger(const char* action) {
        window_->findChild<QAction*>(QString::fromLatin1(action))->trigger();
    }
    // The volume of channel 0 that the copy holds, as opening it as a project reads it.
    int copiedMelodyVolume(const fs::path& copy) {
        OpenedDocument document;
        OpeningRequest request;
        request.path = copy.string();
        request.kind = DocumentKind::kProject;
        if (openDocument(document, request) != status::kOk) return -1;
        return document.channels.volume[0];
    }

  private Q_SLOTS:
    void init() {
        prepare("varimel-recovery");
        fs::copy_file(test::sampleMelodyPath("twinkle"), melody());
    }
    void cleanup() { finish(); }

    void editsAreKeptUntilSaveOrCloseTakesThemAway() {
        start(1);
        dialogs_.fileToOpen = QString::fromStdString(melody().string());
        trigger("mnFOpen");
        QVERIFY(composition());
        QVERIFY(test::recoveryProjects(folder()).empty());

        QTest::mouseClick(window_->findChild<QPushButton*>("b_CreateAcc"), Qt::LeftButton);
        QVERIFY(composition()->hasChordTrack());
        QTRY_COMPARE_WITH_TIMEOUT(test::recoveryProjects(folder()).size(), std::size_t(1), 5000);
        const model::RecoveryCopy* copy = window_->recoveryKeeper()->copy();
        QVERIFY(copy);
        QCOMPARE(copy->info().document, melody().string());
        ChordMaster copied(copy->projectPath().string());
        HarmonyOptions options = defaultOptions;
        QCOMPARE(int(copied.loadProject(options)), int(status::kOk));
        QCOMPARE(copied.composition()->chordTrack, composition()->chordTrack);

        // A later change reaches the same copy.
        window_->setChannelVolume(66, 0);
        QTRY_COMPARE_WITH_TIMEOUT(copiedMelodyVolume(copy->projectPath()), 66, 5000);
        QCOMPARE(test::recoveryProjects(folder()).size(), std::size_t(1));

        dialogs_.fileToSave = QString::fromStdString((dir_->path() / "twinkle.vml").string());
        trigger("mnFSave");
        QVERIFY(fs::exists(dir_->path() / "twinkle.vml"));
        QVERIFY(test::recoveryFiles(folder()).empty());

        window_->setChannelVolume(70, 0);
        QTRY_COMPARE_WITH_TIMEOUT(test::recoveryProjects(folder()).size(), std::size_t(1), 5000);
        dialogs_.answers = {QMessageBox::No};
        trigger("mnFClose");
        QVERIFY(composition() == nullptr);
        QVERIFY(test::recoveryFiles(folder()).empty());
    }

    void startOffersWhatDeadWindowsLeft() {
        // Copies of windows that died, oldest first: damaged, to discard, for later, to restore;
        // and the copy of a window that still runs.
        const std::string project = test::harmonisedProjectBytes(melody());
        const std::string restored = test::harmonisedProjectBytes(
            melody(), [](Composition& c) { c.chordTrack[1].enabled = 0; });
        const fs::path damaged = test::leaveCopy(folder(), project.substr(0, 100), "cut.mid", 10);
        const fs::path discarded = test::leaveCopy(folder(), project, "/m/first.mid", 20);
        const fs::path later = test::leaveCopy(folder(), project, "/m/second.mid", 25);
        const fs::path kept = test::leaveCopy(folder(), restored, melody().string(), 30);
        std::string error;
        auto living = model::RecoveryCopy::create(folder(), error);
        QVERIFY(living && living->write(project, {"/m/living.mid", 5, 0}, error));

        dialogs_.answers = {QMessageBox::Ok, QMessageBox::No, QMessageBox::Ok, QMessageBox::Yes};
        start(30);
        QTRY_VERIFY(composition() != nullptr);
        QCOMPARE(dialogs_.messages.size(), std::size_t(4));
        QCOMPARE(dialogs_.messages[0].kind, model::MessageKind::Warning);
        const fs::path aside = folder() / model::RecoveryCopy::kAsideFolder / damaged.filename();
        QVERIFY(dialogs_.messages[0].text.contains(QString::fromStdString(aside.string())));
        QCOMPARE(test::fileText(aside), project.substr(0, 100));
        QVERIFY(dialogs_.messages[1].text.startsWith(
            "Varimel did not close properly. Restore your unsaved work on first.mid from "));
        QVERIFY(dialogs_.messages[3].text.contains("on twinkle.mid from"));
        QVERIFY(!fs::exists(discarded));
        QVERIFY(fs::exists(later));

        // The restored work: its chords, under its melody's name, changed and never saved.
        QCOMPARE(composition()->chordTrack[1].enabled, uint8_t(0));
        QCOMPARE(window_->documentFileName(), QString::fromStdString(melody().string()));
        QVERIFY(window_->windowTitle().contains("twinkle.mid"));
        QVERIFY(window_->needsProjectName());
        QVERIFY(window_->findChild<QAction*>("mnFSave")->isEnabled());
        QVERIFY(composition()->testStateFlags(state_flag::kNeedsSave));
        QVERIFY(window_->recentFiles().names().empty());
        QCOMPARE(window_->recoveryKeeper()->copy()->projectPath(), kept);
        trigger("mnFSave");  // the save dialog, cancelled
        QCOMPARE(dialogs_.proposedNames.size(), 1);
        QCOMPARE(dialogs_.proposedNames.front(),
                 QString::fromStdString((dir_->path() / "twinkle").string()));
        QVERIFY(fs::exists(kept));

        // Another start sees only the copy kept for later: the restored one is this window's.
        QCOMPARE(test::offered(folder()), std::vector<fs::path>{later});
        dialogs_.answers = {QMessageBox::No};
        trigger("mnFClose");
        QVERIFY(!fs::exists(kept));
        QVERIFY(fs::exists(living->projectPath()));
    }
};

QTEST_MAIN(RecoveryTest)
#include "recovery_test.moc"
