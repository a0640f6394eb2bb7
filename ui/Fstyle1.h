// TfStyle: the style dialog. Created once at start-up, it owns the style library; the main window
// shows it to choose the accompaniment's style and whether the arrangement plays with it.
#pragma once

#include <QDialog>
#include <array>

#include "accompaniment/Tstylemaster.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QTabWidget;
class QTimer;

namespace varimel {

class HelpSink;

class TfStyle : public QDialog {
    Q_OBJECT
  public:
    TfStyle(const QString& styleDir, const QString& importTool, HelpSink& help, QWidget* parent);

    StyleLibrary& library() { return library_; }
    const QString& importTool() const { return importTool_; }

    // The meter fitness is judged against; 4/4 at creation.
    void setMeter(int numerator, int denominator);
    int meterNumerator() const { return meterNum_; }
    int meterDenominator() const { return meterDen_; }

    // Import and Reload are offered only when the import tool exists.
    void setImportVisible(bool visible);
    bool arrangementEnabled() const;
    void setArrangementEnabled(bool enabled);

  public Q_SLOTS:
    void b_HelpClick();

  private:
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
    StyleLibrary library_;
    QString importTool_;
    int meterNum_ = 4;
    int meterDen_ = 4;
};

}  // namespace varimel
