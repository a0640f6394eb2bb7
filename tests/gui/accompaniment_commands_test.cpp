// The main window's accompaniment commands driven offscreen: Create with and without a style
// for the meter, the key selector, the style and arrangement dialogs' results, the switches,
// the instruments and the volumes, and what the player hears of them.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QtTest>
#include <filesystem>

#include "accompaniment/Tarangsmaster.h"
#include "accompaniment/Tstylemaster.h"
#include "engine/Apperr.h"
#include "engine/Wchordmaster.h"
#include "playback/RecordingPort.h"
#include "playback_log.h"
#include "scripted_services.h"
#include "settings/RegFile.h"
#include "settings/RegSetup.h"
#include "settings/Tmyregistry.h"
#include "support/melody.h"
#include "support/samples.h"
#include "ui/Farrangs.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/Fstyle1.h"
#include "ui/ModeLightsView.h"
#include "ui/model/ArrangementRows.h"

using namespace varimel;
namespace fs = std::filesystem;

namespace {

int volumeEvent(const Composition& c, int channel) {
    return c.eventValue(static_cast<uint8_t>(event_kind::kController | channel), 7);
}

}  // namespace

class AccompanimentCommandsTest : public QObject, protected WindowFixture {
    Q_OBJECT

  private:
    void start() { startWindow(numberedInstruments()); }

    QString copySample(const std::string& sample, const std::string& name) {
        const fs::path target = dir_->path() / name;
        fs::copy_file(test::sampleMelodyPath(sample), target, fs::copy_options::overwrite_existing);
        return QString::fromStdString(target.string());
    }

    void open(const QString& file) {
        dialogs_.fileToOpen = file;
        window_->findChild<QAction*>("mnFOpen")->trigger();
    }
    void create() { QTest::mouseClick(child<QPushButton>("b_CreateAcc"), Qt::LeftButton); }

    template <typename T>
    T* child(const char* name) {
        T* found = window_->findChild<T*>(QString::fromLatin1(name));
        if (!found) qFatal("no control %s", name);
        return found;
    }
    Composition& composition() { return *window_->notesView()->composition(); }
    LightLook light(int row) { return child<ModeLightsView>("imgSAM")->look(row); }
    std::vector<RecordedMessage> heard() { return window_->outputRecording()->messages(); }

    // A 4/4 style of the library other than `other`.
    StyleId anotherFittingStyle(StyleId other) {
        StyleLibrary& library = window_->styleDialog()->library();
        for (int category = 0; category < 3; ++category) {
            for (int index = 0; index < 64; ++index) {
                const StyleId id = makeStyleId(category, index);
                const Style* style = library.find(id);
                if (id != other && style && StyleLibrary::meterFits(style->meters, 4, 4)) return id;
            }
        }
        return kNoStyle;
    }

    // The style dialog closes with OK on `id` (and the arrangement box as given).
    void chooseStyle(StyleId id, bool arrangement) {
        dialogs_.onRun = [id, arrangement](QDialog& dialog) {
            auto& style = dynamic_cast<TfStyle&>(dialog);
            style.library().style(id);
            style.setArrangementEnabled(arrangement);
            return int(QDialog::Accepted);
        };
        QTest::mouseClick(child<QPushButton>("b_StyleAcc"), Qt::LeftButton);
        dialogs_.onRun = nullptr;
    }

  private Q_SLOTS:
    void init() { prepare("varimel-accompaniment"); }
    void cleanup() { finish(); }

    void createGivesTheStyleOfTheMeterAndThePlayerHearsItsInstrument() {
        start();
        open(copySample("twinkle", "twinkle.mid"));
        window_->player().openStream();
        // The lights appear without moving the controls beside them.
        const auto createButton = [this] {
            child<QWidget>("p_Middle")->layout()->activate();
            return child<QPushButton>("b_CreateAcc")->geometry();
        };
        const QRect before = createButton();
        QVERIFY(!child<QWidget>("imgSAM")->isVisible());
        create();
        QVERIFY(child<QWidget>("imgSAM")->isVisible());
        QCOMPARE(createButton(), before);
        Composition& c = composition();
        QCOMPARE(c.accompanimentParts, accompaniment_part::kStyle);
        QVERIFY(c.style != nullptr);
        QCOMPARE(light(0), LightLook::Off);
        QCOMPARE(light(1), LightLook::On);
        QCOMPARE(light(2), LightLook::Off);
        QVERIFY(child<QLabel>("l_Style")->isEnabled());
        const int program = c.style->program;
        QCOMPARE(int(window_->notesView()->document().channels.program[1]), program);
        QVERIFY(wasSent(heard(), 0xC1, static_cast<uint32_t>(program)));
        QCOMPARE(child<QLabel>("l_ChrPatch")->text(), QString("Instrument %1").arg(program));

        // Nothing changed: a second Create leaves the chords, even an edited one.
        c.chordTrack[2].chord = kNoChord;
        create();
        QCOMPARE(c.chordTrack[2].chord, kNoChord);
    }

    void aChosenStyleSurvivesAnotherDraftAndTheProjectReopensWithIt() {
        start();
        open(copySample("twinkle", "twinkle.mid"));
        create();
        const StyleId chosen = anotherFittingStyle(window_->styleDialog()->library().selection());
        QVERIFY(chosen >= 0);
        chooseStyle(chosen, false);
        QCOMPARE(composition().styleId(), chosen);
        const int program = composition().style->program;

        window_->findChild<QAction*>("mnHDraft2")->trigger();
        create();
        QCOMPARE(composition().styleId(), chosen);

        const QString project = QString::fromStdString((dir_->path() / "twinkle.vml").string());
        dialogs_.fileToSave = project;
        window_->findChild<QAction*>("mnFSave")->trigger();
        QVERIFY(fs::exists(project.toStdString()));
        QVERIFY(window_->closeDocument());
        open(project);
        QCOMPARE(composition().styleId(), chosen);
        QCOMPARE(composition().style->program, program);
        QCOMPARE(int(window_->notesView()->document().channels.program[1]), program);
    }

    void aMeterWithoutAStyleGetsTheBlockChordsWithTheDefaultInstrument() {
        using namespace varimel::test;
        std::vector<Step> steps;
        const char* pitches[] = {"C5", "D5", "E5", "F5", "G5", "E5", "C5", "G4", "C5", "E5"};
        for (int bar = 0; bar < 8; ++bar)
            for (int beat = 0; beat < 5; ++beat)
                steps.push_back({pitches[(bar + beat) % 10], 1_beat});
        TempMidiFile file(melody("5/4", steps));
        const QString path = QString::fromStdString((dir_->path() / "five.mid").string());
        fs::copy_file(file.path(), path.toStdString());
        start();
        window_->styleDialog()->library().style(kNoStyle);
        open(path);
        dialogs_.messages.clear();
        create();
        QVERIFY(!dialogs_.messages.empty());
        QVERIFY(dialogs_.messages.back().text.contains("5/4"));
        QCOMPARE(composition().accompanimentParts, accompaniment_part::kBlockChords);
        QCOMPARE(int(window_->notesView()->document().channels.program[1]),
                 int(currentOptions.DefAccPatch));
        QVERIFY(!child<QLabel>("l_Style")->isEnabled());
        QCOMPARE(light(0), LightLook::On);
        QCOMPARE(light(1), LightLook::Unavailable);
        // "style" has nothing to switch on; "1-beat" with nothing before stays.
        QTest::mouseClick(child<ModeLightsView>("imgSAM"), Qt::LeftButton, {}, QPoint(5, 15));
        QCOMPARE(composition().accompanimentParts, accompaniment_part::kBlockChords);
        QCOMPARE(light(1), LightLook::Unavailable);
        QTest::mouseClick(child<ModeLightsView>("imgSAM"), Qt::LeftButton, {}, QPoint(5, 3));
        QCOMPARE(composition().accompanimentParts, accompaniment_part::kBlockChords);
    }

    void theKeySelectorWritesTheKeyOnlyWithADocument() {
        start();
        auto* key = child<QComboBox>("cb_Key");
        currentOptions.AutoKey = true;
        key->setCurrentIndex(20);
        Q_EMIT key->activated(20);
        QVERIFY(currentOptions.AutoKey);  // nothing without a document

        open(copySample("twinkle", "twinkle.mid"));
        create();
        key->setCurrentIndex(20);
        Q_EMIT key->activated(20);
        Composition& c = composition();
        int sharpsFlats = -1;
        int minor = -1;
        c.eventValue(event_kind::kKeySignature, 0, &sharpsFlats, &minor);
        QCOMPARE(sharpsFlats, 0);
        QCOMPARE(minor, 1);
        QCOMPARE(int(c.currentKey), 19);
        QVERIFY(!currentOptions.AutoKey);
        QCOMPARE(int(c.stateFlags), int(state_flag::kKeyChanged | state_flag::kContentChanged));
        // The method in use, Draft I, keeps its check mark.
        QVERIFY(child<QAction>("mnHDraft1")->isChecked());
        // The next Create harmonises in a-moll.
        create();
        QCOMPARE(key->currentText(), QString("a-moll"));
        QCOMPARE(int(c.keys.front().key), 19);
    }

    void switchesAndTheStyleCommandFollowTheLights() {
        start();
        open(copySample("twinkle", "twinkle.mid"));
        create();
        Composition& c = composition();
        // Style and arrangement from the style dialog.
        chooseStyle(window_->styleDialog()->library().selection(), true);
        QCOMPARE(c.accompanimentParts, 6u);
        QCOMPARE(light(2), LightLook::On);
        // "1-beat" by its caption, and back.
        QTest::mouseClick(child<QLabel>("l_Beat"), Qt::LeftButton);
        QCOMPARE(c.accompanimentParts, 1u);
        QCOMPARE(light(0), LightLook::On);
        QCOMPARE(light(1), LightLook::Off);
        QTest::mouseClick(child<QLabel>("l_Beat"), Qt::LeftButton);
        QCOMPARE(c.accompanimentParts, 6u);
        // "arrange" off by its caption; then "style" off leaves the block chords.
        QTest::mouseClick(child<QLabel>("l_Arng"), Qt::LeftButton);
        QCOMPARE(c.accompanimentParts, 2u);
        QTest::mouseClick(child<QLabel>("l_Style"), Qt::LeftButton);
        QCOMPARE(c.accompanimentParts, 1u);

        // Cancel in the style dialog changes nothing.
        const uint8_t flags = c.stateFlags;
        const auto channels = window_->notesView()->document().channels.program;
        dialogs_.onRun = [](QDialog&) { return int(QDialog::Rejected); };
        QTest::mouseClick(child<QPushButton>("b_StyleAcc"), Qt::LeftButton);
        QCOMPARE(c.accompanimentParts, 1u);
        QCOMPARE(c.stateFlags, flags);
        QCOMPARE(window_->notesView()->document().channels.program, channels);
    }

    void theArrangementDialogsChoiceSoundsWithItsBandAndStaysWithItsPiece() {
        start();
        open(copySample("twinkle", "twinkle.mid"));
        create();
        ArrangementLibrary& library = window_->arrangementDialog()->library();
        library.setMeter(4, 4);
        const ArrangementId rock = library.findByName("Rock44");
        QVERIFY(rock >= 0);
        window_->player().openStream();
        dialogs_.onRun = [rock](QDialog& dialog) {
            auto& arrangements = dynamic_cast<TfArrang&>(dialog);
            arrangements.show();
            QLabel* text =
                arrangements.rowText(QStringLiteral("mi_%1_%2").arg(rock >> 16).arg(rock & 0xFFFF));
            if (text) QTest::mouseClick(text, Qt::RightButton);
            arrangements.hide();
            return int(QDialog::Accepted);
        };
        child<QAction>("mnAPArran")->trigger();
        QVERIFY(child<QAction>("mnAPArran")->isVisible());
        Composition& c = composition();
        QCOMPARE(c.arrangementId, rock);
        QVERIFY(c.accompanimentParts & accompaniment_part::kArrangement);
        QVERIFY(c.arrangement != nullptr);
        const ArrangementPart& part0 = c.arrangement->parts.front();
        const auto& channels = window_->notesView()->document().channels;
        QCOMPARE(channels.program[2], part0.organProgram);
        QCOMPARE(channels.program[3], part0.bassProgram);
        QCOMPARE(channels.volume[9], part0.drumsVolume);
        QVERIFY(wasSent(heard(), 0xC2, part0.organProgram));
        QVERIFY(wasSent(heard(), 0xB3, 7, part0.bassVolume));
        QCOMPARE(light(2), LightLook::On);
        QVERIFY(window_->arrangementDialog()->arrangementApplied());

        // Reopened on the same piece, the dialog shows its own choice.
        ArrangementId shown = -2;
        dialogs_.onRun = [&shown](QDialog& dialog) {
            shown = dynamic_cast<TfArrang&>(dialog).selectedId();
            return int(QDialog::Rejected);
        };
        child<QAction>("mnAPArran")->trigger();
        QCOMPARE(shown, rock);

        // A slip jig next: OK without a click gives it nothing of the 4/4 piece's choice.
        using namespace varimel::test;
        std::vector<Step> steps;
        const char* pitches[] = {"D5", "E5", "F#5", "G5", "A5", "B5", "A5", "F#5", "E5"};
        for (int bar = 0; bar < 8; ++bar)
            for (int note = 0; note < 9; ++note)
                steps.push_back({pitches[(bar + note) % 9], 1_beat});
        TempMidiFile file(melody("9/8", steps));
        const QString jig = QString::fromStdString((dir_->path() / "jig.mid").string());
        fs::copy_file(file.path(), jig.toStdString());
        open(jig);
        QVERIFY(window_->notesView() && window_->notesView()->composition());
        create();
        dialogs_.onRun = [&shown](QDialog& dialog) {
            shown = dynamic_cast<TfArrang&>(dialog).selectedId();
            return int(QDialog::Accepted);
        };
        child<QAction>("mnAPArran")->trigger();
        QVERIFY(shown != rock);
        QVERIFY(composition().arrangementId != rock);
        // What it showed, and applied if anything, belongs to 9/8 (Auto when no group has it).
        QVERIFY(shown == kNoArrangement ||
                model::arrangementSelectable(library.groups(), (9 << 8) | 8, shown));
        QVERIFY(composition().arrangementId == kNoArrangement ||
                composition().arrangementId == shown);
    }

    void saveIsEnabledExactlyWhenThereIsSomethingToSave() {
        const QString project = writeHarmonisedProject(
            test::sampleMelodyPath("twinkle"), dir_->path() / "s.vml", accompaniment_part::kStyle);
        QVERIFY(!project.isEmpty());
        start();
        open(project);
        auto* save = child<QAction>("mnFSave");
        QVERIFY(!save->isEnabled());
        // Style... then Cancel, and a mute, change nothing a save would keep.
        dialogs_.onRun = [](QDialog&) { return int(QDialog::Rejected); };
        QTest::mouseClick(child<QPushButton>("b_StyleAcc"), Qt::LeftButton);
        dialogs_.onRun = nullptr;
        QVERIFY(!save->isEnabled());
        QTest::mouseClick(child<QPushButton>("chb_MelOff"), Qt::LeftButton);
        QVERIFY(!save->isEnabled());
        QVERIFY(!composition().testStateFlags(state_flag::kNeedsSave));
        // Another style does, and then Open asks.
        chooseStyle(anotherFittingStyle(composition().styleId()), false);
        QVERIFY(save->isEnabled());
        QVERIFY(composition().testStateFlags(state_flag::kNeedsSave));
        dialogs_.messages.clear();
        dialogs_.answers = {QMessageBox::No};
        open(copySample("twinkle", "next.mid"));
        QCOMPARE(dialogs_.messages.size(), std::size_t{1});
        QVERIFY(dialogs_.messages.front().text.startsWith(" Save changes to "));
    }

    void muteSilencesWithoutChangingTheStoredVolume() {
        start();
        open(copySample("twinkle", "twinkle.mid"));
        create();
        window_->player().openStream();
        auto* slider = child<QSlider>("trb_VMel");
        slider->setValue(127 - 80);
        Composition& c = composition();
        QCOMPARE(volumeEvent(c, 0), 80);
        QVERIFY(wasSent(heard(), 0xB0, 7, 80));
        window_->outputRecording()->clear();

        auto* mute = child<QPushButton>("chb_MelOff");
        QTest::mouseClick(mute, Qt::LeftButton);
        QVERIFY(!slider->isEnabled());
        QVERIFY(wasSent(heard(), 0xB0, 7, 0));
        QCOMPARE(volumeEvent(c, 0), 80);
        QCOMPARE(int(window_->notesView()->document().channels.volume[0]), 80);
        QCOMPARE(int(window_->notesView()->document().channels.mute[0]), 1);

        window_->outputRecording()->clear();
        QTest::mouseClick(mute, Qt::LeftButton);
        QVERIFY(slider->isEnabled());
        QVERIFY(wasSent(heard(), 0xB0, 7, 80));
        QCOMPARE(int(window_->notesView()->document().channels.mute[0]), 0);
    }

    void theInstrumentListPopsUpBesideItsLabelAndSetsTheProgram() {
        start();
        open(copySample("twinkle", "twinkle.mid"));
        window_->player().openStream();
        auto* label = child<QLabel>("l_MelPatch");
        QTest::mouseClick(label, Qt::LeftButton);
        auto* list = child<QListWidget>("cb_Patchs");
        QVERIFY(list->isVisible());
        QCOMPARE(list->x(), label->mapTo(window_.get(), QPoint(0, 0)).x() + 2);
        QCOMPARE(list->y(), child<QWidget>("p_MelG")->mapTo(window_.get(), QPoint(0, 0)).y());
        QCOMPARE(list->height(), child<QWidget>("p_VMel")->height());
        QListWidgetItem* item = list->item(41);
        list->setCurrentItem(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(item).center());
        QVERIFY(!list->isVisible());
        QCOMPARE(label->text(), QString("Instrument 41"));
        QCOMPARE(composition().eventValue(event_kind::kProgramChange | 0, 0), 41);
        QVERIFY(wasSent(heard(), 0xC0, 41));
        // A second click on the label only closes an open list.
        QTest::mouseClick(label, Qt::LeftButton);
        QTest::mouseClick(label, Qt::LeftButton);
        QVERIFY(!list->isVisible());
    }

    void failedHarmonisationKeepsThePreviousChords() {
        start();
        open(copySample("twinkle", "twinkle.mid"));
        create();
        Composition& c = composition();
        const auto chords = c.chordTrack;
        const uint32_t parts = c.accompanimentParts;
        // Another draft; the harmoniser fails after clearing the old harmony.
        window_->setHarmoniser([](ChordMaster& master, const HarmonyOptions&, ChordMethod) {
            master.composition()->clearDerived();
            return StatusCode{1};
        });
        window_->findChild<QAction*>("mnHDraft3")->trigger();
        dialogs_.messages.clear();
        create();
        QCOMPARE(dialogs_.messages.back().text, QString("Error 1"));
        QCOMPARE(c.chordTrack, chords);
        QCOMPARE(c.accompanimentParts, parts);

        // 96, answered Yes: the relative minor; a second run that fails also keeps the chords.
        int runs = 0;
        window_->setHarmoniser([&runs](ChordMaster& master, const HarmonyOptions&, ChordMethod) {
            master.composition()->clearDerived();
            master.key = 7;  // C-dur
            return StatusCode(++runs == 1 ? 96 : 95);
        });
        dialogs_.answers = {QMessageBox::Yes};
        create();
        QCOMPARE(runs, 2);
        int sharpsFlats = -1;
        int minor = -1;
        c.eventValue(event_kind::kKeySignature, 0, &sharpsFlats, &minor);
        QCOMPARE(minor, 0);  // the signature of the chords kept, not the minor tried
        QCOMPARE(c.chordTrack, chords);
        QVERIFY(!currentOptions.AutoKey);

        // 96 with Cancel: nothing more runs, the chords stay.
        runs = 0;
        dialogs_.answers = {QMessageBox::Cancel};
        create();
        QCOMPARE(runs, 1);
        QCOMPARE(c.chordTrack, chords);
    }

    void theOtherStatusesWarnAskOrStop() {
        start();
        open(copySample("twinkle", "twinkle.mid"));
        Composition& c = composition();
        // 95: the key cannot be recognised; no chords, and the key is to be chosen by hand.
        currentOptions.AutoKey = true;
        window_->setHarmoniser([](ChordMaster& master, const HarmonyOptions&, ChordMethod) {
            master.composition()->clearDerived();
            return StatusCode{95};
        });
        dialogs_.messages.clear();
        create();
        QVERIFY(!c.hasChordTrack());
        QVERIFY(dialogs_.messages.back().text.contains("Can not recognize key"));
        QVERIFY(!currentOptions.AutoKey);
        QVERIFY(!child<QAction>("mnFPrint")->isEnabled());

        // 97: a warning, and the chords are made.
        window_->setHarmoniser(
            [](ChordMaster& master, const HarmonyOptions& options, ChordMethod method) {
                master.harmonise(options, method);
                return StatusCode{97};
            });
        create();
        QVERIFY(dialogs_.messages.back().text.contains("many keys"));
        QVERIFY(c.hasChordTrack());
        QVERIFY(child<QAction>("mnFPrint")->isEnabled());

        // 96 answered No: the major key is written, then harmonised in.
        int runs = 0;
        window_->setHarmoniser(
            [&runs](ChordMaster& master, const HarmonyOptions& options, ChordMethod method) {
                if (++runs == 1) {
                    master.composition()->clearDerived();
                    master.key = 19;  // a-moll, the minor twin of C-dur
                    return StatusCode{96};
                }
                return master.harmonise(options, method);
            });
        c.setStateFlags(state_flag::kHarmonySettingsChanged, true);
        dialogs_.answers = {QMessageBox::No};
        create();
        QCOMPARE(runs, 2);
        int sharpsFlats = -1;
        int minor = -1;
        c.eventValue(event_kind::kKeySignature, 0, &sharpsFlats, &minor);
        QCOMPARE(sharpsFlats, 0);
        QCOMPARE(minor, 0);
        QVERIFY(c.hasChordTrack());
        QCOMPARE(child<QComboBox>("cb_Key")->currentIndex(), int(c.keys.front().key) + 1);
    }

    void commandsWaitWhileThePiecePlays() {
        start();
        open(copySample("twinkle", "twinkle.mid"));
        create();
        Composition& c = composition();
        const uint32_t parts = c.accompanimentParts;
        window_->findChild<QAction*>("mnHDraft2")->trigger();
        QVERIFY(window_->player().start());
        QTRY_VERIFY(window_->player().isPlaying());
        const auto chords = c.chordTrack;
        create();
        QTest::mouseClick(child<QLabel>("l_Beat"), Qt::LeftButton);
        dialogs_.ran.clear();
        QTest::mouseClick(child<QPushButton>("b_StyleAcc"), Qt::LeftButton);
        child<QAction>("mnAPArran")->trigger();
        QVERIFY(dialogs_.ran.isEmpty());
        QCOMPARE(c.accompanimentParts, parts);
        QCOMPARE(c.chordTrack, chords);
        window_->player().stop();
        window_->player().waitForEnd();
    }
};

QTEST_MAIN(AccompanimentCommandsTest)
#include "accompaniment_commands_test.moc"
