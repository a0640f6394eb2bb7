// The chord sheet's pages: scaling from the screen to the printer, the texts of the header and
// the cells, rows kept above the footer, and bars carried over to continuation pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "engine/Apperr.h"
#include "engine/ChordCode.h"
#include "engine/Tonality.h"
#include "ui/model/PrintLayout.h"

using namespace varimel;
using namespace varimel::model;

namespace {

// An A4 sheet at 600 dpi from a 96 dpi screen.
PrintDevice printer600() {
    PrintDevice device;
    device.deviceDpi = 600;
    device.screenDpi = 96;
    device.width = 4961;
    device.height = 7016;
    return device;
}

PrintSheet sheetWithBars(int bars) {
    PrintSheet sheet;
    sheet.fileName = "tune.mid";
    sheet.keyName = "C-dur";
    for (int bar = 0; bar < bars; ++bar) sheet.chords.push_back("C" + std::to_string(bar));
    sheet.timeStamp = "2026-12-07 16:30";
    return sheet;
}

const PrintText* findText(const PrintPage& page, const std::string& text) {
    for (const PrintText& item : page.texts) {
        if (item.text == text) return &item;
    }
    return nullptr;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The bar numbers the page prints, in order.
std::vector<int> barNumbers(const PrintPage& page) {
    std::vector<int> numbers;
    for (const PrintText& item : page.texts) {
        if (startsWith(item.text, " - ") && item.text.size() > 6) {
            numbers.push_back(std::stoi(item.text.substr(3)));
        }
    }
    return numbers;
}

}  // namespace

TEST(PrintLayout, PrinterAt600DpiScalesTheScreenLayoutBySixAndAQuarter) {
    const PrintMetrics metrics = printMetrics(printer600());
    EXPECT_DOUBLE_EQ(metrics.scale, 6.25);
    EXPECT_EQ(metrics.unit, 6);
    EXPECT_EQ(metrics.x0, 250);
    EXPECT_EQ(metrics.cellWidth, 360);
    EXPECT_EQ(metrics.cellStep, 354);
    EXPECT_EQ(metrics.footerTop, 6734);  // truncate(7016 - 45 * 6.25)

    const std::vector<PrintPage> pages = layoutPages(sheetWithBars(3), printer600());
    ASSERT_EQ(pages.size(), 1u);
    const PrintPage& page = pages[0];
    const PrintText* fileLine = findText(page, "File name: tune.mid");
    ASSERT_NE(fileLine, nullptr);
    EXPECT_EQ(fileLine->box.x, 250);
    EXPECT_EQ(fileLine->box.y, 125);
    // Bar-number frame then chord frame per bar; the chord cell overlaps its number by a unit.
    ASSERT_EQ(page.frames.size(), 6u);
    for (int bar = 0; bar < 3; ++bar) {
        const PrintFrame& number = page.frames[static_cast<size_t>(2 * bar)];
        const PrintFrame& chord = page.frames[static_cast<size_t>(2 * bar + 1)];
        EXPECT_EQ(number.box.x, 250 + 354 * bar);
        EXPECT_EQ(number.box.width, 360);
        EXPECT_EQ(chord.box.y, number.box.bottom() - 6);
        EXPECT_EQ(number.lineWidth, 6);
        EXPECT_EQ(number.colour, kCellFrameColour);
    }
    // Point sizes follow the device: 10 points at 600 dpi.
    const PrintText* heading = findText(page, "Chords grid");
    ASSERT_NE(heading, nullptr);
    EXPECT_TRUE(heading->font.bold);
    EXPECT_EQ(heading->font.pixelSize, 83);

    // The same sheet on the screen's preview picture: an A4 sheet at 96 dpi, scale 1.
    const PrintDevice preview = previewDevice(96);
    EXPECT_EQ(preview.width, 793);
    EXPECT_EQ(preview.height, 1122);
    const PrintMetrics screen = printMetrics(preview);
    EXPECT_EQ(screen.x0, 40);
    EXPECT_EQ(screen.cellWidth, 60);
    EXPECT_EQ(layoutPages(sheetWithBars(3), preview)[0].texts.size(), page.texts.size());
}

TEST(PrintLayout, HeaderAndCellsShowTheDocumentAsTheUserGaveIt) {
    Composition composition;
    composition.barCount = 3;
    composition.meterMap().addSegment(0, 3, 4);
    composition.fileKey = 5;
    composition.keys.push_back({static_cast<int16_t>(12 + 9), 0, 0});
    composition.chordTrack.push_back({makeChordCode(0, 0), 1, -1});
    composition.chordTrack.push_back({kNoChord, 1, -1});  // bar 3 has no entry at all

    const PrintSheet sheet =
        sheetOf(composition, "/home/user/songs/waltz.mid", "", "", "2026-12-07 09:05");
    EXPECT_EQ(sheet.fileName, "waltz.mid");
    ASSERT_EQ(sheet.chords.size(), 3u);
    EXPECT_EQ(sheet.chords[1], " - ");
    EXPECT_EQ(sheet.chords[2], " - ");

    const PrintPage page = layoutPages(sheet, previewDevice(96))[0];
    EXPECT_NE(findText(page, "Composition title: none"), nullptr);
    EXPECT_NE(findText(page, "Author name: none"), nullptr);
    EXPECT_NE(findText(page, "Key: " + std::string(keyName(21))), nullptr);
    EXPECT_NE(findText(page, "Meter:  3/ 4"), nullptr);
    EXPECT_NE(findText(page, "Accompaniment is created by means of the Varimel."), nullptr);
    EXPECT_NE(findText(page, "2026-12-07 09:05"), nullptr);
    // The chord cells: centred, the first with its chord, the others with " - ".
    std::vector<std::string> cells;
    for (const PrintText& text : page.texts) {
        if (text.align == PrintAlign::Center && !startsWith(text.text, " - ")) {
            cells.push_back(text.text);
        } else if (text.text == " - ") {
            cells.push_back(text.text);
        }
    }
    EXPECT_EQ(cells, (std::vector<std::string>{chordName(makeChordCode(0, 0)), " - ", " - "}));

    // Typed texts are kept; without a harmonised key the file's key is printed.
    composition.keys.clear();
    const PrintSheet typed = sheetOf(composition, "waltz.mid", "Waltz", "Anna", "");
    EXPECT_EQ(typed.title, "Waltz");
    EXPECT_EQ(typed.author, "Anna");
    EXPECT_EQ(typed.keyName, std::string(keyName(5)));

    // A muted bar keeps its chord for later, but sounds none and so prints none.
    composition.chordTrack[0].enabled = 0;
    EXPECT_EQ(sheetOf(composition, "waltz.mid", "", "", "").chords[0], " - ");
}

TEST(PrintLayout, FooterEndsAtTheRightMarginAndNoRowReachesIt) {
    for (const int height : {7016, 5000, 3000}) {
        PrintDevice device = printer600();
        device.height = height;
        const PrintMetrics metrics = printMetrics(device);
        const std::vector<PrintPage> pages = layoutPages(sheetWithBars(300), device);
        for (const PrintPage& page : pages) {
            for (const PrintFrame& frame : page.frames) {
                EXPECT_LE(frame.box.bottom(), metrics.footerTop)
                    << "height " << height << ", page " << page.number;
            }
            const PrintText* footer =
                findText(page, "Accompaniment is created by means of the Varimel.");
            ASSERT_NE(footer, nullptr);
            EXPECT_EQ(footer->align, PrintAlign::Right);
            EXPECT_EQ(footer->box.right(), device.width - 250);
            EXPECT_EQ(footer->box.y, metrics.footerTop);
        }
        // A full page's last row comes close to the footer: fewer than two rows stay empty.
        const PrintFrame& last = pages[0].frames.back();
        EXPECT_GT(last.box.bottom() + 3 * metrics.rowHeight, metrics.footerTop);
    }
}

TEST(PrintLayout, TwoHundredBarsContinueOnFurtherPagesWithoutLossOrRepetition) {
    const PrintSheet sheet = sheetWithBars(200);
    const PrintDevice preview = previewDevice(96);
    const std::vector<PrintPage> pages = layoutPages(sheet, preview);
    ASSERT_GT(pages.size(), 1u);

    std::vector<int> printed;
    int expectedFirst = 0;
    for (const PrintPage& page : pages) {
        EXPECT_EQ(page.firstBar, expectedFirst);
        expectedFirst = page.endBar;
        const std::vector<int> numbers = barNumbers(page);
        ASSERT_FALSE(numbers.empty()) << "page " << page.number;
        EXPECT_EQ(numbers.front(), page.firstBar + 1);
        EXPECT_EQ(static_cast<int>(numbers.size()), page.endBar - page.firstBar);
        printed.insert(printed.end(), numbers.begin(), numbers.end());
        // Every page names the file; only the first has the header.
        EXPECT_NE(findText(page, "File name: tune.mid"), nullptr);
        EXPECT_EQ(findText(page, "Author name: none") != nullptr, page.number == 1);
        EXPECT_NE(findText(page, "Chords grid"), nullptr);
    }
    std::vector<int> all(200);
    for (int bar = 0; bar < 200; ++bar) all[static_cast<size_t>(bar)] = bar + 1;
    EXPECT_EQ(printed, all);
    // A continuation page has no header, so its grid starts higher up.
    EXPECT_LT(pages[1].frames.front().box.y, pages[0].frames.front().box.y);

    EXPECT_EQ(previewPageTop(1, preview.height), 10);
    EXPECT_EQ(previewPageTop(3, preview.height), 2 * (1122 + 10) + 10);
}

TEST(PrintLayout, DevicesCoarserOrSmallerThanACellStillPrintEveryBar) {
    // 72 dpi against a 96 dpi screen: the unit stays one pixel, so cells keep their width.
    PrintDevice coarse = previewDevice(96);
    coarse.deviceDpi = 72;
    EXPECT_EQ(printMetrics(coarse).unit, 1);
    EXPECT_EQ(printMetrics(coarse).cellWidth, 60);

    // A label-sized page narrower than one cell and too short for two rows: one bar a page.
    PrintDevice label;
    label.width = 80;
    label.height = 200;
    const std::vector<PrintPage> pages = layoutPages(sheetWithBars(5), label);
    ASSERT_EQ(pages.size(), 5u);
    EXPECT_EQ(pages.back().endBar, 5);

    // No bars at all: one page with its header and an empty grid.
    const std::vector<PrintPage> empty = layoutPages(sheetWithBars(0), previewDevice(96));
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_TRUE(empty[0].frames.empty());
}
