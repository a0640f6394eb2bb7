// TfArrang: the arrangement dialog. Created once at start-up, it owns the arrangement library, so
// the library is read before the dialog is first shown.
#pragma once

#include <QDialog>

#include "accompaniment/Tarangsmaster.h"

class QLabel;
class QPushButton;
class QScrollArea;

namespace varimel {

class HelpSink;

class TfArrang : public QDialog {
    Q_OBJECT
  public:
    TfArrang(const QString& arrangementDir, const QString& importTool, HelpSink& help,
             QWidget* parent);

    ArrangementLibrary& library() { return library_; }
    const QString& importTool() const { return importTool_; }

    void setImportVisible(bool visible);
    // The arrangement the user selected, -1 for none.
    ArrangementId selectedId() const { return selectedId_; }
    // Whether the main window applied an arrangement chosen here; cleared when a document closes.
    bool arrangementApplied() const { return applied_; }
    void setArrangementApplied(bool applied) { applied_ = applied; }

  public Q_SLOTS:
    void b_HelpClick();
    void b_ReloadClick();

  private:
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
    ArrangementLibrary library_;
    QString importTool_;
    ArrangementId selectedId_ = -1;
    bool applied_ = false;
};

}  // namespace varimel
