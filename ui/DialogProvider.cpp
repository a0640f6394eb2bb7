#include "ui/DialogProvider.h"

#include <QApplication>
#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>

namespace varimel {

using model::MessageButtons;
using model::MessageKind;

QString displayText(std::string_view text) {
    return QString::fromStdString(model::displayText(text));
}

QString messageTitle(MessageKind kind) {
    switch (kind) {
        case MessageKind::Error:
            return QStringLiteral("Error");
        case MessageKind::Warning:
            return QStringLiteral("Warning");
        case MessageKind::Confirmation:
            return QStringLiteral("Confirm");
        default:
            return QApplication::applicationDisplayName();
    }
}

QWidget* messageOwner(QWidget* requested) {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    QWidget* active = QApplication::activeWindow();
    if (active != nullptr && active != requested &&
        active->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        return active;
    return requested;
}

QMessageBox::StandardButton DialogProvider::show(QWidget* parent, const model::MessageEntry& entry,
                                                 const QString& suffix) {
    const QMessageBox::StandardButtons buttons =
        entry.buttons == MessageButtons::YesNoCancel
            ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel
            : QMessageBox::StandardButtons(QMessageBox::Ok);
    const MessageKind kind = entry.kind == MessageKind::None ? MessageKind::Plain : entry.kind;
    return message(messageOwner(parent), kind,
                   displayText(entry.text) + displayText(suffix.toStdString()), buttons);
}

void DialogProvider::error(QWidget* parent, const QString& text) {
    message(messageOwner(parent), MessageKind::Error, displayText(text.toStdString()),
            QMessageBox::Ok);
}

void DialogProvider::plain(QWidget* parent, const QString& text) {
    message(messageOwner(parent), MessageKind::Plain, displayText(text.toStdString()),
            QMessageBox::Ok);
}

QMessageBox::StandardButton QtDialogProvider::message(QWidget* parent, MessageKind kind,
                                                      const QString& text,
                                                      QMessageBox::StandardButtons buttons) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (kind) {
        case MessageKind::Error:
            icon = QMessageBox::Critical;
            break;
        case MessageKind::Warning:
            icon = QMessageBox::Warning;
            break;
        case MessageKind::Confirmation:
            icon = QMessageBox::Question;
            break;
        case MessageKind::Information:
            icon = QMessageBox::Information;
            break;
        default:
            break;
    }
    QMessageBox box(icon, messageTitle(kind), text, buttons, messageOwner(parent));
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString QtDialogProvider::openFileName(QWidget* parent, const QString& caption, const QString& dir,
                                       const QString& filter) {
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString QtDialogProvider::saveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                       const QString& filter) {
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

bool QtDialogProvider::print(QWidget* parent, QPrinter& printer) {
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

int QtDialogProvider::run(QDialog& dialog) {
    return dialog.exec();
}

}  // namespace varimel
