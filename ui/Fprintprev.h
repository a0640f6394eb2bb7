// TfPrintPreview: the chord sheet's pages as pictures at screen resolution, and the print job that
// draws the same pages on the printer one at a time, so that Escape can abort it between pages.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <vector>

#include "ui/model/PrintLayout.h"

class QLabel;
class QPainter;
class QPrinter;
class QPushButton;
class QScrollArea;

namespace varimel {

class Composition;
class DialogProvider;

class TfPrintPreview : public QDialog {
    Q_OBJECT
  public:
    enum Target { kPreview = 0, kPrinter = 1 };

    TfPrintPreview(QWidget* parent, DialogProvider& dialogs);
    ~TfPrintPreview() override;

    // The state the main window gives before use: the document, the typed title and author
    // (empty ones print "none").
    void setDocument(const QString& fileName, const Composition* composition);
    void setTexts(const QString& title, const QString& author);
    // The screen's dots per inch the layout scales from; the screen's own unless set.
    void setScreenDpi(int dpi) { screenDpi_ = dpi; }
    QPrinter& printer() { return *printer_; }

    // Draws the pages on the preview pictures "imgPP_"n, or on the printer of a running job.
    // False when there is nothing to draw on, or the job was aborted.
    bool render(Target target);
    // Starts a print job, renders on the printer, ends the job. False when it could not start or
    // was aborted.
    bool printPage();
    bool printing() const { return job_ != nullptr; }
    // The pages of the last render.
    const std::vector<model::PrintPage>& pages() const { return pages_; }
    QLabel* pagePicture(int number) const;

  Q_SIGNALS:
    // A printer page is drawn; pending events are processed right after.
    void pagePrinted(int number);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;  // FormMouseWheel
    void showEvent(QShowEvent* event) override;

  private:
    model::PrintSheet sheet() const;
    void clearPictures();
    void b_printKeyDown(QKeyEvent* event);
    void scrollByWheel(QWheelEvent* event);

    DialogProvider& dialogs_;
    std::unique_ptr<QPrinter> printer_;
    std::unique_ptr<QPainter> job_;  // while a print job runs
    bool abortRequested_ = false;
    QString fileName_;
    const Composition* composition_ = nullptr;
    QString title_;
    QString author_;
    int screenDpi_ = 0;
    std::vector<model::PrintPage> pages_;

    QWidget* ControlBar1;
    QPushButton* b_print;
    QPushButton* b_No;
    QScrollArea* scb_preview;
    QWidget* pictures_;
};

}  // namespace varimel
