#include "ui/HelpWindow.h"

#include <QFileInfo>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ui/Glyphs.h"
#include "ui/model/HelpTopics.h"

namespace varimel {

HelpWindow::HelpWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), helpBrowser(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("HelpWindow"));
    helpBrowser->setObjectName(QStringLiteral("helpBrowser"));
    helpBrowser->setOpenExternalLinks(true);
    setWindowTitle(tr("Varimel Help"));
    setWindowIcon(glyphIcon(Glyph::Help));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(helpBrowser);
    resize(680, 560);
}

void HelpWindow::showHelp(int topic) {
    const QString page =
        QString::fromStdString(model::helpPagePath(helpPath_.toStdString(), topic));
    if (QFileInfo::exists(page)) {
        helpBrowser->setSource(QUrl::fromLocalFile(page));
    } else {
        helpBrowser->setHtml(tr("<h2>Help page missing</h2><p>The page <code>%1</code> is not "
                                "installed. Please run setup again.</p>")
                                 .arg(page.toHtmlEscaped()));
    }
    show();
    raise();
    activateWindow();
}

}  // namespace varimel
