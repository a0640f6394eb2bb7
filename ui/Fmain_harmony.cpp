// The main window's harmony commands: the drafts of the Harmony menu and Create Accompaniment,
// which harmonises the melody and shows its chords and accompaniment parts.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QUndoStack>

#include "accompaniment/DocumentOpening.h"
#include "engine/Apperr.h"
#include "engine/Wchordmaster.h"
#include "settings/HarmonyOptions.h"
#include "ui/DialogProvider.h"
#include "ui/Fchords1.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/model/CreateFlow.h"
#include "ui/model/Msg_list.h"

namespace varimel {

void TfMain::connectHarmonyCommands() {
    for (QAction* item : mnHDraft_) {
        connect(item, &QAction::triggered, this, [this, item] { mnHarmItClick(item); });
    }
    connect(mnACreate, &QAction::triggered, this, &TfMain::b_CreateAccClick);
    connect(b_CreateAcc, &QPushButton::clicked, this, &TfMain::b_CreateAccClick);
}

// A draft only sets the options; the next Create Accompaniment harmonises with them.
void TfMain::mnHarmItClick(QAction* item) {
    const int tag = item->property("Tag").toInt();
    if (tag == 0) return mnHCreatemanClick();
    checkDraftItem(tag - 1);
    applyDraft(tag, currentOptions);
    chordMethod_ = tag == kDraftIV ? ChordMethod::kDraftFour : ChordMethod::kHarmonizer;
    if (Composition* composition = notes_ ? notes_->composition() : nullptr) {
        composition->setStateFlags(state_flag::kHarmonySettingsChanged, true);
    }
}

void TfMain::b_CreateAccClick() {
    Composition* composition = notes_ ? notes_->composition() : nullptr;
    if (!composition || player_.isPlaying() ||
        !composition->testStateFlags(state_flag::kNeedsHarmony)) {
        return;
    }
    resetChordDisplay();
    ChordMaster& master = *notes_->chordMaster();
    const auto harmonise = [this, &master] {
        return harmoniser_ ? harmoniser_(master, currentOptions, chordMethod_)
                           : master.harmonise(currentOptions, chordMethod_);
    };
    // What a failed harmonisation puts back.
    HarmonySnapshot before = takeHarmonySnapshot(master);
    composition->analysisStatus = 0;
    master.status = 0;
    model::CreateStep step = model::createStep(harmonise());
    if (step.action == model::CreateAction::AskMinorKey) {
        const auto answer = dialogs_.show(this, *step.message);
        if (answer == QMessageBox::Cancel) {
            restoreHarmony(master, std::move(before));
            return;
        }
        composition->setStateFlags(0, false);
        composition->setStateFlags(state_flag::kKeyChanged, true);
        // The major key, or on Yes its relative minor, as the command line's --major/--minor.
        if (isValidKey(master.key)) {
            const KeyIndex major = master.key % 12;
            setFileKey(*composition, answer == QMessageBox::Yes ? relativeKey(major) : major,
                       currentOptions);
        }
        step = model::createStep(harmonise(), true);
    }
    if (step.autoKeyOff) currentOptions.AutoKey = false;
    if (step.action == model::CreateAction::Stop) {
        restoreHarmony(master, std::move(before));
        if (step.message)
            dialogs_.show(this, *step.message);
        else
            dialogs_.error(this, QString::fromStdString(step.errorText));
        return;
    }
    if (step.message) dialogs_.show(this, *step.message);
    keepChosenStyle(*composition, before);

    // The new chord track: the cursor to the start, the grid anew, edits of the old one gone.
    notes_->playRange().set(PlayRange::kStart, 0);
    notes_->backward();
    chords_->createGrid(*composition, *notes_->scale());
    undoStack_->clear();
    setCommandState(model::command_mode::kAccompaniment);
    composition->setStateFlags(0, false);
    composition->setStateFlags(state_flag::kContentChanged, true);
    const KeyIndex key = composition->keys.empty() ? master.key : composition->keys[0].key;
    if (isValidKey(key)) {
        const QSignalBlocker block(cb_Key);
        cb_Key->setCurrentIndex(key + 1);
        composition->currentKey = static_cast<int8_t>(key);
    }
    OpenedDocument& document = notes_->document();
    document.options = currentOptions;
    document.setup.playing = false;
    const ChannelSettings channelsBefore = document.channels;
    finishHarmonising(document, [this](const std::string& text) {
        dialogs_.message(this, model::MessageKind::Warning, displayText(text), QMessageBox::Ok);
    });
    showChannels(channelsBefore);
    showAccompanimentMode();
    if (!(composition->accompanimentParts & accompaniment_part::kStyle)) {
        // No style for this meter: the block chords, and no style to switch on.
        drawModeLight(1, LightLook::Unavailable);
        l_Style->setEnabled(false);
    }
    composition->setStateFlags(state_flag::kContentChanged, true);
}

}  // namespace varimel
