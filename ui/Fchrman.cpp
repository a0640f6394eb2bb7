#include "ui/Fchrman.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>

#include "ui/FormSupport.h"
#include "ui/Launcher.h"
#include "ui/model/HelpTopics.h"

namespace varimel {

namespace {

constexpr int kWidth = 284;
constexpr int kHeight = 155;

void fill(QComboBox* box, const std::vector<std::string>& items) {
    for (const std::string& item : items) box->addItem(QString::fromStdString(item));
    box->setCurrentIndex(0);
}

}  // namespace

TfChrMan::TfChrMan(HelpSink& help, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      help_(help),
      l_Meter(named<QLabel>(this, "l_Meter", tr("Select Meter"))),
      lb_Meter(named<QComboBox>(this, "lb_Meter")),
      l_Key(named<QLabel>(this, "l_Key", tr("Select Key"))),
      lb_Key(named<QComboBox>(this, "lb_Key")),
      chb_woKey(named<QCheckBox>(this, "chb_woKey", tr("Chord progression w/o Key"))),
      b_Ok(named<QPushButton>(this, "b_Ok", tr("Ok"))),
      b_Cancel(named<QPushButton>(this, "b_Cancel", tr("Cancel"))),
      b_Help(named<QPushButton>(this, "b_Help", tr("Help"))) {
    setObjectName(QStringLiteral("TfChrMan"));
    setWindowTitle(tr("Making chords progression manually"));
    setFixedSize(kWidth, kHeight);
    fill(lb_Meter, model::manualMeterItems());
    fill(lb_Key, model::manualKeyItems());
    lb_Key->setMaxVisibleItems(lb_Key->count());
    l_Meter->setBuddy(lb_Meter);
    l_Key->setBuddy(lb_Key);
    b_Ok->setDefault(true);

    auto* layout = new QGridLayout(this);
    layout->setColumnStretch(1, 1);
    layout->addWidget(l_Meter, 0, 0);
    layout->addWidget(lb_Meter, 0, 1);
    layout->addWidget(l_Key, 1, 0);
    layout->addWidget(lb_Key, 1, 1);
    layout->addWidget(chb_woKey, 2, 0, 1, 2);
    layout->setRowStretch(3, 1);
    layout->addLayout(buttonRow({b_Ok, b_Cancel, b_Help}), 4, 0, 1, 2);

    connect(lb_Meter, &QComboBox::activated, this, &TfChrMan::lb_MeterChange);
    connect(lb_Key, &QComboBox::activated, this, &TfChrMan::lb_KeyChange);
    connect(chb_woKey, &QCheckBox::clicked, this, &TfChrMan::chb_woKeyClick);
    connect(b_Ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(b_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(b_Help, &QPushButton::clicked, this, &TfChrMan::b_HelpClick);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &TfChrMan::b_HelpClick);
    stabilize();
}

model::ManualProgression TfChrMan::choice() const {
    return model::manualProgression(lb_Meter->currentIndex(), lb_Key->currentIndex(),
                                    chb_woKey->isChecked());
}

void TfChrMan::lb_MeterChange(int index) {
    state_.meterChosen = model::isChosen(index);
    stabilize();
}

void TfChrMan::lb_KeyChange(int index) {
    state_.keyChosen = model::isChosen(index);
    stabilize();
}

void TfChrMan::chb_woKeyClick(bool checked) {
    state_.withoutKey = checked;
    stabilize();
}

void TfChrMan::b_HelpClick() {
    help_.showHelp(model::help_topic::kContents);
}

void TfChrMan::stabilize() {
    const model::ManualProgressionControls controls = model::manualProgressionControls(state_);
    b_Ok->setEnabled(controls.okEnabled);
    chb_woKey->setEnabled(controls.withoutKeyEnabled);
    lb_Meter->setEnabled(controls.listsEnabled);
    lb_Key->setEnabled(controls.listsEnabled);
}

}  // namespace varimel
