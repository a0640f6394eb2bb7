#include "ui/Fnotes_l1.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>

#include "engine/Apperr.h"
#include "engine/Tonality.h"
#include "engine/Wchordmaster.h"
#include "ui/Fchords1.h"
#include "ui/model/Transport.h"

namespace varimel {

namespace {

constexpr int kRulerWidth = 24;   // the octave ruler left of the roll
constexpr int kStripHeight = 12;  // the marker strip above the bar ruler
constexpr int kHeaderHeight = 18;
constexpr int kTop = kStripHeight + kHeaderHeight;
constexpr int kMarkerSize = 10;
constexpr int kAutoscrollMs = 200;

const QColor kHeaderColour(0xD2, 0xC1, 0xAE);
const QColor kRowLine(0xC0, 0xC0, 0xC0);
const QColor kOctaveLine(0x80, 0x80, 0x80);
const QColor kBarLine(0x00, 0x00, 0x80);
const QColor kNoteFill(0x00, 0x80, 0x80);
const QColor kCursor(0x80, 0x00, 0x00);

}  // namespace

// The painted part of the document window: marker strip, bar ruler, octave ruler and roll.
class NotesCanvas : public QWidget {
  public:
    explicit NotesCanvas(TfNotes_l& view) : QWidget(&view), view_(view) {
        setObjectName("plNts");
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    void paintHeader(QPainter& painter, const QRect& clip);
    void paintRoll(QPainter& painter, const QRect& clip);
    void paintRuler(QPainter& painter);
    void paintMarkers(QPainter& painter);

    TfNotes_l& view_;
};

TfNotes_l::TfNotes_l(QWidget* parent, PlayerContext& player)
    : QWidget(parent), player_(player), document_(std::make_unique<OpenedDocument>()) {
    setObjectName("TfNotes_l");
    setWindowTitle("Melody");
    canvas_ = new NotesCanvas(*this);
    scb_H = new QScrollBar(Qt::Horizontal, this);
    scb_H->setObjectName("scb_H");
    scb_V = new QScrollBar(Qt::Vertical, this);
    scb_V->setObjectName("scb_V");
    connect(scb_H, &QScrollBar::valueChanged, this, &TfNotes_l::onHorizontalScroll);
    connect(scb_V, &QScrollBar::valueChanged, this, [this](int value) {
        verticalOffset_ = value * model::NotesScale::kRowHeight;
        canvas_->update();
    });

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kAutoscrollMs);
    connect(Timer1, &QTimer::timeout, this, &TfNotes_l::onAutoscroll);

    pmnMarker = new QMenu(this);
    pmnMarker->setObjectName("pmnMarker");
    pmMarker = pmnMarker->addAction("Insert Mark");
    pmMarker->setObjectName("pmMarker");
    DeleteAllMark1 = pmnMarker->addAction("Delete All Marks");
    DeleteAllMark1->setObjectName("DeleteAllMark1");
    DisableMark1 = pmnMarker->addAction("Disable Mark's Jumps");
    DisableMark1->setObjectName("DisableMark1");
    DisableMark1->setCheckable(true);
    pmnMarker->addSeparator();
    pmLoop = pmnMarker->addAction("Dispose Loop Points");
    pmLoop->setObjectName("pmLoop");
    pmLoop->setVisible(false);
    pmLoopDel = pmnMarker->addAction("Delete Loop Points");
    pmLoopDel->setObjectName("pmLoopDel");
    connect(pmMarker, &QAction::triggered, this, [this] { insertMarker(markerMenuPixel_); });
    connect(DeleteAllMark1, &QAction::triggered, this, [this] {
        markers_.clear();
        DisableMark1->setChecked(false);
        canvas_->update();
    });
    connect(DisableMark1, &QAction::triggered, this, &TfNotes_l::disableJumpsToggled);
    connect(pmLoop, &QAction::triggered, this, [this] { loopCommand(1); });
    connect(pmLoopDel, &QAction::triggered, this, [this] { loopCommand(2); });

    pmn1 = new QMenu(this);
    pmn1->setObjectName("pmn1");
    pmnDMrk = pmn1->addAction("Delete Mark");
    pmnDMrk->setObjectName("pmnDMrk");
    connect(pmnDMrk, &QAction::triggered, this, &TfNotes_l::deleteRememberedMarker);
}

TfNotes_l::~TfNotes_l() = default;

StatusCode TfNotes_l::openDocument(const OpeningRequest& request) {
    for (int i = 0; i < 4; ++i) playRange_.set(i, 0);
    return varimel::openDocument(*document_, request);
}

void TfNotes_l::layoutDocument() {
    Composition* c = composition();
    if (!c) return;
    int numerator = 4;
    int denominator = 4;
    c->meterMap().meterOfBar(0, numerator, denominator);
    // An upbeat bar shorter than the next is scaled by the next bar's meter.
    if (c->barCount > 1 && c->meterMap().ticksPerBar(0) < c->meterMap().ticksPerBar(1)) {
        c->meterMap().meterOfBar(1, numerator, denominator);
    }
    scale_.emplace(c->meterMap(), c->barCount, numerator);

    noteStarts_.clear();
    const std::vector<NoteRecord>& notes = c->noteTracks().notes(0);
    noteStarts_.reserve(notes.size());
    for (const NoteRecord& note : notes) {
        noteStarts_.push_back(c->meterMap().tickOfPosition(note.position));
    }

    resizeEvent(nullptr);
    scb_H->setSingleStep(1);
    scb_H->setPageStep(numerator);
    scb_V->setSingleStep(1);
    scb_V->setPageStep(6);
    centreOnMelody();
    canvas_->update();
}

void TfNotes_l::centreOnMelody() {
    // The melody's own range in the middle of the view, so that it shows at once.
    const Composition* c = composition();
    if (!c) return;
    int lowest = model::NotesScale::kRows;
    int highest = 0;
    for (const NoteRecord& note : c->noteTracks().notes(0)) {
        lowest = std::min<int>(lowest, note.key);
        highest = std::max<int>(highest, note.key);
    }
    const int middleKey = highest == 0 ? 60 : (lowest + highest) / 2;
    const int visibleRows = std::max(canvas_->height() - kTop, 0) / model::NotesScale::kRowHeight;
    scb_V->setValue(std::clamp(model::NotesScale::kRows - 1 - middleKey - visibleRows / 2, 0,
                               scb_V->maximum()));
    centred_ = visibleRows > 0;
}

void TfNotes_l::resizeEvent(QResizeEvent*) {
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    canvas_->setGeometry(0, 0, width() - bar, height() - bar);
    scb_V->setGeometry(width() - bar, 0, bar, height() - bar);
    scb_H->setGeometry(0, height() - bar, width() - bar, bar);
    if (!scale_) return;
    const int visibleWidth = canvas_->width() - kRulerWidth;
    const int visibleHeight = canvas_->height() - kTop;
    scb_H->setMaximum(scale_->horizontalScrollMaximum(visibleWidth));
    scb_V->setMaximum(model::NotesScale::verticalScrollMaximum(visibleHeight));
    if (!centred_) centreOnMelody();
    // Keep the cursor one bar width from the left edge (or at the start).
    if (!playing_) {
        const int target = std::max(cursorPixel_ - scale_->barWidth(), 0);
        scb_H->setValue(target / scale_->pixelsPerBeat());
    }
    canvas_->update();
}

int TfNotes_l::headerLeft() {
    return kRulerWidth;
}

int TfNotes_l::pixelAtX(int x) const {
    return x - kRulerWidth + horizontalOffset_;
}
int TfNotes_l::xOfPixel(int pixel) const {
    return pixel - horizontalOffset_ + kRulerWidth;
}

void TfNotes_l::onHorizontalScroll(int value) {
    if (!scale_) return;
    horizontalOffset_ = value * scale_->pixelsPerBeat();
    if (chords_) chords_->setHorizontalOffset(horizontalOffset_);
    Q_EMIT scrolled(horizontalOffset_);
    canvas_->update();
}

void TfNotes_l::scrollToPixel(int pixel) {
    if (!scale_) return;
    scb_H->setValue(std::max(pixel, 0) / scale_->pixelsPerBeat());
}

void TfNotes_l::setStatus(int panel, const QString& text) const {
    if (bindings_.statusText) bindings_.statusText(panel, text);
}

QString TfNotes_l::positionText(int32_t tick) const {
    const Composition* c = document_->composition();
    if (!c) return {};
    return QString::fromStdString(varimel::positionText(c->meterMap(), tick));
}

// --- Cursor, position and transport --------------------------------------------------------

void TfNotes_l::showPosition(int32_t tick) {
    if (!scale_) return;
    cursorPixel_ = scale_->pixelOfTick(tick);
    setStatus(1, positionText(tick));
    const int32_t bar = scale_->barAtPixel(cursorPixel_);
    if (chords_) chords_->markPlayingBar(bar);
    Q_EMIT barSelected(bar);
    const int visibleWidth = canvas_->width() - kRulerWidth;
    const int left = scale_->sectionLeft(bar);
    if (left < horizontalOffset_) {
        scrollToPixel(left);
    } else if (scale_->sectionLeft(bar + 1) > horizontalOffset_ + visibleWidth) {
        if (chords_) chords_->hideList();
        scrollToPixel(cursorPixel_ - scale_->sectionWidth(bar));
    }
    canvas_->update();
}

void TfNotes_l::backward() {
    if (playing_ || !scale_) return;
    if (loopShown_) {
        cursorPixel_ = loopRange_.startPixel;
        playRange_.set(PlayRange::kStart, loopRange_.startTick);
        scrollToPixel(cursorPixel_ - scale_->barWidth());
    } else if (const auto* marker =
                   markers_.jumpsEnabled ? markers_.previous(cursorPixel_) : nullptr) {
        cursorPixel_ = marker->pixel;
        playRange_.set(PlayRange::kStart, scale_->tickOfPixel(marker->pixel));
        if (marker->pixel < horizontalOffset_ ||
            marker->pixel > horizontalOffset_ + canvas_->width() - kRulerWidth) {
            scrollToPixel(marker->pixel - scale_->barWidth());
        }
    } else {
        cursorPixel_ = 0;
        playRange_.set(PlayRange::kStart, 0);
        scrollToPixel(0);
    }
    // The grid lights the bar the cursor now stands in, not the one playback left.
    if (chords_) chords_->markPlayingBar(scale_->barAtPixel(cursorPixel_));
    canvas_->update();
}

void TfNotes_l::forward() {
    if (playing_ || !scale_) return;
    if (loopShown_) {
        cursorPixel_ = loopRange_.endPixel;
        scrollToPixel(cursorPixel_ - scale_->barWidth());
    } else if (const auto* marker = markers_.jumpsEnabled ? markers_.next(cursorPixel_) : nullptr) {
        cursorPixel_ = marker->pixel;
        playRange_.set(PlayRange::kStart, scale_->tickOfPixel(marker->pixel));
        if (marker->pixel < horizontalOffset_ ||
            marker->pixel > horizontalOffset_ + canvas_->width() - kRulerWidth) {
            scrollToPixel(marker->pixel - scale_->barWidth());
        }
    } else if (Composition* c = composition()) {
        cursorPixel_ = scale_->pixelOfTick(c->noteTracks().melodyEndTick());
        const int lastBar = std::max(scale_->barCount() - 1, 0);
        scrollToPixel(cursorPixel_ - 2 * scale_->sectionWidth(lastBar));
    }
    if (chords_) chords_->markPlayingBar(scale_->barAtPixel(cursorPixel_));
    canvas_->update();
}

// --- Markers --------------------------------------------------------------------------------

void TfNotes_l::insertMarker(int pixel) {
    if (!scale_) return;
    if (pixel < 0) pixel = std::max(cursorPixel_ - scale_->pixelsPerBeat() / 2, 0);
    if (markers_.insert(pixel)) DisableMark1->setChecked(false);
    canvas_->update();
}

void TfNotes_l::markerPressed(const QString& name) {
    pressedMarker_ = name;
}

void TfNotes_l::deleteRememberedMarker() {
    markers_.remove(pressedMarker_.toStdString());
    if (!markers_.jumpsEnabled) DisableMark1->setChecked(false);
    canvas_->update();
}

void TfNotes_l::disableJumpsToggled() {
    // The item is checked exactly when jumps are off.
    markers_.jumpsEnabled = !DisableMark1->isChecked();
}

// --- Loop -----------------------------------------------------------------------------------

void TfNotes_l::showLoopTexts() {
    const QString from = positionText(loopRange_.startTick);
    const QString to = positionText(loopRange_.endTick);
    if (bindings_.fromLabel) bindings_.fromLabel->setText(from);
    if (bindings_.toLabel) bindings_.toLabel->setText(to);
    if (bindings_.fromToEdit) {
        const bool end = bindings_.fromToEdit->property("Tag").toInt() != 0;
        bindings_.fromToEdit->setText(
            QString::fromStdString(model::loopEditText((end ? to : from).toStdString())));
    }
    playRange_.set(PlayRange::kLoopStart, loopRange_.startTick);
    playRange_.set(PlayRange::kLoopEnd, loopRange_.endTick);
}

void TfNotes_l::setLoopFromPixels(int a, int b) {
    if (!scale_) return;
    loopRange_ = model::loopFromPixels(*scale_, a, b);
    showLoopTexts();
    canvas_->update();
}

void TfNotes_l::setLoopFromEdits(bool editedFrom) {
    Composition* c = composition();
    if (!c || !scale_) return;
    const auto read = [&](QLabel* label) {
        return label ? model::loopPositionTick(c->meterMap(), c->barCount,
                                               label->text().toStdString())
                     : 0;
    };
    loopRange_ = model::loopFromEdit(*scale_, c->meterMap(), c->barCount, read(bindings_.fromLabel),
                                     read(bindings_.toLabel), editedFrom);
    showLoopTexts();
    canvas_->update();
}

void TfNotes_l::showLoop(bool shown) {
    loopShown_ = shown;
    if (bindings_.loopButton) bindings_.loopButton->setChecked(shown);
    canvas_->update();
}

void TfNotes_l::loopCommand(int tag) {
    if (tag == 1) {
        setLoopFromPixels(loopRange_.startPixel, loopRange_.endPixel);
        showLoop(true);
        return;
    }
    player_.rangeSelector = range_selector::kRange;
    if (playing_) playRange_.set(PlayRange::kStart, loopRange_.startTick);
    restartRequest_ = 1;
    showLoop(false);
}

// --- Mouse ----------------------------------------------------------------------------------

void TfNotes_l::pressAt(int pixel) {
    dragState_ = 1;
    savedLoopStart_ = loopRange_.startPixel;
    savedLoopEnd_ = loopRange_.endPixel;
    dragStart_ = dragEnd_ = pixel;
}

void TfNotes_l::dragTo(int pixel, int x) {
    dragState_ = 2;
    dragEnd_ = pixel;
    setStatus(2, QString("%1 :: %2").arg(horizontalOffset_).arg(pixel));
    if (std::abs(pixel - dragStart_) > scale_->pixelsPerBeat()) selectionVisible_ = true;
    const int right = canvas_->width();
    autoscrollStep_ = x > right ? 2 : (x < kRulerWidth ? -2 : 0);
    if (autoscrollStep_ != 0 && !Timer1->isActive()) Timer1->start();
    if (autoscrollStep_ == 0) Timer1->stop();
    canvas_->update();
}

void TfNotes_l::onAutoscroll() {
    if (autoscrollStep_ == 0) {
        Timer1->stop();
        return;
    }
    scb_H->setValue(scb_H->value() + autoscrollStep_);
    dragEnd_ = std::max(dragEnd_ + autoscrollStep_ * scale_->pixelsPerBeat(), 0);
    canvas_->update();
}

void TfNotes_l::releaseAt(int pixel) {
    if (Timer1->isActive()) {
        onAutoscroll();  // one last step
        Timer1->stop();
    }
    autoscrollStep_ = 0;
    const int end = std::max(dragState_ == 2 ? dragEnd_ : pixel, 0);
    const bool dragged =
        dragState_ == 2 && model::dragSetsLoop(dragStart_, end, scale_->barWidth());
    dragState_ = 0;
    selectionVisible_ = false;
    if (dragged) {
        setLoopFromPixels(dragStart_, end);
        showLoop(true);
        return;
    }
    loopRange_.startPixel = savedLoopStart_;
    loopRange_.endPixel = savedLoopEnd_;
    cursorPixel_ = std::max(dragStart_, 0);
    playRange_.set(PlayRange::kStart, scale_->tickOfPixel(cursorPixel_));
    const int32_t bar = scale_->barAtPixel(cursorPixel_);
    if (chords_) chords_->markPlayingBar(bar);
    Q_EMIT barSelected(bar);
    canvas_->update();
}

void TfNotes_l::hoverAt(int x, int y) {
    if (!scale_ || y < kTop || x < kRulerWidth) return;
    const int key = model::NotesScale::keyAtY(y - kTop, verticalOffset_);
    if (bindings_.noteLabel) {
        bindings_.noteLabel->setText(
            QString(" %1%2").arg(QString::fromUtf8(noteName(key % 12).data())).arg(key / 12));
    }
    if (bindings_.positionLabel) {
        bindings_.positionLabel->setText(positionText(scale_->tickOfPixel(pixelAtX(x))));
    }
}

std::pair<std::string, bool> TfNotes_l::channelCaption(int channel) {
    std::pair<std::string, bool> caption{std::to_string(channel) + " - Channel ", false};
    Composition* c = composition();
    if (!c || channel < 0 || channel >= NoteTracks::kListCount) return caption;
    caption.second = c->noteTracks().count(channel) > 0 && c->noteTracks().melodyCheck(channel);
    return caption;
}

QRect TfNotes_l::element(const QString& name) const {
    const int rollWidth = canvas_->width() - kRulerWidth;
    if (name == "BmpNt") return {kRulerWidth, kTop, rollWidth, canvas_->height() - kTop};
    if (name == "hdrcM") return {kRulerWidth, kStripHeight, rollWidth, kHeaderHeight};
    if (name == "pl_Mark") return {kRulerWidth, 0, rollWidth, kStripHeight};
    if (name == "img_Okt") return {0, kTop, kRulerWidth, canvas_->height() - kTop};
    if (name == "imgXP") return {xOfPixel(cursorPixel_), kTop, 2, canvas_->height() - kTop};
    if (name == "imgFrom" && loopShown_) {
        return {xOfPixel(loopRange_.startPixel), kStripHeight, 6, kHeaderHeight};
    }
    if (name == "imgTo" && loopShown_) {
        return {xOfPixel(loopRange_.endPixel) - 6, kStripHeight, 6, kHeaderHeight};
    }
    if (name.startsWith("m_")) {
        if (const auto* marker = markers_.find(name.toStdString())) {
            return {xOfPixel(marker->pixel), 1, kMarkerSize, kMarkerSize};
        }
    }
    if (name.startsWith("Sec_") && scale_) {
        const int bar = name.mid(4).toInt();
        return {xOfPixel(scale_->sectionLeft(bar)), kStripHeight, scale_->sectionWidth(bar),
                kHeaderHeight};
    }
    return {};
}

// --- Canvas ---------------------------------------------------------------------------------

void NotesCanvas::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect clip = event->rect();
    painter.fillRect(clip, palette().window());
    if (!view_.scale_) return;
    paintRoll(painter, clip);
    paintHeader(painter, clip);
    paintRuler(painter);
    paintMarkers(painter);
}

void NotesCanvas::paintHeader(QPainter& painter, const QRect& clip) {
    const model::NotesScale& scale = *view_.scale_;
    const QRect header = view_.element("hdrcM");
    painter.save();
    painter.setClipRect(header.intersected(clip));
    painter.fillRect(header, kHeaderColour);
    const int firstVisible = view_.horizontalOffset_;
    const int32_t first = scale.barAtPixel(firstVisible);
    painter.setPen(Qt::black);
    for (int32_t bar = first; bar < scale.sectionCount(); ++bar) {
        const int x = view_.xOfPixel(scale.sectionLeft(bar));
        if (x > width()) break;
        const QRect section(x, header.top(), scale.sectionWidth(bar), header.height());
        painter.drawRect(section.adjusted(0, 0, -1, -1));
        painter.drawText(section, Qt::AlignCenter, QString::number(bar + 1));
    }
    // The band of a drag, in green.
    if (view_.dragState_ == 2 && view_.selectionVisible_) {
        painter.setPen(QPen(Qt::green, 2));
        const int a = view_.xOfPixel(std::min(view_.dragStart_, view_.dragEnd_));
        const int b = view_.xOfPixel(std::max(view_.dragStart_, view_.dragEnd_));
        painter.drawLine(a, header.top() + 2, b, header.top() + 2);
        painter.drawLine(a, header.bottom() - 2, b, header.bottom() - 2);
    } else if (view_.loopShown_) {
        painter.setBrush(Qt::darkGreen);
        painter.setPen(Qt::NoPen);
        painter.drawRect(view_.element("imgFrom"));
        painter.drawRect(view_.element("imgTo"));
    }
    painter.restore();
}

void NotesCanvas::paintRoll(QPainter& painter, const QRect& clip) {
    const model::NotesScale& scale = *view_.scale_;
    const QRect roll = view_.element("BmpNt").intersected(clip);
    if (roll.isEmpty()) return;
    painter.save();
    painter.setClipRect(roll);
    painter.fillRect(roll, Qt::white);
    const int row = model::NotesScale::kRowHeight;
    const int top = roll.top() - kTop + view_.verticalOffset_;
    const int bottom = roll.bottom() - kTop + view_.verticalOffset_;
    // Row and octave lines: the line under each row; key k lies in row 131 - k from the top.
    for (int y = top / row * row; y <= bottom + row; y += row) {
        const int key = model::NotesScale::kRows - 1 - y / row;
        painter.setPen(key % 12 == 0 ? kOctaveLine : kRowLine);
        const int screenY = y + row - 1 - view_.verticalOffset_ + kTop;
        painter.drawLine(roll.left(), screenY, roll.right(), screenY);
    }
    // Beat and bar lines from the first visible bar.
    const int firstPixel = view_.pixelAtX(roll.left());
    const int lastPixel = view_.pixelAtX(roll.right());
    const Composition* c = view_.document_->composition();
    for (int32_t bar = scale.barAtPixel(firstPixel); bar < scale.sectionCount(); ++bar) {
        const int left = scale.sectionLeft(bar);
        if (left > lastPixel) break;
        int numerator = 4;
        int denominator = 4;
        c->meterMap().meterOfBar(bar, numerator, denominator);
        const int width = scale.sectionWidth(bar);
        painter.setPen(kRowLine);
        for (int beat = 1; beat < numerator; ++beat) {
            const int x = view_.xOfPixel(left + width * beat / numerator);
            painter.drawLine(x, roll.top(), x, roll.bottom());
        }
        painter.setPen(kBarLine);
        const int x = view_.xOfPixel(left);
        painter.drawLine(x, roll.top(), x, roll.bottom());
    }
    // The notes reaching into the view. The melody sounds one note at a time, so only the last
    // note starting before the view can reach into it.
    const std::vector<NoteRecord>& notes = c->noteTracks().notes(0);
    const int32_t firstTick = scale.tickOfPixel(std::max(firstPixel, 0));
    const int32_t lastTick = scale.tickOfPixel(std::max(lastPixel, 0)) + 1;
    const auto at = std::upper_bound(view_.noteStarts_.begin(), view_.noteStarts_.end(), firstTick);
    size_t index = static_cast<size_t>(std::distance(view_.noteStarts_.begin(), at));
    if (index > 0) --index;
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (; index < notes.size() && view_.noteStarts_[index] <= lastTick; ++index) {
        const NoteRecord& note = notes[index];
        const int x0 = view_.xOfPixel(scale.pixelOfTick(view_.noteStarts_[index]));
        const int x1 = view_.xOfPixel(scale.pixelOfTick(view_.noteStarts_[index] + note.duration));
        const int y =
            (model::NotesScale::kRows - 1 - note.key) * row - view_.verticalOffset_ + kTop;
        const QRectF outer(x0, y, std::max(x1 - x0, 3), row);
        painter.setPen(Qt::black);
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(outer, 5, 5);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kNoteFill);
        painter.drawRoundedRect(outer.adjusted(2, 2, -2, -2), 4, 4);
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    // The cursor.
    painter.fillRect(view_.element("imgXP"), kCursor);
    painter.restore();
}

void NotesCanvas::paintRuler(QPainter& painter) {
    const QRect ruler = view_.element("img_Okt");
    painter.save();
    painter.setClipRect(ruler);
    painter.fillRect(ruler, palette().window());
    painter.setPen(Qt::blue);
    const int row = model::NotesScale::kRowHeight;
    for (int octave = 10; octave >= 0; --octave) {
        const int key = octave * 12;
        const int y = (model::NotesScale::kRows - 1 - key) * row - view_.verticalOffset_ + kTop;
        painter.drawLine(0, y + row - 1, ruler.width(), y + row - 1);
        painter.drawText(QRect(0, y - 12, ruler.width() - 2, 12), Qt::AlignRight | Qt::AlignBottom,
                         QString::number(octave));
    }
    painter.restore();
}

void NotesCanvas::paintMarkers(QPainter& painter) {
    const QRect strip = view_.element("pl_Mark");
    painter.save();
    painter.setClipRect(strip);
    painter.fillRect(strip, palette().window());
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::red);
    for (const auto& marker : view_.markers_.markers()) {
        const int x = view_.xOfPixel(marker.pixel);
        const QPoint triangle[3] = {{x, 1}, {x, 1 + kMarkerSize}, {x + kMarkerSize, 1}};
        painter.drawPolygon(triangle, 3);
    }
    painter.restore();
}

void NotesCanvas::mousePressEvent(QMouseEvent* event) {
    if (!view_.scale_) return;
    const QPoint p = event->position().toPoint();
    const int pixel = view_.pixelAtX(p.x());
    if (view_.element("pl_Mark").contains(p)) {
        for (const auto& marker : view_.markers_.markers()) {
            const QString name = QString::fromStdString(marker.name);
            if (!view_.element(name).contains(p)) continue;
            view_.markerPressed(name);
            if (event->button() == Qt::RightButton) view_.pmn1->popup(mapToGlobal(p));
            return;
        }
    }
    if (event->button() == Qt::RightButton) {
        if (view_.element("pl_Mark").contains(p) || view_.element("hdrcM").contains(p)) {
            view_.markerMenuPixel_ = std::max(pixel, 0);
            view_.DisableMark1->setChecked(!view_.markers_.jumpsEnabled);
            view_.pmnMarker->popup(mapToGlobal(p));
        }
        return;
    }
    if (event->button() != Qt::LeftButton || view_.playing_) return;
    if (!view_.element("BmpNt").contains(p) && !view_.element("hdrcM").contains(p)) return;
    view_.pressAt(std::max(pixel, 0));
}

void NotesCanvas::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    view_.hoverAt(p.x(), p.y());
    if (view_.dragState_ != 0 && (event->buttons() & Qt::LeftButton) && !view_.playing_) {
        view_.dragTo(view_.pixelAtX(p.x()), p.x());
    }
}

void NotesCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || view_.dragState_ == 0 || view_.playing_) return;
    view_.releaseAt(view_.pixelAtX(event->position().toPoint().x()));
}

void NotesCanvas::wheelEvent(QWheelEvent* event) {
    // One notch moves one row.
    const int notches = event->angleDelta().y() / 120;
    view_.scb_V->setValue(view_.scb_V->value() - notches);
    event->accept();
}

}  // namespace varimel
