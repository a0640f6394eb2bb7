// PrintLayout: the chord sheet as pages of texts and frames in device pixels — header, chords
// grid and footer — computed from the device's and the screen's dots per inch, so that the
// printer and the preview pictures draw the same records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/model/Rgb.h"

namespace varimel {
class Composition;
}

namespace varimel::model {

// What the sheet shows, taken from the document once.
struct PrintSheet {
    std::string fileName;  // without its folder
    std::string title;     // "none" when the user typed nothing
    std::string author;
    std::string keyName;  // the key harmonised in, else the file's key
    int numerator = 4;    // the meter of bar 0
    int denominator = 4;
    std::vector<std::string> chords;  // one name per bar; " - " for a bar without a chord
    std::string timeStamp;            // "yyyy-MM-dd HH:mm"
};

// The text put in place of a title or author left empty.
inline constexpr const char* kUnnamed = "none";

// The sheet of a composition. `title` and `author` as typed (empty gives "none").
PrintSheet sheetOf(const Composition& composition, const std::string& fileName,
                   const std::string& title, const std::string& author,
                   const std::string& timeStamp);

// The canvas: its resolution, the screen's (the layout's unit is a screen pixel) and the size of
// its clip rectangle in device pixels.
struct PrintDevice {
    int deviceDpi = 96;
    int screenDpi = 96;
    int width = 0;
    int height = 0;
    // The line height of the bold 10-point font in device pixels; 0 estimates it.
    int lineHeight = 0;
};

// The preview picture: an A4 sheet at screen resolution.
PrintDevice previewDevice(int screenDpi);

struct PrintFont {
    int points = 8;
    bool bold = false;
    int pixelSize = 0;  // points at the device's resolution
    friend bool operator==(const PrintFont&, const PrintFont&) = default;
};
inline constexpr const char* kPrintFontFamily = "Arial";

// A font of `points` on a device of `deviceDpi`.
PrintFont printFontAt(int points, bool bold, int deviceDpi);
// The font whose line height spaces the header and the grid's rows: bold, 10 points.
PrintFont lineHeightFont(int deviceDpi);
// The line height of a font at this pixel size, as Arial's ascent plus descent give it.
int estimatedLineHeight(int pixelSize);

struct PrintBox {
    int x = 0, y = 0, width = 0, height = 0;
    int right() const { return x + width; }
    int bottom() const { return y + height; }
};

enum class PrintAlign { Left, Center, Right };

// A text whose top lies at box.y; aligned within the box's width (left texts start at box.x).
struct PrintText {
    std::string text;
    PrintBox box;
    PrintFont font;
    PrintAlign align = PrintAlign::Left;
};

// A rectangle outlined inside its box with lines `lineWidth` thick.
struct PrintFrame {
    PrintBox box;
    int lineWidth = 1;
    Rgb colour;
};

inline constexpr Rgb kCellFrameColour{192, 192, 192};  // silver

struct PrintPage {
    int number = 1;    // from 1
    int firstBar = 0;  // the bars [firstBar, endBar) stand on this page
    int endBar = 0;
    std::vector<PrintText> texts;
    std::vector<PrintFrame> frames;
};

// The measures every page uses, in device pixels.
struct PrintMetrics {
    double scale = 1;  // device dpi / screen dpi
    int unit = 1;      // truncate(scale)
    int x0 = 40;       // left margin; the footer ends at width - x0
    int y0 = 20;
    int lineHeight = 0;
    int rowHeight = 0;  // line height + 4 units
    int cellWidth = 60;
    int cellStep = 59;  // neighbouring cells share their border
    int footerTop = 0;  // no row reaches below it
};
PrintMetrics printMetrics(const PrintDevice& device);

// Every page of the sheet: the first with the header, further ones (when the bars do not fit)
// with the file-name line and the grid from the first bar not yet printed. At least one page.
std::vector<PrintPage> layoutPages(const PrintSheet& sheet, const PrintDevice& device);

// Where the preview shows page n (from 1): left 10, top (n - 1) * (page height + 10) + 10.
inline constexpr int kPreviewMargin = 10;
int previewPageTop(int number, int pageHeight);

}  // namespace varimel::model
