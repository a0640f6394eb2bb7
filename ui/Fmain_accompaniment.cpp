// The main window's accompaniment commands: the key selector, the style and arrangement
// commands, the mode switches, and the instruments and volumes of the melody and chord strips.
// The decisions themselves are the engine's (AccompanimentChoice); the window runs them on the
// open document, then shows what changed and tells the player.
#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QToolBar>
#include <QUndoStack>
#include <cmath>

#include "accompaniment/AccompanimentChoice.h"
#include "accompaniment/DocumentOpening.h"
#include "accompaniment/Tarangsmaster.h"
#include "accompaniment/Tstylemaster.h"
#include "engine/Apperr.h"
#include "ui/DialogProvider.h"
#include "ui/Farrangs.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/Fpatchs1.h"
#include "ui/Fstyle1.h"
#include "ui/model/InstrumentsGrid.h"

namespace varimel {

namespace {

constexpr int kMaxVolume = 127;
constexpr int kPatchListLeftGap = 2;
constexpr int kPatchListWidth = 170;
// The captions beside the lights act as clicks on their rows.
constexpr int kLabelClickY[] = {0, 15, 25};

}  // namespace

void TfMain::connectAccompanimentCommands() {
    // Only a user's choice runs the key selector; showing a document's key does not.
    connect(cb_Key, &QComboBox::activated, this, &TfMain::cb_KeyClick);
    connect(b_StyleAcc, &QPushButton::clicked, this, &TfMain::b_StyleAccClick);
    connect(mnAStyle, &QAction::triggered, this, &TfMain::b_StyleAccClick);
    connect(tb_Arng, &QAction::triggered, this, &TfMain::tb_ArngClick);
    connect(mnAPArran, &QAction::triggered, this, &TfMain::mnAPArranClick);
    // The arrangement dialog is reached from the menu; the toolbar toggle stays hidden.
    mnAPArran->setVisible(true);
    connect(imgSAM, &ModeLightsView::rowPressed, this, &TfMain::imgSAMMouseDown);
    for (QLabel* label : {l_Beat, l_Style, l_Arng, l_MelPatch, l_ChrPatch})
        label->installEventFilter(this);
    connect(cb_Patchs, &QListWidget::itemClicked, this, &TfMain::cb_PatchsClick);
    connect(cb_Patchs, &QListWidget::itemActivated, this, &TfMain::cb_PatchsClick);
    for (QSlider* slider : {trb_VMel, trb_VChr})
        connect(slider, &QSlider::valueChanged, this, [this, slider] { trb_VolChange(slider); });
    for (QPushButton* button : {chb_MelOff, chb_ChrOff})
        connect(button, &QPushButton::clicked, this, [this, button] { chb_MuteClick(button); });
    connect(mnAPInstr, &QAction::triggered, this, &TfMain::mnAPInstrClick);
    connect(tb_Instr, &QAction::triggered, this, &TfMain::mnAPInstrClick);
    connect(cse_ChrOkt, &QSpinBox::valueChanged, this, &TfMain::cse_ChrOktChange);
}

bool TfMain::accompanimentLabelEvent(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::MouseButtonPress) return false;
    auto* label = qobject_cast<QLabel*>(watched);
    if (label == nullptr) return false;
    if (label == l_Beat || label == l_Style || label == l_Arng) {
        l_BeatClick(label);
        return true;
    }
    if (label == l_MelPatch || label == l_ChrPatch) {
        PatchClick(label);
        return true;
    }
    return false;
}

// --- Decisions ------------------------------------------------------------------------------

bool TfMain::decide(const std::function<void(AccompanimentSetup&, Composition&)>& decision) {
    Composition* composition = notes_ ? notes_->composition() : nullptr;
    if (composition == nullptr || player_.isPlaying()) return false;
    OpenedDocument& document = notes_->document();
    AccompanimentSetup& setup = document.setup;
    setup.playing = player_.isPlaying();
    const ChannelSettings before = document.channels;
    decision(setup, *composition);
    if (arrangementDialog_)
        arrangementDialog_->setArrangementApplied(setup.arrangements != nullptr &&
                                                  setup.arrangements->choiceMade);
    showChannels(before);
    showAccompanimentMode();
    return true;
}

// The strips, the instruments dialog and the player follow the channel table: every channel
// whose program or volume the decision changed is shown and sent.
void TfMain::showChannels(const ChannelSettings& before) {
    const ChannelSettings& channels = notes_->document().channels;
    {
        const QSignalBlocker melody(trb_VMel);
        const QSignalBlocker chords(trb_VChr);
        trb_VMel->setValue(kMaxVolume - channels.volume[0]);
        trb_VChr->setValue(kMaxVolume - channels.volume[1]);
    }
    l_MelPatch->setText(QString::fromStdString(instruments_.programName(channels.program[0])));
    l_ChrPatch->setText(QString::fromStdString(instruments_.programName(channels.program[1])));
    const bool gridShown = patchsDialog_ != nullptr && patchsDialog_->isVisible();
    for (int channel = 0; channel < ChannelSettings::kChannels; ++channel) {
        const auto index = static_cast<std::size_t>(channel);
        if (channels.program[index] != before.program[index]) {
            player_.setProgram(channels.program[index], channel);
            if (gridShown)
                patchsDialog_->showChannelName(
                    channel,
                    QString::fromStdString(instruments_.programName(channels.program[index])));
        }
        if (channels.volume[index] != before.volume[index]) {
            if (!channels.silenced(channel)) player_.setVolume(channels.volume[index], channel);
            if (gridShown) patchsDialog_->showChannelVolume(channel, channels.volume[index]);
        }
    }
}

// --- Key ------------------------------------------------------------------------------------

void TfMain::cb_KeyClick(int index) {
    Composition* composition = notes_ ? notes_->composition() : nullptr;
    if (composition == nullptr) return;
    if (index <= 0) {
        currentOptions.AutoKey = true;
    } else {
        // The key is fixed; the draft's method stays, and so does its check mark.
        composition->setStateFlags(0, false);
        composition->setStateFlags(state_flag::kKeyChanged, true);
        const KeyIndex key = static_cast<KeyIndex>(index - 1);
        setFileKey(*composition, key, currentOptions);
        composition->currentKey = static_cast<int8_t>(key);
    }
    // Chord edits belong to the harmony of the old key, which the next Create replaces.
    undoStack_->clear();
    setCommandState(model::command_mode::kChanged);
    composition->setStateFlags(state_flag::kKeyChanged | state_flag::kContentChanged, true);
}

// --- Style and arrangement ------------------------------------------------------------------

void TfMain::b_StyleAccClick() {
    Composition* composition = notes_ ? notes_->composition() : nullptr;
    if (composition == nullptr || player_.isPlaying() || styleDialog_ == nullptr) return;
    int numerator = 4;
    int denominator = 4;
    composition->meterMap().meterOfPiece(numerator, denominator);
    styleDialog_->setMeter(numerator, denominator);
    styleDialog_->setArrangementEnabled(
        (composition->accompanimentParts & accompaniment_part::kArrangement) != 0);
    StyleDialogResult result;
    result.accepted = dialogs_.run(*styleDialog_) == QDialog::Accepted;
    result.selection = styleDialog_->selection().id;
    result.arrangementEnabled = styleDialog_->arrangementEnabled();
    decide([&result](AccompanimentSetup& setup, Composition& c) {
        applyStyleDialogResult(setup, c, result);
    });
}

void TfMain::tb_ArngClick() {
    if (!decide([](AccompanimentSetup& setup, Composition& c) { toggleArrangement(setup, c); })) {
        // Refused: the toggle shows the piece's parts again.
        const Composition* composition = notes_ ? notes_->composition() : nullptr;
        tb_Arng->setChecked(composition != nullptr &&
                            (composition->accompanimentParts & accompaniment_part::kArrangement));
    }
}

void TfMain::mnAPArranClick() {
    Composition* composition = notes_ ? notes_->composition() : nullptr;
    if (composition == nullptr || player_.isPlaying() || arrangementDialog_ == nullptr) return;
    int numerator = 4;
    int denominator = 4;
    composition->meterMap().meterOfPiece(numerator, denominator);
    arrangementDialog_->library().setMeter(numerator, denominator);
    arrangementDialog_->setCompositionArrangement(composition->arrangementId);
    if (dialogs_.run(*arrangementDialog_) != QDialog::Accepted) return;
    const ArrangementId selection = arrangementDialog_->selectedId();
    if (selection == kNoArrangement) return;
    // OK on the arrangement the piece already plays changes nothing.
    if (selection == composition->arrangementId &&
        (composition->accompanimentParts & accompaniment_part::kArrangement))
        return;
    decide([selection](AccompanimentSetup& setup, Composition& c) {
        applyArrangementChoice(setup, c, selection);
    });
}

// --- Mode switches --------------------------------------------------------------------------

void TfMain::imgSAMMouseDown(int row) {
    SwitchOutcome outcome = SwitchOutcome::kRefused;
    decide([row, &outcome](AccompanimentSetup& setup, Composition& c) {
        outcome = toggleAccompanimentPart(setup, c, row);
    });
    if (outcome == SwitchOutcome::kStyleUnavailable) drawModeLight(1, LightLook::Unavailable);
}

void TfMain::l_BeatClick(QLabel* label) {
    const int row = label == l_Beat ? 0 : label == l_Style ? 1 : 2;
    imgSAMMouseDown(kLabelClickY[row] / ModeLightsView::kRowHeight);
}

// --- Instruments ----------------------------------------------------------------------------

void TfMain::PatchClick(QLabel* label) {
    if (notes_ == nullptr || notes_->composition() == nullptr) return;
    if (cb_Patchs->isVisible()) {
        cb_Patchs->hide();
        return;
    }
    const int channel = label->property("Tag").toInt();
    QWidget* region = channel == 0 ? p_MelG : p_ChrG;
    QWidget* strip = channel == 0 ? p_VMel : p_VChr;
    cb_Patchs->setProperty("Tag", channel);
    const QPoint regionTop = region->mapTo(this, QPoint(0, 0));
    const QPoint labelLeft = label->mapTo(this, QPoint(0, 0));
    cb_Patchs->setGeometry(labelLeft.x() + kPatchListLeftGap, regionTop.y(), kPatchListWidth,
                           strip->height());
    const int program = notes_->document().channels.program[static_cast<std::size_t>(channel)];
    {
        const QSignalBlocker block(cb_Patchs);
        cb_Patchs->setCurrentRow(instruments_.entryOfProgram(program));
    }
    cb_Patchs->show();
    cb_Patchs->raise();
    cb_Patchs->setFocus();
}

void TfMain::cb_PatchsClick() {
    applyPatch();
    const int channel = cb_Patchs->property("Tag").toInt();
    if (patchsDialog_ && patchsDialog_->isVisible() && cb_Patchs->currentRow() >= 0) {
        patchsDialog_->showChannelName(channel, cb_Patchs->currentItem()->text());
    }
}

void TfMain::applyPatch() {
    const int channel = cb_Patchs->property("Tag").toInt();
    const int program = instruments_.programOfEntry(cb_Patchs->currentRow());
    cb_Patchs->hide();
    // Nothing chosen is no instrument, not the last one.
    if (program < 0) return;
    if (channel == 0 || channel == 1) {
        QLabel* shown = channel == 0 ? l_MelPatch : l_ChrPatch;
        shown->setText(QString::fromStdString(instruments_.programName(program)));
    }
    player_.setProgram(program, channel);
    Composition* composition = notes_ ? notes_->composition() : nullptr;
    if (composition == nullptr) return;
    AccompanimentSetup& setup = notes_->document().setup;
    varimel::applyPatch(setup, *composition, channel, program);
    if (channel == 1 && (composition->accompanimentParts & accompaniment_part::kStyle)) {
        // The user's instrument replaces the style's until another style is chosen.
        setup.stylePatchSet = true;
    }
    setCommandState(model::command_mode::kChanged);
}

void TfMain::mnAPInstrClick() {
    if (patchsDialog_ == nullptr) {
        patchsDialog_ = new TfPatchs(player_, this);
        patchsDialog_->setMainControls(
            {chb_MelOff, chb_ChrOff, trb_VMel, trb_VChr,
             qobject_cast<QAbstractButton*>(ToolBar1->widgetForAction(tb_Instr))});
        patchsDialog_->onPatchChosen = [this](int channel, int program) {
            cb_Patchs->setProperty("Tag", channel);
            const QSignalBlocker block(cb_Patchs);
            cb_Patchs->setCurrentRow(instruments_.entryOfProgram(program));
            applyPatch();
        };
        patchsDialog_->onVolumeSliderWritten = [this](int channel) {
            trb_VolChange(channel == 0 ? trb_VMel : trb_VChr);
        };
    }
    if (patchsDialog_->isVisible()) {
        patchsDialog_->hide();
        return;
    }
    const QPoint top = p_MelG->mapToGlobal(QPoint(0, 0));
    patchsDialog_->placeBeside(QRect(top, QSize(p_MelG->width(), p_MelG->height())));
    ChannelSettings& channels = notes_ ? notes_->document().channels : *player_.channelSettings;
    patchsDialog_->showFor(channels, instruments_);
    patchsDialog_->rebind(channels, notes_ ? QFileInfo(documentFileName_).fileName() : QString());
}

// --- Volumes --------------------------------------------------------------------------------

int TfMain::sliderVolume(const QSlider* slider) const {
    const int maximum = std::max(slider->maximum(), 1);
    return kMaxVolume - static_cast<int>(std::lround(static_cast<double>(slider->value()) *
                                                     kMaxVolume / maximum));
}

void TfMain::trb_VolChange(QSlider* slider) {
    if (notes_ == nullptr || notes_->composition() == nullptr) return;
    setChannelVolume(sliderVolume(slider), slider->property("Tag").toInt());
}

void TfMain::chb_MuteClick(QPushButton* button) {
    if (notes_ == nullptr || notes_->composition() == nullptr) return;
    const int channel = button->property("Tag").toInt();
    QSlider* slider = channel == 0 ? trb_VMel : trb_VChr;
    const bool muted = button->isChecked();
    slider->setEnabled(!muted);
    const int volume = muted ? 0 : sliderVolume(slider);
    notes_->document().channels.mute[static_cast<std::size_t>(channel)] = muted ? 1 : 0;
    if (patchsDialog_ && patchsDialog_->isVisible()) patchsDialog_->showChannelMute(channel, muted);
    setChannelVolume(volume, channel);
}

void TfMain::setChannelVolume(int volume, int channel) {
    Composition* composition = notes_ ? notes_->composition() : nullptr;
    player_.setVolume(volume, channel);
    // 0 only silences: the stored volume stays, and a mute is not saved.
    if (composition && volume > 0)
        varimel::setChannelVolume(notes_->document().setup, *composition, channel, volume);
    if (composition) showSaveState();
    if (patchsDialog_ && patchsDialog_->isVisible() && volume > 0)
        patchsDialog_->showChannelVolume(channel, volume);
}

// --- Octave ---------------------------------------------------------------------------------

void TfMain::cse_ChrOktChange(int octave) {
    if (Composition* composition = notes_ ? notes_->composition() : nullptr)
        composition->accompanimentOctave = static_cast<int8_t>(octave);
}

}  // namespace varimel
