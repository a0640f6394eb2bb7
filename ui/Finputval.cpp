#include "ui/Finputval.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/FormSupport.h"

namespace varimel {

TfIV::TfIV(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint),
      LabelTop(named<QLabel>(this, "LabelTop")),
      Label1(named<QLabel>(this, "Label1")),
      Edit1(named<QLineEdit>(this, "Edit1")),
      Label2(named<QLabel>(this, "Label2")),
      Edit2(named<QLineEdit>(this, "Edit2")),
      Button1(named<QPushButton>(this, "Button1", tr("Ok"))),
      Button2(named<QPushButton>(this, "Button2", tr("Cancel"))) {
    setObjectName(QStringLiteral("TfIV"));
    resize(375, 156);
    LabelTop->setWordWrap(true);
    auto* fields = new QFormLayout;
    fields->addRow(Label1, Edit1);
    fields->addRow(Label2, Edit2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LabelTop);
    layout->addLayout(fields);
    layout->addLayout(buttonRow({Button1, Button2}));
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

void TfIV::setTexts(const QString& caption, const QString& top, const QString& label1,
                    const QString& label2) {
    setWindowTitle(caption);
    LabelTop->setText(top);
    Label1->setText(label1);
    Label2->setText(label2);
}

void TfIV::setValues(const QString& value1, const QString& value2) {
    Edit1->setText(value1);
    Edit2->setText(value2);
}

QString TfIV::value1() const {
    return Edit1->text();
}
QString TfIV::value2() const {
    return Edit2->text();
}

}  // namespace varimel
