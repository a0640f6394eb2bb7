#include "ui/StylePictureView.h"

#include <QMouseEvent>
#include <QPainter>

namespace varimel {

QColor toQColor(model::Rgb colour) {
    return QColor(colour.red, colour.green, colour.blue);
}

StylePictureView::StylePictureView(StyleId id, model::PatternPicture picture, QWidget* parent)
    : QWidget(parent), id_(id), picture_(std::move(picture)), outline_(picture_.outline) {
    setFixedSize(picture_.width, picture_.height);
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::PointingHandCursor);
}

void StylePictureView::setOutline(model::Rgb colour) {
    if (colour == outline_) return;
    outline_ = colour;
    update();
}

void StylePictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const qreal corner = model::PatternPicture::kCornerSize / 2.0;
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(toQColor(outline_), 1));
    painter.setBrush(toQColor(picture_.background));
    painter.drawRoundedRect(QRectF(0.5, 0.5, width() - 1, height() - 1), corner, corner);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QColor notes = toQColor(picture_.noteColour);
    for (const model::PatternNote& note : picture_.notes)
        painter.fillRect(
            QRect(QPoint(note.left, note.top), QPoint(note.right - 1, note.bottom - 1)), notes);
}

void StylePictureView::mousePressEvent(QMouseEvent* event) {
    Q_EMIT pressed(this, event->button());
}

void StylePictureView::mouseDoubleClickEvent(QMouseEvent* event) {
    Q_EMIT pressed(this, event->button());
}

}  // namespace varimel
