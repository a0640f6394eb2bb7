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
    composition->analysisStatus = 0;
    master.status = 0;
    const StatusCode status = master.harmonise(currentOptions, chordMethod_);
    switch (status) {
        case status::kOk:
            break;
        case status::kMajorOrRelativeMinor: {
            const auto answer = dialogs_.show(this, model::msg::msgApplyMinorKey);
            if (answer == QMessageBox::Cancel) return;
            composition->setStateFlags(0xFF, false);
            composition->setStateFlags(state_flag::kKeyChanged, true);
            KeyIndex key = master.key;
            if (answer == QMessageBox::Yes && isValidKey(key)) key = relativeKey(key % 12);
            setFileKey(*composition, key, currentOptions);
            master.harmonise(currentOptions, chordMethod_);
            break;
        }
        case status::kKeyNotRecognised:
            currentOptions.AutoKey = false;
            dialogs_.show(this, model::msg::msgKeyUnknownCreate);
            return;
        case status::kManyKeys:
            dialogs_.show(this, model::msg::msgManyKeys);
            break;
        default:
            dialogs_.error(this, QString::fromStdString(model::formatText(
                                     model::text::kErrorNumber, static_cast<long long>(status))));
            return;
    }

    // The new chord track: the cursor to the start, the grid anew, edits of the old one gone.
    notes_->playRange().set(PlayRange::kStart, 0);
    notes_->backward();
    chords_->createGrid(*composition, *notes_->scale());
    undoStack_->clear();
    setCommandState(model::command_mode::kAccompaniment);
    composition->setStateFlags(0xFF, false);
    composition->setStateFlags(state_flag::kContentChanged, true);
    {
        const QSignalBlocker block(cb_Key);
        const KeyIndex key = composition->keys.empty() ? master.key : composition->keys[0].key;
        if (isValidKey(key)) cb_Key->setCurrentIndex(key + 1);
    }
    OpenedDocument& document = notes_->document();
    document.options = currentOptions;
    finishHarmonising(document, [this](const std::string& text) {
        dialogs_.message(this, model::MessageKind::Warning, displayText(text), QMessageBox::Ok);
    });
    stylePatchSet_ = document.setup.stylePatchSet;
    showAccompanimentMode();
    composition->setStateFlags(state_flag::kContentChanged, true);
}

}  // namespace varimel
