// recovery_window: the real main window in a process of its own, with scripted boxes, for the
// test that kills it. Its environment (registry, data folder, output) comes from the test.
//
//   recovery_window edit MELODY   opens the melody, harmonises it, edits chords, style, volumes
//                                 and tempo, prints what the document holds, prints
//                                 "copy-written" once the recovery copy holds the edits, and
//                                 waits to be killed
//   recovery_window restore       answers Restore to the start's offer, prints what the window
//                                 then holds and ends
#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <cstdio>

#include "engine/ChordCode.h"
#include "scripted_services.h"
#include "ui/ChordEditCommand.h"
#include "ui/Fnotes_l1.h"
#include "ui/Fstyle1.h"
#include "ui/RecoveryKeeper.h"
#include "ui/model/ChordEdit.h"

using namespace varimel;

namespace {

constexpr int kEditedBpm = 97;

void print(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// One line per thing the test compares.
void report(TfMain& window) {
    Composition* composition = window.notesView() ? window.notesView()->composition() : nullptr;
    if (composition == nullptr) {
        print("document -");
        return;
    }
    print("document " + QFile::encodeName(window.documentFileName()).toStdString());
    print("unsaved " + std::to_string(composition->testStateFlags(state_flag::kNeedsSave)) + " " +
          std::to_string(window.needsProjectName()));
    std::string chords = "chords";
    for (const ChordTrackEntry& entry : composition->chordTrack)
        chords += " " + std::to_string(entry.chord) + ":" + std::to_string(entry.enabled);
    print(chords);
    print("accompaniment " + std::to_string(composition->accompanimentParts) + " " +
          std::to_string(composition->styleId()));
    const ChannelSettings& channels = window.notesView()->document().channels;
    print("channels " + std::to_string(channels.volume[0]) + " " +
          std::to_string(channels.volume[1]) + " " + std::to_string(channels.program[1]));
    print("tempo " + std::to_string(composition->tempo));
}

// Another chord in bar 2 and bar 3 muted, as the chords grid makes them; another style; both
// volumes; the tempo.
bool edit(TfMain& window, ScriptedDialogs& dialogs, const QString& melody) {
    dialogs.fileToOpen = melody;
    window.findChild<QAction*>("mnFOpen")->trigger();
    window.findChild<QPushButton*>("b_CreateAcc")->click();
    Composition* composition = window.notesView() ? window.notesView()->composition() : nullptr;
    if (composition == nullptr || composition->barCount < 3) return false;

    const HarmonySlot& slot = composition->slots[1];
    ChordCode other = kNoChord;
    for (int i = 0; i < slot.mainCount + slot.extraCount && other == kNoChord; ++i) {
        if (slot.candidates[i] != kNoChord &&
            slot.candidates[i] != composition->chordTrack[1].chord)
            other = slot.candidates[i];
    }
    const auto changed = model::makeChordEdit(*composition, 1, {other, 1});
    const auto muted = model::makeChordEdit(*composition, 2, {composition->chordTrack[2].chord, 0});
    if (other == kNoChord || !changed || !muted) return false;
    window.undoStack()->push(new ChordEditCommand(*window.chordsView(), *changed));
    window.undoStack()->push(new ChordEditCommand(*window.chordsView(), *muted));

    const StyleId chosen = anotherStyleFor44(window.styleDialog()->library());
    dialogs.onRun = [chosen](QDialog& dialog) {
        dynamic_cast<TfStyle&>(dialog).library().style(chosen);
        return int(QDialog::Accepted);
    };
    window.findChild<QPushButton*>("b_StyleAcc")->click();
    dialogs.onRun = nullptr;
    if (chosen < 0 || composition->styleId() != chosen) return false;

    window.setChannelVolume(77, 0);
    window.setChannelVolume(55, 1);
    window.findChild<QScrollBar*>("sb_Tempo")->setValue(kEditedBpm);
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    const QString mode = arguments.value(1);
    ScriptedDialogs dialogs;
    ScriptedLauncher launcher;
    RecordingHelp help;
    FixedRandom random;
    if (mode == QLatin1String("restore")) dialogs.answers = {QMessageBox::Yes};
    TfMain window({&dialogs, &launcher, &help, &random}, QString());
    if (!window.started()) return 1;
    window.show();
    // Queued after the window's own offer, which its first show queued.
    QTimer::singleShot(0, &window, [&] {
        if (mode == QLatin1String("edit")) {
            if (!edit(window, dialogs, arguments.value(2))) {
                print("edit failed");
                app.exit(2);
                return;
            }
            report(window);
            QObject::connect(
                window.recoveryKeeper(), &RecoveryKeeper::copyWritten,
                [](bool succeeded, const QString& reason) {
                    print(succeeded ? "copy-written" : "copy-failed " + reason.toStdString());
                });
            return;
        }
        for (const ShownMessage& message : dialogs.messages)
            print("asked " + message.text.toStdString());
        report(window);
        app.exit(0);
    });
    return app.exec();
}
