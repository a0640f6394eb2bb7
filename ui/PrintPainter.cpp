#include "ui/PrintPainter.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPaintDevice>
#include <QPainter>
#include <QScreen>
#include <cmath>

namespace varimel {

namespace {

constexpr int kDefaultScreenDpi = 96;

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

}  // namespace varimel
