// DialogProvider: every modal run of the window layer — message boxes, file names, the print
// dialog and our own dialogs — goes through this interface, so that tests script the answers.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include "ui/model/Msg_list.h"

class QPrinter;
class QWidget;

namespace varimel {

class DialogProvider {
  public:
    virtual ~DialogProvider() = default;

    // Shows a box of the given kind and answers the button pressed.
    virtual QMessageBox::StandardButton message(QWidget* parent, model::MessageKind kind,
                                                const QString& text,
                                                QMessageBox::StandardButtons buttons) = 0;
    // Empty when the user cancelled.
    virtual QString openFileName(QWidget* parent, const QString& caption, const QString& dir,
                                 const QString& filter) = 0;
    virtual QString saveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                 const QString& filter) = 0;
    // True when the user chose to print.
    virtual bool print(QWidget* parent, QPrinter& printer) = 0;
    // Runs one of our dialogs modally and answers its result.
    virtual int run(QDialog& dialog) = 0;
    // A question with buttons of our own captions: the index of the one pressed, or of the last
    // (the answer that changes nothing) when the box is closed otherwise. Without an override
    // it asks through message(), Yes and No standing for the first two buttons.
    virtual int choose(QWidget* parent, model::MessageKind kind, const QString& text,
                       const QStringList& buttons);

    // An entry of the message table, with its kind and buttons; `suffix` follows its text.
    QMessageBox::StandardButton show(QWidget* parent, const model::MessageEntry& entry,
                                     const QString& suffix = {});
    // Shorthands for texts outside the table.
    void error(QWidget* parent, const QString& text);
    void plain(QWidget* parent, const QString& text);
};

// The real boxes and dialogs.
class QtDialogProvider final : public DialogProvider {
  public:
    QMessageBox::StandardButton message(QWidget* parent, model::MessageKind kind,
                                        const QString& text,
                                        QMessageBox::StandardButtons buttons) override;
    QString openFileName(QWidget* parent, const QString& caption, const QString& dir,
                         const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& caption, const QString& dir,
                         const QString& filter) override;
    bool print(QWidget* parent, QPrinter& printer) override;
    int run(QDialog& dialog) override;
    int choose(QWidget* parent, model::MessageKind kind, const QString& text,
               const QStringList& buttons) override;
};

// Who owns a box asked for by `requested`: the modal dialog that is open, or an always-on-top
// window that is active, so the box shows above it instead of behind it.
QWidget* messageOwner(QWidget* requested);

// The title of a box of this kind: "Error", "Warning", "Confirm", else the application title.
QString messageTitle(model::MessageKind kind);
// A message-table text as a box shows it ("\n\r" is one line break).
QString displayText(std::string_view text);

}  // namespace varimel
