// The piano roll and the chords grid on a harmonised sample, driven offscreen through their
// painted elements, with the player recording what it sounds.
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QtTest>
#include <memory>

#include "engine/Apperr.h"
#include "engine/Tonality.h"
#include "engine/Wchordmaster.h"
#include "playback/RecordingPort.h"
#include "settings/HarmonyOptions.h"
#include "support/samples.h"
#include "ui/Fchords1.h"
#include "ui/Fnotes_l1.h"
#include "ui/PlayerOutput.h"

using namespace varimel;

namespace {

constexpr uint32_t kStatusMask = 0xF0;

// Note messages on a channel: status nibble, key and velocity.
struct NoteMessage {
    int status;
    int channel;
    int key;
};
std::vector<NoteMessage> noteMessages(const Recording& recording) {
    std::vector<NoteMessage> notes;
    for (const RecordedMessage& m : recording.messages()) {
        if (m.silence) continue;
        const int status = static_cast<int>(m.message & kStatusMask);
        const int velocity = static_cast<int>((m.message >> 16) & 0x7F);
        if (status != 0x90 && status != 0x80) continue;
        notes.push_back({status == 0x90 && velocity > 0 ? 0x90 : 0x80,
                         static_cast<int>(m.message & 0x0F),
                         static_cast<int>((m.message >> 8) & 0x7F)});
    }
    return notes;
}

// Keys sounding after a run of note messages (on minus off per key and channel).
std::map<std::pair<int, int>, int> sounding(const std::vector<NoteMessage>& notes) {
    std::map<std::pair<int, int>, int> count;
    for (const NoteMessage& n : notes) count[{n.channel, n.key}] += n.status == 0x90 ? 1 : -1;
    std::erase_if(count, [](const auto& entry) { return entry.second == 0; });
    return count;
}

}  // namespace

class ViewsTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<PlayerContext> player_;
    std::shared_ptr<Recording> recording_;
    std::unique_ptr<QWidget> host_;
    TfNotes_l* notes_ = nullptr;
    TfChords* chords_ = nullptr;
    QLabel* chordName_ = nullptr;
    bool playing_ = false;
    int changes_ = 0;

    void open(const std::string& sample) {
        host_ = std::make_unique<QWidget>();
        host_->resize(900, 560);
        notes_ = new TfNotes_l(host_.get(), *player_);
        notes_->setGeometry(0, 0, 900, 300);
        chords_ = new TfChords(host_.get(), *player_);
        chords_->setGeometry(0, 300, 900, 230);
        chordName_ = new QLabel(host_.get());
        OpeningRequest request;
        request.path = varimel::test::sampleMelodyPath(sample).string();
        request.kind = DocumentKind::kMidi;
        QCOMPARE(notes_->openDocument(request), 0);
        QCOMPARE(notes_->chordMaster()->harmonise(defaultOptions), 0);
        notes_->setChordsView(chords_);
        // As the main window does once a document opened: the player plays this document.
        player_->composition = notes_->composition();
        player_->channelSettings = &notes_->channelSettings();
        notes_->layoutDocument();
        ChordsBindings bindings;
        bindings.chordNameLabel = chordName_;
        bindings.playing = [this] { return playing_; };
        bindings.changed = [this] { ++changes_; };
        chords_->bind(bindings);
        chords_->setHeaderLeft(TfNotes_l::headerLeft());
        chords_->createGrid(*notes_->composition(), *notes_->scale());
        host_->show();
        QVERIFY(QTest::qWaitForWindowExposed(host_.get()));
    }

    // A grid element's centre in the painted panel's own coordinates.
    QPoint at(const QString& name) {
        return chords_->p_wChr->mapFrom(chords_, chords_->element(name).center());
    }
    void click(const QString& name, Qt::MouseButton button) {
        QVERIFY2(!chords_->element(name).isEmpty(), qPrintable("no element " + name));
        QTest::mouseClick(grid(), button, {}, at(name));
    }

    QWidget* grid() { return chords_->p_wChr; }
    QWidget* canvas() { return notes_->findChild<QWidget*>("plNts"); }

  private Q_SLOTS:
    void init() {
        player_ = std::make_unique<PlayerContext>();
        qputenv("VARIMEL_OUTPUT", "recording");
        recording_ = configurePlayerOutput(*player_);
        QVERIFY(recording_);
        playing_ = false;
        changes_ = 0;
    }
    void cleanup() {
        player_->composition = nullptr;
        host_.reset();
        player_.reset();
    }

    void candidateSelectionTurnsBlueAndChangesTheBar() {
        open("twinkle");
        Composition& c = *notes_->composition();
        // Find a bar with at least two candidates whose second differs from its chord.
        int bar = -1;
        for (int b = 0; b < 8 && bar < 0; ++b) {
            const auto candidates = model::barCandidates(c.slots[static_cast<size_t>(b)]);
            if (candidates.buttons >= 2 && candidates.chordOfIndex(2) != c.chordTrack[b].chord) {
                bar = b;
            }
        }
        QVERIFY(bar >= 0);
        const QString second = QString("Chr_%1_2").arg(bar);
        click(second, Qt::RightButton);
        const auto candidates = model::barCandidates(c.slots[static_cast<size_t>(bar)]);
        QCOMPARE(c.chordTrack[static_cast<size_t>(bar)].chord, candidates.chordOfIndex(2));
        QCOMPARE(chords_->elementColour(second), TfChords::kSelectedColour);
        QCOMPARE(chords_->elementColour(QString("Chr_%1_1").arg(bar)), TfChords::kTextColour);
        QCOMPARE(chords_->elementText(QString("AChr_%1").arg(bar)),
                 QString::fromStdString(chordName(candidates.chordOfIndex(2))));
        QVERIFY(c.testStateFlags(state_flag::kContentChanged));
        QCOMPARE(changes_, 1);
    }

    void muteShowsGreyAndUnmuteRestores() {
        open("twinkle");
        Composition& c = *notes_->composition();
        const QString applied = "AChr_3";
        const QString before = chords_->elementText(applied);
        click(applied, Qt::RightButton);
        QCOMPARE(chords_->elementText(applied), QString("muted"));
        QCOMPARE(chords_->elementColour(applied), TfChords::kMutedColour);
        QCOMPARE(c.chordTrack[3].enabled, 0);
        click(applied, Qt::RightButton);
        QCOMPARE(chords_->elementText(applied), before);
        QCOMPARE(c.chordTrack[3].enabled, 1);
    }

    void nothingChangesWhilePlaying() {
        open("twinkle");
        Composition& c = *notes_->composition();
        const auto track = c.chordTrack;
        playing_ = true;
        click("AChr_2", Qt::RightButton);
        click("Chr_2_2", Qt::RightButton);
        QCOMPARE(c.chordTrack, track);
        QCOMPARE(changes_, 0);
    }

    void theFurtherChordsListTakesTheKeysAndClosesWithoutApplying() {
        open("twinkle");
        Composition& c = *notes_->composition();
        HarmonySlot& slot = c.slots[1];
        slot.mainCount = 1;
        slot.extraCount = 2;
        slot.candidates[0] = makeChordCode(7, 0);   // C
        slot.candidates[1] = makeChordCode(4, 3);   // Eb6, spelled as C major's key list does
        slot.candidates[2] = makeChordCode(18, 0);  // Dm
        c.chordTrack[1].chord = slot.candidates[0];
        chords_->createGrid(c, *notes_->scale());
        QListWidget* list = chords_->cb_CustChr;
        const auto track = c.chordTrack;

        // It opens with the focus; arrows move in it; Escape closes it, applying nothing.
        click("SCChr_1", Qt::LeftButton);
        QVERIFY(list->isVisible());
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(1)->text(), QString("Eb6"));
        QTRY_VERIFY(list->hasFocus());
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->currentRow(), 1);
        QTest::keyClick(list, Qt::Key_Escape);
        QVERIFY(!list->isVisible());
        QCOMPARE(c.chordTrack, track);

        // Auditioning an entry sounds it only; a second click on the button, or a click
        // elsewhere, closes the list without applying it.
        click("SCChr_1", Qt::LeftButton);
        const QRect second = list->visualItemRect(list->item(2));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
        QCOMPARE(list->currentRow(), 2);
        click("SCChr_1", Qt::LeftButton);
        QVERIFY(!list->isVisible());
        QCOMPARE(c.chordTrack, track);
        click("SCChr_1", Qt::LeftButton);
        QVERIFY(list->isVisible());
        QTest::mouseClick(canvas(), Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!list->isVisible());
        QCOMPARE(c.chordTrack, track);
        QCOMPARE(changes_, 0);

        // Enter applies the entry the keys chose.
        click("SCChr_1", Qt::LeftButton);
        QTRY_VERIFY(list->hasFocus());
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Return);
        QVERIFY(!list->isVisible());
        QCOMPARE(c.chordTrack[1].chord, slot.candidates[1]);
        QCOMPARE(chords_->elementText("AChr_1"), QString("Eb6"));

        // Without candidates the list holds only "None", which leaves no chord.
        slot.mainCount = 0;
        slot.extraCount = 0;
        chords_->createGrid(c, *notes_->scale());
        click("SCChr_1", Qt::LeftButton);
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), QString("None"));
        QTRY_VERIFY(list->hasFocus());
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(c.chordTrack[1].chord, kNoChord);
        QCOMPARE(chords_->elementText("AChr_1"), QString("  -   "));
    }

    void pressAndReleaseSoundTheChordAtTheAccompanimentOctave() {
        open("twinkle");
        Composition& c = *notes_->composition();
        recording_->clear();
        const QPoint applied = at("AChr_0");
        QTest::mousePress(grid(), Qt::LeftButton, {}, applied);
        const auto on = noteMessages(*recording_);
        QVERIFY(!on.empty());
        const ChordTones tones = chordTones(static_cast<KeyIndex>(c.chordTrack[0].chord >> 8),
                                            c.chordTrack[0].chord & 0xFF);
        const int octaveBase = c.accompanimentOctave * 12;
        for (const NoteMessage& n : on) {
            QCOMPARE(n.status, 0x90);
            QCOMPARE(n.channel, 1);
            QVERIFY(n.key >= octaveBase && n.key < octaveBase + 24);
        }
        QCOMPARE(static_cast<int>(on.size()), static_cast<int>(tones.count));
        QTest::mouseRelease(grid(), Qt::LeftButton, {}, applied);
        QVERIFY(sounding(noteMessages(*recording_)).empty());
    }

    void noNoteHangsWhenTheChordChangesWhileHeld() {
        open("twinkle");
        recording_->clear();
        const QPoint applied = at("AChr_2");
        QTest::mousePress(grid(), Qt::LeftButton, {}, applied);
        QVERIFY(!sounding(noteMessages(*recording_)).empty());
        // The bar's chord changes while the button is held (a right click elsewhere).
        QTest::mouseClick(grid(), Qt::RightButton, {}, at("Chr_2_2"));
        QTest::mouseRelease(grid(), Qt::LeftButton, {}, applied);
        QVERIFY(sounding(noteMessages(*recording_)).empty());
        // Hiding the grid also silences a held chord.
        QTest::mousePress(grid(), Qt::LeftButton, {}, applied);
        chords_->hide();
        QVERIFY(sounding(noteMessages(*recording_)).empty());
    }

    void clickMovesTheCursorAndAShortDragIsAClick() {
        open("twinkle");
        QWidget* roll = canvas();
        const QRect bar3 = notes_->element("Sec_2");
        QTest::mouseClick(roll, Qt::LeftButton, {}, QPoint(bar3.left() + 10, 100));
        const int pixel = notes_->pixelAtX(bar3.left() + 10);
        QCOMPARE(notes_->cursorPixel(), pixel);
        QCOMPARE(notes_->playRange()[PlayRange::kStart], notes_->scale()->tickOfPixel(pixel));
        QCOMPARE(chords_->playingBar(), 2);
        QVERIFY(!notes_->loopShown());

        // A drag over two bars sets and shows a loop.
        const QRect bar2 = notes_->element("Sec_1");
        const QRect bar4 = notes_->element("Sec_3");
        QTest::mousePress(roll, Qt::LeftButton, {}, QPoint(bar2.left() + 1, 100));
        QMouseEvent move(QEvent::MouseMove, QPointF(bar4.left() + 1, 100),
                         roll->mapToGlobal(QPointF(bar4.left() + 1, 100)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(roll, &move);
        QTest::mouseRelease(roll, Qt::LeftButton, {}, QPoint(bar4.left() + 1, 100));
        QVERIFY(notes_->loopShown());
        const int32_t barTicks = notes_->composition()->meterMap().ticksPerBar(1);
        QVERIFY(std::abs(notes_->loop().startTick - barTicks) < 20);
        QVERIFY(std::abs(notes_->loop().endTick - 3 * barTicks) < 20);
        QCOMPARE(notes_->playRange()[PlayRange::kLoopStart], notes_->loop().startTick);
    }

    void theMelodyShowsAndTheGridStandsUnderItsBars() {
        open("greensleeves");
        // The roll is centred on the melody: its teal notes are on screen.
        const QImage roll = canvas()->grab().toImage();
        int teal = 0;
        for (int y = 0; y < roll.height(); ++y) {
            for (int x = 0; x < roll.width(); ++x)
                teal += roll.pixelColor(x, y) == QColor(0, 0x80, 0x80);
        }
        QVERIFY2(teal > 100, qPrintable(QString("teal pixels: %1").arg(teal)));
        // Columns line up with the bar ruler's sections.
        for (int bar : {0, 1, 5}) {
            QCOMPARE(chords_->element(QString("AChr_%1").arg(bar)).left(),
                     notes_->element(QString("Sec_%1").arg(bar)).left());
        }
        // Scrolled, the grid follows the bars and stays right of the margin beside it: the
        // cells of the bars scrolled away neither show nor take clicks there.
        const int offset = notes_->scale()->barWidth() + 30;
        const int left = chords_->element(QString("AChr_2")).left();
        chords_->setHorizontalOffset(offset);
        QCOMPARE(chords_->element(QString("AChr_2")).left(), left - offset);
        QCOMPARE(chords_->childAt(chords_->element(QString("AChr_2")).center()), grid());
        const QPoint margin(TfNotes_l::headerLeft() - 5,
                            chords_->element(QString("AChr_1")).center().y());
        QVERIFY(chords_->childAt(margin) != grid());
    }

    void markersAndTheirJumps() {
        open("twinkle");
        notes_->insertMarker(240);
        notes_->insertMarker(480);
        notes_->insertMarker(480);
        QCOMPARE(static_cast<int>(notes_->markers().markers().size()), 2);
        QVERIFY(!notes_->DisableMark1->isChecked());
        notes_->forward();
        QCOMPARE(notes_->cursorPixel(), 240);
        notes_->forward();
        QCOMPARE(notes_->cursorPixel(), 480);
        notes_->backward();
        QCOMPARE(notes_->cursorPixel(), 240);
        // Jumps off: Backward returns to the start of the piece.
        notes_->DisableMark1->trigger();
        QVERIFY(notes_->DisableMark1->isChecked());
        notes_->backward();
        QCOMPARE(notes_->cursorPixel(), 0);
        QCOMPARE(notes_->playRange()[PlayRange::kStart], 0);
    }
};

QTEST_MAIN(ViewsTest)
#include "views_test.moc"
