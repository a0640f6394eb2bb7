#include "ui/Application.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <exception>
#include <string>
#include <vector>

#include "ui/DialogProvider.h"
#include "ui/model/Startup.h"

namespace varimel {

namespace {
constexpr const char* kScreenshotOption = "--screenshot";
// Time for the window manager and the first paints before the picture is taken.
constexpr int kScreenshotDelayMs = 700;
}  // namespace

int runVarimel(QApplication& app, const QStringList& arguments, const MainServices& services) {
    QApplication::setApplicationName(QString::fromUtf8(model::kApplicationName.data()));
    QApplication::setApplicationDisplayName(QString::fromUtf8(model::kApplicationName.data()));

    QString screenshotFile;
    std::vector<std::string> tailArguments;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String(kScreenshotOption) && i + 1 < arguments.size()) {
            screenshotFile = arguments[++i];
            continue;
        }
        tailArguments.push_back(QFile::encodeName(arguments[i]).toStdString());
    }
    const QString tail = QFile::decodeName(QByteArray::fromStdString(model::commandLineTail(
        tailArguments, QFile::encodeName(QDir::currentPath()).toStdString())));

    try {
        TfMain window(services, tail);
        if (!window.started()) return 1;
        window.showAsPlaced();
        if (!screenshotFile.isEmpty()) {
            QTimer::singleShot(kScreenshotDelayMs, &window, [&window, &app, screenshotFile] {
                const bool saved = window.grab().save(screenshotFile, "PNG");
                app.exit(saved ? 0 : 2);
            });
        }
        return app.exec();
    } catch (const std::exception& error) {
        services.dialogs->error(nullptr, QString::fromStdString(error.what()));
        return 1;
    }
}

}  // namespace varimel
