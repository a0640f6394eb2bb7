#include "ui/Foptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include "ui/FormSupport.h"
#include "ui/Launcher.h"
#include "ui/model/HelpTopics.h"
#include "ui/model/InstrumentNames.h"

namespace varimel {

namespace {

constexpr int kWidth = 438;
constexpr int kHeight = 345;
// Two digits: room enough to type a number above the limit, which then reads as the limit.
constexpr int kCustomChordsLength = 2;

}  // namespace

TfOptions::TfOptions(HarmonyOptions& options, HelpSink& help, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      options_(options),
      help_(help),
      pgc_Options(named<QTabWidget>(this, "pgc_Options")),
      oAcc(named<QWidget>(pgc_Options, "oAcc")),
      chb_OnGetTon(named<QCheckBox>(oAcc, "chb_OnGetTon", tr("Key Auto Recognition"))),
      Label1(named<QLabel>(oAcc, "Label1", tr("Default Accompaniment Patch"))),
      cb_DAP(named<QComboBox>(oAcc, "cb_DAP")),
      GroupBox1(named<QGroupBox>(oAcc, "GroupBox1", tr("Harmonization Method"))),
      rb_Standart(named<QRadioButton>(GroupBox1, "rb_Standart", tr("Standard"))),
      rb_Advanced(named<QRadioButton>(GroupBox1, "rb_Advanced", tr("Advanced"))),
      chb_DSF(named<QCheckBox>(oAcc, "chb_DSF", tr("Limit Number of Dissonances"))),
      chb_CSF(named<QCheckBox>(oAcc, "chb_CSF", tr("Limit Number of Unusual Chords"))),
      st_NCC(named<QLabel>(oAcc, "st_NCC", tr("Max Number of Custom Chords"))),
      mt_NCC(named<QLineEdit>(oAcc, "mt_NCC")),
      cb_setdopt(named<QCheckBox>(oAcc, "cb_setdopt", tr("Save as Default"))),
      b_Default(named<QPushButton>(oAcc, "b_Default", tr("Default"))),
      b_Ok(named<QPushButton>(this, "b_Ok", tr("OK"))),
      b_Cancel(named<QPushButton>(this, "b_Cancel", tr("Cancel"))),
      b_Help(named<QPushButton>(this, "b_Help", tr("Help"))) {
    setObjectName(QStringLiteral("TfOptions"));
    new PlaceKeeper(this);
    setWindowTitle(tr("Options"));
    setFixedSize(kWidth, kHeight);
    pgc_Options->addTab(oAcc, tr("Accompaniment"));

    cb_DAP->setMaxVisibleItems(16);
    Label1->setBuddy(cb_DAP);
    st_NCC->setBuddy(mt_NCC);
    mt_NCC->setMaxLength(kCustomChordsLength);
    mt_NCC->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(kCustomChordsLength)), mt_NCC));
    mt_NCC->setFixedWidth(mt_NCC->fontMetrics().horizontalAdvance(QStringLiteral("000")) + 12);
    mt_NCC->setAlignment(Qt::AlignRight);
    b_Ok->setDefault(true);

    auto* method = new QHBoxLayout(GroupBox1);
    method->addWidget(rb_Standart);
    method->addWidget(rb_Advanced);
    method->addStretch();

    auto* page = new QGridLayout(oAcc);
    page->setColumnStretch(1, 1);
    page->addWidget(chb_OnGetTon, 0, 0, 1, 3);
    page->addWidget(Label1, 1, 0);
    page->addWidget(cb_DAP, 1, 1, 1, 2);
    page->addWidget(GroupBox1, 2, 0, 1, 3);
    page->addWidget(chb_DSF, 3, 0, 1, 3);
    page->addWidget(chb_CSF, 4, 0, 1, 3);
    page->addWidget(st_NCC, 5, 0);
    page->addWidget(mt_NCC, 5, 1, Qt::AlignLeft);
    page->setRowStretch(6, 1);
    page->addWidget(cb_setdopt, 7, 0, 1, 2);
    page->addWidget(b_Default, 7, 2, Qt::AlignRight);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pgc_Options, 1);
    layout->addLayout(buttonRow({b_Ok, b_Cancel, b_Help}));

    connect(b_Default, &QPushButton::clicked, this, &TfOptions::b_DefaultClick);
    connect(b_Ok, &QPushButton::clicked, this, &TfOptions::b_OkClick);
    connect(b_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(b_Help, &QPushButton::clicked, this, &TfOptions::b_HelpClick);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &TfOptions::b_HelpClick);
}

void TfOptions::fillPatchList(const model::InstrumentNames& names) {
    names_ = &names;
    cb_DAP->clear();
    for (const std::string& entry : names.entries()) cb_DAP->addItem(QString::fromStdString(entry));
}

void TfOptions::clearPatchList() {
    cb_DAP->clear();
    names_ = nullptr;
}

void TfOptions::selectPage(int index) {
    pgc_Options->setCurrentIndex(index);
}

const model::InstrumentNames& TfOptions::names() const {
    static const model::InstrumentNames none;
    return names_ ? *names_ : none;
}

model::OptionsControls TfOptions::controls() const {
    model::OptionsControls controls;
    controls.autoKey = chb_OnGetTon->isChecked();
    controls.patchEntry = cb_DAP->currentIndex();
    controls.advanced = !rb_Standart->isChecked();
    controls.dissonanceFilter = chb_DSF->isChecked();
    controls.chordFilter = chb_CSF->isChecked();
    controls.customChords = mt_NCC->text().toStdString();
    controls.saveAsDefault = cb_setdopt->isChecked();
    return controls;
}

void TfOptions::setControls(const model::OptionsControls& controls) {
    chb_OnGetTon->setChecked(controls.autoKey);
    const bool listed = controls.patchEntry >= 0 && controls.patchEntry < cb_DAP->count();
    cb_DAP->setCurrentIndex(listed ? controls.patchEntry : -1);
    rb_Advanced->setChecked(controls.advanced);
    rb_Standart->setChecked(!controls.advanced);
    chb_DSF->setChecked(controls.dissonanceFilter);
    chb_CSF->setChecked(controls.chordFilter);
    mt_NCC->setText(QString::fromStdString(controls.customChords));
    cb_setdopt->setChecked(controls.saveAsDefault);
}

void TfOptions::FormActivate() {
    setControls(model::optionsControls(options_, names()));
}

void TfOptions::b_DefaultClick() {
    setControls(model::optionsControls(defaultOptions, names()));
}

void TfOptions::b_OkClick() {
    model::storeOptionsControls(controls(), names(), options_);
    accept();
}

void TfOptions::b_HelpClick() {
    help_.showHelp(model::help_topic::kOptionsDialog);
}

void TfOptions::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    // Every show starts from the record, so a cancelled edit leaves no trace.
    FormActivate();
    // Centred the first time; after that where the user left it.
    if (property("placed").toBool()) return;
    setProperty("placed", true);
    if (const QScreen* desktop = screen())
        move(desktop->availableGeometry().center() - rect().center());
}

}  // namespace varimel
