// TfMain: the main window — menus, toolbar, the melody and chord channel strips, the middle panel
// of key, accompaniment and transport controls, the status bar — and the owner of everything that
// lives as long as the program: settings store, player, style and arrangement dialogs.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "accompaniment/DocumentOpening.h"
#include "leadsheet/MelodyFiles.h"
#include "playback/Tmplay.h"
#include "settings/Tmyregistry.h"
#include "ui/ModeLightsView.h"
#include "ui/model/CommandState.h"
#include "ui/model/DocumentFlow.h"
#include "ui/model/InstrumentNames.h"
#include "ui/model/Random.h"
#include "ui/model/RecentFiles.h"
#include "ui/model/Recovery.h"
#include "ui/model/Startup.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;
class QScrollBar;
class QSlider;
class QSpinBox;
class QStatusBar;
class QTimer;
class QToolBar;
class QToolButton;
class QUndoStack;

namespace varimel {

class DialogProvider;
class HelpSink;
class Launcher;
class Recording;
class RecoveryKeeper;
class TfArrang;
class TfChords;
class TfNotes_l;
class TfPatchs;
class TfStyle;
class TfTips;

// The seams the window works through; tests pass their own.
struct MainServices {
    DialogProvider* dialogs = nullptr;
    Launcher* launcher = nullptr;
    HelpSink* help = nullptr;
    model::RandomSource* random = nullptr;
};

class TfMain : public QMainWindow {
    Q_OBJECT
  public:
    TfMain(const MainServices& services, const QString& commandLineTail, QWidget* parent = nullptr);
    ~TfMain() override;

    // False when start-up failed (no settings, no instrument list): the program ends with code 1.
    bool started() const { return started_; }
    // Shows the window where it was last, maximised when it was.
    void showAsPlaced();

    // --- Operations the commands use ---
    void setCommandState(int mode);
    void enableDocumentControls(bool enable);
    void setDocumentCaption(const QString& text);
    void clearPositionDisplay();
    void resetChordDisplay();
    void drawModeLight(int row, LightLook look);
    // Opening origins: the Open command (a dialog; the file goes to the top of the recent
    // files), a recent-files item at index k >= 1 (moved to the top), or 0 (the command line or
    // the first recent file: no dialog, the recent files unchanged).
    static constexpr int kOpenWithDialog = -1;
    void openFile(const QString& fileName, int origin);
    // False when nothing was closed: playback runs, or the user kept the document.
    bool closeDocument();
    void saveDocument(model::SaveMode mode);
    bool handleLoadStatus(StatusCode status);
    void showDocumentSettings(DocumentKind kind);
    // The mode lights and the arrangement switches for the composition's parts.
    void showAccompanimentMode();
    // Save is enabled exactly when the open document has changes a save would keep.
    void showSaveState();

    // --- What tests and the other forms reach ---
    TfNotes_l* notesView() const { return notes_; }
    TfChords* chordsView() const { return chords_; }
    const QString& documentFileName() const { return documentFileName_; }
    int documentKind() const { return documentKind_; }
    bool needsProjectName() const { return needsProjectName_; }
    const model::RecentFiles& recentFiles() const { return recent_; }
    QUndoStack* undoStack() const { return undoStack_; }
    PlayerContext& player() { return player_; }
    std::shared_ptr<Recording> outputRecording() const { return recording_; }
    SettingsStore* settingsStore() const { return store_.get(); }
    const AppSettings& settings() const { return settings_; }
    const model::StartupPlan& startupPlan() const { return plan_; }
    const HarmonyOptions& savedDefaults() const { return savedDefaults_; }
    const model::InstrumentNames& instrumentNames() const { return instruments_; }
    std::uint8_t showTips() const { return showTips_; }
    TfStyle* styleDialog() const { return styleDialog_; }
    TfArrang* arrangementDialog() const { return arrangementDialog_; }
    TfTips* tipsDialog() const { return tipsDialog_; }
    QLabel* statusPanel(int index) const {
        return statusPanels_.at(static_cast<std::size_t>(index));
    }
    const WindowPlacement& placement() const { return placement_; }
    // The help topic F1 opens for the widget that has the focus.
    int contextHelpTopic() const;

    // --- Accompaniment decisions, shared by the commands and the instruments dialog ---
    void applyPatch();
    void setChannelVolume(int volume, int channel);
    TfPatchs* instrumentsDialog() const { return patchsDialog_; }
    // Tests replace the harmoniser to see how Create treats each status.
    using Harmoniser = std::function<StatusCode(ChordMaster&, const HarmonyOptions&, ChordMethod)>;
    void setHarmoniser(Harmoniser harmoniser) { harmoniser_ = std::move(harmoniser); }

  public Q_SLOTS:
    void mnFOpenClick();
    void mnFCloseClick();
    void mnFSaveClick();
    void mnFSaveAsClick();
    void mnFExportClick();
    void mnFLeadSheetClick();
    void pmntbOpenPopup();
    void mnFExitClick();
    void mnEUndoClick();
    void b_CreateAccClick();
    void mnERedoClick();
    void cb_KeyClick(int index);
    void b_StyleAccClick();
    void tb_ArngClick();
    void mnAPArranClick();
    void imgSAMMouseDown(int row);
    void cb_PatchsClick();
    void mnAPInstrClick();
    void cse_ChrOktChange(int octave);
    void mnContentsClick();
    void mnQuickTourClick();
    void mnTipsClick();
    void mnMelReqClick();
    void mnVmelDemosClick();
    void mnMidiSamplesClick();
    void mnSmpWSClick();
    void mnBRFClick();
    void VarimelWebsite1Click();
    void mnAboutClick();

  protected:
    void closeEvent(QCloseEvent* event) override;    // FormCloseQuery
    void resizeEvent(QResizeEvent* event) override;  // FormResize
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Options and manual chords
    void connectOptionsCommands();  // creates the options dialog, kept for the whole run
    void mnAOptionsClick();
    void mnHCreatemanClick();  // "Create manually ...": its dialog, then a note
    class TfOptions* optionsDialog_ = nullptr;
    // The options a newly opened melody starts from: read at start, replaced only by OK with
    // "Save as Default" ticked, and the options exit writes back.
    HarmonyOptions savedDefaults_ = defaultOptions;
    class TfChrMan* chrManDialog_ = nullptr;  // made on first use

    struct ControlRef {
        QWidget* widget = nullptr;
        QAction* action = nullptr;
    };

    // Construction of the controls, region by region.
    void createMenus();
    void createToolBar();
    void createMelodyRegion();
    void createMiddlePanel();
    void createChordRegion();
    void createStatusBar();
    void registerControl(QWidget* widget);
    void registerControl(QAction* action);
    void applySteps(const std::vector<model::ControlStep>& steps);

    // Start-up steps 7 to 15; false ends the start.
    bool readSettings();
    bool loadInstrumentNames();
    void createLibraries();
    void recordPlacement();
    // Documents.
    void connectDocumentCommands();
    void createEditMenu();
    void connectHarmonyCommands();
    // Accompaniment: the key, style, arrangement, switches, instruments and volumes.
    void connectAccompanimentCommands();
    bool accompanimentLabelEvent(QObject* watched, QEvent* event);
    void l_BeatClick(QLabel* label);
    void PatchClick(QLabel* label);
    void trb_VolChange(QSlider* slider);
    void chb_MuteClick(QPushButton* button);
    // Runs one of the engine's decisions on the open document, then shows and sends what it
    // changed. False without a document or while playing.
    bool decide(const std::function<void(AccompanimentSetup&, Composition&)>& decision);
    void showChannels(const ChannelSettings& before);
    int sliderVolume(const QSlider* slider) const;
    void mnHarmItClick(QAction* item);
    void updateEditMenu();
    void addRecentFile(const QString& name);
    void rebuildRecentFilesMenu();
    int chooseMelodyChannel(const std::vector<int>& channels);
    void createNotesView();
    void createChordsView();
    void checkDraftItem(int index);
    void showTipOfTheDay();
    void openWebSite();
    void installMessageHandler();

    // Seams.
    DialogProvider& dialogs_;
    Launcher& launcher_;
    HelpSink& help_;
    model::RandomSource& random_;

    // MainWindowState.
    QString documentFileName_;
    std::uint8_t documentKind_ = 0;
    bool needsProjectName_ = false;
    bool closeCancelled_ = false;
    std::array<std::uint8_t, 16> savedVolumes_{};
    bool recentFilesChanged_ = false;
    std::int32_t maxRecentFiles_ = 0;
    WindowPlacement placement_;
    bool maximised_ = false;
    AppSettings settings_;
    std::unique_ptr<SettingsStore> store_;
    std::atomic<std::int32_t> tempo_{500000};
    std::int32_t tempoBpm_ = 0;
    std::atomic<std::int32_t> ticksPerQuarter_{480};
    std::uint8_t showTips_ = 0;
    PlayerContext player_;
    std::shared_ptr<Recording> recording_;

    model::StartupPlan plan_;
    model::InstrumentNames instruments_;
    QString commandLineTail_;
    QString openFilter_;
    QString openDir_;
    model::RecentFiles recent_;
    bool keyUnrecognised_ = false;
    // The title and author the user gave for the piece ("Composition info").
    QString compositionTitle_;
    QString compositionAuthor_;
    // What the open score or tune says about itself: its title, composer and repeat signs.
    MelodyInfo melodyInfo_;
    bool channelChoiceCancelled_ = false;
    ChordMethod chordMethod_ = ChordMethod::kHarmonizer;  // the draft chosen in the Harmony menu
    QUndoStack* undoStack_ = nullptr;                     // chord edits of the open document
    QMenu* mnEdit = nullptr;
    QAction* mnEUndo = nullptr;
    QAction* mnERedo = nullptr;
    TfNotes_l* notes_ = nullptr;
    TfChords* chords_ = nullptr;
    // The player's own cells, which it uses again once a document closes.
    ChannelSettings* playerOwnChannels_ = nullptr;
    PlayRange* playerOwnRange_ = nullptr;
    std::atomic<std::int32_t>* playerOwnRestart_ = nullptr;
    bool started_ = false;
    bool shownOnce_ = false;
    std::map<QString, ControlRef> controls_;

    // Dialogs, children of the window.
    TfStyle* styleDialog_ = nullptr;
    TfArrang* arrangementDialog_ = nullptr;
    TfTips* tipsDialog_ = nullptr;
    TfPatchs* patchsDialog_ = nullptr;  // created on first use
    Harmoniser harmoniser_;

    // Components.
    QMenuBar* mnMain = nullptr;
    QMenu* mnFile = nullptr;
    QAction* mnFOpen = nullptr;
    QAction* mnFClose = nullptr;
    QAction* mnFSave = nullptr;
    QAction* mnFSaveAs = nullptr;
    QAction* mnFExport = nullptr;
    QAction* mnFLeadSheet = nullptr;
    QAction* mnFPrint = nullptr;
    QAction* mnFPrintPrev = nullptr;
    QMenu* mnRecentFiles = nullptr;
    QAction* mnFExit = nullptr;
    QMenu* mnView = nullptr;
    QAction* mnVToolbars = nullptr;
    QMenu* mnAcc = nullptr;
    QAction* mnACreate = nullptr;
    QAction* mnAStyle = nullptr;
    QAction* mnAPInstr = nullptr;
    QAction* mnAPArran = nullptr;
    QAction* mnAOptions = nullptr;
    QMenu* mnHarm = nullptr;
    std::array<QAction*, 4> mnHDraft_{};
    QAction* mnHCreateman = nullptr;
    QMenu* mnHelp = nullptr;
    QAction* mnContents = nullptr;
    QAction* mnQuickTour = nullptr;
    QAction* mnTips = nullptr;
    QAction* mnMelReq = nullptr;
    QAction* mnVmelDemos = nullptr;
    QMenu* mnMidiSamples = nullptr;
    QAction* Local1 = nullptr;
    QAction* mnSmpWS = nullptr;
    QAction* mnBRF = nullptr;
    QAction* VarimelWebsite1 = nullptr;
    QAction* mnAbout = nullptr;
    QMenu* pmnToolBars = nullptr;
    QMenu* pmntbOpen = nullptr;

    QWidget* cbar_General = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QAction* tb_New = nullptr;
    QAction* tb_Open = nullptr;
    QAction* tb_Save = nullptr;
    QAction* tb_Export = nullptr;
    QAction* tb_Close = nullptr;
    QAction* tb_Print = nullptr;
    QAction* tb_PrintPr = nullptr;
    QAction* tb_Instr = nullptr;
    QAction* tb_Arng = nullptr;
    QAction* tb_Opt = nullptr;
    QAction* tb_HelpC = nullptr;

    QWidget* p_MelG = nullptr;
    QWidget* p_VMel = nullptr;
    QLabel* l_Melody = nullptr;
    QLabel* l_MelNt = nullptr;
    QLabel* l_VMel = nullptr;
    QSlider* trb_VMel = nullptr;
    QPushButton* chb_MelOff = nullptr;
    QLabel* l_MelInstr = nullptr;
    QLabel* l_MelPatch = nullptr;
    QLabel* l_MelPos = nullptr;

    QWidget* p_Middle = nullptr;
    QComboBox* cb_Key = nullptr;
    QLabel* l_Meter = nullptr;
    ModeLightsView* imgSAM = nullptr;
    QLabel* l_Beat = nullptr;
    QLabel* l_Style = nullptr;
    QLabel* l_Arng = nullptr;
    QPushButton* b_CreateAcc = nullptr;
    QPushButton* b_StyleAcc = nullptr;
    QToolButton* b_Back = nullptr;
    QToolButton* b_Stop = nullptr;
    QToolButton* b_Play = nullptr;
    QToolButton* b_Forw = nullptr;
    QToolButton* b_Mark = nullptr;
    QToolButton* b_Play2 = nullptr;
    QLabel* l_Tempo = nullptr;
    QLineEdit* t_Tempo = nullptr;
    QScrollBar* sb_Tempo = nullptr;
    QLabel* me_From = nullptr;
    QLabel* me_To = nullptr;
    QLineEdit* me_FromTo = nullptr;

    QWidget* p_ChrG = nullptr;
    QWidget* p_VChr = nullptr;
    QLabel* l_Chords = nullptr;
    QLabel* l_ChrName = nullptr;
    QLabel* l_ChrNotes = nullptr;
    QLabel* l_ChrVol = nullptr;
    QSlider* trb_VChr = nullptr;
    QPushButton* chb_ChrOff = nullptr;
    QSpinBox* cse_ChrOkt = nullptr;
    QLabel* l_ChrInstr = nullptr;
    QLabel* l_ChrPatch = nullptr;
    QListWidget* cb_Patchs = nullptr;

    QStatusBar* stbStatus = nullptr;
    std::array<QLabel*, 3> statusPanels_{};
    QTimer* playTimer = nullptr;
    QPixmap muteGlyph_;

    // Transport
  public:
    void b_PlayClick();
    void b_StopClick();
    void b_BackClick();
    void b_ForwClick();
    void b_MarkClick();
    void b_Play2Click();
    void playTimerTimer();
    void sb_TempoScroll(int position);
    void t_TempoChange();
    void me_FromToClick(QLabel* edge);
    void me_FromToKeyUp(int key);
    void me_FromToExit();
    // The worker's end, on this thread; acts only when no worker runs (a late end of a stopped
    // playback must not stop the next one).
    void playbackEnded();
    // The user's tempo: the window's, the composition's and the player's, at once.
    void setTempoBpm(int bpm);
    // The tempo display and the timer for a document just shown.
    void showDocumentTempo(const Composition& composition);
    // The tempo field, bar and timer as a window without a document has them.
    void clearTempoDisplay();
    int tempoBpm() const { return tempoBpm_; }

  private:
    void connectTransport();
    // Before the controls go: a field losing its focus then must not reach this half-gone window.
    void disconnectTransport();
    void showTempoText(int bpm);
    int outputDevice_ = PlayerContext::kDefaultDevice;
    QString loopEditText_;  // the position shown before the editor opened; Escape restores it
    bool loopEditCancelled_ = false;
    QObject* hoverCleaner_ = nullptr;

    // Printing
  public:
    // Asks for the title and the author, then prints at once (`direct`, after the print dialog)
    // or shows the preview, whose Print runs the print dialog and prints.
    void printDocument(bool direct);
    // Null until the first print or preview.
    class TfPrintPreview* printPreview() const {
        return printPreview_;
    }
  public Q_SLOTS:
    void mnFPrintClick();
    void mnFPrintPrevClick();

  private:
    void connectPrintCommands();
    TfPrintPreview& ensurePrintPreview();
    TfPrintPreview* printPreview_ = nullptr;

    // Recovery copies of unsaved work
  public:
    // Null when start-up failed.
    RecoveryKeeper* recoveryKeeper() const { return recovery_; }
    // Offers the copies that no running window holds: restore, discard or keep each for later.
    // Runs once the window shows.
    void offerRecoveryCopies();

  private:
    void createRecoveryKeeper();
    bool restoreRecoveryCopy(std::unique_ptr<model::RecoveryCopy> copy);
    RecoveryKeeper* recovery_ = nullptr;
};

}  // namespace varimel
