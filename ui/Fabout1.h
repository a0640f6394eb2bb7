// TfAbout: the about box — our picture, the version of this build and the system it runs on.
#pragma once

#include <QDialog>

class QLabel;

namespace varimel {

class TfAbout : public QDialog {
    Q_OBJECT
  public:
    explicit TfAbout(QWidget* parent = nullptr);

    // Loads the picture and sizes the box to it; false, with the reason, when it cannot be read.
    bool loadPicture(const QString& file, QString& error);
    QString versionText() const;

  private:
    QLabel* Image1;
    QLabel* l_Version;
    QLabel* l_Copyright;
};

}  // namespace varimel
