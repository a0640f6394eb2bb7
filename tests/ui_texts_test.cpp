// The window's texts and lists without a window: the message table, the instrument entries, the
// tips and the help pages.
#include <gtest/gtest.h>

#include <fstream>

#include "support/samples.h"
#include "ui/model/HelpTopics.h"
#include "ui/model/InstrumentNames.h"
#include "ui/model/Msg_list.h"
#include "ui/model/Tips.h"

namespace varimel::model {
namespace {

TEST(Messages, TextsAreByteForByteWithLineFeedCarriageReturn) {
    EXPECT_EQ(msg::msgKeyUnknownCreate.text,
              "   Warning! \x0A\x0D Can not recognize key of the melody. \x0A\x0D Define its key "
              "yourself or load other tune.");
    EXPECT_EQ(msg::msgSaveChanges.text, " Save changes to ");
    EXPECT_EQ(msg::msgApplicationError.text, " Application Error ");
    EXPECT_EQ(msg::msgCantApplyStyle.text, "   Can't apply selected style   ");
    EXPECT_EQ(msg::msgStyleHint.text, " %s\n\r %d beats per bar\n\r Meter %d/%d");
    EXPECT_EQ(msg::msgNoStylesLibrary.text,
              " Can't load Styles library!\n\r Please run setup program and install Styles "
              "library.");
    EXPECT_EQ(msg::msgNoArrangementsLibrary.text,
              " Can't load Arrangements library!\n\r Please run setup program and install "
              "Arrangements library.");
    EXPECT_EQ(msg::msgNotMonophonic.text,
              "Please, submit only monophonic melody - \n\r using only one note sounding at a "
              "time.");
    EXPECT_EQ(msg::msgTooLow.text,
              "The melody lies too low: most of its notes are below C4 (MIDI note 48).\n\r "
              "Transpose it up an octave and load it again.");
    EXPECT_EQ(msg::msgCantSave.text, "Can't save file ");
}

TEST(Messages, TableKeepsItsOrderKindsAndButtons) {
    const auto table = messageTable();
    ASSERT_EQ(table.size(), 21u);
    EXPECT_EQ(table.front().name, "msgRunSetup");
    EXPECT_EQ(table[18].name, "msgNoArrangementsLibrary");
    EXPECT_EQ(table[19].name, "msgTooLow");
    EXPECT_EQ(table[20].name, "msgCantSave");
    EXPECT_EQ(msg::msgSaveChanges.kind, MessageKind::Confirmation);
    EXPECT_EQ(msg::msgSaveChanges.buttons, MessageButtons::YesNoCancel);
    EXPECT_EQ(msg::msgManyKeys.kind, MessageKind::Warning);
    EXPECT_EQ(msg::msgKeyUnknownCreate.kind, MessageKind::Error);
    EXPECT_EQ(msg::msgKeyUnknownOpen.kind, MessageKind::Warning);
    EXPECT_EQ(msg::msgTooLow.buttons, MessageButtons::Ok);
    EXPECT_EQ(msg::msgCreatedBy.kind, MessageKind::None);
    for (const MessageEntry& entry : table) EXPECT_EQ(findMessage(entry.name)->text, entry.text);
    EXPECT_EQ(findMessage("msgNothing"), nullptr);
}

TEST(Messages, DisplayFormMakesEachLineFeedCarriageReturnOneBreak) {
    EXPECT_EQ(displayText(msg::msgManyKeys.text),
              " Warning!\n Maybe accompaniment will not be created correctly.\n Probably there "
              "are many keys..\n Try it anyway.");
    EXPECT_EQ(displayText("a\r\nb\rc\n\n\rd"), "a\n\nb\nc\n\nd");
    EXPECT_EQ(formatText(text::kVisit, "example.org"), "Visit example.org.");
    EXPECT_EQ(formatText(text::kErrorNumber, 42LL), "Error 42");
    EXPECT_EQ(formatText(msg::msgNoStyleForMeter.text, "5/4"),
              "There are no accompaniment style \n\r for meter 5/4 in our collection.");
}

std::string writeLines(const test::TempDir& dir, int count, const char* end) {
    const auto path = (dir / "gmi.txt").string();
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < count; ++i) out << "Name " << i << end;
    return path;
}

TEST(InstrumentNames, TenNamesGive138EntriesMappedToTheirPrograms) {
    test::TempDir dir;
    InstrumentNames names;
    std::string error;
    ASSERT_TRUE(names.load(writeLines(dir, 10, "\r\n"), error));
    ASSERT_EQ(names.entryCount(), 138);
    EXPECT_EQ(names.entries()[9], "Name 9");  // CR stripped
    EXPECT_EQ(names.entries()[10], "1");
    EXPECT_EQ(names.entries()[137], "128");
    EXPECT_EQ(names.programOfEntry(3), 3);
    EXPECT_EQ(names.programOfEntry(10), 0);     // "1"
    EXPECT_EQ(names.programOfEntry(137), 127);  // "128"
    EXPECT_EQ(names.programOfEntry(138), -1);
    EXPECT_EQ(names.entryOfProgram(9), 9);
    EXPECT_EQ(names.entryOfProgram(10), 20);  // shown by its number "11"
    EXPECT_EQ(names.entries()[static_cast<size_t>(names.entryOfProgram(10))], "11");
    EXPECT_EQ(names.entryOfProgram(127), 137);
    for (int program = 0; program < 128; ++program)
        EXPECT_EQ(names.programOfEntry(names.entryOfProgram(program)), program);
    EXPECT_EQ(names.programName(50), "51");
}

TEST(InstrumentNames, AtMost128LinesAreReadAndThenNoNumbersFollow) {
    test::TempDir dir;
    InstrumentNames names;
    std::string error;
    ASSERT_TRUE(names.load(writeLines(dir, 130, "\n"), error));
    EXPECT_EQ(names.entryCount(), 128);
    EXPECT_EQ(names.entries().back(), "Name 127");
    EXPECT_EQ(names.entryOfProgram(127), 127);
    EXPECT_FALSE(names.load((dir / "none.txt").string(), error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_EQ(names.entryCount(), 128);  // unchanged
}

class FixedRandom final : public RandomSource {
  public:
    explicit FixedRandom(std::vector<std::uint32_t> values) : values_(std::move(values)) {}
    std::uint32_t next() override { return values_[index_++ % values_.size()]; }

  private:
    std::vector<std::uint32_t> values_;
    std::size_t index_ = 0;
};

TEST(Tips, ThreeLinesGiveBlankPrefixedTipsThatMayRepeat) {
    test::TempDir dir;
    const auto path = (dir / "tips.txt").string();
    std::ofstream(path, std::ios::binary) << "first\r\nsecond\nthird\n";
    TipsList tips;
    ASSERT_TRUE(tips.load(path));
    EXPECT_TRUE(tips.showsTipOnLoad());
    FixedRandom random({4, 7, 2});
    EXPECT_EQ(tips.nextTip(random), "   second");
    EXPECT_EQ(tips.nextTip(random), "   second");
    EXPECT_EQ(tips.nextTip(random), "   third");
}

TEST(Tips, TwoLinesShowNothingAtLoadAndAMissingFileHasNoList) {
    test::TempDir dir;
    const auto path = (dir / "tips.txt").string();
    std::ofstream(path) << "one\ntwo\n";
    TipsList tips;
    ASSERT_TRUE(tips.load(path));
    EXPECT_FALSE(tips.showsTipOnLoad());
    EXPECT_FALSE(tips.load((dir / "missing.txt").string()));
    EXPECT_FALSE(tips.loaded());
    SeededRandom random(1);
    EXPECT_EQ(tips.nextTip(random), "");
}

TEST(Tips, SeededSourcesRepeatTheirSequence) {
    SeededRandom a(99), b(99);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(a.next(), b.next());
}

TEST(HelpTopics, PagesAndWebTexts) {
    EXPECT_EQ(helpPagePath("/d/help/", help_topic::kContents), "/d/help/index.html");
    EXPECT_EQ(helpPagePath("/d/help/", help_topic::kMelodyRequirement), "/d/help/topic-29.html");
    EXPECT_EQ(siteUrl("example.org/v"), "http://example.org/v");
    EXPECT_EQ(visitText("example.org/v"), "Visit example.org/v.");
}

}  // namespace
}  // namespace varimel::model
