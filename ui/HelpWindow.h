// HelpWindow: the manual — our own HTML pages shown in a browser window, opened on a topic.
#pragma once

#include <QPointer>
#include <QWidget>

#include "ui/Launcher.h"

class QTextBrowser;
class QToolButton;

namespace varimel {

class HelpWindow : public QWidget, public HelpSink {
    Q_OBJECT
  public:
    explicit HelpWindow(QWidget* parent = nullptr);
    ~HelpWindow() override;

    void setHelpPath(const QString& helpPath) override { helpPath_ = helpPath; }
    // Opens the page of the topic (0: the contents) and brings the window up, above a modal
    // dialog that asked for it.
    void showHelp(int topic) override;
    QTextBrowser* browser() const { return helpBrowser; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // A modal dialog blocks every window but its own: while one is open the help is its window.
    void followModalDialog();
    void leaveDialog();
    void fitToScreen();

    QTextBrowser* helpBrowser;
    QToolButton* b_HelpBack;
    QToolButton* b_HelpForward;
    QToolButton* b_HelpHome;
    QString helpPath_;
    QPointer<QWidget> dialog_;  // the modal dialog the window belongs to for now
    bool open_ = false;         // shown by the user and not closed since
    bool placed_ = false;
};

}  // namespace varimel
