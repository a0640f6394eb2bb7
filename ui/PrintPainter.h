// PrintPainter: draws one computed page of the chord sheet on any painter — the printer's or a
// preview picture's — and describes a paint device as the page layout needs it.
#pragma once

#include <QFont>
#include <QSize>
#include <QString>
#include <functional>
#include <vector>

#include "ui/model/PrintLayout.h"

class QPainter;
class QPaintDevice;
class QPagedPaintDevice;

namespace varimel {

class Composition;

// The sheet of a document as printed now: the file's name, the typed texts, the time stamp.
model::PrintSheet sheetToPrint(const Composition& composition, const QString& fileName,
                               const QString& title, const QString& author);

// "Arial" at the layout's pixel size; the font system substitutes a sans-serif when it is missing.
QFont printFont(const model::PrintFont& font);

// The screen's logical dots per inch (96 without a screen).
int screenDotsPerInch();

// A canvas of `size` device pixels on `device`, with the line height its bold 10-point font has.
model::PrintDevice printDeviceOf(const QPaintDevice& device, QSize size, int screenDpi);

// Texts at the tops of their boxes, frames as lines inside their boxes.
void paintPrintPage(QPainter& painter, const model::PrintPage& page);

// Lays the sheet out for a paged device (a printer) whose job `painter` holds, and paints its
// pages one after the other; `afterPage` runs after each and answers false to stop. False when
// stopped or when the device refused a new page.
bool paintPages(QPainter& painter, QPagedPaintDevice& device, const model::PrintSheet& sheet,
                int screenDpi, const std::function<bool(int number)>& afterPage,
                std::vector<model::PrintPage>* pages = nullptr);

}  // namespace varimel
