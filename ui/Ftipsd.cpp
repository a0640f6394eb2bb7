#include "ui/Ftipsd.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "settings/Tmyregistry.h"
#include "ui/DialogProvider.h"
#include "ui/FormSupport.h"
#include "ui/Glyphs.h"

namespace varimel {

TfTips::TfTips(SettingsStore& store, std::uint8_t& showTips, model::RandomSource& random,
               DialogProvider& dialogs, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint),
      l_Heading(named<QLabel>(this, "l_Heading", tr("Did you know...           "))),
      Memo1(named<QPlainTextEdit>(this, "Memo1")),
      Image1(named<QLabel>(this, "Image1")),
      Button1(named<QPushButton>(this, "Button1", tr("Next Tip"))),
      Button2(named<QPushButton>(this, "Button2", tr("Ok"))),
      CheckBox1(named<QCheckBox>(this, "CheckBox1", tr("Show Tips on Startup"))),
      store_(store),
      showTips_(showTips),
      random_(random),
      dialogs_(dialogs) {
    setObjectName(QStringLiteral("TfTips"));
    setWindowTitle(tr("Tip of the Day"));
    QFont heading = l_Heading->font();
    heading.setBold(true);
    heading.setPointSize(heading.pointSize() + 4);
    l_Heading->setFont(heading);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Image1->setPixmap(glyphPixmap(Glyph::Tip, 48));
    Image1->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    CheckBox1->setChecked(showTips_ != 0);

    auto* layout = new QGridLayout(this);
    layout->addWidget(Image1, 0, 0, 2, 1);
    layout->addWidget(l_Heading, 0, 1);
    layout->addWidget(Memo1, 1, 1);
    layout->addWidget(CheckBox1, 2, 1);
    layout->addLayout(buttonRow({Button1, Button2}), 3, 0, 1, 2);
    resize(420, 260);

    connect(Button1, &QPushButton::clicked, this, &TfTips::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &QDialog::accept);
}

void TfTips::load(const QString& tipsFile) {
    CheckBox1->setChecked(showTips_ != 0);
    Memo1->clear();
    const bool found = tips_.load(tipsFile.toStdString());
    Button1->setEnabled(found);
    if (tips_.showsTipOnLoad()) Button1Click();
}

QString TfTips::tipText() const {
    return Memo1->toPlainText();
}

void TfTips::Button1Click() {
    Memo1->setPlainText(QString::fromStdString(tips_.nextTip(random_)));
}

void TfTips::done(int result) {
    storeShowTips();
    QDialog::done(result);
}

void TfTips::storeShowTips() {
    const bool show = CheckBox1->isChecked();
    const std::string errorBefore = store_.lastError();
    if (store_.writeShowTips(show)) {
        showTips_ = show ? 1 : 0;
        return;
    }
    // A refused value was already reported by the store's handler; a key that could not be
    // opened or created is reported by nobody else.
    if (store_.lastError() == errorBefore)
        dialogs_.error(this, QString::fromStdString(
                                 registryErrorText(kSetDataFailedText, regname::kShowTips)));
}

}  // namespace varimel
