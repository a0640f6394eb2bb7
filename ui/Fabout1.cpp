#include "ui/Fabout1.h"

#include <QImageReader>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/FormSupport.h"

#ifndef VARIMEL_VERSION
#define VARIMEL_VERSION "0.0.0"
#endif

namespace varimel {

TfAbout::TfAbout(QWidget* parent)
    : QDialog(parent),
      Image1(named<QLabel>(this, "Image1")),
      l_Version(
          named<QLabel>(this, "l_Version",
                        tr("Varimel version %1\nfor Linux").arg(QStringLiteral(VARIMEL_VERSION)))),
      l_Copyright(named<QLabel>(this, "l_Copyright",
                                tr("A melody harmoniser and accompaniment maker.\n"
                                   "Free software: you may use, study, share and change it."))) {
    setObjectName(QStringLiteral("TfAbout"));
    setWindowTitle(tr("About Varimel"));
    l_Version->setAlignment(Qt::AlignCenter);
    l_Copyright->setAlignment(Qt::AlignCenter);
    QFont bold = l_Version->font();
    bold.setBold(true);
    l_Version->setFont(bold);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Image1, 0, Qt::AlignHCenter);
    layout->addWidget(l_Version);
    layout->addWidget(l_Copyright);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool TfAbout::loadPicture(const QString& file, QString& error) {
    QImageReader reader(file);
    const QImage image = reader.read();
    if (image.isNull()) {
        error = tr("Can't open file %1: %2").arg(file, reader.errorString());
        return false;
    }
    Image1->setPixmap(QPixmap::fromImage(image));
    return true;
}

QString TfAbout::versionText() const {
    return l_Version->text();
}

}  // namespace varimel
