// varimel: the window. Starts the application with the real dialogs, desktop launcher, help
// window and random source.
#include <QApplication>

#include "ui/Application.h"
#include "ui/DialogProvider.h"
#include "ui/HelpWindow.h"
#include "ui/Launcher.h"
#include "ui/model/Random.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    varimel::QtDialogProvider dialogs;
    varimel::DesktopLauncher launcher;
    varimel::HelpWindow help;
    varimel::model::SeededRandom random;
    const varimel::MainServices services{&dialogs, &launcher, &help, &random};
    return varimel::runVarimel(app, QApplication::arguments().mid(1), services);
}
