// varimel: the window. Starts the application with the real dialogs, desktop launcher, help
// window and random source; with --print-pdf it prints a chord sheet without a window.
#include <QApplication>
#include <cstring>

#include "ui/Application.h"
#include "ui/DialogProvider.h"
#include "ui/HelpWindow.h"
#include "ui/Launcher.h"
#include "ui/PdfPrint.h"
#include "ui/model/Random.h"

int main(int argc, char* argv[]) {
    const bool printPdf = argc > 1 && std::strcmp(argv[1], varimel::kPrintPdfOption) == 0;
    // Printing needs fonts but no display.
    if (printPdf) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (printPdf) return varimel::runPrintPdf(QApplication::arguments().mid(1));
    varimel::QtDialogProvider dialogs;
    varimel::DesktopLauncher launcher;
    varimel::HelpWindow help;
    varimel::model::SeededRandom random;
    const varimel::MainServices services{&dialogs, &launcher, &help, &random};
    return varimel::runVarimel(app, QApplication::arguments().mid(1), services);
}
