// TfStyle: the style dialog. Created once at start-up, it owns the style library; the main window
// shows it to choose the accompaniment's style and whether the arrangement plays with it. Each
// style is a picture of its pattern on its category's page: a left click plays it, a right click
// selects it.
#pragma once

#include <QDialog>
#include <QPointer>
#include <array>
#include <string>
#include <vector>

#include "accompaniment/Tstylemaster.h"
#include "ui/PreviewThread.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QTabWidget;
class QTimer;

namespace varimel {

class DialogProvider;
class HelpSink;
class Launcher;
class PlayerContext;
class StylePictureView;

class TfStyle : public QDialog {
    Q_OBJECT
  public:
    TfStyle(const QString& styleDir, const QString& importTool, HelpSink& help, QWidget* parent);
    // Waits for a preview that still plays.
    ~TfStyle() override;

    StyleLibrary& library() { return library_; }
    const QString& importTool() const { return importTool_; }

    // The boxes, the import launcher and the player of previews (null: nothing is played). The
    // player must outlive the dialog, or `waitForPreview` must be called before it goes.
    void setServices(DialogProvider* dialogs, Launcher* launcher, PlayerContext* player);

    // The meter fitness is judged against; 4/4 at creation.
    void setMeter(int numerator, int denominator);
    int meterNumerator() const { return meterNum_; }
    int meterDenominator() const { return meterDen_; }

    // Import and Reload are offered only when the import tool exists.
    void setImportVisible(bool visible);
    bool arrangementEnabled() const;
    void setArrangementEnabled(bool enabled);

    // The selected style, as the library keeps it (-1 and null for none).
    struct Selection {
        StyleId id = kNoStyle;
        const Style* style = nullptr;
        std::string name;
    };
    Selection selection() const;

    // Pictures of the pages as built at the last show, for the main window's tests and ours.
    StylePictureView* picture(StyleId id) const;
    bool previewPlaying() const { return playing_; }
    void waitForPreview();

  public Q_SLOTS:
    void b_HelpClick();
    void b_CancelClick();
    void b_ImportClick();
    void b_ReloadClick();
    void clickSITimerTimer();
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void FormShow();
    void buildPage(int category);
    void clearPages();
    void pictureMouseDown(StylePictureView* view, Qt::MouseButton button);
    void select(StylePictureView* view);
    void previewEnded(bool played);
    bool fits(const Style& style) const;
    // The outline a picture has when nothing is pending: green when selected.
    void restoreOutline(StylePictureView* view);
    void stabilize();

    QTabWidget* PageControl1;
    std::array<QWidget*, 3> pages_{};
    std::array<QScrollArea*, 3> scrollBoxes_{};
    QLabel* l_Help;
    QCheckBox* cb_ArngOn;
    QPushButton* b_Ok;
    QPushButton* b_Cancel;
    QPushButton* b_Help;
    QPushButton* b_Import;
    QPushButton* b_Reload;
    QTimer* clickSITimer;

    HelpSink& help_;
    DialogProvider* dialogs_ = nullptr;
    Launcher* launcher_ = nullptr;
    PlayerContext* player_ = nullptr;
    StyleLibrary library_;
    QString importTool_;
    int meterNum_ = 4;
    int meterDen_ = 4;

    std::vector<StylePictureView*> pictures_;
    QPointer<StylePictureView> pending_;
    bool playing_ = false;
    PreviewThread previewThread_;
    // Taken at show time for Cancel.
    StyleId snapshotId_ = kNoStyle;
    bool snapshotArrangement_ = false;
};

}  // namespace varimel
