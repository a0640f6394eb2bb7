// StylePictureView: one style of the style dialog as a small painted picture of its pattern,
// with the outline that tells selected, waiting for its preview or refused.
#pragma once

#include <QWidget>

#include "accompaniment/PatternFiles.h"
#include "ui/model/PatternPicture.h"

namespace varimel {

class StylePictureView : public QWidget {
    Q_OBJECT
  public:
    StylePictureView(StyleId id, model::PatternPicture picture, QWidget* parent);

    StyleId id() const { return id_; }
    const model::PatternPicture& picture() const { return picture_; }
    model::Rgb outline() const { return outline_; }
    void setOutline(model::Rgb colour);
    // The outline the picture has when nothing marks it.
    void resetOutline() { setOutline(picture_.outline); }

  Q_SIGNALS:
    // A press of a mouse button; a double click counts as a second left press.
    void pressed(StylePictureView* view, Qt::MouseButton button);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    StyleId id_;
    model::PatternPicture picture_;
    model::Rgb outline_;
};

QColor toQColor(model::Rgb colour);

}  // namespace varimel
