#include "ui/HelpWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QScreen>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/Glyphs.h"
#include "ui/model/HelpTopics.h"

namespace varimel {

namespace {

constexpr int kDesignedWidth = 680;
constexpr int kDesignedHeight = 560;

QToolButton* navigationButton(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(caption);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

}  // namespace

HelpWindow::HelpWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      helpBrowser(new QTextBrowser(this)),
      b_HelpBack(navigationButton(this, "b_HelpBack", tr("< Back"))),
      b_HelpForward(navigationButton(this, "b_HelpForward", tr("Forward >"))),
      b_HelpHome(navigationButton(this, "b_HelpHome", tr("Contents"))) {
    setObjectName(QStringLiteral("HelpWindow"));
    helpBrowser->setObjectName(QStringLiteral("helpBrowser"));
    helpBrowser->setOpenExternalLinks(true);
    setWindowTitle(tr("Varimel Help"));
    setWindowIcon(glyphIcon(Glyph::Help));
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(4, 4, 4, 0);
    buttons->addWidget(b_HelpHome);
    buttons->addWidget(b_HelpBack);
    buttons->addWidget(b_HelpForward);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(helpBrowser);
    b_HelpBack->setEnabled(false);
    b_HelpForward->setEnabled(false);
    connect(b_HelpBack, &QToolButton::clicked, helpBrowser, &QTextBrowser::backward);
    connect(b_HelpForward, &QToolButton::clicked, helpBrowser, &QTextBrowser::forward);
    connect(b_HelpHome, &QToolButton::clicked, this,
            [this] { showHelp(model::help_topic::kContents); });
    connect(helpBrowser, &QTextBrowser::backwardAvailable, b_HelpBack, &QWidget::setEnabled);
    connect(helpBrowser, &QTextBrowser::forwardAvailable, b_HelpForward, &QWidget::setEnabled);
    resize(kDesignedWidth, kDesignedHeight);
}

HelpWindow::~HelpWindow() {
    if (dialog_) dialog_->removeEventFilter(this);
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
    followModalDialog();
    fitToScreen();
    open_ = true;
    show();
    raise();
    activateWindow();
}

void HelpWindow::followModalDialog() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == this || modal == dialog_) return;
    leaveDialog();
    if (modal == nullptr) return;
    const QPoint at = pos();
    dialog_ = modal;
    setParent(modal, Qt::Window);
    move(at);
    modal->installEventFilter(this);
}

void HelpWindow::leaveDialog() {
    if (!dialog_) return;
    dialog_->removeEventFilter(this);
    dialog_ = nullptr;
    const QPoint at = pos();
    setParent(nullptr, Qt::Window);
    move(at);
}

bool HelpWindow::eventFilter(QObject* watched, QEvent* event) {
    // The dialog closes (and may be destroyed after): the window stays, on its own again.
    if (watched == dialog_ && event->type() == QEvent::Hide) {
        const bool open = open_;
        leaveDialog();
        if (open) show();
    }
    return QWidget::eventFilter(watched, event);
}

void HelpWindow::closeEvent(QCloseEvent* event) {
    open_ = false;
    QWidget::closeEvent(event);
}

void HelpWindow::fitToScreen() {
    const QScreen* screen = QApplication::screenAt(QCursor::pos());
    if (screen == nullptr) screen = QApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect available = screen->availableGeometry();
    // Room for the frame the window manager adds.
    const QMargins frame(8, 32, 8, 8);
    const QRect room = available.marginsRemoved(frame);
    QRect bounds = geometry();
    bounds.setSize(bounds.size().boundedTo(room.size()));
    if (!placed_) {
        bounds.moveCenter(room.center());
        placed_ = true;
    }
    bounds.moveLeft(std::clamp(bounds.left(), room.left(), room.right() - bounds.width() + 1));
    bounds.moveTop(std::clamp(bounds.top(), room.top(), room.bottom() - bounds.height() + 1));
    setGeometry(bounds);
}

}  // namespace varimel
