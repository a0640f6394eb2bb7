#include "ui/Farrangs.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>

#include "ui/FormSupport.h"
#include "ui/Launcher.h"
#include "ui/model/HelpTopics.h"

namespace varimel {

TfArrang::TfArrang(const QString& arrangementDir, const QString& importTool, HelpSink& help,
                   QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      StaticText1(named<QLabel>(this, "StaticText1", tr("Meter"))),
      StaticText2(named<QLabel>(this, "StaticText2", tr("Arrangement"))),
      sb_1(named<QScrollArea>(this, "sb_1")),
      l_Help(named<QLabel>(this, "l_Help", tr("Tip: Click for play, Double click for select "))),
      b_Ok(named<QPushButton>(this, "b_Ok", tr("Ok"))),
      b_Cancel(named<QPushButton>(this, "b_Cancel", tr("Cancel"))),
      b_Help(named<QPushButton>(this, "b_Help", tr("Help"))),
      b_Import(named<QPushButton>(this, "b_Import", tr("Import"))),
      b_Reload(named<QPushButton>(this, "b_Reload", tr("Reload"))),
      help_(help),
      library_(arrangementDir.toStdString()),
      importTool_(importTool) {
    setObjectName(QStringLiteral("TfArrang"));
    setWindowTitle(tr("Arrangements of instrumental accompaniments"));
    setFixedSize(586, 330);
    for (QLabel* header : {StaticText1, StaticText2}) {
        header->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        QFont bold = header->font();
        bold.setBold(true);
        header->setFont(bold);
    }
    StaticText1->setFixedWidth(121);
    StaticText2->setFixedWidth(377);
    sb_1->setStyleSheet(QStringLiteral("QScrollArea { background: rgb(241, 247, 234); }"));
    l_Help->setStyleSheet(QStringLiteral("color: blue;"));
    b_Import->setToolTip(tr("Import style from midi file"));
    b_Reload->setToolTip(tr("Reload styles list"));
    b_Import->hide();
    b_Reload->hide();

    auto* layout = new QGridLayout(this);
    layout->addWidget(StaticText1, 0, 0);
    layout->addWidget(StaticText2, 0, 1, Qt::AlignLeft);
    layout->addWidget(sb_1, 1, 0, 1, 2);
    layout->addWidget(l_Help, 2, 0, 1, 2);
    layout->addLayout(buttonRow({b_Import, b_Reload, b_Help, b_Ok, b_Cancel}), 3, 0, 1, 2);

    connect(b_Ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(b_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(b_Help, &QPushButton::clicked, this, &TfArrang::b_HelpClick);
    connect(b_Reload, &QPushButton::clicked, this, &TfArrang::b_ReloadClick);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &TfArrang::b_HelpClick);
}

void TfArrang::setImportVisible(bool visible) {
    b_Import->setVisible(visible);
    b_Reload->setVisible(visible);
}

void TfArrang::b_HelpClick() {
    help_.showHelp(model::help_topic::kStyleDialog);
}

void TfArrang::b_ReloadClick() {
    library_.reset();
}

}  // namespace varimel
