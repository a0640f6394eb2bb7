// PrintPainter: draws one computed page of the chord sheet on any painter — the printer's or a
// preview picture's — and describes a paint device as the page layout needs it.
#pragma once

#include <QFont>
#include <QSize>

#include "ui/model/PrintLayout.h"

class QPainter;
class QPaintDevice;

namespace varimel {

// "Arial" at the layout's pixel size; the font system substitutes a sans-serif when it is missing.
QFont printFont(const model::PrintFont& font);

// The screen's logical dots per inch (96 without a screen).
int screenDotsPerInch();

// A canvas of `size` device pixels on `device`, with the line height its bold 10-point font has.
model::PrintDevice printDeviceOf(const QPaintDevice& device, QSize size, int screenDpi);

// Texts at the tops of their boxes, frames as lines inside their boxes.
void paintPrintPage(QPainter& painter, const model::PrintPage& page);

}  // namespace varimel
