// TfPatchs: the instruments tool window — the five played channels with their instrument, mute,
// solo and volume, edited in the document's channel settings while the music plays.
#pragma once

#include <QWidget>
#include <functional>

#include "engine/ChannelSettings.h"

class QAbstractButton;
class QAbstractSlider;
class QComboBox;
class QLineEdit;
class QStatusBar;
class QTableWidget;
class QToolButton;

namespace varimel {

class PlayerContext;
namespace model {
class InstrumentNames;
}

class TfPatchs : public QWidget {
    Q_OBJECT
  public:
    // The main window's controls the dialog keeps in step; any may be null.
    struct MainControls {
        QAbstractButton* melodyMute = nullptr;
        QAbstractButton* accompanimentMute = nullptr;
        QAbstractSlider* melodyVolume = nullptr;
        QAbstractSlider* accompanimentVolume = nullptr;
        QAbstractButton* toolButton = nullptr;  // "Instruments ..."
    };

    TfPatchs(PlayerContext& player, QWidget* parent);

    void setMainControls(const MainControls& controls) { main_ = controls; }
    // An instrument chosen for a channel: the main window stores and sends the program.
    std::function<void(int channel, int program)> onPatchChosen;
    // After the dialog wrote a main-window volume slider (channel 0 or 1): the main window runs
    // that slider's handler.
    std::function<void(int channel)> onVolumeSliderWritten;

    // Fills the chooser and the grid from the document's settings and shows the window.
    void showFor(ChannelSettings& settings, const model::InstrumentNames& names);
    // Another channel table takes the place of the one shown: the document that owned it is
    // closing, or another one opened. The grid shows the new values at once; `documentName`
    // (empty without a document) goes into the caption.
    void rebind(ChannelSettings& settings, const QString& documentName);
    // The caption names the document, also after Save As gave it another name.
    void showDocumentName(const QString& documentName);
    const ChannelSettings* channelSettings() const { return settings_; }
    // Top level with the panel's top, right edge with the panel's right edge (global pixels).
    void placeBeside(const QRect& panel);

    // Writes from the main window, by channel; channels the grid does not show are ignored.
    void showChannelName(int channel, const QString& name);
    void showChannelMute(int channel, bool muted);
    void showChannelVolume(int channel, int volume);

    // The row whose editor is open, 0 for none.
    int editedRow() const { return editedRow_; }

  public Q_SLOTS:
    void sg_ChPsSelectCell(int row, int column);
    void sg_ChPsMouseMove(int row);
    void cb_PatchsChange(int index);
    void me_volChange(const QString& text);

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void fillGrid();
    void setCell(int row, int column, const QString& text);
    void hideEditors();
    void placeEditor(QWidget* editor, int row, int column, int width);
    void stepVolume(int step);
    // The main window's mute button and slider for channels 0 and 1 (null otherwise).
    QAbstractButton* muteButton(int channel) const;
    QAbstractSlider* volumeSlider(int channel) const;
    void setMainMute(int channel, bool down);

    QTableWidget* sg_ChPs;
    QComboBox* cb_Patchs;
    QLineEdit* me_vol;
    QWidget* ud_vol;
    QToolButton* volUp_;
    QToolButton* volDown_;
    QStatusBar* StatusBar1;

    PlayerContext& player_;
    ChannelSettings* settings_ = nullptr;
    const model::InstrumentNames* names_ = nullptr;
    MainControls main_;
    int editedRow_ = 0;
};

}  // namespace varimel
