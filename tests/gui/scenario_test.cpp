// A musician's session with the real window, from opening a sample to the printed chord sheet:
// a draft, Create, a style and an arrangement chosen in their dialogs, playback from bar 3 with
// a pause, a loop played twice and deleted while it plays, the melody muted, the project saved,
// closed and reopened, exported and printed. What the output received is read back from the
// recording; a second run captures the sound into a WAV file as a listener would hear it.
#include <QAction>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <QtTest>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "accompaniment/Tarangsmaster.h"
#include "accompaniment/Tstylemaster.h"
#include "engine/Apperr.h"
#include "playback/WavRender.h"
#include "playback_log.h"
#include "scripted_services.h"
#include "support/samples.h"
#include "support/smf_walker.h"
#include "support/wav.h"
#include "ui/Farrangs.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/Fstyle1.h"

using namespace varimel;
namespace fs = std::filesystem;

namespace {

constexpr int kWait = 30000;  // ms; the machine may be busy
constexpr int kFastBpm = 240;

std::vector<uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The last value a channel's program change or controller 7 has in an exported file.
int exportedValue(const test::SmfFile& file, int kind, int channel) {
    int value = -1;
    for (const test::SmfTrack& track : file.tracks) {
        for (const test::SmfEvent& event : track.events) {
            if (event.kind() != kind || event.channel() != channel) continue;
            if (kind == 0xC0) value = event.data.at(0);
            if (kind == 0xB0 && event.data.at(0) == 7) value = event.data.at(1);
        }
    }
    return value;
}

}  // namespace

class ScenarioTest : public QObject, protected WindowFixture {
    Q_OBJECT

  private:
    void start() { startWindow(numberedInstruments()); }

    void open(const fs::path& file) {
        dialogs_.fileToOpen = QString::fromStdString(file.string());
        window_->findChild<QAction*>("mnFOpen")->trigger();
        QVERIFY(notes() && composition());
    }

    template <typename T>
    T* child(const char* name) {
        T* found = window_->findChild<T*>(QString::fromLatin1(name));
        if (!found) qFatal("no control %s", name);
        return found;
    }
    void click(const char* button) {
        QTest::mouseClick(child<QToolButton>(button), Qt::LeftButton);
    }
    TfNotes_l* notes() { return window_->notesView(); }
    Composition* composition() { return notes() ? notes()->composition() : nullptr; }
    int barTicks() { return 4 * composition()->ticksPerQuarter; }

    // The keys of the melody's notes that start in [from, to).
    std::vector<int> melodyKeys(int32_t from, int32_t to) {
        const NoteTracks& tracks = composition()->noteTracks();
        std::vector<int> keys;
        for (int32_t i = 0; i < tracks.count(0); ++i) {
            const int32_t start = tracks.startTick(i, 0);
            if (start >= from && start < to)
                keys.push_back(tracks.notes(0)[static_cast<std::size_t>(i)].key);
        }
        return keys;
    }

    // Draft II, Create, then a style other than the automatic one and the "Rock44" arrangement,
    // each chosen in its dialog; the piece plays fast, to keep the session short.
    void harmoniseAndAccompany() {
        open(dir_->path() / "twinkle.mid");
        child<QAction>("mnHDraft2")->trigger();
        QTest::mouseClick(child<QPushButton>("b_CreateAcc"), Qt::LeftButton);
        QVERIFY(composition()->hasChordTrack());

        const StyleId chosen = anotherStyleFor44(window_->styleDialog()->library());
        QVERIFY(chosen >= 0);
        dialogs_.onRun = [chosen](QDialog& dialog) {
            dynamic_cast<TfStyle&>(dialog).library().style(chosen);
            return int(QDialog::Accepted);
        };
        QTest::mouseClick(child<QPushButton>("b_StyleAcc"), Qt::LeftButton);
        QCOMPARE(composition()->styleId(), chosen);

        ArrangementLibrary& arrangements = window_->arrangementDialog()->library();
        arrangements.setMeter(4, 4);
        const ArrangementId rock = arrangements.findByName("Rock44");
        QVERIFY(rock >= 0);
        dialogs_.onRun = [rock](QDialog& dialog) {
            auto& chooser = dynamic_cast<TfArrang&>(dialog);
            chooser.show();
            QTest::mouseClick(
                chooser.rowText(QStringLiteral("mi_%1_%2").arg(rock >> 16).arg(rock & 0xFFFF)),
                Qt::RightButton);
            chooser.hide();
            return int(QDialog::Accepted);
        };
        child<QAction>("mnAPArran")->trigger();
        dialogs_.onRun = nullptr;
        QCOMPARE(composition()->arrangementId, rock);
        QCOMPARE(composition()->accompanimentParts,
                 accompaniment_part::kStyle | accompaniment_part::kArrangement);

        child<QScrollBar>("sb_Tempo")->setValue(kFastBpm);
        QCOMPARE(composition()->tempo, 60000000 / kFastBpm);
    }

    // A click on the piano roll at the start of bar `bar` (from 1) places the play cursor.
    void placeCursorAtBar(int bar) {
        const QRect section = notes()->element(QStringLiteral("Sec_%1").arg(bar - 1));
        QTest::mouseClick(notes()->findChild<QWidget*>("plNts"), Qt::LeftButton, {},
                          QPoint(section.left(), 100));
        QCOMPARE(notes()->playRange()[PlayRange::kStart], (bar - 1) * barTicks());
    }

    bool waitForMelodyNotes(std::size_t from, std::size_t count) {
        return window_->outputRecording()->waitFor(
            [&](const auto& all) { return melodyNotes(all, from).size() >= count; },
            std::chrono::milliseconds(kWait));
    }

  private Q_SLOTS:
    void init() {
        prepare("varimel-scenario");
        fs::copy_file(test::sampleMelodyPath("twinkle"), dir_->path() / "twinkle.mid");
    }
    void cleanup() { finish(); }

    void aSessionFromTheSampleToThePrintedChordSheet() {
        start();
        harmoniseAndAccompany();
        Recording& port = *window_->outputRecording();
        const ChannelSettings& channels = notes()->document().channels;

        // Play from bar 3: the first melody note heard is bar 3's first.
        placeCursorAtBar(3);
        std::size_t mark = port.size();
        click("b_Play");
        QVERIFY(window_->player().isPlaying());
        QVERIFY(waitForMelodyNotes(mark, 1));
        QCOMPARE(keyOf(melodyNotes(port.messages(), mark).front().message),
                 melodyKeys(2 * barTicks(), 3 * barTicks()).front());
        // The accompaniment's instruments and volumes went out as the stream opened.
        const auto heard = port.messages();
        for (int channel : {1, 2, 3}) {
            QVERIFY(wasSent(heard, 0xC0u | channel, channels.program[channel]));
            QVERIFY(wasSent(heard, 0xB0u | channel, 7, channels.volume[channel]));
        }
        QCOMPARE(int(channels.program[1]), int(composition()->style->program));
        QCOMPARE(channels.program[2], composition()->arrangement->parts.front().organProgram);

        // Pause in bar 4, play again: it goes on from the pause.
        QTRY_VERIFY_WITH_TIMEOUT(notes()->cursorPixel() > 3 * notes()->scale()->barWidth(), kWait);
        click("b_Play");
        QVERIFY(!window_->player().isPlaying());
        const int32_t paused = notes()->playRange()[PlayRange::kStart];
        QVERIFY(paused >= 3 * barTicks());
        mark = port.size();
        click("b_Play");
        QVERIFY(waitForMelodyNotes(mark, 1));
        const std::vector<int> rest = melodyKeys(paused, composition()->barCount * barTicks());
        QVERIFY(!rest.empty());
        QCOMPARE(keyOf(melodyNotes(port.messages(), mark).front().message), rest.front());
        click("b_Stop");
        QVERIFY(!window_->player().isPlaying());

        // Bars 2 to 4 as a loop, played twice note for note.
        const int bar = notes()->scale()->barWidth();
        notes()->setLoopFromPixels(bar, 4 * bar);
        click("b_Play2");
        QVERIFY(notes()->loopShown());
        const std::vector<int> loop = melodyKeys(barTicks(), 4 * barTicks());
        mark = port.size();
        click("b_Play");
        QVERIFY(waitForMelodyNotes(mark, 2 * loop.size()));
        const auto passes = melodyNotes(port.messages(), mark);
        for (std::size_t i = 0; i < 2 * loop.size(); ++i)
            QCOMPARE(keyOf(passes[i].message), loop[i % loop.size()]);
        // Deleting the loop while it plays: playback goes on to the end of the piece.
        click("b_Play2");
        QVERIFY(!notes()->loopShown());
        QVERIFY(window_->player().isPlaying());
        mark = port.size();
        QTRY_VERIFY_WITH_TIMEOUT(!window_->player().isPlaying(), 2 * kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!child<QToolButton>("b_Play")->isChecked(), kWait);
        const auto tail = melodyNotes(port.messages(), mark);
        QVERIFY(!tail.empty());
        QCOMPARE(keyOf(tail.back().message),
                 melodyKeys(0, composition()->barCount * barTicks()).back());
        click("b_Stop");

        // The melody muted; saved, closed, reopened: the same piece.
        QTest::mouseClick(child<QPushButton>("chb_MelOff"), Qt::LeftButton);
        QCOMPARE(int(channels.mute[0]), 1);
        const auto chords = composition()->chordTrack;
        const uint32_t parts = composition()->accompanimentParts;
        const ArrangementId arrangement = composition()->arrangementId;
        const StyleId style = composition()->styleId();
        const ChannelSettings before = channels;
        const fs::path project = dir_->path() / "twinkle.vml";
        dialogs_.fileToSave = QString::fromStdString(project.string());
        child<QAction>("mnFSave")->trigger();
        QVERIFY(fs::exists(project));
        child<QAction>("mnFClose")->trigger();
        QVERIFY(composition() == nullptr);
        open(project);
        QCOMPARE(composition()->chordTrack, chords);
        QCOMPARE(composition()->accompanimentParts, parts);
        QCOMPARE(composition()->arrangementId, arrangement);
        QCOMPARE(composition()->styleId(), style);
        const ChannelSettings& reopened = notes()->document().channels;
        for (int channel : {0, 1, 2, 3, 9}) {
            QCOMPARE(reopened.program[channel], before.program[channel]);
            QCOMPARE(reopened.volume[channel], before.volume[channel]);
        }

        // Exported: every sounding channel with its instrument and volume.
        const fs::path exported = dir_->path() / "twinkle-band.mid";
        dialogs_.fileToSave = QString::fromStdString(exported.string());
        child<QAction>("mnFExport")->trigger();
        const test::SmfWalk walk = test::walkSmf(readBytes(exported));
        QVERIFY2(walk.file, walk.error.c_str());
        for (int channel : {0, 1, 2, 3}) {
            QCOMPARE(exportedValue(*walk.file, 0xC0, channel), int(reopened.program[channel]));
            QCOMPARE(exportedValue(*walk.file, 0xB0, channel), int(reopened.volume[channel]));
        }
        QCOMPARE(exportedValue(*walk.file, 0xB0, 9), int(reopened.volume[9]));
        bool drums = false;
        for (const test::SmfNote& note : walk.file->notes()) drums = drums || note.channel == 9;
        QVERIFY(drums);

        // Printed to a PDF through the print dialog.
        const fs::path pdf = dir_->path() / "twinkle.pdf";
        dialogs_.onPrint = [&pdf](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(pdf.string()));
            return true;
        };
        child<QAction>("mnFPrint")->trigger();
        const std::vector<uint8_t> bytes = readBytes(pdf);
        QVERIFY(bytes.size() > 1000);
        QCOMPARE(std::string(bytes.begin(), bytes.begin() + 5), std::string("%PDF-"));
    }

    void theCapturedSoundIsAudibleForTheTimePlayed() {
        if (!canRenderWav()) QSKIP("built without the synthesiser");
        const fs::path wav = dir_->path() / "session.wav";
        qputenv("VARIMEL_OUTPUT", QByteArray::fromStdString("capture:" + wav.string()));
        start();
        harmoniseAndAccompany();
        // From bar 3, a pause in bar 4, then on to the end.
        placeCursorAtBar(3);
        const auto started = std::chrono::steady_clock::now();
        click("b_Play");
        QVERIFY(window_->player().isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(notes()->cursorPixel() > 3 * notes()->scale()->barWidth(), kWait);
        click("b_Play");
        click("b_Play");
        QVERIFY(window_->player().isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(!window_->player().isPlaying(), 2 * kWait);
        const double played =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        window_.reset();  // the window waits for the last render: the file is complete

        const test::Wav sound = test::readWav(wav);
        QCOMPARE(sound.rate, 44100);
        const double loudness = test::rms(sound.mono, 0, sound.mono.size());
        qInfo("captured %.2f s for %.2f s played, RMS %.4f", sound.seconds(), played, loudness);
        // The time played, and at most three seconds of the last notes ringing out.
        QVERIFY2(
            sound.seconds() >= 0.95 * played && sound.seconds() <= 1.05 * played + 3.0,
            qPrintable(QStringLiteral("%1 s for %2 s played").arg(sound.seconds()).arg(played)));
        QVERIFY(loudness > 0.005);
    }
};

QTEST_MAIN(ScenarioTest)
#include "scenario_test.moc"
