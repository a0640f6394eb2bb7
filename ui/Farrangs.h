// TfArrang: the arrangement dialog. Created once at start-up, it owns the arrangement library, so
// the library is read before the dialog is first shown. It lists the library's groups by meter:
// a left click loads an arrangement and plays it, a right or double click selects one of the
// piece's meter.
#pragma once

#include <QDialog>
#include <QPointer>
#include <vector>

#include "accompaniment/Tarangsmaster.h"
#include "ui/PreviewThread.h"

class QLabel;
class QPushButton;
class QScrollArea;

namespace varimel {

class DialogProvider;
class HelpSink;
class PlayerContext;

class TfArrang : public QDialog {
    Q_OBJECT
  public:
    TfArrang(const QString& arrangementDir, const QString& importTool, HelpSink& help,
             QWidget* parent);
    // Waits for a preview that still plays.
    ~TfArrang() override;

    ArrangementLibrary& library() { return library_; }
    const QString& importTool() const { return importTool_; }

    void setImportVisible(bool visible);
    // The boxes and the player of previews (null: nothing is played). The player must outlive
    // the dialog, or `waitForPreview` must be called before it goes.
    void setServices(DialogProvider* dialogs, PlayerContext* player);
    bool previewPlaying() const { return playing_; }
    void waitForPreview();
    // The arrangement the user selected, -1 for none.
    ArrangementId selectedId() const { return selectedId_; }
    // Whether the main window applied an arrangement chosen here; cleared when a document closes.
    bool arrangementApplied() const { return applied_; }
    void setArrangementApplied(bool applied) { applied_ = applied; }
    // The composition's arrangement, with the library's meter already the piece's: the dialog
    // opens with it selected (Auto when the piece has none and no group has its meter), and
    // closing without OK makes it the library's current one again after left clicks.
    void setCompositionArrangement(ArrangementId id);

    // The row texts as built at the last show, by name ("mi_0_1", "lmg_0", "ma_3_0").
    QLabel* rowText(const QString& name) const;

  public Q_SLOTS:
    void b_HelpClick();
    void b_ReloadClick();
    void b_ImportClick();
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormShow();
    void buildRows();
    void clearRows();
    void arrangementMouseDown(QLabel* text, Qt::MouseButton button);
    void playCurrent();
    // Closing and the buttons wait while a preview plays.
    void setPlaying(bool playing);

    QLabel* StaticText1;
    QLabel* StaticText2;
    QScrollArea* sb_1;
    QLabel* l_Help;
    QPushButton* b_Ok;
    QPushButton* b_Cancel;
    QPushButton* b_Help;
    QPushButton* b_Import;
    QPushButton* b_Reload;

    HelpSink& help_;
    DialogProvider* dialogs_ = nullptr;
    PlayerContext* player_ = nullptr;
    ArrangementLibrary library_;
    QString importTool_;
    ArrangementId selectedId_ = -1;
    ArrangementId shownSelectedId_ = -1;
    ArrangementId compositionArrangement_ = -1;
    bool applied_ = false;
    std::vector<QLabel*> texts_;
    QPointer<QLabel> highlighted_;
    bool playing_ = false;
    PreviewThread previewThread_;
};

}  // namespace varimel
