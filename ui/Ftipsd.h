// TfTips: the tip of the day — a tip from the tips file, "Next Tip", and the "Show Tips on
// Startup" choice, which is stored the moment the dialog closes.
#pragma once

#include <QDialog>
#include <cstdint>

#include "ui/model/Random.h"
#include "ui/model/Tips.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace varimel {

class DialogProvider;
class SettingsStore;

class TfTips : public QDialog {
    Q_OBJECT
  public:
    // `showTips` is the main window's flag; it changes only when the store took the new value.
    TfTips(SettingsStore& store, std::uint8_t& showTips, model::RandomSource& random,
           DialogProvider& dialogs, QWidget* parent);

    // (Re)reads the tips file and shows a tip when it has more than two lines.
    void load(const QString& tipsFile);
    QString tipText() const;

  public Q_SLOTS:
    void Button1Click();  // Next Tip

  protected:
    void done(int result) override;

  private:
    void storeShowTips();

    QLabel* l_Heading;
    QPlainTextEdit* Memo1;
    QLabel* Image1;
    QPushButton* Button1;
    QPushButton* Button2;
    QCheckBox* CheckBox1;

    SettingsStore& store_;
    std::uint8_t& showTips_;
    model::RandomSource& random_;
    DialogProvider& dialogs_;
    model::TipsList tips_;
};

}  // namespace varimel
