// The main window's transport driven offscreen through its controls, with the recording output:
// play, pause and resume, stop, the end of a playback, Looping, Backward, Forward and Marker, the
// tempo controls, the loop editor, and the commands refused while the piece plays. What the
// stream received is read back from the recording.
#include "ui/model/Transport.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <optional>

#include "engine/Apperr.h"
#include "playback/MidiResult.h"
#include "playback/RecordingPort.h"
#include "playback/Tplaythread.h"
#include "playback_log.h"
#include "scripted_services.h"
#include "support/melody.h"
#include "support/samples.h"
#include "ui/Fchords1.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"

using namespace varimel;
namespace fs = std::filesystem;

namespace {

constexpr int kWait = 20000;  // ms; the machine may be busy

}  // namespace

class TransportTest : public QObject, protected WindowFixture {
    Q_OBJECT

  private:
    void start() {
        QVERIFY(installWithLibraries(dir_->path(), "Piano\nBright Piano\n", false));
        window_ = std::make_unique<TfMain>(services(), QString());
        QVERIFY(window_->started());
        QVERIFY(window_->outputRecording());
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }

    void open(const fs::path& file) {
        dialogs_.fileToOpen = QString::fromStdString(file.string());
        window_->findChild<QAction*>("mnFOpen")->trigger();
        QVERIFY(window_->notesView() && window_->notesView()->composition());
    }

    // 32 quarter notes at 240 beats per minute, each on a key of its own (a C major scale up
    // from C3), so that a recorded note names the note of the melody it was.
    fs::path scaleMelody() {
        static const char* const names[] = {"C", "D", "E", "F", "G", "A", "B"};
        std::vector<test::Step> steps;
        for (int i = 0; i < 32; ++i) {
            steps.push_back(
                {std::string(names[i % 7]) + std::to_string(3 + i / 7), test::Length{1, {}}});
        }
        const fs::path path = dir_->path() / "scale.mid";
        const auto bytes = test::melody("4/4", steps, {.tempoBpm = 240});
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    fs::path copySample(const std::string& sample) {
        const fs::path target = dir_->path() / (sample + ".mid");
        fs::copy_file(test::sampleMelodyPath(sample), target, fs::copy_options::overwrite_existing);
        return target;
    }

    template <typename T>
    T* child(const char* name) {
        return window_->findChild<T*>(QString::fromLatin1(name));
    }
    void click(const char* button) {
        QTest::mouseClick(child<QToolButton>(button), Qt::LeftButton);
    }
    TfNotes_l* notes() { return window_->notesView(); }
    Recording& recording() { return *window_->outputRecording(); }
    QTimer* playTimer() { return child<QTimer>("playTimer"); }

    std::vector<RecordedMessage> melodyNotesFrom(std::size_t from) {
        return melodyNotes(recording().messages(), from);
    }

    void stopAndWait() {
        click("b_Stop");
        QVERIFY(!window_->player().isPlaying());
    }

  private Q_SLOTS:
    void init() { prepare("varimel-transport"); }
    void cleanup() { finish(); }

    void playPausePlayResumesWhereItPaused() {
        start();
        // Without a document Play stays up.
        click("b_Play");
        QVERIFY(!child<QToolButton>("b_Play")->isChecked());
        QVERIFY(!window_->player().isPlaying());

        open(scaleMelody());
        const model::NotesScale& scale = *notes()->scale();
        click("b_Play");
        QVERIFY(child<QToolButton>("b_Play")->isChecked());
        QVERIFY(window_->player().isPlaying());
        QVERIFY(notes()->playing());
        // The timer runs with the stream and moves the cursor; the status bar shows where.
        QTRY_VERIFY_WITH_TIMEOUT(playTimer()->isActive(), kWait);
        QCOMPARE(playTimer()->interval(), 31);  // 250000 / 8000
        QTRY_VERIFY_WITH_TIMEOUT(notes()->cursorPixel() > 2 * scale.barWidth(), kWait);
        QVERIFY(!window_->statusPanel(1)->text().trimmed().isEmpty());

        click("b_Play");  // pause
        QVERIFY(!window_->player().isPlaying());
        QVERIFY(!child<QToolButton>("b_Play")->isChecked());
        QVERIFY(!playTimer()->isActive());
        QVERIFY(!notes()->playing());
        const int32_t paused = notes()->playRange()[PlayRange::kStart];
        QCOMPARE(paused, model::pauseTick(scale, notes()->cursorPixel()));
        QVERIFY(paused >= 2 * 1920);

        // The first melody note to sound again is the first that starts at the pause or after.
        const auto& melody = notes()->composition()->noteTracks().notes(0);
        std::optional<int> expected;
        for (int32_t i = 0; i < static_cast<int32_t>(melody.size()); ++i) {
            if (notes()->composition()->noteTracks().startTick(i, 0) >= paused) {
                expected = melody[static_cast<std::size_t>(i)].key;
                break;
            }
        }
        QVERIFY(expected);
        QVERIFY(*expected != melody.front().key);
        const std::size_t before = recording().size();
        click("b_Play");
        QVERIFY(window_->player().isPlaying());
        QVERIFY(recording().waitFor([&](const std::vector<RecordedMessage>& all) {
            for (std::size_t i = before; i < all.size(); ++i) {
                if (isNoteOn(all[i].message, 0)) return true;
            }
            return false;
        }));
        QCOMPARE(keyOf(melodyNotesFrom(before).front().message), *expected);

        // Stop: the output is silenced, everything goes back to rest.
        stopAndWait();
        QVERIFY(!child<QToolButton>("b_Play")->isChecked());
        QVERIFY(!playTimer()->isActive());
        QVERIFY(recording().messages().back().silence);
        QCOMPARE(notes()->restartRequest().load(), 0);
    }

    void theEndOfThePieceReleasesPlayAndAStaleEndIsIgnored() {
        start();
        open(scaleMelody());
        // Stop and Play at once: the first playback's end arrives during the second.
        click("b_Play");
        QVERIFY(recording().waitFor([](const auto& all) { return all.size() > 20; }));
        // The slots themselves: a click could let queued events through in between.
        window_->b_StopClick();
        window_->b_PlayClick();
        QVERIFY(window_->player().isPlaying());
        QTest::qWait(300);
        QVERIFY(window_->player().isPlaying());
        QVERIFY(child<QToolButton>("b_Play")->isChecked());
        QVERIFY(notes()->playing());
        QTRY_VERIFY_WITH_TIMEOUT(playTimer()->isActive(), kWait);

        // Played to the end (8 s at the file's tempo; faster here): Play comes up by itself.
        child<QScrollBar>("sb_Tempo")->setValue(255);
        QTRY_VERIFY_WITH_TIMEOUT(!window_->player().isPlaying(), 3 * kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!child<QToolButton>("b_Play")->isChecked(), kWait);
        QVERIFY(!playTimer()->isActive());
        QVERIFY(!notes()->playing());
    }

    void anOutputThatFailsShowsErrorAndReleasesPlay() {
        start();
        open(scaleMelody());
        window_->player().setOutputOpener(
            [](int, std::unique_ptr<OutputPort>&) { return midi_result::kNoDevice; });
        click("b_Play");
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs_.messages.empty(), kWait);
        QCOMPARE(dialogs_.messages.back().kind, model::MessageKind::Error);
        QCOMPARE(messageTitle(dialogs_.messages.back().kind),
                 QString::fromLatin1(TPlayerThread::kErrorCaption));
        QTRY_VERIFY_WITH_TIMEOUT(!child<QToolButton>("b_Play")->isChecked(), kWait);
        QVERIFY(!window_->player().isPlaying());
        QVERIFY(!notes()->playing());
    }

    void loopingCannotBeSwitchedOnDuringAPlainPlayback() {
        start();
        open(scaleMelody());
        auto* looping = child<QToolButton>("b_Play2");
        click("b_Play");
        click("b_Play2");
        QVERIFY(!looping->isChecked());
        QVERIFY(!notes()->loopShown());
        QCOMPARE(window_->player().rangeSelector.load(), range_selector::kRange);
        stopAndWait();

        // Stopped, it shows the loop; a playback then plays the loop and nothing outside it.
        notes()->setLoopFromPixels(notes()->scale()->barWidth(), 2 * notes()->scale()->barWidth());
        click("b_Play2");
        QVERIFY(looping->isChecked());
        QVERIFY(notes()->loopShown());
        const model::LoopRange loop = notes()->loop();
        QCOMPARE(loop.startTick, 1920);
        QCOMPARE(loop.endTick, 2 * 1920);
        const std::size_t before = recording().size();
        click("b_Play");
        QCOMPARE(window_->player().rangeSelector.load(), range_selector::kLoop);
        // Two passes of the bar's four notes (keys of bar 2 only).
        QVERIFY(recording().waitFor(
            [&](const auto& all) {
                int count = 0;
                for (std::size_t i = before; i < all.size(); ++i)
                    count += isNoteOn(all[i].message, 0) ? 1 : 0;
                return count >= 8;
            },
            std::chrono::milliseconds(kWait)));
        const auto& melody = notes()->composition()->noteTracks().notes(0);
        QList<int> barTwo;
        for (std::size_t i = 4; i < 8; ++i) barTwo << melody[i].key;
        for (const RecordedMessage& note : melodyNotesFrom(before)) {
            QVERIFY2(barTwo.contains(keyOf(note.message)), "a note outside the loop sounded");
        }
        // A pause inside the loop resumes at the loop's start.
        click("b_Play");
        QVERIFY(!window_->player().isPlaying());
        const std::size_t paused = recording().size();
        click("b_Play");
        QCOMPARE(window_->player().rangeSelector.load(), range_selector::kLoop);
        QVERIFY(
            recording().waitFor([&](const auto& all) { return !melodyNotes(all, paused).empty(); },
                                std::chrono::milliseconds(kWait)));
        QCOMPARE(keyOf(melodyNotesFrom(paused).front().message), barTwo.front());

        // Looping off while the loop plays: the loop goes, playback goes on past it.
        click("b_Play2");
        QVERIFY(!looping->isChecked());
        QVERIFY(!notes()->loopShown());
        QVERIFY(window_->player().isPlaying());
        const int lastKey = melody.back().key;
        QVERIFY(recording().waitFor(
            [&](const auto& all) {
                for (std::size_t i = before; i < all.size(); ++i)
                    if (isNoteOn(all[i].message, 0) && keyOf(all[i].message) == lastKey)
                        return true;
                return false;
            },
            std::chrono::milliseconds(3 * kWait)));
        stopAndWait();
    }

    void backwardForwardAndMarker() {
        start();
        open(scaleMelody());
        const model::NotesScale& scale = *notes()->scale();
        const int end = scale.pixelOfTick(8 * 1920);
        click("b_Forw");
        QCOMPARE(notes()->cursorPixel(), end);
        click("b_Mark");  // half a beat before the cursor
        QCOMPARE(notes()->markers().markers().size(), std::size_t{1});
        QCOMPARE(notes()->markers().markers().front().pixel, end - scale.pixelsPerBeat() / 2);
        const int marker = end - scale.pixelsPerBeat() / 2;
        click("b_Back");
        QCOMPARE(notes()->cursorPixel(), marker);
        QCOMPARE(notes()->playRange()[PlayRange::kStart], scale.tickOfPixel(marker));
        click("b_Back");
        QCOMPARE(notes()->cursorPixel(), 0);
        QCOMPARE(notes()->playRange()[PlayRange::kStart], 0);
        click("b_Forw");
        QCOMPARE(notes()->cursorPixel(), marker);

        // While playing they do nothing.
        click("b_Back");
        click("b_Play");
        QTRY_VERIFY_WITH_TIMEOUT(notes()->cursorPixel() > scale.pixelsPerBeat(), kWait);
        click("b_Forw");
        QCOMPARE(notes()->playRange()[PlayRange::kStart], 0);
        QVERIFY(notes()->cursorPixel() < marker);
        stopAndWait();
    }

    void tempoControlsReachTheStreamAtOnce() {
        start();
        open(scaleMelody());
        auto* scroll = child<QScrollBar>("sb_Tempo");
        auto* field = child<QLineEdit>("t_Tempo");
        QCOMPARE(scroll->value(), 240);
        QCOMPARE(field->text(), QStringLiteral("240"));

        // Typed: applied on Enter; "300" is undone, "120,5" is 120.
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, "300");
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(field->text(), QStringLiteral("240"));
        QCOMPARE(scroll->value(), 240);
        QCOMPARE(window_->tempoBpm(), 240);
        field->selectAll();
        QTest::keyClicks(field, "120,5");
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(scroll->value(), 120);
        QCOMPARE(window_->tempoBpm(), 120);
        QCOMPARE(notes()->composition()->tempo, 500000);
        QCOMPARE(window_->player().currentTempo(), 500000);
        // The piece's own tempo is 250000: half as fast.
        QCOMPARE(window_->player().tempoFactor.load(), 2.0);

        // The scroll bar while playing: the next quarters come at the new tempo.
        click("b_Play");
        QVERIFY(recording().waitFor([](const auto& all) { return melodyNotes(all, 0).size() >= 2; },
                                    std::chrono::milliseconds(kWait)));
        scroll->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(scroll->value(), 255);
        QCOMPARE(field->text(), QStringLiteral("255"));
        QCOMPARE(notes()->composition()->tempo, 60000000 / 255);
        const std::size_t count = melodyNotesFrom(0).size();
        QVERIFY(recording().waitFor(
            [&](const auto& all) { return melodyNotes(all, 0).size() >= count + 3; },
            std::chrono::milliseconds(kWait)));
        const auto played = melodyNotesFrom(0);
        const ClockTime gap = played[count + 2].due - played[count + 1].due;
        QVERIFY2(std::abs(gap - ClockTime{60000000 / 255} * 1000) < 1000000,
                 qPrintable(QString::number(gap)));
        // A field the user clicked into keeps its caret while the timer ticks.
        field->setFocus();
        field->setCursorPosition(1);
        QTest::qWait(3 * playTimer()->interval());
        QCOMPARE(field->cursorPosition(), 1);
        // A tempo being typed while the piece plays stays as typed and changes nothing until
        // Enter, however many timer ticks pass.
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, "90");
        QTest::qWait(5 * playTimer()->interval());
        QCOMPARE(field->text(), QStringLiteral("90"));
        QCOMPARE(window_->player().currentTempo(), 60000000 / 255);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(window_->player().currentTempo(), 60000000 / 90);
        QCOMPARE(scroll->value(), 90);
        QTRY_VERIFY_WITH_TIMEOUT(playTimer()->isActive(), kWait);
        QTest::qWait(3 * playTimer()->interval());
        QCOMPARE(field->text(), QStringLiteral("90"));
        stopAndWait();
    }

    void theLoopEditorAppliesOnEnterOrLeavingAndTakesOnlyDigits() {
        start();
        open(scaleMelody());
        auto* from = child<QLabel>("me_From");
        auto* to = child<QLabel>("me_To");
        auto* editor = child<QLineEdit>("me_FromTo");
        const model::LoopRange before = notes()->loop();

        // With no loop yet, a bar typed in From gives a loop of that bar; nothing changes
        // while the digits are typed.
        QTest::mouseClick(from, Qt::LeftButton);
        QVERIFY(editor->isVisible());
        QCOMPARE(editor->property("Tag").toInt(), 0);
        QCOMPARE(editor->geometry(), from->geometry());
        QCOMPARE(editor->displayText().size(), 12);
        QCOMPARE(editor->displayText().indexOf(':'), 5);
        QTest::keyClick(editor, Qt::Key_3);
        QCOMPARE(notes()->loop().startTick, before.startTick);
        QCOMPARE(notes()->loop().endTick, before.endTick);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(!editor->isVisible());
        QCOMPARE(notes()->loop().startTick, 2 * 1920);
        QCOMPARE(notes()->loop().endTick, 3 * 1920);
        QCOMPARE(from->text(), QStringLiteral("  3:01:000"));
        QCOMPARE(to->text(), QStringLiteral("  4:01:000"));

        // Two digits make one bar number; the loop follows when the field is left.
        QTest::mouseClick(to, Qt::LeftButton);
        QCOMPARE(editor->property("Tag").toInt(), 1);
        QTest::keyClick(editor, Qt::Key_0);
        QTest::keyClick(editor, Qt::Key_6, Qt::KeypadModifier);
        QCOMPARE(notes()->loop().endTick, 3 * 1920);
        child<QLineEdit>("t_Tempo")->setFocus();
        QTRY_VERIFY(!editor->isVisible());
        QCOMPARE(notes()->loop().endTick, 5 * 1920);
        QCOMPARE(to->text(), QStringLiteral("  6:01:000"));

        // Other keys leave the position alone; Escape closes without applying.
        QTest::mouseClick(from, Qt::LeftButton);
        QTest::keyClick(editor, Qt::Key_Right);
        QTest::keyClick(editor, Qt::Key_A);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(!editor->isVisible());
        QCOMPARE(notes()->loop().startTick, 2 * 1920);
        QTest::mouseClick(from, Qt::LeftButton);
        QTest::keyClick(editor, Qt::Key_1);
        QTest::keyClick(editor, Qt::Key_Escape);
        QTRY_VERIFY(!editor->isVisible());
        QCOMPARE(from->text(), QStringLiteral("  3:01:000"));
        QCOMPARE(notes()->loop().startTick, 2 * 1920);

        // A beat beyond the last bar stops at the end of the piece.
        QTest::mouseClick(to, Qt::LeftButton);
        QTest::keyClicks(editor, "8");
        editor->setCursorPosition(6);
        QTest::keyClicks(editor, "9");
        QTest::keyClick(editor, Qt::Key_Enter);
        QTRY_VERIFY(!editor->isVisible());
        QCOMPARE(notes()->loop().endTick, 8 * 1920);
    }

    void commandsAreRefusedWhilePlayingAndTheGridMarksTheBar() {
        start();
        const fs::path twinkle = copySample("twinkle");
        open(twinkle);
        Composition* composition = notes()->composition();
        dialogs_.messages.clear();
        click("b_Play");
        // Create Accompaniment waits.
        QTest::mouseClick(child<QPushButton>("b_CreateAcc"), Qt::LeftButton);
        QVERIFY(!composition->hasChordTrack());
        // Open, Close and Exit are refused: the same document stays, the window stays.
        dialogs_.fileToOpen = QString::fromStdString(scaleMelody().string());
        child<QAction>("mnFOpen")->trigger();
        QCOMPARE(notes()->composition(), composition);
        child<QAction>("mnFClose")->trigger();
        QCOMPARE(notes()->composition(), composition);
        child<QAction>("mnFExit")->trigger();
        QVERIFY(window_->isVisible());
        QVERIFY(window_->player().isPlaying());
        QVERIFY(dialogs_.messages.empty());
        stopAndWait();

        // Stopped, Create works, and a playback marks its bars in the chords grid.
        QTest::mouseClick(child<QPushButton>("b_CreateAcc"), Qt::LeftButton);
        QVERIFY(composition->hasChordTrack());
        QVERIFY(window_->chordsView()->hasGrid());
        click("b_Play");
        QTRY_VERIFY_WITH_TIMEOUT(window_->chordsView()->playingBar() >= 1, kWait);
        stopAndWait();
    }

    void movingOverTheMiddlePanelEmptiesTheReadOuts() {
        start();
        for (const char* name : {"l_MelNt", "l_MelPos", "l_ChrName", "l_ChrNotes"})
            child<QLabel>(name)->setText("x");
        QWidget* strip = child<QWidget>("p_VMel");
        QMouseEvent overStrip(QEvent::MouseMove, QPointF(5, 5), strip->mapToGlobal(QPointF(5, 5)),
                              Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(strip, &overStrip);
        QVERIFY(child<QLabel>("l_MelNt")->text().isEmpty());
        QVERIFY(child<QLabel>("l_MelPos")->text().isEmpty());
        QCOMPARE(child<QLabel>("l_ChrName")->text(), QStringLiteral("x"));
        QWidget* middle = child<QWidget>("p_Middle");
        QMouseEvent overMiddle(QEvent::MouseMove, QPointF(5, 5), middle->mapToGlobal(QPointF(5, 5)),
                               Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(middle, &overMiddle);
        QVERIFY(child<QLabel>("l_ChrName")->text().isEmpty());
        QVERIFY(child<QLabel>("l_ChrNotes")->text().isEmpty());
    }
};

QTEST_MAIN(TransportTest)
#include "transport_test.moc"
