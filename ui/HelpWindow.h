// HelpWindow: the manual — our own HTML pages shown in a browser window, opened on a topic.
#pragma once

#include <QWidget>

#include "ui/Launcher.h"

class QTextBrowser;

namespace varimel {

class HelpWindow : public QWidget, public HelpSink {
    Q_OBJECT
  public:
    explicit HelpWindow(QWidget* parent = nullptr);

    void setHelpPath(const QString& helpPath) override { helpPath_ = helpPath; }
    // Opens the page of the topic (0: the contents) and brings the window up.
    void showHelp(int topic) override;
    QTextBrowser* browser() const { return helpBrowser; }

  private:
    QTextBrowser* helpBrowser;
    QString helpPath_;
};

}  // namespace varimel
