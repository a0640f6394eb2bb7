#include "ui/PrintPainter.h"

#include <QDateTime>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPagedPaintDevice>
#include <QPaintDevice>
#include <QPainter>
#include <QScreen>
#include <cmath>

namespace varimel {

namespace {

constexpr int kDefaultScreenDpi = 96;
const char* const kTimeStampFormat = "yyyy-MM-dd HH:mm";

QRect toRect(const model::PrintBox& box) {
    return {box.x, box.y, box.width, box.height};
}

Qt::Alignment alignment(model::PrintAlign align) {
    switch (align) {
        case model::PrintAlign::Center:
            return Qt::AlignHCenter;
        case model::PrintAlign::Right:
            return Qt::AlignRight;
        default:
            return Qt::AlignLeft;
    }
}

}  // namespace

model::PrintSheet sheetToPrint(const Composition& composition, const QString& fileName,
                               const QString& title, const QString& author) {
    return model::sheetOf(
        composition, QFile::encodeName(fileName).toStdString(), title.toStdString(),
        author.toStdString(),
        QDateTime::currentDateTime().toString(QString::fromLatin1(kTimeStampFormat)).toStdString());
}

QFont printFont(const model::PrintFont& font) {
    QFont result(QString::fromLatin1(model::kPrintFontFamily));
    result.setStyleHint(QFont::SansSerif);
    result.setPixelSize(std::max(1, font.pixelSize));
    result.setBold(font.bold);
    return result;
}

int screenDotsPerInch() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return kDefaultScreenDpi;
    const int dpi = static_cast<int>(std::lround(screen->logicalDotsPerInch()));
    return dpi > 0 ? dpi : kDefaultScreenDpi;
}

model::PrintDevice printDeviceOf(const QPaintDevice& device, QSize size, int screenDpi) {
    model::PrintDevice result;
    result.deviceDpi = device.logicalDpiY();
    result.screenDpi = screenDpi;
    result.width = size.width();
    result.height = size.height();
    result.lineHeight = QFontMetrics(printFont(model::lineHeightFont(result.deviceDpi))).height();
    return result;
}

void paintPrintPage(QPainter& painter, const model::PrintPage& page) {
    painter.save();
    for (const model::PrintFrame& frame : page.frames) {
        const QColor colour(frame.colour.red, frame.colour.green, frame.colour.blue);
        const QRect box = toRect(frame.box);
        const int w = std::min({frame.lineWidth, box.width(), box.height()});
        painter.fillRect(QRect(box.left(), box.top(), box.width(), w), colour);
        painter.fillRect(QRect(box.left(), box.bottom() - w + 1, box.width(), w), colour);
        painter.fillRect(QRect(box.left(), box.top(), w, box.height()), colour);
        painter.fillRect(QRect(box.right() - w + 1, box.top(), w, box.height()), colour);
    }
    painter.setPen(Qt::black);
    for (const model::PrintText& text : page.texts) {
        painter.setFont(printFont(text.font));
        painter.drawText(
            toRect(text.box),
            alignment(text.align) | Qt::AlignTop | Qt::TextDontClip | Qt::TextSingleLine,
            QString::fromStdString(text.text));
    }
    painter.restore();
}

bool paintPages(QPainter& painter, QPagedPaintDevice& device, const model::PrintSheet& sheet,
                int screenDpi, const std::function<bool(int number)>& afterPage,
                std::vector<model::PrintPage>* pages) {
    const QSize size(device.width(), device.height());
    std::vector<model::PrintPage> laidOut =
        model::layoutPages(sheet, printDeviceOf(device, size, screenDpi));
    bool complete = true;
    for (const model::PrintPage& page : laidOut) {
        if (page.number > 1 && !device.newPage()) {
            complete = false;
            break;
        }
        paintPrintPage(painter, page);
        if (afterPage && !afterPage(page.number)) {
            complete = false;
            break;
        }
    }
    if (pages != nullptr) *pages = std::move(laidOut);
    return complete;
}

}  // namespace varimel
