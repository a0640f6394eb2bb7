// FormSupport: small helpers the forms share to create their named controls.
#pragma once

#include <QHBoxLayout>
#include <QString>
#include <QWidget>
#include <initializer_list>

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

}  // namespace varimel
