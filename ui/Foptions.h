// TfOptions: the harmony options dialog — key recognition, the default accompaniment instrument,
// the harmonisation method, the two chord filters and the number of custom chords — editing one
// options record that it reloads each time it shows.
#pragma once

#include <QDialog>

#include "settings/HarmonyOptions.h"
#include "ui/model/OptionsForm.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QWidget;

namespace varimel {

class HelpSink;
namespace model {
class InstrumentNames;
}

class TfOptions : public QDialog {
    Q_OBJECT
  public:
    // `options` is the record shown on every show and written by OK; it must outlive the dialog.
    TfOptions(HarmonyOptions& options, HelpSink& help, QWidget* parent = nullptr);

    // The instrument entries of the default accompaniment patch list, filled by the caller
    // before showing and emptied after; `names` must live until `clearPatchList`.
    void fillPatchList(const model::InstrumentNames& names);
    void clearPatchList();
    void selectPage(int index);

    // The controls' values now, and setting all of them.
    model::OptionsControls controls() const;
    void setControls(const model::OptionsControls& controls);

  public Q_SLOTS:
    void FormActivate();    // the controls from the options record
    void b_DefaultClick();  // the controls from the compiled-in defaults; nothing is stored
    void b_OkClick();       // the controls into the options record, then closes with OK
    void b_HelpClick();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    const model::InstrumentNames& names() const;

    HarmonyOptions& options_;
    HelpSink& help_;
    const model::InstrumentNames* names_ = nullptr;

    QTabWidget* pgc_Options;
    QWidget* oAcc;
    QCheckBox* chb_OnGetTon;
    QLabel* Label1;
    QComboBox* cb_DAP;
    QGroupBox* GroupBox1;
    QRadioButton* rb_Standart;
    QRadioButton* rb_Advanced;
    QCheckBox* chb_DSF;
    QCheckBox* chb_CSF;
    QLabel* st_NCC;
    QLineEdit* mt_NCC;
    QCheckBox* cb_setdopt;
    QPushButton* b_Default;
    QPushButton* b_Ok;
    QPushButton* b_Cancel;
    QPushButton* b_Help;
};

}  // namespace varimel
