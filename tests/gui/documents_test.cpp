// Documents in the main window, driven offscreen with scripted boxes and file dialogs: open,
// change, close with its question, save, save as, export, recent files, the melody-channel
// choice, and failures that must never lose the user's work.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QToolButton>
#include <QUndoStack>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "accompaniment/StyleRenderer.h"
#include "engine/Apperr.h"
#include "engine/Mas_file.h"
#include "engine/Tonality.h"
#include "engine/Wchordmaster.h"
#include "scripted_services.h"
#include "settings/RegFile.h"
#include "settings/RegSetup.h"
#include "settings/Tmyregistry.h"
#include "support/melody.h"
#include "support/samples.h"
#include "support/smf_bytes.h"
#include "ui/Fchords1.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/Fpatchs1.h"
#include "ui/Fsetchnl.h"
#include "ui/model/DocumentFlow.h"
#include "ui/model/InstrumentsGrid.h"

using namespace varimel;
namespace fs = std::filesystem;

class DocumentsTest : public QObject, protected WindowFixture {
    Q_OBJECT

  private:
    // A window over an installation with the build's libraries and four recent files at most.
    void start() {
        QVERIFY(installWithLibraries(dir_->path()));
        window_ = std::make_unique<TfMain>(services(), QString());
        QVERIFY(window_->started());
        window_->show();
    }

    // A copy of a sample under a name of the test's choosing.
    QString copySample(const std::string& sample, const std::string& name) {
        const fs::path target = dir_->path() / name;
        fs::copy_file(test::sampleMelodyPath(sample), target, fs::copy_options::overwrite_existing);
        return QString::fromStdString(target.string());
    }

    // A harmonised project, made as the command line makes one (Draft I), in the test's folder;
    // `parts` other than 0 replaces the accompaniment parts it is saved with.
    QString harmonisedProject(const std::string& sample, const std::string& name,
                              uint32_t parts = 0) {
        return writeHarmonisedProject(test::sampleMelodyPath(sample), dir_->path() / name, parts);
    }

    void open(const QString& file) {
        dialogs_.fileToOpen = file;
        window_->findChild<QAction*>("mnFOpen")->trigger();
    }

    QStringList texts() const {
        QStringList all;
        for (const ShownMessage& m : dialogs_.messages) all << m.text;
        return all;
    }

    Composition* composition() {
        return window_->notesView() ? window_->notesView()->composition() : nullptr;
    }

    // The chords view's right click on candidate 2 of the first bar that has one.
    void editAChord() {
        TfChords* chords = window_->chordsView();
        QVERIFY(chords && chords->hasGrid());
        for (int bar = 0; bar < 8; ++bar) {
            const QString name = QString("Chr_%1_2").arg(bar);
            if (chords->element(name).isEmpty()) continue;
            QTest::mouseClick(chords->p_wChr, Qt::RightButton, {},
                              chords->p_wChr->mapFrom(chords, chords->element(name).center()));
            return;
        }
        // Without a second candidate anywhere, mute bar 2.
        QTest::mouseClick(chords->p_wChr, Qt::RightButton, {},
                          chords->p_wChr->mapFrom(chords, chords->element("AChr_2").center()));
    }

  private Q_SLOTS:
    void init() { prepare("varimel-documents"); }
    void cleanup() { finish(); }

    void extensionsAreComparedWithoutRegardToCase() {
        start();
        open(copySample("twinkle", "SONG.MID"));
        QCOMPARE(window_->documentKind(), 1);
        QVERIFY(window_->notesView() != nullptr);
        QVERIFY(window_->windowTitle().endsWith(" - SONG.MID"));

        open(copySample("twinkle", "song.midi"));
        QCOMPARE(window_->documentKind(), 1);
        QVERIFY(window_->windowTitle().endsWith(" - song.midi"));

        const QString text = copySample("twinkle", "song.txt");
        open(text);
        QCOMPARE(window_->documentKind(), 0);
        QCOMPARE(texts().back(), "Can't open file " + text);
        QVERIFY(window_->notesView() == nullptr);
    }

    void filesWithoutAMelodySayWhatIsWrongWithThem() {
        namespace smf = varimel::test::smf;
        start();
        const auto write = [this](const char* name, const std::vector<std::uint8_t>& bytes) {
            const QString path = QString::fromStdString((dir_->path() / name).string());
            std::ofstream(path.toStdString(), std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            return path;
        };
        std::vector<std::uint8_t> drums;
        {
            smf::Bytes body;
            for (int beat = 0; beat < 32; ++beat) {
                body = smf::cat({body, smf::noteOn(0, 9, 36 + beat % 3, 100),
                                 smf::noteOff(480, 9, 36 + beat % 3)});
            }
            drums = smf::file(0, 480, {smf::cat({body, smf::endOfTrack()})});
        }
        const struct {
            QString path;
            QString says;
        } cases[] = {
            {write("broken.mid", {'R', 'I', 'F', 'X', 0, 0}), "missing midi header MThd"},
            {write("empty.mid",
                   smf::file(0, 480, {smf::cat({smf::tempo(0, 500000), smf::endOfTrack(1920)})})),
             "The file holds no notes"},
            {write("drums.mid", drums), "drums (MIDI channel 10)"},
        };
        for (const auto& refused : cases) {
            dialogs_.messages.clear();
            open(refused.path);
            QCOMPARE(window_->documentKind(), 0);
            QVERIFY(window_->notesView() == nullptr);
            QVERIFY2(!texts().isEmpty() &&
                         texts().back().startsWith("Can't open file " + refused.path) &&
                         texts().back().contains(refused.says),
                     qPrintable(texts().join('|')));
        }
    }

    void aProjectOpensWithItsChordsAndAccompaniment() {
        // A project made by the command line, as a user would bring one.
        const QString project = harmonisedProject("greensleeves", "song.Vml");
        QVERIFY(!project.isEmpty());
        start();
        open(project);
        QCOMPARE(window_->documentKind(), 2);
        QVERIFY(composition()->hasChordTrack());
        QVERIFY(window_->chordsView()->hasGrid());
        QVERIFY(!window_->needsProjectName());
        QVERIFY(!composition()->testStateFlags(state_flag::kNeedsSave));
        QVERIFY(window_->findChild<QAction*>("mnFPrint")->isEnabled());

        // A chord edit makes Close ask; No discards it.
        editAChord();
        QVERIFY(composition()->testStateFlags(state_flag::kNeedsSave));
        QVERIFY(window_->findChild<QAction*>("mnFSave")->isEnabled());
        dialogs_.answers = {QMessageBox::No};
        dialogs_.messages.clear();
        window_->findChild<QAction*>("mnFClose")->trigger();
        QCOMPARE(texts().size(), 1);
        QCOMPARE(texts().front(), " Save changes to " + project + "?");
        QCOMPARE(window_->documentKind(), 0);
    }

    void closeQuestionCancelKeepsTheDocument() {
        start();
        open(copySample("twinkle", "a.vml.mid"));
        QVERIFY(composition());
        composition()->setStateFlags(state_flag::kContentChanged, true);
        // Cancel at the question keeps it and keeps the window open.
        dialogs_.answers = {QMessageBox::Cancel};
        QVERIFY(!window_->close());
        QVERIFY(window_->notesView() != nullptr);
        // Yes, then Cancel in the save dialog, counts as Cancel too: nothing was saved.
        dialogs_.answers = {QMessageBox::Yes};
        dialogs_.fileToSave.clear();
        window_->findChild<QAction*>("mnFClose")->trigger();
        QVERIFY(window_->notesView() != nullptr);
        // Yes with a name saves the project and closes.
        const QString saved = QString::fromStdString((dir_->path() / "kept").string());
        dialogs_.answers = {QMessageBox::Yes};
        dialogs_.fileToSave = saved;
        window_->findChild<QAction*>("mnFClose")->trigger();
        QVERIFY(window_->notesView() == nullptr);
        QVERIFY(fs::exists(dir_->path() / "kept.vml"));
    }

    void saveProposesTheMelodysNameAndThenWritesWithoutADialog() {
        start();
        const QString melody = copySample("twinkle", "a.mid");
        open(melody);
        QVERIFY(window_->needsProjectName());
        // Unchanged: Save does nothing.
        window_->saveDocument(model::SaveMode::Save);
        QVERIFY(dialogs_.proposedNames.isEmpty());

        composition()->setStateFlags(state_flag::kContentChanged, true);
        dialogs_.fileToSave = QString::fromStdString((dir_->path() / "a").string());
        window_->saveDocument(model::SaveMode::Save);
        QCOMPARE(dialogs_.proposedNames,
                 QStringList({QString::fromStdString((dir_->path() / "a").string())}));
        QVERIFY(fs::exists(dir_->path() / "a.vml"));
        QVERIFY(!window_->needsProjectName());
        QCOMPARE(window_->documentFileName(),
                 QString::fromStdString((dir_->path() / "a.vml").string()));
        QVERIFY(window_->windowTitle().endsWith(" - a.vml"));
        QCOMPARE(window_->recentFiles().names().front(), (dir_->path() / "a.vml").string());

        // A second change saves straight into a.vml.
        const auto before = fs::last_write_time(dir_->path() / "a.vml");
        composition()->setStateFlags(state_flag::kContentChanged, true);
        window_->saveDocument(model::SaveMode::Save);
        QCOMPARE(dialogs_.proposedNames.size(), 1);
        QVERIFY(fs::last_write_time(dir_->path() / "a.vml") >= before);
        QVERIFY(!composition()->testStateFlags(state_flag::kNeedsSave));
    }

    void aFailedSaveKeepsTheDocumentAndSaysWhy() {
        start();
        open(copySample("twinkle", "b.mid"));
        composition()->setStateFlags(state_flag::kContentChanged, true);
        const QString missing = QString::fromStdString((dir_->path() / "nodir" / "b.vml").string());
        dialogs_.fileToSave = missing;
        dialogs_.messages.clear();
        window_->findChild<QAction*>("mnFSaveAs")->trigger();
        QCOMPARE(texts().size(), 1);
        QVERIFY2(texts().front().startsWith("Can't save file " + missing + "\n"),
                 qPrintable(texts().front()));
        QVERIFY(texts().front().contains("No such file or directory"));
        QVERIFY(window_->needsProjectName());
        QVERIFY(composition()->testStateFlags(state_flag::kNeedsSave));
        QVERIFY(window_->documentFileName().endsWith("b.mid"));
    }

    void exportCarriesTheAccompanimentAndChangesNoCaption() {
        const QString project =
            harmonisedProject("twinkle", "song.vml", accompaniment_part::kBlockChords);
        QVERIFY(!project.isEmpty());
        start();
        open(project);
        const QString title = window_->windowTitle();
        dialogs_.fileToSave = QString::fromStdString((dir_->path() / "out").string());
        window_->findChild<QAction*>("mnFExport")->trigger();
        QCOMPARE(dialogs_.proposedNames.front(),
                 QString::fromStdString((dir_->path() / "song").string()));
        QVERIFY(fs::exists(dir_->path() / "out.mid"));
        QCOMPARE(window_->windowTitle(), title);
        QCOMPARE(window_->recentFiles().names().front(), project.toStdString());
        // Read back: the accompaniment is in the file.
        ChordMaster exported((dir_->path() / "out.mid").string());
        exported.loadMidi();
        QVERIFY(exported.noteChannels() & (1u << 1));
    }

    void recentFilesKeepTheirOrderAndCapacityAndSurviveARestart() {
        start();
        QMenu* recent = window_->findChild<QMenu*>("mnRecentFiles");
        // Nothing yet: the submenu shows greyed instead of silently not opening.
        QVERIFY(!recent->menuAction()->isEnabled());
        const int capacity = window_->recentFiles().capacity();
        QVERIFY(capacity >= 4);
        std::vector<std::string> opened;
        for (int i = 0; i <= capacity; ++i) {
            opened.push_back(copySample("twinkle", "r" + std::to_string(i) + ".mid").toStdString());
            open(QString::fromStdString(opened.back()));
        }
        // Newest first; the oldest fell off.
        std::vector<std::string> expected(opened.rbegin(), opened.rbegin() + capacity);
        QCOMPARE(window_->recentFiles().names(), expected);
        QVERIFY(recent->menuAction()->isEnabled());
        QCOMPARE(static_cast<int>(recent->actions().size()), capacity);

        // C of A B C D goes to the top and the others keep their order: C A B D, no rotation.
        recent->actions().at(2)->trigger();
        QCOMPARE(window_->documentFileName().toStdString(), expected[2]);
        std::vector<std::string> reordered{expected[2], expected[0], expected[1]};
        reordered.insert(reordered.end(), expected.begin() + 3, expected.end());
        QCOMPARE(window_->recentFiles().names(), reordered);
        // The first item opens its file and changes nothing.
        recent->actions().at(0)->trigger();
        QCOMPARE(window_->recentFiles().names(), reordered);

        // Exit writes the list; the next start reads it back in the same order.
        window_.reset();
        window_ = std::make_unique<TfMain>(services(), QString());
        QVERIFY(window_->started());
        QCOMPARE(window_->recentFiles().names(), reordered);
        recent = window_->findChild<QMenu*>("mnRecentFiles");
        QCOMPARE(static_cast<int>(recent->actions().size()), capacity);
        QCOMPARE(recent->actions().at(1)->data().toString().toStdString(), reordered[1]);

        // The submenu opens from the keyboard, and its first item opens the newest file.
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        QMenu* file = window_->findChild<QMenu*>("mnFile");
        QMenuBar* bar = window_->menuBar();
        bar->setActiveAction(file->menuAction());
        QTRY_VERIFY(file->isVisible());
        QTest::keyClick(file, Qt::Key_R);
        QTRY_VERIFY(recent->isVisible());
        QTest::keyClick(recent, Qt::Key_Return);
        QTRY_COMPARE(window_->documentFileName().toStdString(), reordered[0]);
        QCOMPARE(window_->recentFiles().names(), reordered);
        // And by mouse: a click on the submenu's entry opens it, a click on an item opens that
        // file.
        QTest::mouseClick(bar, Qt::LeftButton, {},
                          bar->actionGeometry(file->menuAction()).center());
        QTRY_VERIFY(file->isVisible());
        QTest::mouseClick(file, Qt::LeftButton, {},
                          file->actionGeometry(recent->menuAction()).center());
        QTRY_VERIFY(recent->isVisible());
        QTest::mouseClick(recent, Qt::LeftButton, {},
                          recent->actionGeometry(recent->actions().at(3)).center());
        QTRY_COMPARE(window_->documentFileName().toStdString(), reordered[3]);
        QCOMPARE(window_->recentFiles().names().front(), reordered[3]);
    }

    void chordEditsAreUndoneAndRedoneAndTheProjectHoldsWhatIsShown() {
        const QString project = harmonisedProject("twinkle", "undo.vml");
        QVERIFY(!project.isEmpty());
        start();
        open(project);
        TfChords* chords = window_->chordsView();
        Composition& c = *composition();
        const auto original = c.chordTrack;
        QAction* undo = window_->findChild<QAction*>("mnEUndo");
        QAction* redo = window_->findChild<QAction*>("mnERedo");
        QVERIFY(!undo->isEnabled());

        auto rightClick = [&](const QString& name) {
            QVERIFY2(!chords->element(name).isEmpty(), qPrintable(name));
            QTest::mouseClick(chords->p_wChr, Qt::RightButton, {},
                              chords->p_wChr->mapFrom(chords, chords->element(name).center()));
        };
        // Bar 3 takes a candidate that differs from its chord; bar 5 is muted.
        int candidate = 0;
        for (int k = 1; k <= 3 && candidate == 0; ++k) {
            const QString name = QString("Chr_2_%1").arg(k);
            if (!chords->element(name).isEmpty() &&
                chords->elementColour(name) != TfChords::kSelectedColour) {
                candidate = k;
            }
        }
        QVERIFY(candidate > 0);
        rightClick(QString("Chr_2_%1").arg(candidate));
        rightClick("AChr_4");
        const auto edited = c.chordTrack;
        QVERIFY(edited[2].chord != original[2].chord);
        QCOMPARE(edited[4].enabled, 0);
        QCOMPARE(undo->text(), QString("Undo Mute bar 5"));

        undo->trigger();
        undo->trigger();
        QCOMPARE(c.chordTrack, original);
        QCOMPARE(chords->elementText("AChr_4"),
                 QString::fromStdString(chordName(original[4].chord)));
        redo->trigger();
        QCOMPARE(c.chordTrack[2].chord, edited[2].chord);
        QCOMPARE(c.chordTrack[4].enabled, 1);
        QVERIFY(undo->text().startsWith("Undo Chord "));
        QVERIFY(undo->text().endsWith(" in bar 3"));
        // An edit that changes nothing is not recorded.
        const int count = window_->undoStack()->count();
        rightClick(QString("Chr_2_%1").arg(candidate));
        QCOMPARE(window_->undoStack()->count(), count);

        // While the piece plays, undo, redo and the grid change nothing.
        QVERIFY(window_->player().start());
        QVERIFY(window_->player().isPlaying());
        QMenu* edit = window_->findChild<QMenu*>("mnEdit");
        edit->popup(QPoint(0, 0));
        QVERIFY(!undo->isEnabled());
        const auto whilePlaying = c.chordTrack;
        window_->mnEUndoClick();
        rightClick("AChr_4");
        QCOMPARE(c.chordTrack, whilePlaying);
        edit->hide();
        window_->player().stop();
        window_->player().waitForEnd();

        // Saved and reopened: exactly the chords on screen.
        QVERIFY(c.testStateFlags(state_flag::kNeedsSave));
        window_->saveDocument(model::SaveMode::Save);
        const auto shown = c.chordTrack;
        open(project);
        QCOMPARE(composition()->chordTrack, shown);
        QCOMPARE(window_->undoStack()->count(), 0);
    }

    void createAccompanimentHarmonisesTheMelodyInTheChosenDraft() {
        start();
        open(copySample("greensleeves", "green.mid"));
        QVERIFY(!composition()->hasChordTrack());
        window_->findChild<QAction*>("mnHDraft4")->trigger();
        QVERIFY(window_->findChild<QAction*>("mnHDraft4")->isChecked());
        QVERIFY(!window_->findChild<QAction*>("mnHDraft1")->isChecked());
        QTest::mouseClick(window_->findChild<QPushButton*>("b_CreateAcc"), Qt::LeftButton);
        Composition& c = *composition();
        QVERIFY(c.hasChordTrack());
        // Draft IV's answer, as the engine gives it for the same melody.
        ChordMaster reference(test::sampleMelodyPath("greensleeves").string());
        QCOMPARE(reference.loadMidi(), 0);
        QCOMPARE(reference.harmonise(currentOptions, ChordMethod::kDraftFour), 0);
        QCOMPARE(c.chordTrack, reference.composition()->chordTrack);
        QVERIFY(window_->chordsView()->hasGrid());
        QCOMPARE(window_->findChild<QComboBox*>("cb_Key")->currentText(), QString("a-moll"));
        QVERIFY(window_->findChild<QAction*>("mnFPrint")->isEnabled());
        QVERIFY(c.accompanimentParts != 0);
        QVERIFY(c.testStateFlags(state_flag::kNeedsSave));

        // Nothing changed since: Create does not harmonise again, so an edit stays.
        c.chordTrack[3].chord = kNoChord;
        QTest::mouseClick(window_->findChild<QPushButton*>("b_CreateAcc"), Qt::LeftButton);
        QCOMPARE(c.chordTrack[3].chord, kNoChord);
        // Another draft does.
        window_->findChild<QAction*>("mnHDraft1")->trigger();
        QTest::mouseClick(window_->findChild<QPushButton*>("b_CreateAcc"), Qt::LeftButton);
        QVERIFY(c.chordTrack[3].chord != kNoChord);
    }

    void aLeadSheetOpensAsAMelodyAndTheChordsGoBackOutAsOne() {
        start();
        const fs::path score = dir_->path() / "score.mxl";
        fs::copy_file(fs::path(VARIMEL_SOURCE_DIR) / "tests/data/leadsheet/twinkle_mscore3.mxl",
                      score);
        open(QString::fromStdString(score.string()));
        QCOMPARE(window_->documentKind(), 1);
        QVERIFY(composition() != nullptr);
        QVERIFY(composition()->noteTracks().count(0) > 20);
        QVERIFY(!window_->findChild<QAction*>("mnFLeadSheet")->isEnabled());
        QTest::mouseClick(window_->findChild<QPushButton*>("b_CreateAcc"), Qt::LeftButton);
        QVERIFY(window_->findChild<QAction*>("mnFLeadSheet")->isEnabled());

        // The score itself is never the target.
        const auto original = fs::file_size(score);
        dialogs_.fileToSave = QString::fromStdString(score.string());
        window_->findChild<QAction*>("mnFLeadSheet")->trigger();
        QCOMPARE(fs::file_size(score), original);
        QVERIFY(dialogs_.messages.back().text.contains("It is the open document."));

        const fs::path sheet = dir_->path() / "sheet";
        dialogs_.fileToSave = QString::fromStdString(sheet.string());
        window_->findChild<QAction*>("mnFLeadSheet")->trigger();
        std::ifstream in(sheet.string() + ".musicxml");
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        QVERIFY(text.find("<score-partwise") != std::string::npos);
        QVERIFY(text.find("<harmony") != std::string::npos);
        QVERIFY(text.find("<work-title>score</work-title>") != std::string::npos);
    }

    void melodiesOnTwoChannelsAskWhichOneOrTakeTheOnlyOne() {
        using namespace varimel::test;
        // A verse on channel 0, then a refrain on channel 5, each a melody of its own.
        std::vector<Step> verse;
        for (const char* pitch :
             {"C5", "D5", "E5", "F5", "G5", "A5", "G5", "F5", "E5", "D5", "C5", "E5"}) {
            verse.push_back({pitch, 1_beat});
        }
        MelodyOptions options;
        int64_t tick = 12 * 480;
        for (const char* pitch :
             {"G5", "G5", "A5", "G5", "C6", "B5", "A5", "G5", "F5", "E5", "D5", "C5"}) {
            options.extraNotes.push_back({tick, pitch, 480, 5});
            tick += 480;
        }
        TempMidiFile file(melody("4/4", verse, options));
        const QString path = QString::fromStdString((dir_->path() / "two.mid").string());
        fs::copy_file(file.path(), path.toStdString());
        start();
        QStringList lines;
        dialogs_.onRun = [&lines](QDialog& dialog) {
            if (auto* list = dialog.findChild<QComboBox*>("cb_CM")) {
                for (int i = 0; i < list->count(); ++i) lines.append(list->itemText(i));
            }
            return int(QDialog::Accepted);
        };
        open(path);
        // Both channels are melodies: the dialog ran, its first line was taken.
        QVERIFY(dialogs_.ran.contains("TfSetChn"));
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith("Channel 1") && lines[1].startsWith("Channel 6"),
                 qPrintable(lines.join('|')));
        QCOMPARE(window_->documentKind(), 1);
        QCOMPARE(composition()->noteTracks().count(0), 12);
    }

    void theDraftShownIsTheDraftCreateHarmonisesWith() {
        start();
        std::vector<ChordMethod> used;
        window_->setHarmoniser(
            [&used](ChordMaster& master, const HarmonyOptions& options, ChordMethod method) {
                used.push_back(method);
                return master.harmonise(options, method);
            });
        auto* draftOne = window_->findChild<QAction*>("mnHDraft1");
        auto* draftFour = window_->findChild<QAction*>("mnHDraft4");
        auto* create = window_->findChild<QPushButton*>("b_CreateAcc");
        // Chosen on this document: Create uses it.
        open(copySample("twinkle", "one.mid"));
        draftFour->trigger();
        QTest::mouseClick(create, Qt::LeftButton);
        QCOMPARE(used, std::vector<ChordMethod>{ChordMethod::kDraftFour});
        // Another document starts again from Draft I, in the menu and in Create alike.
        open(copySample("greensleeves", "two.mid"));
        QVERIFY(draftOne->isChecked());
        QVERIFY(!draftFour->isChecked());
        QTest::mouseClick(create, Qt::LeftButton);
        QCOMPARE(used,
                 (std::vector<ChordMethod>{ChordMethod::kDraftFour, ChordMethod::kHarmonizer}));
        // Choosing a key fixes the key and keeps the draft, in the menu and in Create alike.
        draftFour->trigger();
        auto* key = window_->findChild<QComboBox*>("cb_Key");
        const int eMinor = key->findText(QStringLiteral("e-moll"));
        key->setCurrentIndex(eMinor);
        Q_EMIT key->activated(eMinor);
        QVERIFY(draftFour->isChecked());
        QVERIFY(!draftOne->isChecked());
        QTest::mouseClick(create, Qt::LeftButton);
        QCOMPARE(used.back(), ChordMethod::kDraftFour);
        QCOMPARE(used.size(), std::size_t{3});
        QCOMPARE(int(composition()->keys.front().key), eMinor - 1);
    }

    void theTempoIsKeptInTheProjectAndWrittenByTheExport() {
        start();
        open(copySample("twinkle", "t.mid"));
        const int fileBpm = window_->tempoBpm();
        QVERIFY(fileBpm != 140);
        auto* save = window_->findChild<QAction*>("mnFSave");
        QVERIFY(!save->isEnabled());
        window_->findChild<QScrollBar*>("sb_Tempo")->setValue(140);
        QCOMPARE(window_->tempoBpm(), 140);
        // A new tempo is a change to save.
        QVERIFY(save->isEnabled());
        QVERIFY(composition()->testStateFlags(state_flag::kNeedsSave));

        dialogs_.fileToSave = QString::fromStdString((dir_->path() / "t140").string());
        window_->findChild<QAction*>("mnFSaveAs")->trigger();
        QVERIFY(fs::exists(dir_->path() / "t140.vml"));
        QVERIFY(!save->isEnabled());
        // The stored tempo now is the piece's: playback no longer scales it.
        QCOMPARE(window_->player().tempoFactor.load(), 1.0);
        dialogs_.fileToSave = QString::fromStdString((dir_->path() / "t140").string());
        window_->findChild<QAction*>("mnFExport")->trigger();
        ChordMaster exported((dir_->path() / "t140.mid").string());
        QCOMPARE(exported.loadMidi(), 0);
        QCOMPARE(exported.composition()->eventValue(event_kind::kTempo, 0), 60000000 / 140);

        // Reopened, the project plays and shows 140.
        open(copySample("twinkle", "other.mid"));
        QCOMPARE(window_->tempoBpm(), fileBpm);
        open(QString::fromStdString((dir_->path() / "t140.vml").string()));
        QCOMPARE(window_->tempoBpm(), 140);
        QCOMPARE(window_->findChild<QLineEdit*>("t_Tempo")->text(), QString("140"));
        QCOMPARE(composition()->tempo, 60000000 / 140);
    }

    void closeAndOpenLeaveNothingOfTheOldDocumentOnShow() {
        const QString project =
            harmonisedProject("twinkle", "a.vml", accompaniment_part::kBlockChords);
        QVERIFY(!project.isEmpty());
        QVERIFY(installWithLibraries(dir_->path(), numberedInstruments()));
        window_ = std::make_unique<TfMain>(services(), QString());
        QVERIFY(window_->started());
        window_->show();
        auto* tempoField = window_->findChild<QLineEdit*>("t_Tempo");
        auto* tempoBar = window_->findChild<QScrollBar*>("sb_Tempo");
        const QString newWindowTempo = tempoField->text();
        const int newWindowTempoBar = tempoBar->value();
        open(project);
        QVERIFY(tempoField->text() != newWindowTempo);
        ChannelSettings& first = window_->notesView()->channelSettings();
        first.program[0] = 5;
        first.program[1] = 6;

        // The instruments window, open on the project.
        window_->findChild<QAction*>("mnAPInstr")->trigger();
        TfPatchs* instruments = window_->instrumentsDialog();
        QVERIFY(instruments && instruments->isVisible());
        QCOMPARE(instruments->channelSettings(), &first);
        QCOMPARE(instruments->windowTitle(), QString("Instruments - a.vml"));
        auto* grid = instruments->findChild<QTableWidget*>("sg_ChPs");
        QCOMPARE(grid->item(1, model::InstrumentsGrid::kPatchColumn)->text(),
                 QString("Instrument 5"));

        // Positions in the status bar, the playing bar in the grid; Backward moves the light.
        const int32_t barThree = 2 * 4 * composition()->ticksPerQuarter;
        window_->notesView()->showPosition(barThree);
        QCOMPARE(window_->chordsView()->playingBar(), 2);
        QVERIFY(!window_->statusPanel(1)->text().isEmpty());
        // A drag in the roll shows where it is in the status bar.
        QWidget* roll = window_->notesView()->findChild<QWidget*>("plNts");
        const QPoint from = roll->rect().center();
        QTest::mousePress(roll, Qt::LeftButton, {}, from);
        QTest::mouseMove(roll, from + QPoint(40, 0));
        QTest::mouseRelease(roll, Qt::LeftButton, {}, from + QPoint(40, 0));
        QVERIFY(!window_->statusPanel(2)->text().isEmpty());
        QTest::mouseClick(window_->findChild<QToolButton*>("b_Back"), Qt::LeftButton);
        QCOMPARE(window_->chordsView()->playingBar(), 0);
        QVERIFY(!window_->findChild<QLabel*>("l_MelPatch")->text().isEmpty());

        // Closed: nothing of the piece stays, and the instruments window holds no part of it.
        window_->findChild<QAction*>("mnFClose")->trigger();
        QVERIFY(window_->notesView() == nullptr);
        QCOMPARE(window_->statusPanel(1)->text(), QString());
        QCOMPARE(window_->statusPanel(2)->text(), QString());
        QCOMPARE(window_->findChild<QLabel*>("l_MelPatch")->text(), QString());
        QCOMPARE(window_->findChild<QLabel*>("l_ChrPatch")->text(), QString());
        QCOMPARE(instruments->windowTitle(), QString("Instruments"));
        QCOMPARE(tempoField->text(), newWindowTempo);
        QCOMPARE(tempoBar->value(), newWindowTempoBar);
        QCOMPARE(instruments->channelSettings(),
                 static_cast<const ChannelSettings*>(window_->player().channelSettings));
        QCOMPARE(grid->item(1, model::InstrumentsGrid::kPatchColumn)->text(),
                 QString("Instrument 0"));
        // Clicks now reach the player's own table (under ASan a freed one would be reported).
        instruments->sg_ChPsSelectCell(1, model::InstrumentsGrid::kMuteColumn);
        instruments->sg_ChPsSelectCell(1, model::InstrumentsGrid::kMuteColumn);

        // Another piece opened: the window shows and edits its table.
        open(copySample("twinkle", "b.mid"));
        ChannelSettings& second = window_->notesView()->channelSettings();
        QCOMPARE(instruments->channelSettings(), &second);
        QCOMPARE(instruments->windowTitle(), QString("Instruments - b.mid"));
        QCOMPARE(grid->item(1, model::InstrumentsGrid::kPatchColumn)->text(),
                 QString::fromStdString(window_->instrumentNames().programName(second.program[0])));
        instruments->sg_ChPsSelectCell(1, model::InstrumentsGrid::kMuteColumn);
        QCOMPARE(second.mute[0], uint8_t{1});
        QCOMPARE(grid->item(1, model::InstrumentsGrid::kMuteColumn)->text(), QString("M"));

        // Saved under a project name: the caption follows the document's new name.
        dialogs_.fileToSave = QString::fromStdString((dir_->path() / "c").string());
        window_->findChild<QAction*>("mnFSaveAs")->trigger();
        QVERIFY(fs::exists(dir_->path() / "c.vml"));
        QCOMPARE(instruments->windowTitle(), QString("Instruments - c.vml"));
    }
};

QTEST_MAIN(DocumentsTest)
#include "documents_test.moc"
