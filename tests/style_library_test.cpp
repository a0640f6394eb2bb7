#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "accompaniment/Tstylemaster.h"
#include "engine/ByteIO.h"
#include "support/accompaniment_fixture.h"

using namespace varimel;
using namespace varimel::test;

// The largest single allocation, so that a test can see that a file's claims were not believed.
// The replacements pair malloc with free themselves, which the compiler cannot see.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
std::atomic<size_t> largestAllocation{0};
}
void* operator new(size_t size) {
    size_t seen = largestAllocation.load();
    while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace {

using Category = std::vector<std::pair<std::string, Style>>;

Style simpleStyle(MeterSet meters, int program = 0) {
    Style style = makeStyle(4, 4, 120, 1, meters, {ev(1, 0, 0), ev(3, 0, 1), ev(5, 0, 2)});
    style.program = static_cast<uint8_t>(program);
    return style;
}

// Writes "styles.lst" and the style files of three categories.
void writeLibrary(const TempFolder& folder, const std::array<Category, 3>& categories) {
    StyleList list;
    for (int c = 0; c < 3; ++c) {
        for (const auto& [name, style] : categories[static_cast<size_t>(c)]) {
            auto& entries = list.categories[static_cast<size_t>(c)];
            entries.push_back({makeStyleId(c, static_cast<int>(entries.size())), name});
            folder.write(name + ".stt", serializeStyle(style));
        }
    }
    folder.write("styles.lst", serializeStyleList(list));
}

std::vector<uint8_t> listHead(std::initializer_list<int32_t> counts, const char* magic = "LST") {
    ByteWriter out;
    out.raw(reinterpret_cast<const uint8_t*>(magic), 3);
    out.u8('!');  // the fourth byte is not read
    for (int32_t count : counts) out.i32(count);
    return out.bytes();
}

void appendEntry(std::vector<uint8_t>& bytes, StyleId id, const std::string& name) {
    ByteWriter out;
    out.i32(id);
    out.zeros(8);
    out.text(name);
    out.zeros(16 - name.size());
    bytes.insert(bytes.end(), out.bytes().begin(), out.bytes().end());
}

const MeterSet k44 = meterSet({{4, 4}});
const MeterSet k34 = meterSet({{3, 4}});

}  // namespace

TEST(StyleLibrary, LoadsEveryCategoryAndItsStylesInListOrder) {
    TempFolder folder;
    writeLibrary(
        folder, {Category{{"PnA", simpleStyle(k44, 1)}, {"PnB", simpleStyle(k34, 2)}},
                 Category{{"GtA", simpleStyle(k44, 25)}}, Category{{"OtA", simpleStyle(k44, 48)}}});
    StyleLibrary library(folder.directory());
    ASSERT_TRUE(library.load());
    EXPECT_EQ(library.categoryCount(0), 2);
    EXPECT_EQ(library.categoryCount(1), 1);
    EXPECT_EQ(library.categoryCount(2), 1);
    EXPECT_EQ(StyleLibrary::categoryName(1), "Guitar");
    EXPECT_EQ(StyleLibrary::categoryName(2), "Other");

    const Style* style = library.style(makeStyleId(0, 1));
    ASSERT_NE(style, nullptr);
    EXPECT_EQ(style->program, 2);
    EXPECT_EQ(*style, simpleStyle(k34, 2));
    EXPECT_EQ(library.selection(), makeStyleId(0, 1));
    EXPECT_EQ(library.selectedStyle(), style);
    EXPECT_EQ(library.entryName(makeStyleId(1, 0)), "GtA");
    EXPECT_EQ(library.findByName("OtA"), makeStyleId(2, 0));
    EXPECT_EQ(library.style(makeStyleId(2, 0))->program, 48);

    // None for -1, for positions and categories the list does not hold; the selection follows.
    EXPECT_EQ(library.style(-1), nullptr);
    EXPECT_EQ(library.selection(), kNoStyle);
    EXPECT_EQ(library.style(makeStyleId(1, 1)), nullptr);
    EXPECT_EQ(library.style(makeStyleId(3, 0)), nullptr);
    EXPECT_EQ(library.entryName(makeStyleId(0, 7)), "");
}

TEST(StyleLibrary, LoadsOnceAndReloadReadsTheFolderAgain) {
    TempFolder folder;
    writeLibrary(folder, {Category{{"PnA", simpleStyle(k44)}}, Category{}, Category{}});
    StyleLibrary library(folder.directory());
    ASSERT_TRUE(library.load());
    const Style* before = library.style(makeStyleId(0, 0));
    ASSERT_NE(before, nullptr);

    std::filesystem::remove(folder.path() / "styles.lst");
    EXPECT_TRUE(library.load());  // already loaded: nothing is read
    EXPECT_NE(library.style(makeStyleId(0, 0)), nullptr);

    EXPECT_FALSE(library.reload());
    EXPECT_FALSE(library.loaded());
    EXPECT_EQ(library.style(makeStyleId(0, 0)), nullptr);
    EXPECT_EQ(library.categoryCount(0), 0);
    // A composition may still hold the style it had: it stays readable.
    EXPECT_EQ(before->events.size(), 3u);
}

TEST(StyleLibrary, WorksWithoutATrailingSeparatorInTheFolder) {
    TempFolder folder;
    writeLibrary(folder, {Category{{"PnA", simpleStyle(k44)}}, Category{}, Category{}});
    StyleLibrary library(folder.path().string());
    ASSERT_TRUE(library.load());
    EXPECT_TRUE(library.find(makeStyleId(0, 0))->valid);
    EXPECT_EQ(joinPath("a/b", "c.stt"), "a/b/c.stt");
    EXPECT_EQ(joinPath("a/b/", "c.stt"), "a/b/c.stt");
    EXPECT_EQ(joinPath("", "styles.lst"), "styles.lst");
}

TEST(MeterSet, FitsOnlyTheMetersItHolds) {
    EXPECT_TRUE(meterFits(0x44, 4, 4));
    EXPECT_FALSE(meterFits(0x44, 3, 4));
    EXPECT_FALSE(meterFits(0x44, 2, 4));
    EXPECT_TRUE(meterFits(0x3444, 4, 4));
    EXPECT_TRUE(meterFits(0x3444, 3, 4));
    EXPECT_FALSE(meterFits(0x3444, 6, 8));
    EXPECT_TRUE(meterFits(0x68243444, 6, 8));
    EXPECT_FALSE(meterFits(0, 4, 4));
    EXPECT_FALSE(meterFits(0, 0, 0));  // an empty set holds no meter, not even "0/0"
    // (16 << 4) | 4 does not fit a byte, so no stored meter equals it.
    EXPECT_FALSE(meterFits(0x0104, 16, 4));
    EXPECT_FALSE(meterFits(0x04010104, 16, 4));
}

TEST(StyleLibrary, AutoSelectTakesTheFifthToSecondFittingStyleBySeed) {
    TempFolder folder;
    // Fitting 4/4 styles in walking order: P0, P2, G0, G1, O1, O2.
    writeLibrary(
        folder,
        {Category{{"P0", simpleStyle(k44)}, {"P1", simpleStyle(k34)}, {"P2", simpleStyle(k44)}},
         Category{{"G0", simpleStyle(k44)}, {"G1", simpleStyle(k44)}},
         Category{{"O0", simpleStyle(k34)}, {"O1", simpleStyle(k44)}, {"O2", simpleStyle(k44)}}});
    StyleLibrary library(folder.directory());
    ASSERT_TRUE(library.load());
    EXPECT_EQ(library.autoSelect(4, 4, 0), makeStyleId(2, 1));
    EXPECT_EQ(library.autoSelect(4, 4, 1), makeStyleId(1, 1));
    EXPECT_EQ(library.autoSelect(4, 4, 2), makeStyleId(1, 0));
    EXPECT_EQ(library.autoSelect(4, 4, 3), makeStyleId(0, 2));
    EXPECT_EQ(library.selection(), makeStyleId(0, 2));
    EXPECT_EQ(library.selectedStyle(), library.find(makeStyleId(0, 2)));
    // Two 3/4 styles: seed 3 takes the second, smaller seeds run out and take the last one.
    EXPECT_EQ(library.autoSelect(3, 4, 0), makeStyleId(2, 0));
    EXPECT_EQ(library.autoSelect(3, 4, 3), makeStyleId(2, 0));
    EXPECT_EQ(library.autoSelect(3, 4, 4), makeStyleId(0, 1));  // a seed of 4 stops at the first
    // None fits: -1 and no selection, whatever the seed.
    EXPECT_EQ(library.autoSelect(6, 8, 3), kNoStyle);
    EXPECT_EQ(library.selection(), kNoStyle);
    EXPECT_EQ(library.selectedStyle(), nullptr);
}

TEST(StyleLibrary, AutoSelectWithFewFittingStyles) {
    TempFolder folder;
    writeLibrary(folder, {Category{{"P0", simpleStyle(k44)}, {"P1", simpleStyle(k44)}},
                          Category{{"G0", simpleStyle(k44)}}, Category{{"O0", simpleStyle(k34)}}});
    StyleLibrary library(folder.directory());
    ASSERT_TRUE(library.load());
    EXPECT_EQ(library.autoSelect(4, 4, 0), makeStyleId(1, 0));  // the third of three
    EXPECT_EQ(library.autoSelect(3, 4, 3), makeStyleId(2, 0));  // the only one
    EXPECT_EQ(library.autoSelect(3, 4, 0), makeStyleId(2, 0));
    EXPECT_EQ(library.autoSelect(2, 4, 0), kNoStyle);
}

TEST(StyleLibrary, AnEmptyGuitarCategoryLoadsPianoAndOther) {
    TempFolder folder;
    writeLibrary(folder, {Category{{"P0", simpleStyle(k44)}}, Category{},
                          Category{{"O0", simpleStyle(k44)}, {"O1", simpleStyle(k34)}}});
    StyleLibrary library(folder.directory());
    ASSERT_TRUE(library.load());
    EXPECT_EQ(library.categoryCount(1), 0);
    EXPECT_EQ(library.categoryCount(2), 2);
    EXPECT_NE(library.style(makeStyleId(2, 1)), nullptr);
    EXPECT_EQ(library.style(makeStyleId(1, 0)), nullptr);
}

TEST(StyleLibrary, StoredIdentifiersDecideWhichStyleALookupFinds) {
    TempFolder folder;
    writeLibrary(folder, {Category{{"P0", simpleStyle(k44, 1)}, {"P1", simpleStyle(k34, 2)}},
                          Category{}, Category{}});
    // The same list with the two identifiers swapped.
    std::vector<uint8_t> list = listHead({2, 0, 0});
    appendEntry(list, makeStyleId(0, 1), "P0");
    appendEntry(list, makeStyleId(0, 0), "P1");
    folder.write("styles.lst", list);
    StyleLibrary library(folder.directory());
    ASSERT_TRUE(library.load());
    // autoSelect remembers the stored id of the fitting entry P0, which names position 1 (P1).
    EXPECT_EQ(library.autoSelect(4, 4, 3), makeStyleId(0, 1));
    EXPECT_EQ(library.selectedStyle()->program, 2);
    EXPECT_EQ(library.findByName("P0"), makeStyleId(0, 1));
}

TEST(StyleLibrary, BadListFilesFailAndLeaveTheLibraryEmpty) {
    TempFolder folder;
    folder.write("P0.stt", serializeStyle(simpleStyle(k44)));
    auto loads = [&](const std::vector<uint8_t>& list) {
        folder.write("styles.lst", list);
        StyleLibrary library(folder.directory());
        const bool loaded = library.load();
        EXPECT_EQ(loaded, library.loaded());
        if (!loaded) {
            EXPECT_EQ(library.style(makeStyleId(0, 0)), nullptr);
        }
        return loaded;
    };
    std::vector<uint8_t> good = listHead({1, 0, 0});
    appendEntry(good, makeStyleId(0, 0), "P0");
    EXPECT_TRUE(loads(good));

    StyleLibrary missing(folder.directory() + "nowhere/");
    EXPECT_FALSE(missing.load());

    std::vector<uint8_t> wrongMagic = good;
    wrongMagic[2] = 'X';
    EXPECT_FALSE(loads(wrongMagic));
    EXPECT_FALSE(loads({'L', 'S', 'T'}));      // shorter than the magic
    EXPECT_FALSE(loads(listHead({1, 0})));     // counts cut short
    EXPECT_FALSE(loads(listHead({0, 0, 0})));  // no style at all
    EXPECT_FALSE(loads(std::vector<uint8_t>(good.begin(), good.end() - 1)));  // entry cut short
    EXPECT_FALSE(loads(listHead({-1, 0, 0})));

    // An absurd count is refused from the file's size, without allocating for it.
    for (const int32_t claim : {10'000'000, 0x7FFFFFFF}) {
        std::vector<uint8_t> absurd = listHead({claim, 0, 0});
        appendEntry(absurd, makeStyleId(0, 0), "P0");
        largestAllocation = 0;
        EXPECT_FALSE(loads(absurd));
        EXPECT_LT(largestAllocation.load(), size_t{1} << 20) << claim;
    }
}

TEST(StyleLibrary, AShortCategoryKeepsTheCategoriesReadBeforeIt) {
    TempFolder folder;
    folder.write("P0.stt", serializeStyle(simpleStyle(k44)));
    std::vector<uint8_t> list = listHead({1, 2, 1});
    appendEntry(list, makeStyleId(0, 0), "P0");
    appendEntry(list, makeStyleId(1, 0), "P0");  // Guitar claims two entries, holds one
    folder.write("styles.lst", list);
    StyleLibrary library(folder.directory());
    ASSERT_TRUE(library.load());
    EXPECT_EQ(library.categoryCount(0), 1);
    EXPECT_EQ(library.categoryCount(1), 0);
    EXPECT_EQ(library.categoryCount(2), 0);
}

TEST(StyleLibrary, AStyleFileThatCannotBeReadHasNoEventsAndFitsNothing) {
    TempFolder folder;
    writeLibrary(folder, {Category{{"Good", simpleStyle(k44)},
                                   {"Missing", simpleStyle(k44)},
                                   {"Short", simpleStyle(k44)},
                                   {"Absurd", simpleStyle(k44)}},
                          Category{}, Category{}});
    std::filesystem::remove(folder.path() / "Missing.stt");
    std::vector<uint8_t> bytes = serializeStyle(simpleStyle(k44));
    folder.write("Short.stt", std::vector<uint8_t>(bytes.begin(), bytes.end() - 1));
    std::vector<uint8_t> absurd = bytes;
    absurd[16] = absurd[17] = absurd[18] = 0xFF;
    absurd[19] = 0x7F;  // 2^31 - 1 events claimed
    folder.write("Absurd.stt", absurd);

    StyleLibrary library(folder.directory());
    largestAllocation = 0;
    ASSERT_TRUE(library.load());
    EXPECT_LT(largestAllocation.load(), size_t{1} << 20);
    EXPECT_TRUE(library.find(makeStyleId(0, 0))->valid);
    for (int index = 1; index <= 3; ++index) {
        const Style* failed = library.find(makeStyleId(0, index));
        ASSERT_NE(failed, nullptr);
        EXPECT_FALSE(failed->valid);
        EXPECT_EQ(failed->eventCount(), 0);
        EXPECT_EQ(failed->meters, 0u);
    }
    EXPECT_EQ(library.autoSelect(4, 4, 3), makeStyleId(0, 0));
}

TEST(StyleFile, LayoutIsLittleEndianFieldByField) {
    Style style = makeStyle(3, 4, 120, 2, 0x3444, {ev(-5, 1, 2, 300, 3, 250, 0x6440)});
    style.octave = 4;
    style.beatsPerBar = 3;
    style.program = 25;
    style.program2 = 24;
    const std::vector<uint8_t> expected = {
        0,    2,    4,    3,    25,   24,   0, 0, 3, 4,  // bars, octave, beats, programs, meter
        0x78, 0x00,                                      // ppq 120
        0x44, 0x34, 0x00, 0x00,                          // meters
        0x01, 0x00, 0x00, 0x00,                          // one event
        0xFB, 0,    3,    0,    0xFA, 0x00,              // tone -5, octave 3, duration 250
        0x01, 0x00, 2,    0,    0x2C, 0x01,              // bar 1, beat 2, tick 300
        0x40, 0x64};                                     // velocities 0x6440
    EXPECT_EQ(serializeStyle(style), expected);
    Style read;
    ASSERT_TRUE(parseStyle(expected, read));
    EXPECT_EQ(read, style);
    EXPECT_EQ(serializeStyle(read), expected);
}

TEST(StyleListFile, RoundTripsByteForByte) {
    StyleList list;
    list.categories[0] = {{makeStyleId(0, 0), "PnBlock44"}, {makeStyleId(0, 1), "Fifteen_chars15"}};
    list.categories[2] = {{makeStyleId(2, 0), "StrPad44"}};
    const std::vector<uint8_t> bytes = serializeStyleList(list);
    ASSERT_EQ(bytes.size(), 16u + 3 * 28);
    EXPECT_EQ(bytes[16 + 28 + 3], 0);  // identifier (0 << 24) | 1, little-endian
    EXPECT_EQ(bytes[16 + 28], 1);
    EXPECT_EQ(bytes[16 + 2 * 28 + 3], 2);  // category in the high byte
    StyleList read;
    ASSERT_TRUE(parseStyleList(bytes, read));
    EXPECT_EQ(read.categories, list.categories);
    EXPECT_EQ(serializeStyleList(read), bytes);
}
