#include "ui/model/PrintLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "engine/Apperr.h"
#include "engine/Tonality.h"
#include "ui/model/Msg_list.h"

namespace varimel::model {

namespace {

// An A4 sheet in inches.
constexpr double kA4Width = 8.27;
constexpr double kA4Height = 11.69;
constexpr double kPointsPerInch = 72.0;
// Arial's ascent plus descent, in ems.
constexpr double kLineHeightPerEm = 1.15;

// In screen pixels, scaled to the device.
constexpr int kLeftMargin = 40;
constexpr int kTopMargin = 20;
constexpr int kFooterFromBottom = 45;
constexpr int kTimeStampBelowFooter = 15;
constexpr int kCellUnits = 60;

// Point sizes: the canvas's own for the file-name line, then the header and chord names, the
// bar numbers, the footer.
constexpr int kCanvasPoints = 8;
constexpr int kHeaderPoints = 10;
constexpr int kBarNumberPoints = 8;
constexpr int kFooterPoints = 9;

const char* const kGridHeading = "Chords grid";

std::string meterText(int numerator, int denominator) {
    char text[32];
    std::snprintf(text, sizeof text, "Meter: %2d/%2d", numerator, denominator);
    return text;
}

std::string orUnnamed(const std::string& text) {
    return text.empty() ? kUnnamed : text;
}

// One page being filled from the top.
class PageWriter {
  public:
    PageWriter(const PrintDevice& device, const PrintMetrics& metrics, PrintPage& page)
        : device_(device), m_(metrics), page_(page) {}

    void text(std::string text, int x, int y, const PrintFont& font,
              PrintAlign align = PrintAlign::Left, int width = 0, int height = 0) {
        const int lineHeight = estimatedLineHeight(font.pixelSize);
        PrintBox box{x, y, width > 0 ? width : std::max(1, device_.width - x),
                     height > 0 ? height : lineHeight};
        page_.texts.push_back({std::move(text), box, font, align});
    }

    void frame(PrintBox box) { page_.frames.push_back({box, m_.unit, kCellFrameColour}); }

    // The first line of every page; answers the y below it.
    int fileNameLine(const PrintSheet& sheet) {
        text("File name: " + sheet.fileName, m_.x0, m_.y0,
             printFontAt(kCanvasPoints, false, device_.deviceDpi));
        return 3 * m_.y0;
    }

    int header(const PrintSheet& sheet, int y) {
        const PrintFont bold = printFontAt(kHeaderPoints, true, device_.deviceDpi);
        text("Composition title: " + orUnnamed(sheet.title), m_.x0, y, bold);
        y += m_.lineHeight;
        text("Author name: " + orUnnamed(sheet.author), m_.x0, y, bold);
        y += m_.lineHeight;
        text("Key: " + sheet.keyName, m_.x0, y, bold);
        y += m_.lineHeight;
        text(meterText(sheet.numerator, sheet.denominator), m_.x0, y, bold);
        return y + 2 * m_.lineHeight;
    }

    // The grid from bar `first` while rows fit above the footer; answers the first bar left
    // out. Every page takes at least one bar, so the pages always come to an end.
    int grid(const PrintSheet& sheet, int first, int y) {
        const PrintFont bold = printFontAt(kHeaderPoints, true, device_.deviceDpi);
        const PrintFont small = printFontAt(kBarNumberPoints, false, device_.deviceDpi);
        const int h = m_.lineHeight;
        const int u = m_.unit;
        const int r = m_.rowHeight;
        const int c = m_.cellWidth;
        text(kGridHeading, m_.x0, y + 8 * u + 2 * h, bold);
        y += 4 * h + 16 * u;
        int x = m_.x0;
        const int bars = static_cast<int>(sheet.chords.size());
        int bar = first;
        for (; bar < bars; ++bar) {
            if (x + c > device_.width && bar > first) {
                if (y + 5 * r > m_.footerTop) break;
                x = m_.x0;
                y += 3 * r;
            }
            frame({x, y, c, r});
            text(" - " + std::to_string(bar + 1) + " - ", x, y + u, small, PrintAlign::Center, c,
                 r - u);
            frame({x, y + r - u, c, r});
            text(sheet.chords[static_cast<size_t>(bar)], x, y + r + u, bold, PrintAlign::Center, c,
                 r - 2 * u);
            x += m_.cellStep;
        }
        return bar;
    }

    void footer(const PrintSheet& sheet) {
        const PrintFont font = printFontAt(kFooterPoints, false, device_.deviceDpi);
        const int right = device_.width - m_.x0;
        text(std::string(msg::msgCreatedBy.text), 0, m_.footerTop, font, PrintAlign::Right, right);
        const int below = static_cast<int>(kTimeStampBelowFooter * m_.scale);
        text(sheet.timeStamp, 0, m_.footerTop + below, font, PrintAlign::Right, right);
    }

  private:
    const PrintDevice& device_;
    const PrintMetrics& m_;
    PrintPage& page_;
};

}  // namespace

PrintSheet sheetOf(const Composition& composition, const std::string& fileName,
                   const std::string& title, const std::string& author,
                   const std::string& timeStamp) {
    PrintSheet sheet;
    sheet.fileName = std::filesystem::path(fileName).filename().string();
    sheet.title = orUnnamed(title);
    sheet.author = orUnnamed(author);
    const KeyIndex key = composition.pieceKey();
    sheet.keyName = std::string(keyName(key));
    // A pick-up bar in a shorter meter of its own does not give the piece's meter.
    composition.meterMap().meterOfPiece(sheet.numerator, sheet.denominator);
    const int bars = std::max(0, composition.barCount);
    sheet.chords.reserve(static_cast<size_t>(bars));
    for (int bar = 0; bar < bars; ++bar) {
        const auto index = static_cast<size_t>(bar);
        // A muted bar sounds no chord, so it prints none, as the grid shows it.
        const bool sounding =
            index < composition.chordTrack.size() && composition.chordTrack[index].enabled != 0;
        sheet.chords.push_back(
            chordName(sounding ? composition.chordTrack[index].chord : kNoChord, key));
    }
    sheet.timeStamp = timeStamp;
    return sheet;
}

PrintDevice previewDevice(int screenDpi) {
    PrintDevice device;
    device.deviceDpi = screenDpi;
    device.screenDpi = screenDpi;
    device.width = static_cast<int>(kA4Width * screenDpi);
    device.height = static_cast<int>(kA4Height * screenDpi);
    return device;
}

PrintFont printFontAt(int points, bool bold, int deviceDpi) {
    return {points, bold,
            std::max(1, static_cast<int>(std::lround(points * deviceDpi / kPointsPerInch)))};
}

PrintFont lineHeightFont(int deviceDpi) {
    return printFontAt(kHeaderPoints, true, deviceDpi);
}

int estimatedLineHeight(int pixelSize) {
    return std::max(1, static_cast<int>(std::lround(pixelSize * kLineHeightPerEm)));
}

PrintMetrics printMetrics(const PrintDevice& device) {
    PrintMetrics m;
    const int screenDpi = device.screenDpi > 0 ? device.screenDpi : 96;
    m.scale = static_cast<double>(device.deviceDpi) / screenDpi;
    // A device coarser than the screen still draws lines and cells at least a pixel wide.
    m.unit = std::max(1, static_cast<int>(m.scale));
    m.x0 = static_cast<int>(kLeftMargin * m.scale);
    m.y0 = static_cast<int>(kTopMargin * m.scale);
    m.lineHeight = device.lineHeight > 0
                       ? device.lineHeight
                       : estimatedLineHeight(lineHeightFont(device.deviceDpi).pixelSize);
    m.rowHeight = m.lineHeight + 4 * m.unit;
    m.cellWidth = kCellUnits * m.unit;
    m.cellStep = m.cellWidth - m.unit;
    m.footerTop = static_cast<int>(device.height - kFooterFromBottom * m.scale);
    return m;
}

std::vector<PrintPage> layoutPages(const PrintSheet& sheet, const PrintDevice& device) {
    const PrintMetrics metrics = printMetrics(device);
    const int bars = static_cast<int>(sheet.chords.size());
    std::vector<PrintPage> pages;
    int bar = 0;
    do {
        PrintPage& page = pages.emplace_back();
        page.number = static_cast<int>(pages.size());
        page.firstBar = bar;
        PageWriter writer(device, metrics, page);
        int y = writer.fileNameLine(sheet);
        if (page.number == 1) y = writer.header(sheet, y);
        bar = writer.grid(sheet, bar, y);
        page.endBar = bar;
        writer.footer(sheet);
    } while (bar < bars);
    return pages;
}

int previewPageTop(int number, int pageHeight) {
    return (number - 1) * (pageHeight + kPreviewMargin) + kPreviewMargin;
}

}  // namespace varimel::model
