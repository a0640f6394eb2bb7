// TfChrMan: the first step of a hand-made chord progression — the meter and the key it is entered
// in, or no key at all.
#pragma once

#include <QDialog>

#include "ui/model/OptionsForm.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace varimel {

class HelpSink;

class TfChrMan : public QDialog {
    Q_OBJECT
  public:
    explicit TfChrMan(HelpSink& help, QWidget* parent = nullptr);

    // The chosen-flags of the meter and key lists, and the choice as it stands.
    bool meterChosen() const { return state_.meterChosen; }
    bool keyChosen() const { return state_.keyChosen; }
    model::ManualProgression choice() const;

  public Q_SLOTS:
    void lb_MeterChange(int index);
    void lb_KeyChange(int index);
    void chb_woKeyClick(bool checked);
    void b_HelpClick();

  private:
    void stabilize();

    HelpSink& help_;
    model::ManualProgressionState state_;

    QLabel* l_Meter;
    QComboBox* lb_Meter;
    QLabel* l_Key;
    QComboBox* lb_Key;
    QCheckBox* chb_woKey;
    QPushButton* b_Ok;
    QPushButton* b_Cancel;
    QPushButton* b_Help;
};

}  // namespace varimel
