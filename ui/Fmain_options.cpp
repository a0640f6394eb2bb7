// The main window's options command and the hidden "Create manually ..." command of the Harmony
// menu.
#include <QAction>

#include "engine/Apperr.h"
#include "settings/HarmonyOptions.h"
#include "ui/DialogProvider.h"
#include "ui/Fchrman.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/Foptions.h"
#include "ui/model/Msg_list.h"

namespace varimel {

void TfMain::connectOptionsCommands() {
    optionsDialog_ = new TfOptions(currentOptions, help_, this);
    connect(mnAOptions, &QAction::triggered, this, &TfMain::mnAOptionsClick);
    connect(tb_Opt, &QAction::triggered, this, &TfMain::mnAOptionsClick);
    connect(mnHCreateman, &QAction::triggered, this, [this] { mnHarmItClick(mnHCreateman); });
}

// The dialog edits the options the engine reads; the next Create Accompaniment harmonises with
// them, which the changed-settings flag permits.
void TfMain::mnAOptionsClick() {
    optionsDialog_->selectPage(0);
    optionsDialog_->fillPatchList(instruments_);
    const int result = dialogs_.run(*optionsDialog_);
    optionsDialog_->clearPatchList();
    if (result != QDialog::Accepted) return;
    // Ticked, "Save as Default" makes these the options every melody opened from now on starts
    // from, kept for the next run; unticked, they last for this session.
    if (currentOptions.AutoSaveOpt) savedDefaults_ = currentOptions;
    if (Composition* composition = notes_ ? notes_->composition() : nullptr)
        composition->setStateFlags(state_flag::kHarmonySettingsChanged, true);
}

// Hand-made progressions are not built yet: the command takes the meter and key, then says so.
void TfMain::mnHCreatemanClick() {
    if (!chrManDialog_) chrManDialog_ = new TfChrMan(help_, this);
    if (dialogs_.run(*chrManDialog_) != QDialog::Accepted) return;
    dialogs_.plain(this, QString::fromUtf8(model::text::kManually.data(),
                                           static_cast<qsizetype>(model::text::kManually.size())));
}

}  // namespace varimel
