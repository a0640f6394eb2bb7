// TfChords: the chords grid. One column per bar, lined up with the bars of the notes view, with
// the chord applied to the bar, its candidate chords and a list of further chords. The left
// button sounds a chord while held; the right button applies a candidate or mutes the bar.
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "engine/ChordCode.h"
#include "ui/model/ChordEdit.h"
#include "ui/model/ChordsGridLayout.h"

class QLabel;
class QListWidget;
class QPixmap;

namespace varimel {
class Composition;
class PlayerContext;
}  // namespace varimel

namespace varimel::model {
class NotesScale;
}

namespace varimel {

class ChordsCanvas;

struct ChordsBindings {
    QLabel* chordNameLabel = nullptr;   // l_ChrName
    QLabel* chordNotesLabel = nullptr;  // l_ChrNotes
    // Called when a change marks the document changed (the main window enables Save).
    std::function<void()> changed;
    // The main window's playing test: nothing changes while it answers true.
    std::function<bool()> playing;
    // Where chord changes go (the undo stack, which applies them through applyEdit); without
    // it the grid applies them itself.
    std::function<void(const model::ChordEdit&)> edit;
};

class TfChords : public QWidget {
    Q_OBJECT

  public:
    static const QColor kTextColour;
    static const QColor kBackground;
    static const QColor kSelectedColour;
    static const QColor kMutedColour;
    static const QColor kPlayingBackground;
    static const QColor kPanelColour;

    TfChords(QWidget* parent, PlayerContext& player);
    ~TfChords() override;

    void bind(const ChordsBindings& bindings) { bindings_ = bindings; }

    // Shows the chord track of `composition` bar by bar, with the columns of `scale`.
    void createGrid(Composition& composition, const model::NotesScale& scale);
    void clearGrid();
    bool hasGrid() const { return composition_ != nullptr; }
    void markPlayingBar(int bar);
    // Puts a chord change into the chord track (or takes it back) and shows it.
    void applyEdit(const model::ChordEdit& edit, bool forward);
    void setHorizontalOffset(int pixels);
    // The x in this window where bar 0's column begins (under the notes view's bar ruler).
    void setHeaderLeft(int x);
    void hideList();

    // Elements by name ("AChr_12", "Chr_12_2", "NCChr_12", "SCChr_12"), in this window's
    // coordinates; empty when there is none.
    QRect element(const QString& name) const;
    QString elementText(const QString& name) const;
    QColor elementColour(const QString& name) const;
    int elementCount() const { return static_cast<int>(elements_.size()); }
    int playingBar() const { return playingBar_; }
    // The key chord names are spelled for: the piece's.
    KeyIndex spellingKey() const;

    QWidget* p_wChr = nullptr;
    QListWidget* cb_CustChr = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    friend class ChordsCanvas;

    // The clipping area at the header's left edge, the canvas in it shifted by the offset.
    void placeCanvas();

    // What the grid shows of one bar.
    struct Column {
        model::BarCandidates candidates;
        int selected = 0;  // the candidate index shown blue, 0 none
        int appliedIndex = model::kNoIndex;
        QString otherText = " Other";
        int otherIndex = model::kNoIndex;
        size_t firstElement = 0;  // index into elements_
    };

    const model::GridElement* elementAt(const QPoint& point) const;
    const model::GridElement* findElement(const QString& name) const;
    ChordCode chordOf(const model::GridElement& element) const;
    ChordCode appliedChord(int bar) const;
    bool appliedMuted(int bar) const;
    bool changesRefused() const;

    void press(const model::GridElement& element);
    void release();
    void rightClick(const model::GridElement& element);
    void refreshColumn(int bar);
    void updateColumn(int bar);
    void submit(int bar, ChordCode chord, uint8_t enabled);
    void selectCandidate(int bar, int index);
    void toggleMute(int bar);
    void toggleList(int bar);
    void applyListChoice(int row);
    void hover(const model::GridElement* element);
    void commit();
    void showChordInLabels(ChordCode chord);
    const QPixmap& chordPicture(ChordCode chord);

    PlayerContext& player_;
    Composition* composition_ = nullptr;
    int dismissedBar_ = -1;  // the list of this bar was closed by the press being delivered
    ChordsBindings bindings_;
    ChordsCanvas* canvas_ = nullptr;
    QWidget* gridArea_ = nullptr;  // clips the canvas at headerLeft_
    std::vector<Column> columns_;
    std::vector<model::GridElement> elements_;
    int offset_ = 0;
    int headerLeft_ = 0;
    int width_ = 0;
    int playingBar_ = -1;
    int lastHoverTag_ = -1;
    int listBar_ = -1;
    std::optional<ChordCode> sounding_;  // the chord a press sounded, until its release
    std::array<std::optional<QPixmap>, 24> pictures_;
};

}  // namespace varimel
