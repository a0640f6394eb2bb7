// Printing the chord sheet at 600 dpi, offscreen: laying out a full page of bars, one whole print
// job of that page into a PDF printer (start, layout, drawing, end), and the same page drawn into
// a 600 dpi grey picture, as a printer driver rasterises it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>
#include <string>

#include "ui/PrintPainter.h"
#include "ui/model/PrintLayout.h"

namespace {

using namespace varimel;

constexpr int kResolution = 600;
constexpr int kScreenDpi = 96;

// More bars than an A4 page holds, with chord names of every length.
model::PrintSheet fullSheet() {
    static const char* const names[] = {"C ", "G7", "Am", "F#m7b5", "Cmaj7", " - ", "Dm7"};
    model::PrintSheet sheet;
    sheet.fileName = "benchmark.mid";
    sheet.title = "A long tune";
    sheet.author = "none";
    sheet.keyName = "C-dur";
    for (int bar = 0; bar < 200; ++bar) sheet.chords.emplace_back(names[bar % 7]);
    sheet.timeStamp = "2026-12-07 12:00";
    return sheet;
}

void BM_LayoutPagesAt600Dpi(benchmark::State& state) {
    model::PrintDevice device;
    device.deviceDpi = kResolution;
    device.screenDpi = kScreenDpi;
    device.width = 4961;
    device.height = 7016;
    const model::PrintSheet sheet = fullSheet();
    for (auto _ : state) benchmark::DoNotOptimize(model::layoutPages(sheet, device));
}
BENCHMARK(BM_LayoutPagesAt600Dpi)->Unit(benchmark::kMicrosecond);

void BM_PrintOneFullPageAt600DpiToPdf(benchmark::State& state) {
    QTemporaryDir folder;
    const QString file = folder.filePath("sheet.pdf");
    const model::PrintSheet sheet = fullSheet();
    for (auto _ : state) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setResolution(kResolution);
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setOutputFileName(file);
        QPainter painter;
        if (!painter.begin(&printer)) {
            state.SkipWithError("the PDF printer did not start");
            break;
        }
        // The first page only: stop after it.
        paintPages(painter, printer, sheet, kScreenDpi, [](int) { return false; });
        painter.end();
    }
}
BENCHMARK(BM_PrintOneFullPageAt600DpiToPdf)->Unit(benchmark::kMillisecond);

void BM_RasteriseOneFullPageAt600Dpi(benchmark::State& state) {
    QImage page(4961, 7016, QImage::Format_Grayscale8);
    const int dotsPerMeter = static_cast<int>(kResolution / 0.0254 + 0.5);
    page.setDotsPerMeterX(dotsPerMeter);
    page.setDotsPerMeterY(dotsPerMeter);
    const model::PrintSheet sheet = fullSheet();
    for (auto _ : state) {
        page.fill(Qt::white);
        QPainter painter(&page);
        const model::PrintDevice device = printDeviceOf(page, page.size(), kScreenDpi);
        paintPrintPage(painter, model::layoutPages(sheet, device).front());
        painter.end();
        benchmark::DoNotOptimize(page.constBits());
    }
}
BENCHMARK(BM_RasteriseOneFullPageAt600Dpi)->Unit(benchmark::kMillisecond);

}  // namespace
