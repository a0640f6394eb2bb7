// FormSupport: small helpers the forms share to create their named controls.
#pragma once

#include <QEvent>
#include <QHBoxLayout>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <initializer_list>
#include <optional>

namespace varimel {

// A child control created with its parent and given its form name.
template <typename Widget>
Widget* named(QWidget* parent, const char* name) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// The same with a caption.
template <typename Widget>
Widget* named(QWidget* parent, const char* name, const QString& text) {
    auto* widget = new Widget(text, parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// A row of buttons pushed to the right.
inline QHBoxLayout* buttonRow(std::initializer_list<QWidget*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QWidget* button : buttons) row->addWidget(button);
    return row;
}

// Shows a window again where it stood when it was hidden. Window managers place a window shown
// again by its client area, which would move it down by its title bar at every opening.
class PlaceKeeper final : public QObject {
  public:
    explicit PlaceKeeper(QWidget* window) : QObject(window), window_(window) {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && !event->spontaneous()) {
            if (event->type() == QEvent::Hide) place_ = window_->pos();
            if (event->type() == QEvent::Show && place_) window_->move(*place_);
        }
        return false;
    }

  private:
    QWidget* window_;
    std::optional<QPoint> place_;
};

}  // namespace varimel
