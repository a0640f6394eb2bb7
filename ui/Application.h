// Application: the program's entry steps — the application's names, the command-line tail, the
// main window, the message loop — with the seams passed in, so that tests run it too.
#pragma once

#include <QStringList>

#include "ui/Fmain.h"

class QApplication;

namespace varimel {

// The arguments after the program name. "--screenshot FILE" saves a picture of the shown window
// and ends the program; everything else is the command-line tail. Answers the exit code: 1 when
// start-up failed, without entering the message loop.
int runVarimel(QApplication& app, const QStringList& arguments, const MainServices& services);

}  // namespace varimel
