#include "ui/Glyphs.h"

#include <QPainter>
#include <QPainterPath>

namespace varimel {

namespace {

const QColor kInk(40, 40, 60);
const QColor kPaper(250, 250, 245);
const QColor kAccent(30, 90, 170);
const QColor kWood(165, 130, 90);
const QColor kGreen(20, 140, 60);
const QColor kRed(190, 40, 40);

// Every glyph is drawn on a 20 x 20 grid and scaled to the requested size.
void paint(QPainter& p, Glyph glyph) {
    p.setPen(QPen(kInk, 1.2));
    switch (glyph) {
        case Glyph::New:
            p.setBrush(kPaper);
            p.drawPolygon(QPolygonF({{5, 2}, {12, 2}, {16, 6}, {16, 18}, {5, 18}}));
            break;
        case Glyph::Open:
            p.setBrush(QColor(235, 200, 110));
            p.drawPolygon(QPolygonF({{2, 5}, {8, 5}, {10, 7}, {17, 7}, {17, 16}, {2, 16}}));
            p.setBrush(QColor(250, 225, 150));
            p.drawPolygon(QPolygonF({{4, 9}, {19, 9}, {17, 16}, {2, 16}}));
            break;
        case Glyph::Save:
            p.setBrush(kAccent);
            p.drawRect(QRectF(3, 3, 14, 14));
            p.setBrush(kPaper);
            p.drawRect(QRectF(6, 3, 8, 5));
            p.drawRect(QRectF(5, 11, 10, 6));
            break;
        case Glyph::Export:
            p.setBrush(kPaper);
            p.drawRect(QRectF(2, 4, 10, 13));
            p.setPen(QPen(kGreen, 2));
            p.drawLine(QPointF(8, 10), QPointF(17, 10));
            p.drawLine(QPointF(14, 7), QPointF(17, 10));
            p.drawLine(QPointF(14, 13), QPointF(17, 10));
            break;
        case Glyph::Close:
            p.setPen(QPen(kRed, 2.4));
            p.drawLine(QPointF(5, 5), QPointF(15, 15));
            p.drawLine(QPointF(15, 5), QPointF(5, 15));
            break;
        case Glyph::Print:
            p.setBrush(kPaper);
            p.drawRect(QRectF(6, 2, 8, 6));
            p.setBrush(QColor(180, 180, 190));
            p.drawRoundedRect(QRectF(2, 8, 16, 7), 2, 2);
            p.setBrush(kPaper);
            p.drawRect(QRectF(6, 12, 8, 6));
            break;
        case Glyph::PrintPreview:
            p.setBrush(kPaper);
            p.drawRect(QRectF(3, 2, 11, 15));
            p.setBrush(QColor(200, 230, 250));
            p.drawEllipse(QPointF(11, 11), 4, 4);
            p.setPen(QPen(kInk, 2));
            p.drawLine(QPointF(14, 14), QPointF(18, 18));
            break;
        case Glyph::Instruments:
            p.setBrush(kPaper);
            p.drawRect(QRectF(2, 5, 16, 11));
            p.setBrush(kInk);
            for (qreal x : {4.5, 7.5, 12.5, 15.5}) p.drawRect(QRectF(x - 0.8, 5, 1.8, 6));
            break;
        case Glyph::Arrangement:
            p.setPen(Qt::NoPen);
            p.setBrush(kAccent);
            p.drawRect(QRectF(3, 10, 3, 7));
            p.setBrush(kGreen);
            p.drawRect(QRectF(8.5, 5, 3, 12));
            p.setBrush(kWood);
            p.drawRect(QRectF(14, 8, 3, 9));
            break;
        case Glyph::Options:
            p.setPen(QPen(kInk, 1.5));
            for (int i = 0; i < 3; ++i) {
                const qreal y = 5 + i * 5;
                p.drawLine(QPointF(3, y), QPointF(17, y));
                p.setBrush(kAccent);
                p.drawRect(QRectF(5 + i * 4, y - 2, 3, 4));
            }
            break;
        case Glyph::Help: {
            p.setBrush(kAccent);
            p.drawEllipse(QRectF(2, 2, 16, 16));
            QFont font = p.font();
            font.setBold(true);
            font.setPixelSize(13);
            p.setFont(font);
            p.setPen(Qt::white);
            p.drawText(QRectF(2, 2, 16, 16), Qt::AlignCenter, QStringLiteral("?"));
            break;
        }
        case Glyph::Back:
            p.setBrush(kInk);
            p.drawPolygon(QPolygonF({{10, 4}, {10, 16}, {3, 10}}));
            p.drawPolygon(QPolygonF({{17, 4}, {17, 16}, {10, 10}}));
            break;
        case Glyph::Stop:
            p.setBrush(kInk);
            p.drawRect(QRectF(5, 5, 10, 10));
            break;
        case Glyph::Play:
            p.setBrush(kGreen);
            p.drawPolygon(QPolygonF({{6, 3}, {16, 10}, {6, 17}}));
            break;
        case Glyph::Forward:
            p.setBrush(kInk);
            p.drawPolygon(QPolygonF({{3, 4}, {10, 10}, {3, 16}}));
            p.drawPolygon(QPolygonF({{10, 4}, {17, 10}, {10, 16}}));
            break;
        case Glyph::Mark:
            p.drawLine(QPointF(6, 2), QPointF(6, 18));
            p.setBrush(kRed);
            p.drawPolygon(QPolygonF({{6, 3}, {16, 6}, {6, 10}}));
            break;
        case Glyph::Loop: {
            p.setPen(QPen(kAccent, 2));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(3, 4, 14, 12), 30 * 16, 300 * 16);
            p.setBrush(kAccent);
            p.drawPolygon(QPolygonF({{14, 2}, {18, 6}, {13, 7}}));
            break;
        }
        case Glyph::Tip: {
            p.setBrush(QColor(255, 230, 90));
            p.drawEllipse(QRectF(4, 1, 12, 12));
            p.setBrush(QColor(170, 170, 170));
            p.drawRect(QRectF(7, 13, 6, 5));
            break;
        }
        case Glyph::Mute:
            p.setBrush(kInk);
            p.drawPolygon(QPolygonF({{2, 8}, {6, 8}, {11, 4}, {11, 16}, {6, 12}, {2, 12}}));
            p.setPen(QPen(kRed, 2));
            p.drawLine(QPointF(13, 7), QPointF(18, 13));
            p.drawLine(QPointF(18, 7), QPointF(13, 13));
            break;
        case Glyph::Application: {
            p.setBrush(QColor(218, 204, 188));
            p.drawRoundedRect(QRectF(1, 1, 18, 18), 4, 4);
            p.setBrush(kInk);
            p.drawEllipse(QRectF(4, 12, 5, 4));
            p.drawEllipse(QRectF(11, 10, 5, 4));
            p.setPen(QPen(kInk, 1.4));
            p.drawLine(QPointF(8.5, 14), QPointF(8.5, 4));
            p.drawLine(QPointF(15.5, 12), QPointF(15.5, 3));
            p.drawLine(QPointF(8.5, 4), QPointF(15.5, 3));
            break;
        }
    }
}

}  // namespace

QPixmap glyphPixmap(Glyph glyph, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 20.0, size / 20.0);
    paint(painter, glyph);
    return pixmap;
}

QIcon glyphIcon(Glyph glyph) {
    QIcon icon;
    for (int size : {16, 20, 32, 64}) icon.addPixmap(glyphPixmap(glyph, size));
    return icon;
}

}  // namespace varimel
