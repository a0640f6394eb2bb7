// Recovery copies and the autosave schedule: where copies live, how a window's lock keeps other
// windows off its copy until it dies, what an unreadable copy becomes, and when copies are due.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

#include "engine/Mas_file.h"
#include "engine/Wchordmaster.h"
#include "settings/RegFile.h"
#include "settings/Tmyregistry.h"
#include "support/samples.h"
#include "ui/model/AutosaveSchedule.h"
#include "ui/model/Recovery.h"

namespace varimel::model {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string harmonisedProject() {
    ChordMaster master(test::sampleMelodyPath("twinkle").string());
    EXPECT_EQ(master.loadMidi(), 0);
    EXPECT_EQ(master.harmonise(defaultOptions), 0);
    const auto bytes = ProjectWriter::encode(*master.composition(), defaultOptions);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<fs::path> offeredProjects(const fs::path& folder) {
    std::vector<fs::path> paths;
    for (const auto& copy : RecoveryCopy::claimOrphans(folder))
        paths.push_back(copy->projectPath());
    return paths;
}

TEST(RecoveryFolder, FollowsXdgDataHomeThenHome) {
    EXPECT_EQ(recoveryFolder("/x/data", "/home/u"), fs::path("/x/data/varimel/recovery"));
    EXPECT_EQ(recoveryFolder("", "/home/u"), fs::path("/home/u/.local/share/varimel/recovery"));
    // The XDG rules ignore a relative data home.
    EXPECT_EQ(recoveryFolder("rel", "/home/u"), fs::path("/home/u/.local/share/varimel/recovery"));
    EXPECT_EQ(recoveryFolder(nullptr, nullptr), fs::path());
}

TEST(RecoveryInfo, RoundTripsAndRefusesForeignText) {
    const RecoveryInfo info{"/music/Song 1.mid", 1796677200, 4242};
    RecoveryInfo read;
    ASSERT_TRUE(decodeRecoveryInfo(encodeRecoveryInfo(info), read));
    EXPECT_EQ(read, info);
    EXPECT_FALSE(decodeRecoveryInfo("document=/a.mid\nsaved=1\n", read));
    EXPECT_FALSE(decodeRecoveryInfo("varimel recovery 1\ndocument=/a.mid\nsaved=soon\n", read));
    EXPECT_EQ(read, info);
}

TEST(RecoveryQuestion, NamesTheDocumentAndTheLocalTime) {
    const char* zone = std::getenv("TZ");
    const std::string previous = zone ? zone : "";
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(recoveryQuestion({"/music/twinkle.mid", 1796677200, 1}),
              "Varimel did not close properly. Restore your unsaved work on twinkle.mid from "
              "2026-12-07 21:00?");
    if (zone)
        ::setenv("TZ", previous.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

// A copy written by this window is an ordinary project with its record; no window takes it while
// its owner lives — not this one, not another process — and once the owner is killed the copy is
// offered, once, to one taker at a time; Later leaves it for the next, remove() takes it away.
TEST(RecoveryCopy, BelongsToItsWindowUntilTheWindowDies) {
    test::TempDir dir("varimel-recovery");
    const fs::path folder = dir / "recovery";
    const std::string project = harmonisedProject();

    std::string error;
    auto own = RecoveryCopy::create(folder, error);
    ASSERT_TRUE(own) << error;
    ASSERT_TRUE(own->write(project, {"/music/own.mid", 100, 0}, error)) << error;
    EXPECT_TRUE(recoveryCopyReadable(own->projectPath()));
    EXPECT_EQ(own->info().ownerPid, static_cast<std::int64_t>(::getpid()));
    EXPECT_TRUE(offeredProjects(folder).empty());

    // Another window: it writes its copy, says so, and lives until it is killed.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        std::string childError;
        auto copy = RecoveryCopy::create(folder, childError);
        const bool written = copy && copy->write(project, {"/music/other.mid", 50, 0}, childError);
        const char answer = written ? '1' : '0';
        if (::write(ready[1], &answer, 1) != 1) ::_exit(2);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(answer, '1');
    EXPECT_TRUE(offeredProjects(folder).empty());

    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    {
        auto orphans = RecoveryCopy::claimOrphans(folder);
        ASSERT_EQ(orphans.size(), 1u);
        EXPECT_EQ(orphans[0]->info().document, "/music/other.mid");
        EXPECT_EQ(orphans[0]->info().savedAt, 50);
        EXPECT_EQ(orphans[0]->info().ownerPid, static_cast<std::int64_t>(other));
        EXPECT_TRUE(recoveryCopyReadable(orphans[0]->projectPath()));
        // While one taker holds it, a second does not get it.
        EXPECT_TRUE(offeredProjects(folder).empty());
    }
    // Later: the files stayed, and the next start is offered the copy again.
    auto again = RecoveryCopy::claimOrphans(folder);
    ASSERT_EQ(again.size(), 1u);
    const fs::path otherProject = again[0]->projectPath();
    again[0]->remove();
    EXPECT_FALSE(fs::exists(otherProject));
    EXPECT_FALSE(fs::exists(again[0]->infoPath()));
    EXPECT_FALSE(fs::exists(again[0]->lockPath()));
    EXPECT_TRUE(offeredProjects(folder).empty());

    // A window that died before its first copy left only its lock, which a start clears.
    std::string lockError;
    const fs::path stale = RecoveryCopy::create(folder, lockError)->lockPath();
    EXPECT_TRUE(fs::exists(stale));
    auto unwritten = RecoveryCopy::create(folder, lockError);
    EXPECT_TRUE(offeredProjects(folder).empty());
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(unwritten->lockPath()));  // its window lives

    // A write that comes after the removal (a helper thread late) writes nothing.
    unwritten->remove();
    own->remove();
    EXPECT_TRUE(own->write(project, {"/music/own.mid", 200, 0}, error));
    EXPECT_TRUE(fs::is_empty(folder));
}

// A copy that does not read as a project — cut short, or not one at all — is moved aside with its
// record, byte for byte, and no longer offered; it is never deleted.
TEST(RecoveryCopy, UnreadableCopyIsKeptAsideNotDeleted) {
    test::TempDir dir("varimel-recovery");
    const fs::path folder = dir / "recovery";
    const std::string project = harmonisedProject();
    const std::string truncated = project.substr(0, project.size() / 2);
    {
        std::string error;
        auto cut = RecoveryCopy::create(folder, error);
        ASSERT_TRUE(cut && cut->write(truncated, {"/music/cut.mid", 10, 0}, error)) << error;
        auto foreign = RecoveryCopy::create(folder, error);
        ASSERT_TRUE(foreign && foreign->write("not a project", {"/music/x.mid", 20, 0}, error));
    }
    auto orphans = RecoveryCopy::claimOrphans(folder);
    ASSERT_EQ(orphans.size(), 2u);
    EXPECT_EQ(orphans[0]->info().document, "/music/cut.mid");  // the older first
    for (auto& copy : orphans) {
        EXPECT_FALSE(recoveryCopyReadable(copy->projectPath()));
        fs::path keptAt;
        std::string error;
        ASSERT_TRUE(copy->putAside(keptAt, error)) << error;
        EXPECT_EQ(keptAt.parent_path(), folder / RecoveryCopy::kAsideFolder);
        EXPECT_FALSE(fs::exists(copy->projectPath()));
        EXPECT_FALSE(fs::exists(copy->lockPath()));
        EXPECT_TRUE(fs::exists(keptAt.parent_path() / copy->infoPath().filename()));
    }
    std::ifstream kept(folder / RecoveryCopy::kAsideFolder / orphans[0]->projectPath().filename(),
                       std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), truncated);
    EXPECT_TRUE(offeredProjects(folder).empty());
    EXPECT_NE(unreadableCopyText(folder / "unreadable/c.vml")
                  .find((folder / "unreadable/c.vml").string()),
              std::string::npos);
}

// A few seconds after the first change, then at most once an interval while changes go on;
// changes made while a copy is written wait for the next; a failed write is retried.
TEST(AutosaveSchedule, WritesSoonAfterAChangeThenAtMostEveryInterval) {
    using Clock = AutosaveSchedule::Clock;
    AutosaveSchedule schedule;  // 30 s
    const Clock::time_point t0{};
    EXPECT_FALSE(schedule.dueIn(t0));
    schedule.changed(t0);
    schedule.changed(t0 + 2s);  // further changes do not postpone the first copy
    EXPECT_EQ(schedule.dueIn(t0 + 1s), 2000ms);
    EXPECT_EQ(schedule.dueIn(t0 + 5s), 0ms);

    schedule.writing();
    EXPECT_FALSE(schedule.dueIn(t0 + 3s));
    schedule.changed(t0 + 3500ms);  // during the write
    schedule.written(t0 + 4s, true);
    EXPECT_EQ(schedule.dueIn(t0 + 4s), 30000ms);  // the interval since the last copy

    schedule.writing();
    schedule.written(t0 + 34s, false);
    EXPECT_TRUE(schedule.pending());
    EXPECT_EQ(schedule.dueIn(t0 + 34s), 30000ms);

    schedule.clear();  // saved
    EXPECT_FALSE(schedule.dueIn(t0 + 40s));
    schedule.changed(t0 + 40s);
    EXPECT_EQ(schedule.dueIn(t0 + 40s), 3000ms);

    AutosaveSchedule quick({true, 1});
    quick.changed(t0);
    EXPECT_EQ(quick.dueIn(t0), 1000ms);  // the delay never exceeds the interval
    AutosaveSchedule off({false, 30});
    off.changed(t0);
    EXPECT_FALSE(off.dueIn(t0 + 1h));
}

TEST(AutosaveSettings, HiddenValuesWithDefaults) {
    test::TempDir dir("varimel-recovery");
    RegistryFile registry(dir / "registry.reg");
    EXPECT_TRUE(readAutosaveSettings(registry).enabled);
    ASSERT_TRUE(registry.openKey(programKey(kSettingsKey), true));
    registry.writeBool(kAutoSaveValue, false);
    registry.writeInteger(kAutoSaveIntervalValue, 12);
    registry.closeKey();
    AutosaveSettings read = readAutosaveSettings(registry);
    EXPECT_FALSE(read.enabled);
    EXPECT_EQ(read.intervalSeconds, 12);

    ASSERT_TRUE(registry.openKey(programKey(kSettingsKey), true));
    registry.writeInteger(kAutoSaveIntervalValue, 0);
    registry.writeString(kAutoSaveValue, "yes");
    registry.closeKey();
    read = readAutosaveSettings(registry);
    EXPECT_EQ(read.intervalSeconds, AutosaveSettings::kDefaultIntervalSeconds);
    EXPECT_TRUE(read.enabled);
}

}  // namespace
}  // namespace varimel::model
