// Launcher: starts another program with one argument without waiting, and opens web addresses
// with the desktop's opener; tests replace it.
#pragma once

#include <QString>
#include <QUrl>

namespace varimel {

class Launcher {
  public:
    virtual ~Launcher() = default;
    virtual bool startDetached(const QString& program, const QString& argument) = 0;
    virtual bool openUrl(const QUrl& url) = 0;
};

class DesktopLauncher final : public Launcher {
  public:
    bool startDetached(const QString& program, const QString& argument) override;
    bool openUrl(const QUrl& url) override;
};

// Receives the help requests of the window layer: a topic number, 0 for the contents.
class HelpSink {
  public:
    virtual ~HelpSink() = default;
    // The folder of the pages, with a trailing separator.
    virtual void setHelpPath(const QString& helpPath) = 0;
    virtual void showHelp(int topic) = 0;
};

}  // namespace varimel
