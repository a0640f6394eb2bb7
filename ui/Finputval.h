// TfIV: a small tool window with a text across the top and two labelled input fields; the caller
// sets the texts, runs it modally and reads both fields after OK.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace varimel {

class TfIV : public QDialog {
    Q_OBJECT
  public:
    explicit TfIV(QWidget* parent = nullptr);

    void setTexts(const QString& caption, const QString& top, const QString& label1,
                  const QString& label2);
    void setValues(const QString& value1, const QString& value2);
    QString value1() const;
    QString value2() const;

  private:
    QLabel* LabelTop;
    QLabel* Label1;
    QLineEdit* Edit1;
    QLabel* Label2;
    QLineEdit* Edit2;
    QPushButton* Button1;
    QPushButton* Button2;
};

}  // namespace varimel
