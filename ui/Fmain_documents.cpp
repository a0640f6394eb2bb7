// The main window's document commands: open (from the menu, the recent files or the command
// line), close, save, save as, export, the recent-files menu, and what the window shows of an
// open document.
#include <QAction>
#include <QBoxLayout>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QUndoStack>
#include <algorithm>
#include <filesystem>

#include "accompaniment/StyleRenderer.h"
#include "accompaniment/Tarangsmaster.h"
#include "accompaniment/Tstylemaster.h"
#include "engine/Apperr.h"
#include "engine/Mas_file.h"
#include "engine/MidiExport.h"
#include "leadsheet/LeadSheet.h"
#include "leadsheet/MelodyFiles.h"
#include "ui/ChordEditCommand.h"
#include "ui/DialogProvider.h"
#include "ui/Farrangs.h"
#include "ui/Fchords1.h"
#include "ui/Fmain.h"
#include "ui/Fnotes_l1.h"
#include "ui/Fpatchs1.h"
#include "ui/Fsetchnl.h"
#include "ui/Fstyle1.h"
#include "ui/RecoveryKeeper.h"
#include "ui/model/DocumentFlow.h"
#include "ui/model/Msg_list.h"
#include "ui/model/Transport.h"

namespace varimel {

namespace {

constexpr int kMaxVolume = 127;
constexpr int kLowestShownOctave = 4;

// "Caption (*.a)|*.a|Other (*.b)|*.b" as a Qt file-dialog filter.
QString qtFilter(const char* filter) {
    const QStringList parts = QString::fromLatin1(filter).split('|');
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) entries << parts[i];
    return entries.join(";;");
}

QString fromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string toPath(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

QString menuCaption(QString text) {
    return text.replace('&', "&&");
}

}  // namespace

void TfMain::connectDocumentCommands() {
    connect(mnFOpen, &QAction::triggered, this, &TfMain::mnFOpenClick);
    connect(mnFClose, &QAction::triggered, this, &TfMain::mnFCloseClick);
    connect(tb_Close, &QAction::triggered, this, &TfMain::mnFCloseClick);
    connect(mnFSave, &QAction::triggered, this, &TfMain::mnFSaveClick);
    connect(tb_Save, &QAction::triggered, this, &TfMain::mnFSaveClick);
    connect(mnFSaveAs, &QAction::triggered, this, &TfMain::mnFSaveAsClick);
    connect(mnFExport, &QAction::triggered, this, &TfMain::mnFExportClick);
    connect(mnFLeadSheet, &QAction::triggered, this, &TfMain::mnFLeadSheetClick);
    connect(tb_Export, &QAction::triggered, this, &TfMain::mnFExportClick);
    connect(pmntbOpen, &QMenu::aboutToShow, this, &TfMain::pmntbOpenPopup);
    createEditMenu();
    connectHarmonyCommands();
    connectAccompanimentCommands();
}

// --- Undo and redo of chord edits -------------------------------------------------------------

void TfMain::createEditMenu() {
    undoStack_ = new QUndoStack(this);
    mnEdit = new QMenu(tr("&Edit"), this);
    mnEdit->setObjectName("mnEdit");
    mnMain->insertMenu(mnView->menuAction(), mnEdit);
    mnEUndo = mnEdit->addAction(tr("Undo"));
    mnEUndo->setObjectName("mnEUndo");
    mnEUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    mnERedo = mnEdit->addAction(tr("Redo"));
    mnERedo->setObjectName("mnERedo");
    mnERedo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(mnEUndo, &QAction::triggered, this, &TfMain::mnEUndoClick);
    connect(mnERedo, &QAction::triggered, this, &TfMain::mnERedoClick);
    connect(undoStack_, &QUndoStack::indexChanged, this, &TfMain::updateEditMenu);
    // The menu is brought up to date whenever it opens, so that playback disables it.
    connect(mnEdit, &QMenu::aboutToShow, this, &TfMain::updateEditMenu);
    updateEditMenu();
}

void TfMain::updateEditMenu() {
    const bool playing = player_.isPlaying();
    mnEUndo->setEnabled(!playing && undoStack_->canUndo());
    mnERedo->setEnabled(!playing && undoStack_->canRedo());
    mnEUndo->setText(undoStack_->canUndo() ? tr("Undo %1").arg(undoStack_->undoText())
                                           : tr("Undo"));
    mnERedo->setText(undoStack_->canRedo() ? tr("Redo %1").arg(undoStack_->redoText())
                                           : tr("Redo"));
}

// Like every chord change, undo and redo wait while the piece plays.
void TfMain::mnEUndoClick() {
    if (!player_.isPlaying() && chords_) undoStack_->undo();
    updateEditMenu();
}
void TfMain::mnERedoClick() {
    if (!player_.isPlaying() && chords_) undoStack_->redo();
    updateEditMenu();
}

void TfMain::mnFOpenClick() {
    openFile(documentFileName_, kOpenWithDialog);
}
void TfMain::mnFCloseClick() {
    if (closeDocument()) setCommandState(model::command_mode::kClosed);
}
void TfMain::mnFSaveClick() {
    saveDocument(model::SaveMode::Save);
}
void TfMain::mnFSaveAsClick() {
    saveDocument(model::SaveMode::SaveAs);
}
void TfMain::mnFExportClick() {
    saveDocument(model::SaveMode::Export);
}

// The melody with its chord symbols as a MusicXML lead sheet, for notation programs.
void TfMain::mnFLeadSheetClick() {
    Composition* composition = notes_ ? notes_->composition() : nullptr;
    if (composition == nullptr || !composition->hasChordTrack()) return;
    const QFileInfo document(documentFileName_);
    const QString proposed =
        document.dir().filePath(document.completeBaseName() + QStringLiteral(".musicxml"));
    QString chosen = dialogs_.saveFileName(this, tr("Export lead sheet"), proposed,
                                           tr("MusicXML lead sheets (*.musicxml)"));
    if (chosen.isEmpty()) return;
    if (QFileInfo(chosen).suffix().isEmpty()) chosen += QStringLiteral(".musicxml");
    // The lead sheet never replaces the file the piece came from.
    std::error_code same;
    if (std::filesystem::equivalent(toPath(chosen), toPath(documentFileName_), same)) {
        dialogs_.show(this, model::msg::msgCantSave,
                      chosen + "\n\r" + tr("It is the open document."));
        return;
    }
    LeadSheetOptions options;
    // The title the user gave, else the score's or tune's own, else the file's name.
    options.title = !compositionTitle_.isEmpty() ? compositionTitle_.toStdString()
                    : !melodyInfo_.title.empty() ? melodyInfo_.title
                                                 : document.completeBaseName().toStdString();
    options.composer =
        !compositionAuthor_.isEmpty() ? compositionAuthor_.toStdString() : melodyInfo_.composer;
    options.repeats = melodyInfo_.repeats;
    std::string error;
    if (!exportMusicXml(*composition, options, toPath(chosen), error))
        dialogs_.show(this, model::msg::msgCantSave,
                      chosen + "\n\r" + QString::fromStdString(error));
}

// --- Recent files ---------------------------------------------------------------------------

void TfMain::addRecentFile(const QString& name) {
    recent_.add(toPath(name));
    // Exit writes the list back only when it changed in this session.
    if (recent_.changed()) recentFilesChanged_ = true;
    rebuildRecentFilesMenu();
}

void TfMain::rebuildRecentFilesMenu() {
    mnRecentFiles->clear();
    const auto& names = recent_.names();
    for (size_t i = 0; i < names.size(); ++i) {
        const QString file = fromPath(names[i]);
        QAction* item = mnRecentFiles->addAction(menuCaption(file));
        item->setData(file);
        const int index = static_cast<int>(i);
        connect(item, &QAction::triggered, this, [this, file, index] { openFile(file, index); });
    }
    // An empty submenu would not open at all: it shows greyed instead.
    mnRecentFiles->menuAction()->setEnabled(!names.empty());
}

void TfMain::pmntbOpenPopup() {
    pmntbOpen->clear();
    for (QAction* item : mnRecentFiles->actions()) {
        QAction* copy = pmntbOpen->addAction(item->text());
        connect(copy, &QAction::triggered, item, &QAction::trigger);
    }
}

// --- Opening --------------------------------------------------------------------------------

void TfMain::openFile(const QString& fileName, int origin) {
    // Nothing changes while the player plays (not even the project-name flag).
    if (player_.isPlaying()) return;
    needsProjectName_ = false;
    if (!closeDocument()) return;
    setCommandState(model::command_mode::kClosed);

    QString name = fileName;
    if (origin == kOpenWithDialog) {
        name = dialogs_.openFileName(this, tr("Open"), openDir_, openFilter_);
        if (name.isEmpty()) return;
        openDir_ = QFileInfo(name).absolutePath();
    }

    DocumentKind kind = documentKindByExtension(toPath(name));
    // MusicXML scores and ABC tunes open as melodies; saving asks for a project name.
    const bool leadSheet = kind == DocumentKind::kNone && isMelodyFile(toPath(name)) &&
                           melodyFormatOf(toPath(name)) != MelodyFormat::kMidi;
    if (leadSheet) kind = DocumentKind::kMidi;
    if (kind == DocumentKind::kNone) {
        dialogs_.show(this, model::msg::msgCantOpenFile, name);
        return;
    }
    documentFileName_ = QFileInfo(name).absoluteFilePath();

    createNotesView();
    keyUnrecognised_ = false;
    channelChoiceCancelled_ = false;
    OpeningRequest request;
    request.path = toPath(documentFileName_);
    request.kind = kind;
    request.styles = styleDialog_ ? &styleDialog_->library() : nullptr;
    request.arrangements = arrangementDialog_ ? &arrangementDialog_->library() : nullptr;
    request.report = [this](const std::string& text) {
        dialogs_.message(this, model::MessageKind::Warning, displayText(text), QMessageBox::Ok);
    };
    request.chooseMelodyChannel = [this](const std::vector<int>& channels) {
        return chooseMelodyChannel(channels);
    };
    request.savedVolumes = savedVolumes_;
    request.melodyOptions = savedDefaults_;
    if (leadSheet) {
        request.loadMelody = [this](ChordMaster& master) {
            std::vector<std::string> warnings;
            const StatusCode status = loadMelodyFile(master, MelodySource{}, warnings, melodyInfo_);
            for (const std::string& warning : warnings)
                dialogs_.message(this, model::MessageKind::Warning, QString::fromStdString(warning),
                                 QMessageBox::Ok);
            return status;
        };
    }
    const StatusCode status = notes_->openDocument(request);
    // A MIDI file without notes, or with drums only, has no melody: said so, not "too short".
    if (kind == DocumentKind::kMidi && !leadSheet && notes_->chordMaster() != nullptr) {
        const std::string absent = model::noMelodyText(notes_->chordMaster()->noteChannels(),
                                                       status, toPath(documentFileName_));
        if (!absent.empty()) {
            dialogs_.message(this, model::MessageKind::Error, displayText(absent), QMessageBox::Ok);
            closeDocument();
            return;
        }
    }
    if (status != status::kOk && !handleLoadStatus(status)) {
        closeDocument();
        return;
    }

    OpenedDocument& document = notes_->document();
    Composition& composition = *document.composition();
    composition.analysisStatus = 0;
    document.master->status = 0;
    notes_->layoutDocument();
    documentKind_ = static_cast<std::uint8_t>(kind);
    // The method goes back to Draft I with its check mark: never one without the other.
    checkDraftItem(0);
    chordMethod_ = ChordMethod::kHarmonizer;
    // The options come from the project only once it opened.
    currentOptions = document.options;
    if (origin != 0) addRecentFile(documentFileName_);

    player_.playRange = &notes_->playRange();
    player_.composition = &composition;
    player_.channelSettings = &document.channels;
    player_.restartRequest = &notes_->restartRequest();
    if (patchsDialog_) patchsDialog_->rebind(document.channels, QFileInfo(name).fileName());

    createChordsView();
    showDocumentSettings(kind);
    setCommandState(model::command_mode::kOpened);
    setDocumentCaption(" - " + QFileInfo(documentFileName_).fileName());
    composition.setStateFlags(0xFF, false);

    if (kind == DocumentKind::kProject && composition.hasChordTrack()) {
        chords_->createGrid(composition, *notes_->scale());
        setCommandState(model::command_mode::kAccompaniment);
        showAccompanimentMode();
        composition.setStateFlags(0xFF, false);
    } else if (kind == DocumentKind::kMidi) {
        needsProjectName_ = true;
        composition.setStateFlags(state_flag::kMelodyLoaded, true);
    }
    showDocumentSettings(kind);
    setCommandState(model::command_mode::kSaved);
    if (recovery_) recovery_->documentOpened();
}

int TfMain::chooseMelodyChannel(const std::vector<int>& channels) {
    // Only channels whose notes would pass as a melody are offered.
    Composition* composition = notes_ ? notes_->composition() : nullptr;
    std::vector<model::ChannelCandidate> candidates;
    const std::array<std::string, 16> trackNames =
        model::trackNamesOfChannels(toPath(documentFileName_));
    for (const int channel : channels) {
        if (!composition || !notes_->channelCaption(channel).second) continue;
        const auto kind = static_cast<std::uint8_t>(event_kind::kProgramChange | channel);
        const int program =
            composition->findEvent(kind, 0, true) ? (composition->eventValue(kind, 0) & 0x7F) : -1;
        candidates.push_back(
            {channel, program, trackNames[static_cast<std::size_t>(channel & 0x0F)]});
    }
    if (candidates.empty()) return -1;
    if (candidates.size() == 1) return candidates.front().channel;

    TfSetChn dialog(this);
    const auto lines = model::channelCandidateLines(candidates, instruments_);
    for (size_t i = 0; i < lines.size(); ++i) {
        dialog.addChannel(QString::fromStdString(lines[i]),
                          static_cast<std::uint8_t>(candidates[i].channel));
    }
    dialog.list()->setCurrentIndex(0);
    if (dialogs_.run(dialog) != QDialog::Accepted) {
        channelChoiceCancelled_ = true;
        return -1;
    }
    return dialog.selectedChannel();
}

bool TfMain::handleLoadStatus(StatusCode status) {
    const std::string name = toPath(documentFileName_);
    ChordMaster* master = notes_ ? notes_->chordMaster() : nullptr;
    model::LoadStatusAnswer answer =
        model::answerLoadStatus(status, name, master ? master->readerMessage() : std::string());
    if (answer.action == model::LoadStatusAnswer::Action::ChooseChannel) {
        // The channel choice ran while the document opened; here it was not resolved.
        answer = model::unresolvedChannelAnswer(name, channelChoiceCancelled_);
    }
    if (answer.kind != model::MessageKind::None) {
        dialogs_.message(this, answer.kind, displayText(answer.text), QMessageBox::Ok);
    }
    if (answer.keyUnrecognised) keyUnrecognised_ = true;
    return answer.action == model::LoadStatusAnswer::Action::Continue;
}

void TfMain::createNotesView() {
    notes_ = new TfNotes_l(p_MelG, player_);
    // Beside the strip, taking the room the empty panel's stretch held.
    auto* row = static_cast<QBoxLayout*>(p_MelG->layout());
    row->insertWidget(1, notes_, 1);
    row->setStretch(row->count() - 1, 0);
    NotesBindings bindings;
    bindings.noteLabel = l_MelNt;
    bindings.positionLabel = l_MelPos;
    bindings.loopButton = b_Play2;
    bindings.fromToEdit = me_FromTo;
    bindings.fromLabel = me_From;
    bindings.toLabel = me_To;
    bindings.statusText = [this](int panel, const QString& text) {
        statusPanel(panel)->setText(text);
    };
    notes_->bind(bindings);
    notes_->show();
}

void TfMain::createChordsView() {
    chords_ = new TfChords(p_ChrG, player_);
    auto* row = static_cast<QBoxLayout*>(p_ChrG->layout());
    row->insertWidget(1, chords_, 1);
    row->setStretch(row->count() - 1, 0);
    // The grid's columns stand under the bar ruler, which begins right of the octave ruler.
    chords_->setHeaderLeft(notes_->headerLeft());
    ChordsBindings bindings;
    bindings.chordNameLabel = l_ChrName;
    bindings.chordNotesLabel = l_ChrNotes;
    bindings.playing = [this] { return player_.isPlaying(); };
    bindings.changed = [this] { setCommandState(model::command_mode::kChanged); };
    bindings.edit = [this](const model::ChordEdit& edit) {
        undoStack_->push(new ChordEditCommand(*chords_, edit));
    };
    chords_->bind(bindings);
    notes_->setChordsView(chords_);
    chords_->show();
}

void TfMain::checkDraftItem(int index) {
    for (size_t i = 0; i < mnHDraft_.size(); ++i) {
        mnHDraft_[i]->setChecked(static_cast<int>(i) == index);
    }
}

// --- What the window shows of the document ---------------------------------------------------

void TfMain::showDocumentSettings(DocumentKind kind) {
    OpenedDocument& document = notes_->document();
    Composition& composition = *document.composition();
    // Programmatic updates: no handler may run.
    const QSignalBlocker keyBlock(cb_Key);
    const QSignalBlocker melodyBlock(trb_VMel);
    const QSignalBlocker chordBlock(trb_VChr);
    const QSignalBlocker octaveBlock(cse_ChrOkt);

    cb_Key->setCurrentIndex(std::max(composition.eventValue(event_kind::kKeySignature, 0), -1) + 1);
    int numerator = 4;
    int denominator = 4;
    composition.meterMap().meterOfPiece(numerator, denominator);
    l_Meter->setText(QString("%1/%2").arg(numerator).arg(denominator));

    if (kind != DocumentKind::kMidi) savedVolumes_ = document.channels.volume;
    const ChannelSettings& channels = document.channels;
    trb_VMel->setValue(kMaxVolume - channels.volume[0]);
    trb_VChr->setValue(kMaxVolume - channels.volume[1]);
    l_MelPatch->setText(QString::fromStdString(instruments_.programName(channels.program[0])));
    l_ChrPatch->setText(QString::fromStdString(instruments_.programName(channels.program[1])));

    showDocumentTempo(composition);
    ticksPerQuarter_ = composition.ticksPerQuarter;
    // Showing the octave never rewrites it.
    cse_ChrOkt->setValue(std::max(composition.accompanimentOctave - 1, kLowestShownOctave));
}

void TfMain::showAccompanimentMode() {
    Composition* composition = notes_ ? notes_->composition() : nullptr;
    if (!composition) return;
    const bool hasSelection = styleDialog_ && styleDialog_->library().selection() >= 0;
    const auto looks = modeLights(composition->accompanimentParts, hasSelection);
    for (int row = 0; row < 3; ++row) drawModeLight(row, looks[static_cast<size_t>(row)]);
    const bool arrangement =
        (composition->accompanimentParts & accompaniment_part::kArrangement) != 0;
    tb_Arng->setChecked(arrangement);
    if (styleDialog_)
        styleDialog_->setArrangementEnabled(notes_->document().setup.arrangementEnabled);
    showSaveState();
}

void TfMain::showSaveState() {
    const Composition* composition = notes_ ? notes_->composition() : nullptr;
    const bool changed = composition && composition->testStateFlags(state_flag::kNeedsSave);
    setCommandState(changed ? model::command_mode::kChanged : model::command_mode::kSaved);
}

// --- Closing --------------------------------------------------------------------------------

bool TfMain::closeDocument() {
    if (player_.isPlaying()) return false;
    if (b_Play2) b_Play2->setChecked(false);
    if (notes_ && notes_->composition()) {
        saveDocument(model::SaveMode::CloseQuestion);
        if (closeCancelled_) return false;
    }
    if (!notes_) return true;
    // Saved, or the user said No: the unsaved work is not wanted back.
    if (recovery_) recovery_->documentGone();
    setDocumentCaption(" ");
    savedVolumes_ = notes_->channelSettings().volume;
    compositionTitle_.clear();
    compositionAuthor_.clear();
    melodyInfo_ = MelodyInfo{};
    // The player goes back to its own cells before the document goes.
    player_.composition = nullptr;
    player_.channelSettings = playerOwnChannels_;
    player_.playRange = playerOwnRange_;
    player_.restartRequest = playerOwnRestart_;
    if (player_.isOpen()) player_.closeStream();
    // The instruments window edits the player's own table from now on, never the closed one.
    if (patchsDialog_) patchsDialog_->rebind(*playerOwnChannels_, QString());
    documentKind_ = 0;
    // The edits belong to the chord track that goes now.
    undoStack_->clear();
    delete chords_;
    chords_ = nullptr;
    delete notes_;
    notes_ = nullptr;
    clearPositionDisplay();
    resetChordDisplay();
    // The strips name no instrument without a document.
    l_MelPatch->clear();
    l_ChrPatch->clear();
    cb_Patchs->hide();
    return true;
}

// --- Saving ---------------------------------------------------------------------------------

void TfMain::saveDocument(model::SaveMode mode) {
    closeCancelled_ = false;
    Composition* composition = notes_ ? notes_->composition() : nullptr;
    if (!composition) return;
    const bool changed = composition->testStateFlags(state_flag::kNeedsSave);
    const model::SavePlan plan =
        model::planSave(mode, needsProjectName_, changed, toPath(documentFileName_));
    if (!plan.go) return;
    if (plan.ask) {
        const auto answer = dialogs_.show(this, model::msg::msgSaveChanges,
                                          QString::fromStdString(plan.workName + "?"));
        if (answer == QMessageBox::Cancel) closeCancelled_ = true;
        if (answer != QMessageBox::Yes) return;
    }

    std::string workName = plan.workName;
    if (plan.showDialog) {
        const QString folder = QFileInfo(documentFileName_).absolutePath();
        const QString proposed = QDir(folder).filePath(QString::fromStdString(plan.proposedName));
        const QString chosen = dialogs_.saveFileName(
            this, mode == model::SaveMode::Export ? tr("Export") : tr("Save As"), proposed,
            qtFilter(plan.filter.c_str()));
        if (chosen.isEmpty()) {
            // Yes to the question, then Cancel here, keeps the document: nothing was saved.
            if (mode == model::SaveMode::CloseQuestion) closeCancelled_ = true;
            return;
        }
        workName = toPath(chosen);
    }
    workName = model::withDefaultExtension(workName, mode);

    OpenedDocument& document = notes_->document();
    storeDocumentSettings(document);
    // The tempo events now hold the user's tempo: the player scales them by nothing.
    player_.tempoFactor =
        model::tempoFactor(composition->tempo, composition->eventValue(event_kind::kTempo, 0));
    std::string error;
    bool written = false;
    if (mode == model::SaveMode::Export) {
        // The export carries the accompaniment as it would play now.
        if (composition->hasChordTrack()) renderAccompaniment(*composition);
        written = exportMidi(*composition, &document.channels, workName, error);
    } else {
        written = ProjectWriter::write(workName, *composition, currentOptions, error);
    }
    if (!written) {
        dialogs_.show(this, model::msg::msgCantSave,
                      fromPath(workName) + "\n\r" + QString::fromStdString(error));
        if (mode == model::SaveMode::CloseQuestion) closeCancelled_ = true;
        return;
    }
    if (mode == model::SaveMode::Export) return;
    if (recovery_) recovery_->documentGone();
    documentFileName_ = fromPath(workName);
    needsProjectName_ = false;
    composition->setStateFlags(0xFF, false);
    addRecentFile(documentFileName_);
    setDocumentCaption(" - " + QFileInfo(documentFileName_).fileName());
    setCommandState(model::command_mode::kSaved);
}

}  // namespace varimel
