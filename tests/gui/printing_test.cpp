// Printing from the main window, offscreen, with scripted dialogs and a PDF printer: the preview's
// pages, the print job's pages in the file, Escape during and outside a job, and printing a file
// to a PDF without a window.
#include <QAction>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "scripted_services.h"
#include "support/melody.h"
#include "support/samples.h"
#include "ui/Finputval.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/Fprintprev.h"
#include "ui/PdfPrint.h"
#include "ui/PrintPainter.h"

using namespace varimel;
namespace fs = std::filesystem;

namespace {

// The pages of a PDF as its page objects count them.
int pdfPageCount(const QString& file) {
    QFile pdf(file);
    if (!pdf.open(QIODevice::ReadOnly)) return -1;
    const QByteArray bytes = pdf.readAll();
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page[^s]"));
    return static_cast<int>(QString::fromLatin1(bytes).count(page));
}

bool startsAsPdf(const QString& file) {
    QFile pdf(file);
    return pdf.open(QIODevice::ReadOnly) && pdf.read(5) == "%PDF-";
}

// Quarter notes walking a C major scale, `bars` bars of 4/4.
std::vector<std::uint8_t> longMelody(int bars) {
    static const char* const scale[] = {"C4", "D4", "E4", "F4", "G4", "A4", "B4",
                                        "C5", "B4", "A4", "G4", "F4", "E4", "D4"};
    std::vector<test::Step> steps;
    for (int i = 0; i < bars * 4; ++i) steps.push_back({scale[i % 14], test::Length{1, {}}});
    return test::melody("4/4", steps);
}

// The share of pixels in a band of the picture that are not white.
double inkIn(const QImage& image, int top, int height) {
    int ink = 0;
    for (int y = top; y < top + height && y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) ink += image.pixel(x, y) != qRgb(255, 255, 255);
    }
    return static_cast<double>(ink) / (image.width() * height);
}

}  // namespace

class PrintingTest : public QObject, protected WindowFixture {
    Q_OBJECT

  private:
    // A harmonised project (Draft I) of a melody file, in the test's folder.
    QString project(const fs::path& melody, const std::string& name) {
        return writeHarmonisedProject(melody, dir_->path() / name);
    }

    // The window with a harmonised project open.
    void openProject(const QString& file) {
        QVERIFY(!file.isEmpty());
        QVERIFY(installWithLibraries(dir_->path()));
        window_ = std::make_unique<TfMain>(services(), QString());
        QVERIFY(window_->started());
        window_->show();
        dialogs_.fileToOpen = file;
        window_->findChild<QAction*>("mnFOpen")->trigger();
        QVERIFY(window_->notesView() && window_->notesView()->composition());
        QVERIFY(window_->findChild<QAction*>("mnFPrint")->isEnabled());
        dialogs_.ran.clear();
    }

    // The print dialog answers "print to this PDF".
    QString printsTo(const std::string& name) {
        const QString file = QString::fromStdString((dir_->path() / name).string());
        dialogs_.onPrint = [file](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(file);
            return true;
        };
        return file;
    }

    // The composition-info dialog is filled in with these texts.
    void typeTitleAndAuthor(const QString& title, const QString& author) {
        dialogs_.onRun = [title, author](QDialog& dialog) {
            if (auto* info = qobject_cast<TfIV*>(&dialog)) info->setValues(title, author);
            return int(QDialog::Accepted);
        };
    }

    QStringList texts() const {
        QStringList all;
        for (const ShownMessage& m : dialogs_.messages) all << m.text;
        return all;
    }

  private Q_SLOTS:
    void init() { prepare("varimel-printing"); }
    void cleanup() { finish(); }

    void previewShowsThePagesAndItsPrintMakesThePdf() {
        openProject(project(test::sampleMelodyPath("twinkle"), "twinkle.vml"));
        const QString pdf = printsTo("twinkle.pdf");
        typeTitleAndAuthor("Twinkle", "Trad.");
        window_->findChild<QAction*>("tb_PrintPr")->trigger();

        QCOMPARE(dialogs_.ran, QStringList({"TfIV", "TfPrintPreview"}));
        TfPrintPreview* preview = window_->printPreview();
        QVERIFY(preview);
        QCOMPARE(preview->windowTitle(), QString("Print preview"));
        QCOMPARE(preview->pages().size(), size_t{1});
        const int dpi = screenDotsPerInch();
        QLabel* picture = preview->findChild<QLabel*>("imgPP_1");
        QVERIFY(picture);
        QCOMPARE(picture->geometry(),
                 QRect(10, 10, static_cast<int>(8.27 * dpi), static_cast<int>(11.69 * dpi)));
        QVERIFY(!preview->findChild<QLabel*>("imgPP_2"));
        // The picture holds the header and the grid at the top and the footer at the bottom,
        // with white paper between.
        const QImage image = picture->pixmap().toImage();
        QVERIFY(inkIn(image, 0, image.height() / 4) > 0.005);
        QCOMPARE(inkIn(image, image.height() / 2, image.height() / 4), 0.0);
        QVERIFY(inkIn(image, image.height() - 60, 40) > 0.001);

        // Print in the preview ran the print dialog, which chose the PDF.
        QCOMPARE(dialogs_.printDialogs, 1);
        QVERIFY(startsAsPdf(pdf));
        QCOMPARE(pdfPageCount(pdf), 1);
        QVERIFY(dialogs_.messages.empty());
    }

    void aLongPieceContinuesOnFurtherPagesOnScreenAndOnPaper() {
        test::TempMidiFile melody(longMelody(200));
        openProject(project(melody.path(), "long.vml"));
        const QString pdf = printsTo("long.pdf");

        // Print: the print dialog first, then the composition info, then the job.
        window_->findChild<QAction*>("mnFPrint")->trigger();
        QCOMPARE(dialogs_.printDialogs, 1);
        QCOMPARE(dialogs_.ran, QStringList({"TfIV"}));
        TfPrintPreview* preview = window_->printPreview();
        const int printed = static_cast<int>(preview->pages().size());
        QVERIFY(printed >= 2);
        QCOMPARE(pdfPageCount(pdf), printed);
        QCOMPARE(preview->pages().back().endBar, 200);

        // The preview stacks its pages 10 pixels apart and the wheel scrolls them.
        preview->setScreenDpi(96);
        QVERIFY(preview->render(TfPrintPreview::kPreview));
        QLabel* second = preview->findChild<QLabel*>("imgPP_2");
        QVERIFY(second);
        QCOMPARE(second->geometry().topLeft(), QPoint(10, 1122 + 20));
        preview->show();
        auto* box = preview->findChild<QScrollArea*>("scb_preview");
        QVERIFY(box->verticalScrollBar()->maximum() > 100);
        const QPointF at(50, 50);
        QWheelEvent wheel(at, box->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(box->viewport(), &wheel);
        QCOMPARE(box->verticalScrollBar()->value(), 12);

        // Cancelling the print dialog or the composition info prints nothing.
        QFile::remove(pdf);
        dialogs_.onPrint = [](QPrinter&) { return false; };
        window_->findChild<QAction*>("tb_Print")->trigger();
        dialogs_.onRun = [](QDialog&) { return int(QDialog::Rejected); };
        printsTo("long.pdf");
        window_->findChild<QAction*>("mnFPrint")->trigger();
        QVERIFY(!QFile::exists(pdf));
    }

    void escapeOnPrintAbortsARunningJobAndDoesNothingWithoutOne() {
        test::TempMidiFile melody(longMelody(400));
        openProject(project(melody.path(), "long.vml"));
        typeTitleAndAuthor("", "");
        window_->findChild<QAction*>("mnFPrintPrev")->trigger();
        TfPrintPreview* preview = window_->printPreview();
        QVERIFY(preview->pages().size() >= 3);

        // No job: Escape on Print neither closes the preview nor says anything.
        preview->show();
        QVERIFY(QTest::qWaitForWindowExposed(preview));
        auto* print = preview->findChild<QPushButton*>("b_print");
        print->setFocus();
        QTest::keyClick(print, Qt::Key_Escape);
        QVERIFY(preview->isVisible());
        QVERIFY(dialogs_.messages.empty());

        // During a job: the first page is drawn, Escape arrives, the job ends there.
        const QString pdf = printsTo("aborted.pdf");
        dialogs_.onPrint(preview->printer());
        int pagesDrawn = 0;
        const int printDialogs = dialogs_.printDialogs;
        TfMain* window = window_.get();
        connect(preview, &TfPrintPreview::pagePrinted, preview, [&pagesDrawn, print, window](int) {
            // The window takes input between pages, but no second job while this one runs.
            window->findChild<QAction*>("mnFPrint")->trigger();
            window->findChild<QAction*>("mnFPrintPrev")->trigger();
            // Queued like a key the user presses: only the events processed between pages
            // deliver it.
            if (++pagesDrawn == 1) {
                QCoreApplication::postEvent(
                    print, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
            }
        });
        QVERIFY(!preview->printPage());
        QCOMPARE(pagesDrawn, 1);
        QCOMPARE(dialogs_.printDialogs, printDialogs);
        QCOMPARE(dialogs_.ran, QStringList({"TfIV", "TfPrintPreview"}));
        QCOMPARE(texts(), QStringList({"Printing aborted"}));
        QCOMPARE(dialogs_.messages.front().kind, model::MessageKind::Information);
        QVERIFY(!QFile::exists(pdf));
        QVERIFY(preview->isVisible());
        QVERIFY(!preview->printing());
    }

    void printPdfWithoutAWindowHarmonisesAMelodyAndNeverOverwritesTheInput() {
        const fs::path melody = dir_->path() / "twinkle.mid";
        fs::copy_file(test::sampleMelodyPath("twinkle"), melody);
        const auto inputSize = fs::file_size(melody);
        PdfPrintRequest request;
        request.input = QString::fromStdString(melody.string());
        request.output = QString::fromStdString((dir_->path() / "sheet.pdf").string());
        request.title = "Twinkle";
        // The command line's default draft harmonises a melody, unless another is named.
        int draft = -1;
        QCOMPARE(printToPdf(request, &draft), QString());
        QCOMPARE(draft, kDraftIV);
        QVERIFY(startsAsPdf(request.output));
        QCOMPARE(pdfPageCount(request.output), 1);
        request.draft = kDraftII;
        QCOMPARE(printToPdf(request, &draft), QString());
        QCOMPARE(draft, kDraftII);
        request.draft = 0;
        // A project prints the chords saved in it.
        PdfPrintRequest saved = request;
        saved.input = writeHarmonisedProject(melody, dir_->path() / "p.vml");
        saved.output = QString::fromStdString((dir_->path() / "p.pdf").string());
        QCOMPARE(printToPdf(saved, &draft), QString());
        QCOMPARE(draft, 0);
        fs::remove(dir_->path() / "p.vml");
        fs::remove(dir_->path() / "p.pdf");
        // No temporary file is left beside it.
        int files = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_->path())) ++files;
        QCOMPARE(files, 2);

        // The input named as the output is refused, and stays as it was.
        request.output = request.input;
        QVERIFY(printToPdf(request).contains("will not print over the input"));
        QCOMPARE(fs::file_size(melody), inputSize);
        // Neither a melody nor a project; a file that is missing; a folder that is missing.
        request.output = QString::fromStdString((dir_->path() / "other.pdf").string());
        request.input = QString::fromStdString((dir_->path() / "notes.txt").string());
        QVERIFY(printToPdf(request).contains("not a melody (.mid) or a project (.vml)"));
        request.input = QString::fromStdString((dir_->path() / "gone.mid").string());
        QVERIFY(printToPdf(request).contains("no such file"));
        request.input = QString::fromStdString(melody.string());
        request.output = QString::fromStdString((dir_->path() / "no" / "x.pdf").string());
        QVERIFY(printToPdf(request).startsWith("cannot write"));
        // Wrong arguments are told apart from failures.
        QCOMPARE(runPrintPdf({"--print-pdf", "only-one.pdf"}), 2);
        QCOMPARE(runPrintPdf({"--print-pdf", "a.pdf", request.input, "--colour"}), 2);
        QCOMPARE(runPrintPdf({"--print-pdf", "a.pdf", request.input, "--draft", "V"}), 2);
        QCOMPARE(runPrintPdf({"--print-pdf", request.output, request.input}), 1);
    }
};

QTEST_MAIN(PrintingTest)
#include "printing_test.moc"
