#include "ui/Launcher.h"

#include <QDesktopServices>
#include <QProcess>

namespace varimel {

bool DesktopLauncher::startDetached(const QString& program, const QString& argument) {
    return QProcess::startDetached(program, {argument});
}

bool DesktopLauncher::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

}  // namespace varimel
