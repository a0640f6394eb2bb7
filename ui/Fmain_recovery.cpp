// The main window's recovery copies: the autosave keeper it owns, and at start the offer to
// restore, discard or keep the unsaved work that a window which did not close properly left.
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QStringList>

#include "accompaniment/DocumentOpening.h"
#include "engine/Mas_file.h"
#include "ui/DialogProvider.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/RecoveryKeeper.h"
#include "ui/model/AutosaveSchedule.h"

namespace varimel {

void TfMain::createRecoveryKeeper() {
    auto snapshot = [this]() -> std::optional<RecoveryKeeper::Snapshot> {
        // Playback reads the document on its worker: the copy waits until it stops.
        if (player_.isPlaying()) return std::nullopt;
        Composition* composition = notes_ ? notes_->composition() : nullptr;
        if (composition == nullptr) return RecoveryKeeper::Snapshot{};
        // The channels go into the copy as a save stores them.
        storeDocumentSettings(notes_->document());
        const std::vector<std::uint8_t> bytes = ProjectWriter::encode(*composition, currentOptions);
        return RecoveryKeeper::Snapshot{std::string(bytes.begin(), bytes.end()),
                                        QFile::encodeName(documentFileName_).toStdString()};
    };
    recovery_ = new RecoveryKeeper(model::readAutosaveSettings(), model::recoveryFolder(),
                                   std::move(snapshot), this);
    recovery_->setObjectName(QStringLiteral("recoveryKeeper"));
    connect(recovery_, &RecoveryKeeper::copyWritten, this,
            [this](bool succeeded, const QString& reason) {
                // Quietly, in the status bar: a box every half minute would stop the user.
                if (!succeeded) statusPanel(0)->setText(tr("Recovery copy not written: ") + reason);
            });
}

void TfMain::offerRecoveryCopies() {
    if (recovery_ == nullptr) return;
    const QStringList buttons{QString::fromUtf8(model::kRestoreButton.data()),
                              QString::fromUtf8(model::kDiscardButton.data()),
                              QString::fromUtf8(model::kLaterButton.data())};
    bool restored = false;
    for (auto& copy : model::RecoveryCopy::claimOrphans(recovery_->folder())) {
        if (!model::recoveryCopyReadable(copy->projectPath())) {
            std::filesystem::path keptAt = copy->projectPath();
            std::string error;
            if (!copy->putAside(keptAt, error)) keptAt = copy->projectPath();
            dialogs_.message(this, model::MessageKind::Warning,
                             displayText(model::unreadableCopyText(keptAt)), QMessageBox::Ok);
            continue;
        }
        // One document is open at a time: the others wait for the next start.
        if (restored) continue;
        const int answer =
            dialogs_.choose(this, model::MessageKind::Confirmation,
                            QString::fromStdString(model::recoveryQuestion(copy->info())), buttons);
        if (answer == static_cast<int>(model::RecoveryAnswer::Discard))
            copy->remove();
        else if (answer == static_cast<int>(model::RecoveryAnswer::Restore))
            restored = restoreRecoveryCopy(std::move(copy));
    }
}

bool TfMain::restoreRecoveryCopy(std::unique_ptr<model::RecoveryCopy> copy) {
    const model::RecoveryInfo info = copy->info();
    openFile(QFile::decodeName(QByteArray::fromStdString(copy->projectPath().string())), 0);
    Composition* composition = notes_ ? notes_->composition() : nullptr;
    if (composition == nullptr) return false;
    // Under the name of the file it belongs to, changed and not yet saved: Save asks where.
    if (!info.document.empty())
        documentFileName_ = QFile::decodeName(QByteArray::fromStdString(info.document));
    needsProjectName_ = true;
    setDocumentCaption(" - " + QFileInfo(documentFileName_).fileName());
    composition->setStateFlags(state_flag::kContentChanged, true);
    setCommandState(model::command_mode::kChanged);
    recovery_->adopt(std::move(copy));
    return true;
}

}  // namespace varimel
