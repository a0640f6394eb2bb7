// A window killed with SIGKILL after edits loses nothing: a second window started meanwhile does
// not take its copy, and the next start, answering Restore, shows the edited chords, style,
// volumes and tempo under the melody's name, unsaved. Both windows are real processes
// (recovery_window), so the lock and the copy meet a real crash.
#include <QProcess>
#include <QtTest>
#include <map>

#include "accompaniment/DocumentOpening.h"
#include "recovery_support.h"
#include "scripted_services.h"

using namespace varimel;
namespace fs = std::filesystem;

namespace {

constexpr int kWaitMs = 60000;

// The report lines of recovery_window by their first word.
using Report = std::map<QString, QString>;
Report parse(const QByteArray& output) {
    Report report;
    for (const QByteArray& line : output.split('\n')) {
        const QString text = QString::fromUtf8(line);
        const qsizetype blank = text.indexOf(' ');
        if (blank > 0) report[text.left(blank)] += text.mid(blank + 1);
    }
    return report;
}

}  // namespace

class RecoveryProcessTest : public QObject {
    Q_OBJECT

    // A window started to answer Restore, which reports and ends.
    void startToRestore(const QProcessEnvironment& environment, Report& report) {
        QProcess window;
        window.setProcessEnvironment(environment);
        window.start(VARIMEL_RECOVERY_WINDOW, {"restore"});
        QVERIFY(window.waitForFinished(kWaitMs));
        QCOMPARE(window.exitCode(), 0);
        report = parse(window.readAllStandardOutput());
    }

  private Q_SLOTS:
    void killedWindowIsRestoredWithItsEdits() {
        test::TempDir dir("varimel-recovery-process");
        const fs::path melody = dir / "twinkle.mid";
        fs::copy_file(test::sampleMelodyPath("twinkle"), melody);
        QVERIFY(installWithLibraries(dir.path(), "Piano\nBright Piano\n", false));
        QVERIFY(test::setAutosaveInterval(dir / "registry.reg", 1));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kRegistryEnvVar,
                           QString::fromStdString((dir / "registry.reg").string()));
        environment.insert("XDG_DATA_HOME", QString::fromStdString((dir / "data-home").string()));
        environment.insert("VARIMEL_OUTPUT", "recording");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        const fs::path folder = test::recoveryFolderIn(dir.path());

        QProcess edited;
        edited.setProcessEnvironment(environment);
        edited.start(VARIMEL_RECOVERY_WINDOW, {"edit", QString::fromStdString(melody.string())});
        QVERIFY(edited.waitForStarted());
        QByteArray editOutput;
        QTRY_VERIFY_WITH_TIMEOUT(
            (editOutput += edited.readAllStandardOutput()).contains("copy-written"), kWaitMs);
        const Report before = parse(editOutput);
        QCOMPARE(before.at("document"), QString::fromStdString(melody.string()));
        QCOMPARE(before.at("channels").section(' ', 0, 1), QStringLiteral("77 55"));
        QCOMPARE(before.at("tempo"), QString::number(60000000 / 97));
        QCOMPARE(test::recoveryProjects(folder).size(), std::size_t(1));

        // A second window while the first still runs: nothing is offered, nothing taken.
        Report untouched;
        startToRestore(environment, untouched);
        QCOMPARE(untouched.at("document"), QStringLiteral("-"));
        QVERIFY(!untouched.count("asked"));

        edited.kill();  // SIGKILL
        QVERIFY(edited.waitForFinished(kWaitMs));
        QCOMPARE(edited.exitStatus(), QProcess::CrashExit);
        QCOMPARE(test::recoveryProjects(folder).size(), std::size_t(1));

        Report after;
        startToRestore(environment, after);
        QVERIFY(after.at("asked").startsWith(
            "Varimel did not close properly. Restore your unsaved work on twinkle.mid from "));
        QCOMPARE(after.at("document"), before.at("document"));
        QCOMPARE(after.at("unsaved"), QStringLiteral("1 1"));
        QCOMPARE(after.at("chords"), before.at("chords"));
        QCOMPARE(after.at("accompaniment"), before.at("accompaniment"));
        QCOMPARE(after.at("channels"), before.at("channels"));
        QCOMPARE(after.at("tempo"), QString::number(60000000 / 97));
        // Until the restored work is saved, its copy stays.
        QCOMPARE(test::recoveryProjects(folder).size(), std::size_t(1));
    }
};

QTEST_MAIN(RecoveryProcessTest)
#include "recovery_process_test.moc"
