#include "ui/Launcher.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>

namespace varimel {

namespace {

// The desktop's opener starts even where no browser is set up, and then shows nothing; a web
// address is only handed over when something will show it.
bool hasWebBrowser() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (!qEnvironmentVariableIsEmpty("BROWSER")) return true;
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) return false;
    QProcess query;
    query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                             QStringLiteral("x-scheme-handler/https")});
    if (!query.waitForFinished(2000)) return false;
    return !query.readAllStandardOutput().trimmed().isEmpty();
#else
    return true;
#endif
}

}  // namespace

bool DesktopLauncher::startDetached(const QString& program, const QString& argument) {
    return QProcess::startDetached(program, {argument});
}

bool DesktopLauncher::openUrl(const QUrl& url) {
    const bool web =
        url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    if (web && !hasWebBrowser()) return false;
    return QDesktopServices::openUrl(url);
}

}  // namespace varimel
