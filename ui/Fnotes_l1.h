// TfNotes_l: the document window. It owns the open document (the chord master with its
// composition, the channel table and the play range) and shows the melody as a piano roll with
// a bar ruler, a marker strip and an octave ruler, the play cursor and the loop.
#pragma once

#include <QRect>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "accompaniment/DocumentOpening.h"
#include "engine/ChannelSettings.h"
#include "engine/Status.h"
#include "playback/Tmplay.h"
#include "ui/model/NotesGeometry.h"

class QAbstractButton;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;

namespace varimel {

class TfChords;
class NotesCanvas;

// The main window's controls the notes view writes into. Any of them may be missing (tests).
struct NotesBindings {
    QLabel* noteLabel = nullptr;            // l_MelNt
    QLabel* positionLabel = nullptr;        // l_MelPos
    QAbstractButton* loopButton = nullptr;  // b_Play2
    QLineEdit* fromToEdit = nullptr;        // me_FromTo
    QLabel* fromLabel = nullptr;            // me_From
    QLabel* toLabel = nullptr;              // me_To
    // The status bar's panels 0..2.
    std::function<void(int panel, const QString& text)> statusText;
};

class TfNotes_l : public QWidget {
    Q_OBJECT

  public:
    TfNotes_l(QWidget* parent, PlayerContext& player);
    ~TfNotes_l() override;

    void bind(const NotesBindings& bindings) { bindings_ = bindings; }
    void setChordsView(TfChords* chords) { chords_ = chords; }

    // Opens the document the request names (the window's document-opening steps: load, the
    // channels' instruments, the tempo, a project's accompaniment); answers the load status.
    StatusCode openDocument(const OpeningRequest& request);
    // Builds the scale, the header and the scroll ranges after a successful load, and paints.
    void layoutDocument();

    OpenedDocument& document() { return *document_; }
    ChordMaster* chordMaster() { return document_->master.get(); }
    Composition* composition() { return document_->composition(); }
    ChannelSettings& channelSettings() { return document_->channels; }
    PlayRange& playRange() { return playRange_; }
    std::atomic<int32_t>& restartRequest() { return restartRequest_; }
    const model::NotesScale* scale() const { return scale_ ? &*scale_ : nullptr; }

    // The main window's playing flag; while set, clicks, drags and scrolling are ignored.
    void setPlaying(bool playing) { playing_ = playing; }
    bool playing() const { return playing_; }

    // Transport.
    void showPosition(int32_t tick);
    void backward();
    void forward();
    void insertMarker(int pixel);  // -1: half a beat before the cursor
    void setLoopFromEdits(bool editedFrom);
    void setLoopFromPixels(int a, int b);
    void showLoop(bool shown);
    // "Dispose Loop Points" (1) and "Delete Loop Points" (2); the Looping button calls it too.
    void loopCommand(int tag);
    bool loopShown() const { return loopShown_; }

    // "<channel> - Channel " and whether that channel's notes would pass as a melody.
    std::pair<std::string, bool> channelCaption(int channel);

    int cursorPixel() const { return cursorPixel_; }
    // Where the bar ruler begins in this window (right of the octave ruler).
    static int headerLeft();
    int horizontalOffset() const { return horizontalOffset_; }
    const model::MarkerList& markers() const { return markers_; }
    model::LoopRange loop() const { return loopRange_; }

    // Painted elements by name, in this window's coordinates ("BmpNt", "hdrcM", "pl_Mark",
    // "img_Okt", "imgXP", "imgFrom", "imgTo", "m_<n>", "Sec_<bar>"); an empty rectangle when
    // there is none.
    QRect element(const QString& name) const;
    // The pixel from the start of the piece shown at a window x.
    int pixelAtX(int x) const;
    int xOfPixel(int pixel) const;

    QScrollBar* scb_H = nullptr;
    QScrollBar* scb_V = nullptr;
    QMenu* pmnMarker = nullptr;
    QAction* pmMarker = nullptr;
    QAction* DeleteAllMark1 = nullptr;
    QAction* DisableMark1 = nullptr;
    QAction* pmLoop = nullptr;
    QAction* pmLoopDel = nullptr;
    QMenu* pmn1 = nullptr;
    QAction* pmnDMrk = nullptr;
    QTimer* Timer1 = nullptr;

  Q_SIGNALS:
    // The bar under the cursor changed (the chords window marks it).
    void barSelected(int bar);
    // The view scrolled to this many pixels from the start of the piece.
    void scrolled(int offset);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    friend class NotesCanvas;

    void scrollToPixel(int pixel);
    void centreOnMelody();
    void onHorizontalScroll(int value);
    void onAutoscroll();
    void pressAt(int pixel);
    void dragTo(int pixel, int x);
    void releaseAt(int pixel);
    void hoverAt(int x, int y);
    void showLoopTexts();
    void setStatus(int panel, const QString& text) const;
    QString positionText(int32_t tick) const;
    void markerPressed(const QString& name);
    void deleteRememberedMarker();
    void disableJumpsToggled();

    PlayerContext& player_;
    std::unique_ptr<OpenedDocument> document_;
    PlayRange playRange_;
    std::atomic<int32_t> restartRequest_{0};
    NotesBindings bindings_;
    TfChords* chords_ = nullptr;
    NotesCanvas* canvas_ = nullptr;

    std::optional<model::NotesScale> scale_;
    std::vector<int32_t> noteStarts_;  // start tick of each melody note
    bool playing_ = false;
    bool centred_ = false;      // the view was centred on the melody at a real size
    int horizontalOffset_ = 0;  // pixels
    int verticalOffset_ = 0;    // pixels
    int cursorPixel_ = 0;

    // Loop and drag.
    bool loopShown_ = false;
    model::LoopRange loopRange_;
    int dragStart_ = 0;
    int dragEnd_ = 0;
    int savedLoopStart_ = 0;
    int savedLoopEnd_ = 0;
    int dragState_ = 0;  // 0 none, 1 pressed, 2 dragging
    bool selectionVisible_ = false;
    int autoscrollStep_ = 0;  // beats per tick of Timer1

    model::MarkerList markers_;
    QString pressedMarker_;
    int markerMenuPixel_ = 0;
};

}  // namespace varimel
