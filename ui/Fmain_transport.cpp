// The main window's transport: play and pause, stop, the end of a playback, the play timer's
// position and tempo display, the tempo scroll bar and field, Backward, Forward, the marker
// button, Looping, the loop range editor over me_From and me_To, and the hover clean-up of the
// middle panel. The player's worker reports on its own thread; everything it says is passed on
// to this one.
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <functional>

#include "accompaniment/StyleRenderer.h"
#include "engine/Apperr.h"
#include "playback/Tplaythread.h"
#include "ui/DialogProvider.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/RecoveryKeeper.h"
#include "ui/model/Transport.h"

namespace varimel {

namespace {

// Passes a watched object's events to a function; true from it swallows the event.
class EventHook final : public QObject {
  public:
    using Handler = std::function<bool(QObject*, QEvent*)>;
    EventHook(QObject* parent, Handler handler) : QObject(parent), handler_(std::move(handler)) {}
    bool eventFilter(QObject* watched, QEvent* event) override { return handler_(watched, event); }

  private:
    Handler handler_;
};

bool isDigitKey(int key) {
    return key >= Qt::Key_0 && key <= Qt::Key_9;
}

}  // namespace

void TfMain::connectTransport() {
    // The output chosen at start-up (the default one, or the one VARIMEL_OUTPUT names).
    outputDevice_ = player_.device;
    connect(b_Play, &QToolButton::clicked, this, &TfMain::b_PlayClick);
    connect(b_Stop, &QToolButton::clicked, this, &TfMain::b_StopClick);
    connect(b_Back, &QToolButton::clicked, this, &TfMain::b_BackClick);
    connect(b_Forw, &QToolButton::clicked, this, &TfMain::b_ForwClick);
    connect(b_Mark, &QToolButton::clicked, this, &TfMain::b_MarkClick);
    connect(b_Play2, &QToolButton::clicked, this, &TfMain::b_Play2Click);
    connect(playTimer, &QTimer::timeout, this, &TfMain::playTimerTimer);
    // The window writes the scroll bar only with its signals blocked: every change that arrives
    // here is the user's.
    connect(sb_Tempo, &QScrollBar::valueChanged, this, &TfMain::sb_TempoScroll);

    // Up to three digits of beats per minute and two decimals; applied on Enter or on leaving.
    t_Tempo->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,3}([.,][0-9]{0,2})?")), t_Tempo));
    connect(t_Tempo, &QLineEdit::editingFinished, this, &TfMain::t_TempoChange);

    // An overwrite-mode editor over five columns of bar; the loop changes on Enter or on leaving
    // the field, not at every digit.
    me_FromTo->setInputMask(QStringLiteral("00000:00:000; "));
    connect(me_FromTo, &QLineEdit::returnPressed, this, [this] { me_FromTo->clearFocus(); });
    hoverCleaner_ = new EventHook(this, [this](QObject* watched, QEvent* event) {
        switch (event->type()) {
            case QEvent::MouseMove:
                if (watched == p_Middle || watched == p_VMel) {
                    l_MelNt->clear();
                    l_MelPos->clear();
                    if (watched == p_Middle) {
                        l_ChrName->clear();
                        l_ChrNotes->clear();
                    }
                }
                break;
            case QEvent::MouseButtonPress:
                if (watched == me_From || watched == me_To) {
                    me_FromToClick(static_cast<QLabel*>(watched));
                    return true;
                }
                break;
            case QEvent::KeyRelease:
                if (watched == me_FromTo) {
                    me_FromToKeyUp(static_cast<QKeyEvent*>(event)->key());
                }
                break;
            case QEvent::KeyPress:
                if (watched == me_FromTo &&
                    static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
                    loopEditCancelled_ = true;
                    me_FromTo->clearFocus();
                    return true;
                }
                break;
            case QEvent::FocusOut:
                if (watched == me_FromTo) me_FromToExit();
                break;
            default:
                break;
        }
        return false;
    });
    for (QWidget* watched : {p_Middle, p_VMel}) {
        watched->setMouseTracking(true);
        watched->installEventFilter(hoverCleaner_);
    }
    for (QWidget* watched : {static_cast<QWidget*>(me_From), static_cast<QWidget*>(me_To),
                             static_cast<QWidget*>(me_FromTo)}) {
        watched->installEventFilter(hoverCleaner_);
    }
}

void TfMain::disconnectTransport() {
    for (QObject* sender : {static_cast<QObject*>(b_Play), static_cast<QObject*>(b_Stop),
                            static_cast<QObject*>(b_Back), static_cast<QObject*>(b_Forw),
                            static_cast<QObject*>(b_Mark), static_cast<QObject*>(b_Play2),
                            static_cast<QObject*>(playTimer), static_cast<QObject*>(sb_Tempo),
                            static_cast<QObject*>(t_Tempo)}) {
        QObject::disconnect(sender, nullptr, this, nullptr);
    }
    delete hoverCleaner_;
    hoverCleaner_ = nullptr;
}

// --- Play, pause, stop ------------------------------------------------------------------------

void TfMain::b_PlayClick() {
    Composition* composition = notes_ ? notes_->composition() : nullptr;
    if (!composition || !notes_->scale()) {
        b_Play->setChecked(false);
        return;
    }
    if (player_.isPlaying()) {
        // Pause: the next play starts where the cursor stands.
        notes_->playRange().set(PlayRange::kStart,
                                model::pauseTick(*notes_->scale(), notes_->cursorPixel()));
        b_StopClick();
        return;
    }
    notes_->setPlaying(true);
    notes_->restartRequest() = 0;
    player_.rangeSelector = notes_->loopShown() ? range_selector::kLoop : range_selector::kRange;
    renderAccompaniment(*composition);
    player_.device = outputDevice_;
    bool started = false;
    try {
        started = player_.start(
            [this] {
                QMetaObject::invokeMethod(
                    this, [this] { playbackEnded(); }, Qt::QueuedConnection);
            },
            [this](const std::string&, const std::string& text) {
                const QString shown = QString::fromStdString(text);
                QMetaObject::invokeMethod(
                    this, [this, shown] { dialogs_.error(this, shown); }, Qt::QueuedConnection);
            });
    } catch (const AppError& e) {
        // No worker could be made.
        dialogs_.error(this, QString::fromStdString(e.what()));
    }
    b_Play->setChecked(started);
    if (!started) notes_->setPlaying(false);
}

void TfMain::b_StopClick() {
    playTimer->stop();
    try {
        player_.stop();
    } catch (const AppError& e) {
        dialogs_.error(this, QString::fromStdString(e.what()));
    }
    // The worker ends at once once stopped; waiting for it lets a Play that follows at once start
    // a new one. Its end report arrives later and finds the new playback running.
    player_.waitForEnd();
    b_Play->setChecked(false);
    if (notes_) {
        notes_->setPlaying(false);
        notes_->restartRequest() = 0;
    }
}

void TfMain::playbackEnded() {
    if (player_.isPlaying()) return;
    playTimer->stop();
    if (notes_) notes_->setPlaying(false);
    // Nothing plays any more: the button says so, whatever was asked of the worker.
    b_Play->setChecked(false);
}

void TfMain::playTimerTimer() {
    if (!notes_ || !player_.isPlaying()) return;
    const int32_t tempo = player_.currentTempo();
    if (tempo <= 0) return;
    notes_->showPosition(static_cast<int32_t>(player_.position()));
    const int bpm = model::bpmOfTempo(tempo);
    {
        const QSignalBlocker block(sb_Tempo);
        sb_Tempo->setValue(bpm);
    }
    // A field the user is in, or has typed into, is theirs until Enter or leaving it.
    if (!t_Tempo->isModified() && !t_Tempo->hasFocus()) showTempoText(sb_Tempo->value());
}

// --- Tempo ------------------------------------------------------------------------------------

void TfMain::showTempoText(int bpm) {
    const QString text = QString::number(bpm);
    if (t_Tempo->text() != text) t_Tempo->setText(text);  // clears the user's modified mark
    t_Tempo->setModified(false);
}

void TfMain::sb_TempoScroll(int position) {
    tempoBpm_ = position;
    showTempoText(position);
    setTempoBpm(position);
}

void TfMain::t_TempoChange() {
    if (!t_Tempo->isModified()) return;
    const std::optional<int> bpm = model::readTempoText(t_Tempo->text().toStdString());
    if (!bpm) {
        showTempoText(sb_Tempo->value());
        return;
    }
    t_Tempo->setModified(false);
    {
        const QSignalBlocker block(sb_Tempo);
        sb_Tempo->setValue(*bpm);
    }
    setTempoBpm(*bpm);
}

void TfMain::setTempoBpm(int bpm) {
    tempoBpm_ = bpm;
    const int32_t tempo = model::tempoOfBpm(bpm);
    if (Composition* composition = notes_ ? notes_->composition() : nullptr) {
        // The project keeps the tempo: a new one is a change to save.
        if (composition->tempo != tempo) {
            composition->tempo = tempo;
            composition->setStateFlags(state_flag::kContentChanged, true);
            showSaveState();
        }
        player_.tempoFactor =
            model::tempoFactor(tempo, composition->eventValue(event_kind::kTempo, 0));
    }
    try {
        player_.setTempo(tempo);
    } catch (const AppError& e) {
        dialogs_.error(this, QString::fromStdString(e.what()));
    }
}

void TfMain::clearTempoDisplay() {
    playTimer->setInterval(model::kIdleTimerInterval);
    {
        const QSignalBlocker block(sb_Tempo);
        sb_Tempo->setValue(sb_Tempo->minimum());
    }
    t_Tempo->clear();
    t_Tempo->setModified(false);
    player_.tempoFactor = 1.0;
}

void TfMain::showDocumentTempo(const Composition& composition) {
    const int32_t tempo = composition.tempo > 0 ? composition.tempo : model::kDefaultTempo;
    tempo_ = tempo;
    playTimer->setInterval(model::timerInterval(tempo));
    const int bpm = model::bpmOfTempo(tempo);
    {
        const QSignalBlocker block(sb_Tempo);
        sb_Tempo->setValue(bpm);
    }
    showTempoText(bpm);
    tempoBpm_ = bpm;
    player_.tempoFactor = model::tempoFactor(tempo, composition.eventValue(event_kind::kTempo, 0));
}

// --- Position, markers, loop ------------------------------------------------------------------

void TfMain::b_BackClick() {
    if (notes_) notes_->backward();
}

void TfMain::b_ForwClick() {
    if (notes_) notes_->forward();
}

void TfMain::b_MarkClick() {
    if (notes_) notes_->insertMarker(-1);
}

void TfMain::b_Play2Click() {
    if (!notes_ || !notes_->scale()) {
        b_Play2->setChecked(false);
        return;
    }
    switch (model::loopingAction(player_.isPlaying(),
                                 player_.rangeSelector.load() == range_selector::kLoop,
                                 b_Play2->isChecked())) {
        case model::LoopingAction::Release:
            b_Play2->setChecked(false);
            break;
        case model::LoopingAction::DisposeLoop:
            notes_->loopCommand(1);
            break;
        case model::LoopingAction::DeleteLoop:
            notes_->loopCommand(2);
            break;
    }
}

void TfMain::me_FromToClick(QLabel* edge) {
    if (!notes_ || !notes_->scale()) return;
    // Over the text where it stands now, not where a pending layout would move it.
    if (QLayout* layout = p_Middle->layout()) layout->activate();
    me_FromTo->setGeometry(edge->geometry());
    me_FromTo->setProperty("Tag", edge->property("Tag"));
    me_FromTo->setText(QString::fromStdString(model::loopEditText(edge->text().toStdString())));
    loopEditText_ = edge->text();
    loopEditCancelled_ = false;
    me_FromTo->show();
    me_FromTo->raise();
    me_FromTo->setFocus(Qt::MouseFocusReason);
    // The bar is selected: the first digit typed starts a new bar number.
    me_FromTo->setSelection(0, model::kLoopBarColumns);
}

void TfMain::me_FromToKeyUp(int key) {
    if (!isDigitKey(key) || !notes_) return;
    QLabel* edge = me_FromTo->property("Tag").toInt() == 0 ? me_From : me_To;
    edge->setText(me_FromTo->displayText());
}

void TfMain::me_FromToExit() {
    me_FromTo->hide();
    if (!notes_) return;
    const bool editedFrom = me_FromTo->property("Tag").toInt() == 0;
    QLabel* edge = editedFrom ? me_From : me_To;
    if (loopEditCancelled_) {
        edge->setText(loopEditText_);
        return;
    }
    edge->setText(me_FromTo->displayText());
    notes_->setLoopFromEdits(editedFrom);
}

}  // namespace varimel
