// The window's document rules without a window: file kinds, load statuses, the save plan, the
// recent-files list and what a reopened project restores.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/melody.h"
#include "support/smf_bytes.h"
#include "ui/model/DocumentFlow.h"
#include "ui/model/InstrumentNames.h"
#include "ui/model/RecentFiles.h"

using namespace varimel;
using namespace varimel::model;

TEST(LoadStatus, EachStatusGivesItsMessageAndWhatHappensNext) {
    const std::string name = "/m/tune.mid";
    const LoadStatusAnswer keyUnknown = answerLoadStatus(92, name);
    EXPECT_EQ(keyUnknown.action, LoadStatusAnswer::Action::Continue);
    EXPECT_EQ(keyUnknown.kind, MessageKind::Warning);
    EXPECT_TRUE(keyUnknown.keyUnrecognised);
    EXPECT_EQ(keyUnknown.text,
              "  Warning!\n\r Can not recognize key of the melody.\n\r Define its key yourself or "
              "load other tune.");

    EXPECT_EQ(answerLoadStatus(89, name).action, LoadStatusAnswer::Action::ChooseChannel);

    const LoadStatusAnswer poly = answerLoadStatus(90, name);
    EXPECT_EQ(poly.action, LoadStatusAnswer::Action::Fail);
    EXPECT_EQ(poly.kind, MessageKind::Error);
    EXPECT_EQ(poly.text,
              "Please, submit only monophonic melody - \n\r using only one note sounding at a "
              "time.");
    EXPECT_EQ(answerLoadStatus(91, name).text,
              "Submitted fragment is too short to find out its harmony correctly.\n\r Load the "
              "most part of the melody");
    EXPECT_EQ(answerLoadStatus(93, name).text, msg::msgTooLow.text);
    const LoadStatusAnswer unreadable = answerLoadStatus(101, name);
    EXPECT_EQ(unreadable.kind, MessageKind::Error);
    EXPECT_EQ(unreadable.text, "Can't open file /m/tune.mid \n\r101");
}

TEST(LoadStatus, AnUnresolvedChannelChoiceExplainsItselfUnlessTheUserCancelled) {
    const LoadStatusAnswer none = unresolvedChannelAnswer("/m/two.mid", false);
    EXPECT_EQ(none.action, LoadStatusAnswer::Action::Fail);
    EXPECT_EQ(none.kind, MessageKind::Error);
    EXPECT_EQ(none.text, "Can't open file /m/two.mid \n\r89");
    const LoadStatusAnswer cancelled = unresolvedChannelAnswer("/m/two.mid", true);
    EXPECT_EQ(cancelled.action, LoadStatusAnswer::Action::Fail);
    EXPECT_EQ(cancelled.kind, MessageKind::None);
    EXPECT_TRUE(cancelled.text.empty());
}

TEST(ChannelChoice, TrackNamesBelongToTheChannelsOfTheirNotes) {
    namespace s = varimel::test::smf;
    const test::TempMidiFile file(
        s::file(1, 480,
                {s::cat({s::text(0, 3, "Tempo track"), s::endOfTrack()}),
                 s::cat({s::text(0, 3, "Violin"), s::noteOn(0, 0, 72, 90), s::noteOff(480, 0, 72),
                         s::endOfTrack()}),
                 s::cat({s::text(0, 3, "Bass"), s::noteOn(0, 2, 48, 90), s::noteOff(480, 2, 48),
                         s::text(0, 3, "renamed"), s::endOfTrack()})}));
    const std::array<std::string, 16> names = trackNamesOfChannels(file.path().string());
    EXPECT_EQ(names[0], "Violin");
    EXPECT_EQ(names[2], "Bass");
    EXPECT_EQ(names[1], "");
    EXPECT_EQ(trackNamesOfChannels("/no/such/file.mid")[0], "");
}

TEST(ChannelChoice, LinesCountTheChannelFromOneAndNameItsInstrumentAndTrack) {
    InstrumentNames names;
    names.setNames({"Piano", "Bright Piano", "Grand"});
    const std::vector<std::string> lines =
        channelCandidateLines({{2, 1, "Violin"}, {5, -1, ""}, {9, 73, ""}}, names);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Channel 3 - Bright Piano - \"Violin\"");
    EXPECT_EQ(lines[1], "Channel 6");
    // Program 73 has no name in a three-line list: its number shows, counted from 1.
    EXPECT_EQ(lines[2], "Channel 10 - 74");
}

TEST(SavePlan, SaveGoesWithoutADialogOnlyForAChangedProject) {
    const SavePlan project = planSave(SaveMode::Save, false, true, "/m/a.vml");
    EXPECT_TRUE(project.go);
    EXPECT_FALSE(project.ask);
    EXPECT_FALSE(project.showDialog);
    EXPECT_EQ(project.workName, "/m/a.vml");

    const SavePlan melody = planSave(SaveMode::Save, true, true, "/m/a.mid");
    EXPECT_TRUE(melody.showDialog);
    EXPECT_EQ(melody.proposedName, "a");
    EXPECT_EQ(melody.filter, kProjectFilter);

    EXPECT_FALSE(planSave(SaveMode::Save, false, false, "/m/a.vml").go);
    EXPECT_FALSE(planSave(SaveMode::CloseQuestion, true, false, "/m/a.mid").go);
}

TEST(SavePlan, SaveAsAndExportAlwaysAskForANameAndTheQuestionOnlyWhenChanged) {
    for (const bool changed : {false, true}) {
        const SavePlan saveAs = planSave(SaveMode::SaveAs, false, changed, "/m/a.vml");
        EXPECT_TRUE(saveAs.go && saveAs.showDialog && !saveAs.ask);
        const SavePlan exported = planSave(SaveMode::Export, false, changed, "/m/song.vml");
        EXPECT_TRUE(exported.go && exported.showDialog);
        EXPECT_EQ(exported.filter, kExportFilter);
        EXPECT_EQ(exported.proposedName, "song");
    }
    const SavePlan question = planSave(SaveMode::CloseQuestion, false, true, "/m/a.vml");
    EXPECT_TRUE(question.ask);
    EXPECT_TRUE(question.showDialog);  // the question's Yes goes through the save dialog
    EXPECT_EQ(saveQuestion("/m/a.vml"), " Save changes to /m/a.vml?");
}

TEST(SavePlan, ANameWithoutExtensionGetsTheModesOwn) {
    EXPECT_EQ(withDefaultExtension("/m/song", SaveMode::Export), "/m/song.mid");
    EXPECT_EQ(withDefaultExtension("/m/song", SaveMode::SaveAs), "/m/song.vml");
    EXPECT_EQ(withDefaultExtension("/m/song.txt", SaveMode::Save), "/m/song.txt");
    EXPECT_EQ(withDefaultExtension("/m.d/song", SaveMode::Save), "/m.d/song.vml");
    EXPECT_EQ(cantSaveText("/x/a.vml", "No such file or directory"),
              "Can't save file /x/a.vml\n\rNo such file or directory");
}

TEST(RecentFiles, TheFirstItemStaysAndAnOlderOneMovesToTheTop) {
    RecentFiles recent(4);
    for (const char* name : {"/a.mid", "/b.mid", "/c.mid", "/d.mid"}) recent.appendStored(name);
    EXPECT_FALSE(recent.changed());

    recent.add("/A.MID");  // already first, compared without regard to case
    EXPECT_FALSE(recent.changed());
    EXPECT_EQ(recent.names().front(), "/a.mid");

    recent.moveToTop(3);
    EXPECT_TRUE(recent.changed());
    EXPECT_EQ(recent.names(), (std::vector<std::string>{"/d.mid", "/a.mid", "/b.mid", "/c.mid"}));
}

TEST(RecentFiles, ANewFileGoesOnTopAndTheOldestLeaves) {
    RecentFiles recent(4);
    for (const char* name : {"/a.mid", "/b.mid", "/c.mid", "/d.mid"}) recent.appendStored(name);
    recent.add("/e.vml");
    EXPECT_EQ(recent.names(), (std::vector<std::string>{"/e.vml", "/a.mid", "/b.mid", "/c.mid"}));
    EXPECT_TRUE(recent.changed());

    RecentFiles none(0);
    none.add("/a.mid");
    EXPECT_TRUE(none.names().empty());
}

TEST(FileName, WithoutItsFolder) {
    EXPECT_EQ(fileNameOnly("/home/u/tune.mid"), "tune.mid");
    EXPECT_EQ(fileNameOnly("tune.mid"), "tune.mid");
}
