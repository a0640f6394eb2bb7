#include "ui/Fstyle1.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/FormSupport.h"
#include "ui/Launcher.h"
#include "ui/model/HelpTopics.h"

namespace varimel {

TfStyle::TfStyle(const QString& styleDir, const QString& importTool, HelpSink& help,
                 QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      PageControl1(named<QTabWidget>(this, "PageControl1")),
      l_Help(
          named<QLabel>(this, "l_Help", tr("Tip: Left Click for play, Right Click for select "))),
      cb_ArngOn(named<QCheckBox>(this, "cb_ArngOn", tr("Enable Arrangement"))),
      b_Ok(named<QPushButton>(this, "b_Ok", tr("Ok"))),
      b_Cancel(named<QPushButton>(this, "b_Cancel", tr("Cancel"))),
      b_Help(named<QPushButton>(this, "b_Help", tr("Help"))),
      b_Import(named<QPushButton>(this, "b_Import", tr("Import"))),
      b_Reload(named<QPushButton>(this, "b_Reload", tr("Reload"))),
      clickSITimer(new QTimer(this)),
      help_(help),
      library_(styleDir.toStdString()),
      importTool_(importTool) {
    setObjectName(QStringLiteral("TfStyle"));
    setWindowTitle(tr("Styles of instrumental accompaniments"));
    setFixedSize(594, 360);

    QFont bold = PageControl1->font();
    bold.setBold(true);
    PageControl1->setFont(bold);
    const char* pageNames[] = {"ts_Piano", "ts_Guitar", "ts_Other"};
    const char* boxNames[] = {"sb_1", "sb_2", "sb_3"};
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        pages_[i] = named<QWidget>(PageControl1, pageNames[i]);
        scrollBoxes_[i] = named<QScrollArea>(pages_[i], boxNames[i]);
        scrollBoxes_[i]->setWidgetResizable(true);
        auto* pageLayout = new QVBoxLayout(pages_[i]);
        pageLayout->setContentsMargins(0, 0, 0, 0);
        pageLayout->addWidget(scrollBoxes_[i]);
        PageControl1->addTab(
            pages_[i], QString::fromUtf8(StyleLibrary::categoryName(static_cast<int>(i)).data()));
    }

    l_Help->setStyleSheet(QStringLiteral("color: blue;"));
    cb_ArngOn->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    b_Import->setToolTip(tr("Import style from midi file"));
    b_Reload->setToolTip(tr("Reload styles list"));
    b_Import->hide();
    b_Reload->hide();
    clickSITimer->setObjectName(QStringLiteral("clickSITimer"));
    clickSITimer->setInterval(300);
    clickSITimer->setSingleShot(true);

    auto* layout = new QGridLayout(this);
    layout->addWidget(PageControl1, 0, 0, 1, 2);
    layout->addWidget(l_Help, 1, 0);
    layout->addWidget(cb_ArngOn, 1, 1, Qt::AlignRight);
    auto* buttons = buttonRow({b_Import, b_Reload, b_Help, b_Ok, b_Cancel});
    layout->addLayout(buttons, 2, 0, 1, 2);

    connect(b_Ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(b_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(b_Help, &QPushButton::clicked, this, &TfStyle::b_HelpClick);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &TfStyle::b_HelpClick);
}

void TfStyle::setMeter(int numerator, int denominator) {
    meterNum_ = numerator;
    meterDen_ = denominator;
}

void TfStyle::setImportVisible(bool visible) {
    b_Import->setVisible(visible);
    b_Reload->setVisible(visible);
}

bool TfStyle::arrangementEnabled() const {
    return cb_ArngOn->isChecked();
}
void TfStyle::setArrangementEnabled(bool enabled) {
    cb_ArngOn->setChecked(enabled);
}

void TfStyle::b_HelpClick() {
    help_.showHelp(model::help_topic::kStyleDialog);
}

}  // namespace varimel
