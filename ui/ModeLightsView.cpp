#include "ui/ModeLightsView.h"

#include <QMouseEvent>
#include <QPainter>

namespace varimel {

namespace {
const QColor kPanel(0xD2, 0xC1, 0xAE);
const QColor kOn(0x00, 0xFF, 0x00);
const QColor kGreyOutline(0x80, 0x80, 0x80);
}  // namespace

ModeLightsView::ModeLightsView(QWidget* parent) : QWidget(parent) {
    setFixedSize(kRowHeight, kRowHeight * kRows);
}

void ModeLightsView::drawModeLight(int row, LightLook look) {
    if (row < 0 || row >= kRows) return;
    looks_[static_cast<std::size_t>(row)] = look;
    update(0, row * kRowHeight, kRowHeight, kRowHeight);
}

void ModeLightsView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), kPanel);
    for (int row = 0; row < kRows; ++row) {
        const LightLook look = looks_[static_cast<std::size_t>(row)];
        painter.setPen(look == LightLook::Unavailable ? kGreyOutline : Qt::black);
        painter.setBrush(look == LightLook::On ? kOn : kPanel);
        painter.drawEllipse(QRectF(0.5, row * kRowHeight + 0.5, 10, 10));
    }
}

void ModeLightsView::mousePressEvent(QMouseEvent* event) {
    Q_EMIT rowPressed(static_cast<int>(event->position().y()) / kRowHeight);
}

}  // namespace varimel
