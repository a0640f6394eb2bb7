#include "ui/Fprintprev.h"

#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "engine/Apperr.h"
#include "ui/DialogProvider.h"
#include "ui/FormSupport.h"
#include "ui/PrintPainter.h"

namespace varimel {

namespace {

constexpr int kControlBarHeight = 25;
constexpr int kWheelDivisor = 10;
constexpr double kInchesPerMeter = 39.37007874;
const char* const kPicturePrefix = "imgPP_";

}  // namespace

TfPrintPreview::TfPrintPreview(QWidget* parent, DialogProvider& dialogs)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint),
      dialogs_(dialogs),
      printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)),
      ControlBar1(named<QWidget>(this, "ControlBar1")),
      b_print(named<QPushButton>(ControlBar1, "b_print", tr("Print"))),
      b_No(named<QPushButton>(ControlBar1, "b_No", tr("Close"))),
      scb_preview(named<QScrollArea>(this, "scb_preview")),
      pictures_(named<QWidget>(scb_preview, "pictures")) {
    setObjectName(QStringLiteral("TfPrintPreview"));
    setWindowTitle(tr("Print preview"));
    resize(696, 480);

    ControlBar1->setFixedHeight(kControlBarHeight);
    auto* bar = new QHBoxLayout(ControlBar1);
    bar->setContentsMargins(2, 0, 2, 0);
    bar->addWidget(b_print);
    bar->addWidget(b_No);
    bar->addStretch();
    scb_preview->setBackgroundRole(QPalette::Dark);
    scb_preview->setWidget(pictures_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ControlBar1);
    layout->addWidget(scb_preview, 1);

    b_print->setDefault(true);
    connect(b_print, &QPushButton::clicked, this, &QDialog::accept);
    connect(b_No, &QPushButton::clicked, this, &QDialog::reject);
    b_print->installEventFilter(this);
    scb_preview->viewport()->installEventFilter(this);
}

TfPrintPreview::~TfPrintPreview() {
    if (job_) qApp->removeEventFilter(this);
}

void TfPrintPreview::setDocument(const QString& fileName, const Composition* composition) {
    fileName_ = fileName;
    composition_ = composition;
}

void TfPrintPreview::setTexts(const QString& title, const QString& author) {
    title_ = title;
    author_ = author;
}

model::PrintSheet TfPrintPreview::sheet() const {
    return sheetToPrint(*composition_, fileName_, title_, author_);
}

QLabel* TfPrintPreview::pagePicture(int number) const {
    return pictures_->findChild<QLabel*>(QString::fromLatin1(kPicturePrefix) +
                                         QString::number(number));
}

void TfPrintPreview::clearPictures() {
    for (QLabel* picture : pictures_->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        delete picture;
    }
}

bool TfPrintPreview::render(Target target) {
    if (composition_ == nullptr) return false;
    const int screenDpi = screenDpi_ > 0 ? screenDpi_ : screenDotsPerInch();
    if (target == kPreview) {
        const model::PrintDevice page = model::previewDevice(screenDpi);
        QImage canvas(page.width, page.height, QImage::Format_RGB32);
        const int dotsPerMeter = static_cast<int>(screenDpi * kInchesPerMeter + 0.5);
        canvas.setDotsPerMeterX(dotsPerMeter);
        canvas.setDotsPerMeterY(dotsPerMeter);
        pages_ = model::layoutPages(sheet(), printDeviceOf(canvas, canvas.size(), screenDpi));
        clearPictures();
        for (const model::PrintPage& layout : pages_) {
            canvas.fill(Qt::white);
            QPainter painter(&canvas);
            paintPrintPage(painter, layout);
            painter.end();
            auto* picture = new QLabel(pictures_);
            picture->setObjectName(QString::fromLatin1(kPicturePrefix) +
                                   QString::number(layout.number));
            picture->setPixmap(QPixmap::fromImage(canvas));
            picture->setGeometry(model::kPreviewMargin,
                                 model::previewPageTop(layout.number, page.height), page.width,
                                 page.height);
            picture->show();
        }
        const int count = static_cast<int>(pages_.size());
        pictures_->setFixedSize(page.width + 2 * model::kPreviewMargin,
                                model::previewPageTop(count + 1, page.height));
        return true;
    }

    if (!job_) return false;
    return paintPages(
        *job_, *printer_, sheet(), screenDpi,
        [this](int number) {
            Q_EMIT pagePrinted(number);
            // Escape reaches us here.
            QCoreApplication::processEvents();
            return !abortRequested_;
        },
        &pages_);
}

bool TfPrintPreview::printPage() {
    if (job_ || composition_ == nullptr) return false;  // one job at a time
    abortRequested_ = false;
    job_ = std::make_unique<QPainter>();
    if (!job_->begin(printer_.get())) {
        job_.reset();
        const QString target = printer_->outputFileName().isEmpty() ? printer_->printerName()
                                                                    : printer_->outputFileName();
        dialogs_.error(this, tr("Can't print to %1").arg(target));
        return false;
    }
    qApp->installEventFilter(this);
    const bool printed = render(kPrinter);
    qApp->removeEventFilter(this);
    const bool aborted = !printed && abortRequested_;
    if (aborted) printer_->abort();
    job_->end();
    job_.reset();
    if (aborted) {
        // A file holding some of the pages is no copy of the sheet.
        if (printer_->outputFormat() == QPrinter::PdfFormat &&
            !printer_->outputFileName().isEmpty()) {
            QFile::remove(printer_->outputFileName());
        }
        dialogs_.message(this, model::MessageKind::Information, tr("Printing aborted"),
                         QMessageBox::Ok);
    } else if (!printed) {
        dialogs_.error(this, tr("The printer refused a new page; the sheet is not complete."));
    }
    return printed;
}

bool TfPrintPreview::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && (job_ || watched == b_print)) {
            b_printKeyDown(key);
            return true;
        }
    }
    if (watched == scb_preview->viewport() && event->type() == QEvent::Wheel) {
        scrollByWheel(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// Escape aborts a running job; without one it does nothing (the form stays open).
void TfPrintPreview::b_printKeyDown(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && job_) abortRequested_ = true;
}

void TfPrintPreview::wheelEvent(QWheelEvent* event) {
    scrollByWheel(event);
}

void TfPrintPreview::scrollByWheel(QWheelEvent* event) {
    QScrollBar* bar = scb_preview->verticalScrollBar();
    bar->setValue(bar->value() - event->angleDelta().y() / kWheelDivisor);
    event->accept();
}

void TfPrintPreview::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred on the desktop.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

}  // namespace varimel
