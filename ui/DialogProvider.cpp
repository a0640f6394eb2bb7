#include "ui/DialogProvider.h"

#include <QApplication>
#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <algorithm>
#include <vector>

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

namespace {
QMessageBox::Icon iconOf(MessageKind kind) {
    switch (kind) {
        case MessageKind::Error:
            return QMessageBox::Critical;
        case MessageKind::Warning:
            return QMessageBox::Warning;
        case MessageKind::Confirmation:
            return QMessageBox::Question;
        case MessageKind::Information:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}
}  // namespace

int DialogProvider::choose(QWidget* parent, MessageKind kind, const QString& text,
                           const QStringList& buttons) {
    const QMessageBox::StandardButton answer =
        message(parent, kind, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    const int last = static_cast<int>(buttons.size()) - 1;
    if (answer == QMessageBox::Yes) return std::min(0, last);
    if (answer == QMessageBox::No) return std::min(1, last);
    return last;
}

namespace {
// The instruments window, the tips and the help stay on top of the main window while it is used;
// a box or a file or print dialog that did not would open behind them, where the tips cannot
// even be closed while the modal dialog blocks them.
template <typename Dialog>
int execAboveToolWindows(Dialog& dialog) {
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    return dialog.exec();
}

QString runFileDialog(QWidget* parent, const QString& caption, const QString& dir,
                      const QString& filter, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent, caption, dir, filter);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    if (execAboveToolWindows(dialog) != QDialog::Accepted) return QString();
    return dialog.selectedFiles().value(0);
}
}  // namespace

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
    QMessageBox box(iconOf(kind), messageTitle(kind), text, buttons, messageOwner(parent));
    return static_cast<QMessageBox::StandardButton>(execAboveToolWindows(box));
}

int QtDialogProvider::choose(QWidget* parent, MessageKind kind, const QString& text,
                             const QStringList& buttons) {
    QMessageBox box(iconOf(kind), messageTitle(kind), text, QMessageBox::NoButton,
                    messageOwner(parent));
    std::vector<QAbstractButton*> added;
    for (const QString& caption : buttons)
        added.push_back(box.addButton(caption, QMessageBox::AcceptRole));
    if (!added.empty()) {
        box.setDefaultButton(static_cast<QPushButton*>(added.front()));
        box.setEscapeButton(added.back());
    }
    execAboveToolWindows(box);
    const auto pressed = std::find(added.begin(), added.end(), box.clickedButton());
    if (pressed == added.end()) return static_cast<int>(buttons.size()) - 1;
    return static_cast<int>(pressed - added.begin());
}

QString QtDialogProvider::openFileName(QWidget* parent, const QString& caption, const QString& dir,
                                       const QString& filter) {
    return runFileDialog(parent, caption, dir, filter, QFileDialog::AcceptOpen);
}

QString QtDialogProvider::saveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                       const QString& filter) {
    return runFileDialog(parent, caption, dir, filter, QFileDialog::AcceptSave);
}

bool QtDialogProvider::print(QWidget* parent, QPrinter& printer) {
    QPrintDialog dialog(&printer, parent);
    return execAboveToolWindows(dialog) == QDialog::Accepted;
}

int QtDialogProvider::run(QDialog& dialog) {
    return dialog.exec();
}

}  // namespace varimel
