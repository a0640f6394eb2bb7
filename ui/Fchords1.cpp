#include "ui/Fchords1.h"

#include <QApplication>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QToolTip>
#include <algorithm>

#include "engine/Apperr.h"
#include "engine/Tonality.h"
#include "playback/Tmplay.h"
#include "ui/model/NotesGeometry.h"

namespace varimel {

const QColor TfChords::kTextColour(35, 71, 71);
const QColor TfChords::kBackground(218, 204, 188);
const QColor TfChords::kSelectedColour(0, 0, 255);
const QColor TfChords::kMutedColour(128, 128, 128);
const QColor TfChords::kPlayingBackground(10, 201, 163);
const QColor TfChords::kPanelColour(232, 224, 206);

namespace {

constexpr int kPictureSize = 33;
constexpr int kNoteOn = 0x91;
constexpr int kNoteOff = 0x81;
const char* const kCandidateHint = "Play - Left click \n\rSelect - Right click";
const char* const kAppliedHint = "Play - Left click \n\rMute - Right click";
const char* const kMuted = "muted";
const char* const kNoChordText = "  -   ";

QString name(ChordCode chord, KeyIndex pieceKey) {
    return QString::fromStdString(chordName(chord, pieceKey));
}

// Element names end in the bar ("AChr_12", "Chr_12_2").
int barOfElement(const model::GridElement& element) {
    const size_t underscore = element.name.find('_');
    return std::stoi(element.name.substr(underscore + 1));
}

}  // namespace

// The painted panel holding every column.
class ChordsCanvas : public QWidget {
  public:
    explicit ChordsCanvas(TfChords& grid) : QWidget(&grid), grid_(grid) {
        setObjectName("p_wChr");
        setMouseTracking(true);
        setAutoFillBackground(false);
    }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override {
        const model::GridElement* element = grid_.elementAt(event->position().toPoint());
        if (!element) return;
        if (event->button() == Qt::LeftButton) {
            if (element->kind == model::GridElementKind::ListButton) {
                grid_.toggleList(barOfElement(*element));
            } else {
                grid_.press(*element);
            }
        } else if (event->button() == Qt::RightButton) {
            grid_.rightClick(*element);
        }
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) grid_.release();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        grid_.hover(grid_.elementAt(event->position().toPoint()));
    }
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ToolTip) {
            auto* help = static_cast<QHelpEvent*>(event);
            const model::GridElement* element = grid_.elementAt(help->pos());
            if (element && element->kind != model::GridElementKind::ListButton) {
                const char* hint = element->kind == model::GridElementKind::Applied
                                       ? kAppliedHint
                                       : kCandidateHint;
                QToolTip::showText(help->globalPos(), QString(hint).replace("\n\r", "\n"), this);
            } else {
                QToolTip::hideText();
            }
            return true;
        }
        return QWidget::event(event);
    }

  private:
    TfChords& grid_;
};

TfChords::TfChords(QWidget* parent, PlayerContext& player) : QWidget(parent), player_(player) {
    setObjectName("TfChords");
    setWindowTitle("Chords");
    // The grid scrolls inside an area that starts at the bar header's left edge, so that a
    // scrolled grid never shows through the margin beside it.
    gridArea_ = new QWidget(this);
    gridArea_->setObjectName("gridArea");
    canvas_ = new ChordsCanvas(*this);
    canvas_->setParent(gridArea_);
    p_wChr = canvas_;
    p_wChr->hide();
    cb_CustChr = new QListWidget(this);
    cb_CustChr->setObjectName("cb_CustChr");
    cb_CustChr->hide();
    cb_CustChr->setMouseTracking(true);
    QPalette palette = cb_CustChr->palette();
    palette.setColor(QPalette::Text, QColor(0, 0, 0x80));
    cb_CustChr->setPalette(palette);
    connect(cb_CustChr, &QListWidget::itemEntered, this, [this](QListWidgetItem* item) {
        const int row = cb_CustChr->row(item);
        if (row <= 0 || listBar_ < 0) {
            showChordInLabels(kNoChord);
        } else {
            showChordInLabels(columns_[static_cast<size_t>(listBar_)].candidates.lookup(-row));
        }
    });
    cb_CustChr->installEventFilter(this);
    cb_CustChr->viewport()->installEventFilter(this);
}

TfChords::~TfChords() {
    release();
}

bool TfChords::changesRefused() const {
    return bindings_.playing && bindings_.playing();
}

// --- Building -------------------------------------------------------------------------------

void TfChords::createGrid(Composition& composition, const model::NotesScale& scale) {
    clearGrid();
    composition_ = &composition;
    // The pictures spell their roots for the piece's key.
    pictures_ = {};
    const int bars = static_cast<int>(
        std::min<size_t>(composition.chordTrack.size(), static_cast<size_t>(scale.barCount())));
    columns_.resize(static_cast<size_t>(bars));
    elements_.reserve(static_cast<size_t>(bars) * 6);
    for (int bar = 0; bar < bars; ++bar) {
        Column& column = columns_[static_cast<size_t>(bar)];
        if (static_cast<size_t>(bar) < composition.slots.size()) {
            column.candidates = model::barCandidates(composition.slots[static_cast<size_t>(bar)]);
        }
        column.firstElement = elements_.size();
        const auto made = model::columnElements(bar, scale.sectionLeft(bar),
                                                scale.sectionWidth(bar), column.candidates.buttons);
        elements_.insert(elements_.end(), made.begin(), made.end());
        refreshColumn(bar);
    }
    width_ = scale.sectionLeft(bars);
    placeCanvas();
    p_wChr->show();
    p_wChr->update();
}

void TfChords::clearGrid() {
    release();
    hideList();
    columns_.clear();
    elements_.clear();
    composition_ = nullptr;
    playingBar_ = -1;
    lastHoverTag_ = -1;
    p_wChr->hide();
}

void TfChords::setHorizontalOffset(int pixels) {
    offset_ = pixels;
    hideList();
    placeCanvas();
}

void TfChords::setHeaderLeft(int x) {
    headerLeft_ = x;
    placeCanvas();
}

void TfChords::resizeEvent(QResizeEvent*) {
    placeCanvas();
}

void TfChords::placeCanvas() {
    gridArea_->setGeometry(headerLeft_, 0, std::max(width() - headerLeft_, 0), height());
    p_wChr->setGeometry(-offset_, 0, std::max(width_, 1), height());
}

void TfChords::hideEvent(QHideEvent* event) {
    release();
    QWidget::hideEvent(event);
}

void TfChords::markPlayingBar(int bar) {
    if (bar == playingBar_) return;
    playingBar_ = bar;
    p_wChr->update();
}

// --- Lookup ---------------------------------------------------------------------------------

const model::GridElement* TfChords::elementAt(const QPoint& point) const {
    // Columns are ordered by x: find the column under the point, then its elements.
    const auto column = std::upper_bound(
        columns_.begin(), columns_.end(), point.x(),
        [this](int x, const Column& c) { return x < elements_[c.firstElement].rect.x; });
    if (column == columns_.begin()) return nullptr;
    const Column& c = *(column - 1);
    const size_t end = (column == columns_.end()) ? elements_.size() : column->firstElement;
    for (size_t i = c.firstElement; i < end; ++i) {
        if (elements_[i].rect.contains(point.x(), point.y())) return &elements_[i];
    }
    // The list button of the previous column may stand right of its own column.
    if (column - 1 != columns_.begin()) {
        const Column& before = *(column - 2);
        for (size_t i = before.firstElement; i < c.firstElement; ++i) {
            if (elements_[i].rect.contains(point.x(), point.y())) return &elements_[i];
        }
    }
    return nullptr;
}

const model::GridElement* TfChords::findElement(const QString& elementName) const {
    const int underscore = elementName.indexOf('_');
    if (underscore < 0) return nullptr;
    const int bar = elementName.mid(underscore + 1).section('_', 0, 0).toInt();
    if (bar < 0 || bar >= static_cast<int>(columns_.size())) return nullptr;
    const size_t first = columns_[static_cast<size_t>(bar)].firstElement;
    const size_t end = static_cast<size_t>(bar) + 1 < columns_.size()
                           ? columns_[static_cast<size_t>(bar) + 1].firstElement
                           : elements_.size();
    const std::string wanted = elementName.toStdString();
    for (size_t i = first; i < end; ++i) {
        if (elements_[i].name == wanted) return &elements_[i];
    }
    return nullptr;
}

QRect TfChords::element(const QString& elementName) const {
    const model::GridElement* e = findElement(elementName);
    if (!e) return {};
    return QRect(e->rect.x + headerLeft_ - offset_, e->rect.y, e->rect.width, e->rect.height);
}

ChordCode TfChords::appliedChord(int bar) const {
    return composition_->chordTrack[static_cast<size_t>(bar)].chord;
}

bool TfChords::appliedMuted(int bar) const {
    return composition_->chordTrack[static_cast<size_t>(bar)].enabled == 0;
}

ChordCode TfChords::chordOf(const model::GridElement& element) const {
    const int bar = barOfElement(element);
    const Column& column = columns_[static_cast<size_t>(bar)];
    switch (element.kind) {
        case model::GridElementKind::Applied:
            return appliedMuted(bar) ? kNoChord : appliedChord(bar);
        case model::GridElementKind::Candidate:
            return column.candidates.chordOfIndex(element.index);
        case model::GridElementKind::Other:
            return column.candidates.chordOfIndex(column.otherIndex);
        case model::GridElementKind::ListButton:
            return kNoChord;
    }
    return kNoChord;
}

KeyIndex TfChords::spellingKey() const {
    return composition_ ? composition_->pieceKey() : kNoKey;
}

QString TfChords::elementText(const QString& elementName) const {
    const model::GridElement* e = findElement(elementName);
    if (!e) return {};
    const int bar = barOfElement(*e);
    const Column& column = columns_[static_cast<size_t>(bar)];
    switch (e->kind) {
        case model::GridElementKind::Applied:
            if (appliedMuted(bar)) return kMuted;
            return appliedChord(bar) == kNoChord ? QString(kNoChordText)
                                                 : name(appliedChord(bar), spellingKey());
        case model::GridElementKind::Candidate:
            return QString::fromStdString(model::candidateCaption(
                column.candidates.chordOfIndex(e->index), e->rect.width <= 41, spellingKey()));
        case model::GridElementKind::Other:
            return column.otherText;
        case model::GridElementKind::ListButton:
            return {};
    }
    return {};
}

QColor TfChords::elementColour(const QString& elementName) const {
    const model::GridElement* e = findElement(elementName);
    if (!e) return {};
    const int bar = barOfElement(*e);
    if (e->kind == model::GridElementKind::Applied && appliedMuted(bar)) return kMutedColour;
    if (e->kind == model::GridElementKind::Candidate &&
        columns_[static_cast<size_t>(bar)].selected == e->index) {
        return kSelectedColour;
    }
    return kTextColour;
}

// --- Sounding -------------------------------------------------------------------------------

void TfChords::press(const model::GridElement& element) {
    release();
    const ChordCode chord = chordOf(element);
    if (chord == kNoChord) return;
    player_.playChord(chord, kNoteOn);
    sounding_ = chord;
}

void TfChords::release() {
    // Silences exactly what the press sounded, whatever changed in between.
    if (!sounding_) return;
    const ChordCode chord = *sounding_;
    sounding_.reset();
    player_.playChord(chord, kNoteOff);
}

// --- Changes --------------------------------------------------------------------------------

void TfChords::rightClick(const model::GridElement& element) {
    const int bar = barOfElement(element);
    if (element.kind == model::GridElementKind::Candidate) {
        selectCandidate(bar, element.index);
    } else if (element.kind == model::GridElementKind::Applied) {
        toggleMute(bar);
    }
}

// What a column shows follows from the bar's entry: the candidate equal to the applied chord
// is blue, and a further chord in use stands in " Other".
void TfChords::refreshColumn(int bar) {
    Column& column = columns_[static_cast<size_t>(bar)];
    const ChordCode applied = appliedChord(bar);
    column.selected = 0;
    column.otherText = " Other";
    column.otherIndex = model::kNoIndex;
    if (applied == kNoChord) return;
    for (int i = 1; i <= column.candidates.buttons; ++i) {
        if (column.candidates.chordOfIndex(i) == applied) {
            column.selected = i;
            return;
        }
    }
    for (int k = 1; k <= column.candidates.further; ++k) {
        if (column.candidates.lookup(-k) == applied) {
            column.otherText = name(applied, spellingKey());
            column.otherIndex = column.candidates.buttons + k;
            return;
        }
    }
}

void TfChords::updateColumn(int bar) {
    const Column& column = columns_[static_cast<size_t>(bar)];
    const size_t end = static_cast<size_t>(bar) + 1 < columns_.size()
                           ? columns_[static_cast<size_t>(bar) + 1].firstElement
                           : elements_.size();
    QRect area;
    for (size_t i = column.firstElement; i < end; ++i) {
        const model::GridRect& r = elements_[i].rect;
        area = area.united(QRect(r.x, r.y, r.width, r.height));
    }
    p_wChr->update(area);
}

void TfChords::submit(int bar, ChordCode chord, uint8_t enabled) {
    if (changesRefused() || !composition_) return;
    const auto edit = model::makeChordEdit(*composition_, bar, {chord, enabled});
    if (!edit || edit->changesNothing()) return;
    if (bindings_.edit) {
        bindings_.edit(*edit);
    } else {
        applyEdit(*edit, true);
    }
}

void TfChords::applyEdit(const model::ChordEdit& edit, bool forward) {
    if (!composition_ || !model::applyChordEdit(*composition_, edit, forward)) return;
    if (edit.bar < static_cast<int>(columns_.size())) {
        refreshColumn(edit.bar);
        updateColumn(edit.bar);
    }
    commit();
}

void TfChords::selectCandidate(int bar, int index) {
    const ChordCode chord = columns_[static_cast<size_t>(bar)].candidates.chordOfIndex(index);
    if (chord == kNoChord) return;
    submit(bar, chord, 1);
}

void TfChords::toggleMute(int bar) {
    if (!composition_) return;
    submit(bar, appliedChord(bar), appliedMuted(bar) ? 1 : 0);
}

void TfChords::commit() {
    // The chord track is the document: mark it changed so that Save and Close see the edit.
    composition_->setStateFlags(state_flag::kContentChanged, true);
    if (bindings_.changed) bindings_.changed();
}

void TfChords::toggleList(int bar) {
    if (!composition_ || bar < 0 || bar >= static_cast<int>(columns_.size())) return;
    // A second click on the button closes the list; the press that closed it already did.
    const bool closedByThisPress = dismissedBar_ == bar;
    dismissedBar_ = -1;
    if (closedByThisPress) return;
    if (cb_CustChr->isVisible() && listBar_ == bar) {
        hideList();
        return;
    }
    listBar_ = bar;
    const Column& column = columns_[static_cast<size_t>(bar)];
    cb_CustChr->clear();
    cb_CustChr->addItem("None");
    for (int k = 1;; ++k) {
        const ChordCode chord = column.candidates.lookup(-k);
        if (chord == kNoChord) break;
        cb_CustChr->addItem(name(chord, spellingKey()));
    }
    cb_CustChr->setCurrentRow(0);
    const QRect other = element(QString("NCChr_%1").arg(bar));
    const int rowHeight = std::max(cb_CustChr->sizeHintForRow(0), 12);
    const int listHeight =
        std::min(rowHeight * cb_CustChr->count() + 4, std::max(other.top() - 2, 20));
    cb_CustChr->setGeometry(other.left(), other.top() - 2 - listHeight, 90, listHeight);
    cb_CustChr->show();
    cb_CustChr->raise();
    cb_CustChr->setFocus(Qt::PopupFocusReason);
    // A press anywhere else closes the list, as a drop-down does.
    qApp->installEventFilter(this);
}

void TfChords::hideList() {
    if (!cb_CustChr) return;
    qApp->removeEventFilter(this);
    cb_CustChr->hide();
}

void TfChords::applyListChoice(int row) {
    const int bar = listBar_;
    hideList();
    if (changesRefused() || !composition_ || bar < 0) return;
    const Column& column = columns_[static_cast<size_t>(bar)];
    if (row >= 1) {
        selectCandidate(bar, column.candidates.buttons + row);
    } else if (column.candidates.buttons > 0) {
        selectCandidate(bar, 1);
    } else {
        submit(bar, kNoChord, 1);
    }
}

bool TfChords::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress && cb_CustChr->isVisible()) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget != cb_CustChr && !cb_CustChr->isAncestorOf(widget)) {
            dismissedBar_ = listBar_;
            hideList();
            QTimer::singleShot(0, this, [this] { dismissedBar_ = -1; });
            return false;
        }
    }
    if (watched != cb_CustChr && watched != cb_CustChr->viewport()) {
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            applyListChoice(cb_CustChr->currentRow());
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            hideList();
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QListWidgetItem* item = cb_CustChr->itemAt(mouse->position().toPoint());
        const int row = item ? cb_CustChr->row(item) : 0;
        if (mouse->button() == Qt::RightButton) {
            applyListChoice(row);
            return true;
        }
        if (mouse->button() == Qt::LeftButton && row >= 1 && listBar_ >= 0) {
            cb_CustChr->setCurrentRow(row);
            release();
            const ChordCode chord = columns_[static_cast<size_t>(listBar_)].candidates.lookup(-row);
            if (chord != kNoChord) {
                player_.playChord(chord, kNoteOn);
                sounding_ = chord;
            }
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonRelease) {
        release();
    }
    return QWidget::eventFilter(watched, event);
}

// --- Hover and labels -----------------------------------------------------------------------

void TfChords::showChordInLabels(ChordCode chord) {
    const bool none = chord == kNoChord;
    if (bindings_.chordNameLabel)
        bindings_.chordNameLabel->setText(none ? QString() : name(chord, spellingKey()));
    if (bindings_.chordNotesLabel) {
        bindings_.chordNotesLabel->setText(
            none ? QString() : QString::fromStdString(chordToneNames(chord, spellingKey())));
    }
}

void TfChords::hover(const model::GridElement* element) {
    if (!element) {
        lastHoverTag_ = -1;
        showChordInLabels(kNoChord);
        return;
    }
    const int tag = model::gridTag(barOfElement(*element), element->index);
    if (tag == lastHoverTag_) return;
    lastHoverTag_ = tag;
    if (element->index >= 100 && element->kind != model::GridElementKind::Applied &&
        element->kind != model::GridElementKind::Other) {
        showChordInLabels(kNoChord);
        return;
    }
    showChordInLabels(chordOf(*element));
}

// --- Painting -------------------------------------------------------------------------------

const QPixmap& TfChords::chordPicture(ChordCode chord) {
    const int key = std::clamp(chord >> 8, 0, 23);
    std::optional<QPixmap>& slot = pictures_[static_cast<size_t>(key)];
    if (!slot) {
        QPixmap picture(kPictureSize, kPictureSize);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool minor = key >= 12;
        painter.setBrush(minor ? QColor(0x5B, 0x7F, 0xA6) : QColor(0xE0, 0x9A, 0x3C));
        painter.setPen(QPen(QColor(0x40, 0x30, 0x20), 1));
        painter.drawRoundedRect(QRectF(1.5, 1.5, kPictureSize - 3, kPictureSize - 3), 6, 6);
        painter.setPen(Qt::white);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(13);
        painter.setFont(font);
        QString root = QString::fromStdString(
            spelledNoteName(tonicOf(static_cast<KeyIndex>(key)), spellingKey()));
        if (minor) root += "m";
        painter.drawText(QRect(0, 0, kPictureSize, kPictureSize), Qt::AlignCenter, root);
        slot = picture;
    }
    return *slot;
}

void ChordsCanvas::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect clip = event->rect();
    painter.fillRect(clip, TfChords::kPanelColour);
    if (!grid_.composition_) return;
    // Only the columns that meet the clip are drawn.
    const auto first = std::upper_bound(grid_.columns_.begin(), grid_.columns_.end(), clip.left(),
                                        [this](int x, const TfChords::Column& c) {
                                            return x < grid_.elements_[c.firstElement].rect.x;
                                        });
    auto column = first == grid_.columns_.begin() ? first : first - 1;
    for (; column != grid_.columns_.end(); ++column) {
        const size_t bar = static_cast<size_t>(column - grid_.columns_.begin());
        const size_t end = bar + 1 < grid_.columns_.size() ? grid_.columns_[bar + 1].firstElement
                                                           : grid_.elements_.size();
        if (grid_.elements_[column->firstElement].rect.x > clip.right()) break;
        for (size_t i = column->firstElement; i < end; ++i) {
            const model::GridElement& e = grid_.elements_[i];
            const QRect r(e.rect.x, e.rect.y, e.rect.width, e.rect.height);
            const QString elementName = QString::fromStdString(e.name);
            switch (e.kind) {
                case model::GridElementKind::Applied: {
                    const bool playingBar = static_cast<int>(bar) == grid_.playingBar_;
                    painter.fillRect(
                        r, playingBar ? TfChords::kPlayingBackground : TfChords::kBackground);
                    QFont font = painter.font();
                    font.setBold(true);
                    painter.setFont(font);
                    painter.setPen(grid_.elementColour(elementName));
                    painter.drawText(r, Qt::AlignCenter, grid_.elementText(elementName));
                    font.setBold(false);
                    painter.setFont(font);
                    break;
                }
                case model::GridElementKind::Candidate: {
                    painter.fillRect(r, TfChords::kBackground);
                    painter.setPen(QColor(0xA0, 0x90, 0x80));
                    painter.drawRect(r.adjusted(0, 0, -1, -1));
                    const ChordCode chord = column->candidates.chordOfIndex(e.index);
                    const bool wide = e.rect.width > 41;
                    QRect text = r;
                    if (chord != kNoChord) {
                        const QPixmap& picture = grid_.chordPicture(chord);
                        if (wide) {
                            painter.drawPixmap(r.left() + 2, r.top() + 2, picture);
                            text.setLeft(r.left() + 2 + picture.width());
                        } else {
                            painter.drawPixmap(r.left() + (r.width() - picture.width()) / 2,
                                               r.top() + 1, picture);
                            text.setTop(r.top() + picture.height());
                        }
                    }
                    painter.setPen(grid_.elementColour(elementName));
                    painter.drawText(text, Qt::AlignCenter,
                                     grid_.elementText(elementName).trimmed());
                    break;
                }
                case model::GridElementKind::Other:
                    painter.fillRect(r, Qt::white);
                    painter.setPen(QColor(0x80, 0x80, 0x80));
                    painter.drawRect(r.adjusted(0, 0, -1, -1));
                    painter.setPen(TfChords::kTextColour);
                    painter.drawText(r, Qt::AlignCenter, column->otherText);
                    break;
                case model::GridElementKind::ListButton: {
                    painter.fillRect(r, QColor(0xE8, 0xE0, 0xCE));
                    painter.setPen(QColor(0x60, 0x50, 0x40));
                    painter.drawRect(r.adjusted(0, 0, -1, -1));
                    // The list glyph: a small downward triangle over three lines.
                    painter.setBrush(TfChords::kTextColour);
                    const QPoint tri[3] = {{r.left() + 5, r.top() + 6},
                                           {r.right() - 5, r.top() + 6},
                                           {r.center().x(), r.bottom() - 5}};
                    painter.drawPolygon(tri, 3);
                    painter.setBrush(Qt::NoBrush);
                    break;
                }
            }
        }
    }
}

}  // namespace varimel
