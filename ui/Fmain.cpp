#include "ui/Fmain.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "engine/Apperr.h"
#include "engine/Tonality.h"
#include "settings/RegFile.h"
#include "ui/DialogProvider.h"
#include "ui/Fabout1.h"
#include "ui/Farrangs.h"
#include "ui/FormSupport.h"
#include "ui/Fpatchs1.h"
#include "ui/Fstyle1.h"
#include "ui/Ftipsd.h"
#include "ui/Glyphs.h"
#include "ui/Launcher.h"
#include "ui/PlayerOutput.h"
#include "ui/RecoveryKeeper.h"
#include "ui/model/HelpTopics.h"
#include "ui/model/Msg_list.h"
#include "ui/model/Transport.h"

namespace varimel {

namespace {

constexpr int kStripWidth = 80;
constexpr int kMelodyMinHeight = 200;
constexpr int kMiddleHeight = 49;
constexpr int kChordHeight = 230;
constexpr int kStatusHeight = 18;
constexpr std::array<int, 3> kStatusPanelWidths{300, 70, 50};
constexpr int kMinimumWidth = 620;
constexpr int kMinimumHeight = 460;
constexpr int kMaxVolume = 127;
constexpr int kDefaultAccompanimentOctave = 4;
constexpr int kNoChordName = 255;

const char* const kEmptyPosition = "01:01:000";
const char* const kPatchHint = "Click for select new patch";

QAction* menuItem(QMenu* menu, const char* name, const QString& caption,
                  const QKeySequence& shortcut = {}) {
    auto* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    return action;
}

QMenu* subMenu(QWidget* parent, const char* name, const QString& caption) {
    auto* menu = new QMenu(caption, parent);
    menu->setObjectName(QString::fromLatin1(name));
    return menu;
}

// A read-out label of a strip or the middle panel.
QLabel* label(QWidget* parent, const char* name, const QString& text = {},
              Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* widget = named<QLabel>(parent, name, text);
    widget->setAlignment(alignment);
    return widget;
}

QSlider* volumeSlider(QWidget* parent, const char* name, int tag) {
    auto* slider = named<QSlider>(parent, name);
    slider->setOrientation(Qt::Vertical);
    slider->setRange(0, kMaxVolume);
    slider->setTickInterval(10);
    slider->setTickPosition(QSlider::TicksBothSides);
    // Position = 127 - volume, shown with loud at the top.
    slider->setInvertedAppearance(true);
    slider->setInvertedControls(true);
    slider->setProperty("Tag", tag);
    return slider;
}

QPushButton* muteButton(QWidget* parent, const char* name, int tag) {
    auto* button = named<QPushButton>(parent, name, QObject::tr("Mute"));
    button->setCheckable(true);
    button->setProperty("Tag", tag);
    return button;
}

QToolButton* speedButton(QWidget* parent, const char* name, Glyph glyph, const QString& hint,
                         bool checkable = false) {
    auto* button = named<QToolButton>(parent, name);
    button->setIcon(glyphIcon(glyph));
    button->setToolTip(hint);
    button->setStatusTip(hint);
    button->setCheckable(checkable);
    button->setAutoRaise(true);
    button->setFixedSize(26, 26);
    return button;
}

// A channel strip on the left of its region: captions above the volume slider, the rest below;
// the document's view takes the space to its right.
void layoutStrip(QWidget* region, QWidget* strip, std::initializer_list<QWidget*> above,
                 QSlider* slider, std::initializer_list<QWidget*> below) {
    auto* column = new QVBoxLayout(strip);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(1);
    for (QWidget* widget : above) column->addWidget(widget);
    column->addWidget(slider, 1, Qt::AlignHCenter);
    for (QWidget* widget : below) column->addWidget(widget);
    auto* row = new QHBoxLayout(region);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(strip);
    row->addStretch(1);
}

void fillPanel(QWidget* panel, const QColor& colour) {
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, colour);
    panel->setPalette(palette);
}

}  // namespace

TfMain::TfMain(const MainServices& services, const QString& commandLineTail, QWidget* parent)
    : QMainWindow(parent),
      dialogs_(*services.dialogs),
      launcher_(*services.launcher),
      help_(*services.help),
      random_(*services.random),
      commandLineTail_(commandLineTail) {
    setObjectName(QStringLiteral("fMain"));
    QFont font = QApplication::font();
    font.setPointSize(8);
    setFont(font);
    setWindowIcon(glyphIcon(Glyph::Application));

    createMenus();
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("central"));
    auto* regions = new QVBoxLayout(central);
    regions->setContentsMargins(0, 0, 0, 0);
    regions->setSpacing(0);
    createToolBar();
    createMelodyRegion();
    createMiddlePanel();
    createChordRegion();
    regions->addWidget(cbar_General);
    regions->addWidget(p_MelG, 1);
    regions->addWidget(p_Middle);
    regions->addWidget(p_ChrG);
    setCentralWidget(central);
    createStatusBar();
    connectDocumentCommands();
    connectOptionsCommands();
    connectPrintCommands();
    playTimer = new QTimer(this);
    playTimer->setObjectName(QStringLiteral("playTimer"));

    // 1-2. Fresh state, the caption without a document.
    setDocumentCaption(QString());
    // 3. Mode tags; the lights start hidden.
    l_Beat->setProperty("Tag", 1);
    l_Style->setProperty("Tag", 2);
    l_Arng->setProperty("Tag", 4);
    tb_Arng->setProperty("Tag", 4);
    mnAPArran->setProperty("Tag", 4);
    imgSAM->hide();
    // 4. The open dialog's filter.
    openFilter_ =
        tr("Midi Files (*.mid *.midi);;Varimel Project files (*.vml);;"
           "Lead sheets (*.musicxml *.xml *.mxl *.abc)");
    // 5.
    showTips_ = 0;
    recentFilesChanged_ = false;
    // 6. The player: the window's tempo and division, no composition, the timer off.
    playerOwnChannels_ = player_.channelSettings;
    playerOwnRange_ = player_.playRange;
    playerOwnRestart_ = player_.restartRequest;
    player_.tempoCell = &tempo_;
    player_.divisionCell = &ticksPerQuarter_;
    player_.composition = nullptr;
    recording_ = configurePlayerOutput(player_);
    player_.onPlayTimer = [this](bool on) {
        QMetaObject::invokeMethod(
            this, [this, on] { on ? playTimer->start() : playTimer->stop(); },
            Qt::QueuedConnection);
    };
    playTimer->stop();
    playTimer->setInterval(model::kIdleTimerInterval);
    connectTransport();
    installMessageHandler();

    // 7-8. Settings and the help pages.
    if (!readSettings()) return;
    help_.setHelpPath(QString::fromStdString(plan_.helpPath));
    // 9.
    setCommandState(model::command_mode::kNoDocument);
    // 10.
    if (!loadInstrumentNames()) return;
    // 11-13.
    createLibraries();
    // 14.
    clearPositionDisplay();
    resetChordDisplay();
    started_ = true;
    createRecoveryKeeper();
    // 15. The tip of the day waits until the window shows.
    if (!commandLineTail_.isEmpty()) openFile(commandLineTail_, 0);
}

TfMain::~TfMain() {
    disconnectTransport();
    // The player's worker reads the document: it ends before anything else goes.
    player_.stop();
    player_.waitForEnd();
    // A style preview plays through the same player.
    if (styleDialog_) styleDialog_->waitForPreview();
    if (arrangementDialog_) arrangementDialog_->waitForPreview();
    setMessageHandler({});
    if (started_ && store_) {
        // The normal bounds as they are now, and whether the window is maximised now.
        const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
        placement_ = {normal.height(), normal.width(), normal.x(), normal.y()};
        maximised_ = isMaximized();
        model::ExitState exit;
        exit.recentFilesChanged = recentFilesChanged_;
        exit.recentFiles = recent_.names();
        exit.maxRecentFiles = maxRecentFiles_;
        exit.placement = placement_;
        exit.maximised = maximised_;
        // The options of this session stay in it unless the user saved them as the defaults.
        model::writeExit(*store_, exit, savedDefaults_);
    }
    store_.reset();
    // The dialogs, with the libraries they own, are children and go with the window.
}

// --- Controls -------------------------------------------------------------------------------

void TfMain::registerControl(QWidget* widget) {
    controls_[widget->objectName()].widget = widget;
}

void TfMain::registerControl(QAction* action) {
    controls_[action->objectName()].action = action;
}

void TfMain::createMenus() {
    mnMain = menuBar();
    mnMain->setObjectName(QStringLiteral("mnMain"));

    mnFile = subMenu(this, "mnFile", tr("&File"));
    mnFOpen = menuItem(mnFile, "mnFOpen", tr("&Open"), QKeySequence(Qt::CTRL | Qt::Key_O));
    mnFile->setDefaultAction(mnFOpen);
    mnFClose = menuItem(mnFile, "mnFClose", tr("&Close"));
    mnFile->addSeparator();
    mnFSave = menuItem(mnFile, "mnFSave", tr("&Save"), QKeySequence(Qt::CTRL | Qt::Key_S));
    mnFSaveAs = menuItem(mnFile, "mnFSaveAs", tr("Save &As ..."));
    mnFExport = menuItem(mnFile, "mnFExport", tr("&Export"));
    mnFLeadSheet = menuItem(mnFile, "mnFLeadSheet", tr("Export &lead sheet ..."));
    mnFile->addSeparator();
    mnFPrint = menuItem(mnFile, "mnFPrint", tr("&Print"), QKeySequence(Qt::CTRL | Qt::Key_P));
    mnFPrintPrev = menuItem(mnFile, "mnFPrintPrev", tr("Print pre&view"));
    mnFile->addSeparator();
    mnRecentFiles = subMenu(mnFile, "mnRecentFiles", tr("&Recent Files"));
    mnFile->addMenu(mnRecentFiles);
    mnFile->addSeparator();
    mnFExit = menuItem(mnFile, "mnFExit", tr("E&xit"), QKeySequence(Qt::ALT | Qt::Key_X));
    mnMain->addMenu(mnFile);

    mnView = subMenu(this, "mnView", tr("&View"));
    mnVToolbars = menuItem(mnView, "mnVToolbars", tr("Toolbars ..."));
    mnView->menuAction()->setVisible(false);
    mnView->menuAction()->setEnabled(false);
    mnMain->addMenu(mnView);

    mnAcc = subMenu(this, "mnAcc", tr("&Accompaniment"));
    mnACreate = menuItem(mnAcc, "mnACreate", tr("&Create"));
    mnAStyle = menuItem(mnAcc, "mnAStyle", tr("&Style..."));
    mnAPInstr = menuItem(mnAcc, "mnAPInstr", tr("&Instruments ..."));
    mnAPArran = menuItem(mnAcc, "mnAPArran", tr("&Arrangement ..."));
    mnAPArran->setVisible(false);
    mnAOptions = menuItem(mnAcc, "mnAOptions", tr("&Options..."));
    mnMain->addMenu(mnAcc);

    mnHarm = subMenu(this, "mnHarm", tr("&Harmony"));
    // Draft IV, our own, follows the three of the harmonizer.
    const char* draftNames[] = {"mnHDraft1", "mnHDraft2", "mnHDraft3", "mnHDraft4"};
    const QString draftCaptions[] = {tr("Draft I"), tr("Draft II"), tr("Draft III"),
                                     tr("Draft IV")};
    auto* drafts = new QActionGroup(this);
    for (std::size_t i = 0; i < mnHDraft_.size(); ++i) {
        mnHDraft_[i] = menuItem(mnHarm, draftNames[i], draftCaptions[i]);
        mnHDraft_[i]->setCheckable(true);
        mnHDraft_[i]->setProperty("Tag", static_cast<int>(i) + 1);
        drafts->addAction(mnHDraft_[i]);
    }
    mnHDraft_[0]->setChecked(true);
    mnHarm->addSeparator();
    mnHCreateman = menuItem(mnHarm, "mnHCreateman", tr("Create manually ..."));
    mnHCreateman->setProperty("Tag", 0);
    mnHCreateman->setVisible(false);
    mnMain->addMenu(mnHarm);

    mnHelp = subMenu(this, "mnHelp", tr("&Help"));
    // F1 is shown here, but the key opens the topic of what has the focus.
    mnContents = menuItem(mnHelp, "mnContents", tr("&Contents") + QStringLiteral("\tF1"));
    mnQuickTour =
        menuItem(mnHelp, "mnQuickTour", tr("&Quick Tour"), QKeySequence(Qt::CTRL | Qt::Key_F1));
    mnTips = menuItem(mnHelp, "mnTips", tr("&Tip of the Day"));
    mnHelp->addSeparator();
    mnMelReq = menuItem(mnHelp, "mnMelReq", tr("&Melody Requirement"));
    mnVmelDemos = menuItem(mnHelp, "mnVmelDemos", tr("Varimel &Demos"));
    mnMidiSamples = subMenu(mnHelp, "mnMidiSamples", tr("Midi &Samples"));
    Local1 = menuItem(mnMidiSamples, "Local1", tr("&Local "));
    mnSmpWS = menuItem(mnMidiSamples, "mnSmpWS", tr("&Web Site"));
    mnHelp->addMenu(mnMidiSamples);
    mnHelp->addSeparator();
    mnBRF = menuItem(mnHelp, "mnBRF", tr("&Product Support"));
    VarimelWebsite1 = menuItem(mnHelp, "VarimelWebsite1", tr("Varimel &Web site"));
    mnAbout = menuItem(mnHelp, "mnAbout", tr("&About"));
    mnMain->addMenu(mnHelp);

    for (QMenu* menu : {mnFile, mnView, mnAcc, mnHarm, mnHelp, mnRecentFiles, mnMidiSamples})
        menu->installEventFilter(this);
    for (QAction* action : {mnFClose, mnFSave, mnFSaveAs, mnFExport, mnFLeadSheet, mnFPrint,
                            mnFPrintPrev, mnAStyle, mnAPArran})
        registerControl(action);
    controls_[QStringLiteral("mnAcc")].action = mnAcc->menuAction();
    controls_[QStringLiteral("mnHarm")].action = mnHarm->menuAction();

    connect(mnFExit, &QAction::triggered, this, &TfMain::mnFExitClick);
    connect(mnContents, &QAction::triggered, this, &TfMain::mnContentsClick);
    connect(mnQuickTour, &QAction::triggered, this, &TfMain::mnQuickTourClick);
    connect(mnTips, &QAction::triggered, this, &TfMain::mnTipsClick);
    connect(mnMelReq, &QAction::triggered, this, &TfMain::mnMelReqClick);
    connect(mnVmelDemos, &QAction::triggered, this, &TfMain::mnVmelDemosClick);
    connect(Local1, &QAction::triggered, this, &TfMain::mnMidiSamplesClick);
    connect(mnSmpWS, &QAction::triggered, this, &TfMain::mnSmpWSClick);
    connect(mnBRF, &QAction::triggered, this, &TfMain::mnBRFClick);
    connect(VarimelWebsite1, &QAction::triggered, this, &TfMain::VarimelWebsite1Click);
    connect(mnAbout, &QAction::triggered, this, &TfMain::mnAboutClick);

    auto* contextHelp = new QShortcut(QKeySequence(Qt::Key_F1), this);
    contextHelp->setObjectName(QStringLiteral("contextHelp"));
    connect(contextHelp, &QShortcut::activated, this,
            [this] { help_.showHelp(contextHelpTopic()); });
}

void TfMain::createToolBar() {
    cbar_General = named<QWidget>(this, "cbar_General");
    ToolBar1 = named<QToolBar>(cbar_General, "ToolBar1");
    ToolBar1->setIconSize(QSize(20, 20));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    auto* layout = new QHBoxLayout(cbar_General);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ToolBar1);

    pmntbOpen = subMenu(this, "pmntbOpen", QString());
    auto button = [this](const char* name, Glyph glyph, const QString& caption) {
        auto* action = ToolBar1->addAction(glyphIcon(glyph), caption);
        action->setObjectName(QString::fromLatin1(name));
        action->setToolTip(caption);
        action->setStatusTip(caption);
        ToolBar1->widgetForAction(action)->setObjectName(QString::fromLatin1(name));
        registerControl(action);
        return action;
    };
    tb_New = button("tb_New", Glyph::New, tr("New"));
    tb_New->setVisible(false);
    tb_Open = button("tb_Open", Glyph::Open, tr("Open"));
    tb_Open->setMenu(pmntbOpen);
    if (auto* open = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(tb_Open)))
        open->setPopupMode(QToolButton::MenuButtonPopup);
    connect(tb_Open, &QAction::triggered, mnFOpen, &QAction::trigger);
    tb_Save = button("tb_Save", Glyph::Save, tr("Save"));
    tb_Export = button("tb_Export", Glyph::Export, tr("Export"));
    ToolBar1->addSeparator();
    tb_Close = button("tb_Close", Glyph::Close, tr("Close"));
    ToolBar1->addSeparator();
    tb_Print = button("tb_Print", Glyph::Print, tr("Print"));
    tb_PrintPr = button("tb_PrintPr", Glyph::PrintPreview, tr("Print preview"));
    ToolBar1->addSeparator();
    tb_Instr = button("tb_Instr", Glyph::Instruments, tr("Instruments ..."));
    tb_Arng = button("tb_Arng", Glyph::Arrangement, tr("Arrangement ..."));
    tb_Arng->setCheckable(true);
    tb_Arng->setVisible(false);
    ToolBar1->addSeparator();
    tb_Opt = button("tb_Opt", Glyph::Options, tr("Options..."));
    ToolBar1->addSeparator();
    tb_HelpC = button("tb_HelpC", Glyph::Help, tr("Contents"));
    connect(tb_HelpC, &QAction::triggered, this, &TfMain::mnContentsClick);

    // The bar's own popup; it has no commands.
    pmnToolBars = subMenu(this, "pmnToolBars", tr("ToolBars ..."));
    pmnToolBars->addAction(tr("ToolBars ..."))->setEnabled(false);
    pmnToolBars->addSeparator();
    QAction* standard = pmnToolBars->addAction(tr("Standart"));
    standard->setCheckable(true);
    standard->setChecked(true);
    standard->setEnabled(false);
    cbar_General->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(cbar_General, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pmnToolBars->popup(cbar_General->mapToGlobal(at)); });
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
}

void TfMain::createMelodyRegion() {
    p_MelG = named<QWidget>(this, "p_MelG");
    p_MelG->setMinimumHeight(kMelodyMinHeight);
    fillPanel(p_MelG, QColor(0xF4, 0xF1, 0xEA));
    p_VMel = named<QWidget>(p_MelG, "p_VMel");
    p_VMel->setFixedWidth(kStripWidth);
    fillPanel(p_VMel, QColor(0xE6, 0xDC, 0xCF));

    l_Melody = label(p_VMel, "l_Melody", tr("Melody"), Qt::AlignCenter);
    QFont bold = l_Melody->font();
    bold.setBold(true);
    l_Melody->setFont(bold);
    l_MelNt = label(p_VMel, "l_MelNt", QString(), Qt::AlignCenter);
    l_VMel = label(p_VMel, "l_VMel", tr("Volume"), Qt::AlignCenter);
    trb_VMel = volumeSlider(p_VMel, "trb_VMel", 0);
    chb_MelOff = muteButton(p_VMel, "chb_MelOff", 0);
    l_MelInstr = label(p_VMel, "l_MelInstr", tr("  Instrument"));
    l_MelPatch = label(p_VMel, "l_MelPatch", QString(), Qt::AlignCenter);
    l_MelPatch->setProperty("Tag", 0);
    l_MelPatch->setToolTip(tr(kPatchHint));
    l_MelPatch->setWordWrap(true);
    l_MelPos = label(p_VMel, "l_MelPos", QString(), Qt::AlignCenter);

    layoutStrip(p_MelG, p_VMel, {l_Melody, l_MelNt, l_VMel}, trb_VMel,
                {chb_MelOff, l_MelInstr, l_MelPatch, l_MelPos});
    for (QWidget* widget : {static_cast<QWidget*>(trb_VMel), static_cast<QWidget*>(chb_MelOff)})
        registerControl(widget);
}

void TfMain::createMiddlePanel() {
    p_Middle = named<QWidget>(this, "p_Middle");
    p_Middle->setFixedHeight(kMiddleHeight);
    fillPanel(p_Middle, QColor(0xD2, 0xC1, 0xAE));

    cb_Key = named<QComboBox>(p_Middle, "cb_Key");
    cb_Key->addItem(tr("Auto"));
    for (KeyIndex key = 0; key < 24; ++key)
        cb_Key->addItem(
            QString::fromUtf8(keyName(key).data(), static_cast<int>(keyName(key).size())));
    cb_Key->setToolTip(tr("Key"));
    l_Meter = label(p_Middle, "l_Meter", QString(), Qt::AlignCenter);
    l_Meter->setMinimumWidth(34);
    l_Meter->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    imgSAM = new ModeLightsView(p_Middle);
    imgSAM->setObjectName(QStringLiteral("imgSAM"));
    imgSAM->setToolTip(tr("Style/Arrangement switchers"));
    // Its place stays taken while it is hidden: the controls right of it do not move when it
    // appears after Create.
    QSizePolicy keepPlace = imgSAM->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    imgSAM->setSizePolicy(keepPlace);
    l_Beat = label(p_Middle, "l_Beat", tr("  1-beat"));
    l_Beat->setToolTip(tr("On/Off  Accompaniment 1-Beat  Mode"));
    l_Style = label(p_Middle, "l_Style", tr("  style"));
    l_Style->setToolTip(tr("On/Off  Accompaniment Style  Mode"));
    l_Arng = label(p_Middle, "l_Arng", tr("  arrange"));
    l_Arng->setToolTip(tr("On/Off Arrangement  Mode"));
    // One caption beside each 11-pixel light.
    QFont small = l_Beat->font();
    small.setPixelSize(ModeLightsView::kRowHeight - 1);
    for (QLabel* mode : {l_Beat, l_Style, l_Arng}) {
        mode->setFont(small);
        mode->setFixedHeight(ModeLightsView::kRowHeight);
    }

    b_CreateAcc = named<QPushButton>(p_Middle, "b_CreateAcc", tr("Create"));
    b_CreateAcc->setToolTip(tr("Create Accompaniment"));
    b_StyleAcc = named<QPushButton>(p_Middle, "b_StyleAcc", tr("Style..."));
    b_StyleAcc->setToolTip(tr("Select Style"));

    b_Back = speedButton(p_Middle, "b_Back", Glyph::Back, tr("Backward"));
    b_Stop = speedButton(p_Middle, "b_Stop", Glyph::Stop, tr("Stop"));
    b_Play = speedButton(p_Middle, "b_Play", Glyph::Play, tr("Play/Pause"), true);
    b_Forw = speedButton(p_Middle, "b_Forw", Glyph::Forward, tr("Forward"));
    b_Mark = speedButton(p_Middle, "b_Mark", Glyph::Mark, tr("Set marker to current position"));
    b_Play2 = speedButton(p_Middle, "b_Play2", Glyph::Loop, tr("Looping"), true);

    l_Tempo = label(p_Middle, "l_Tempo", tr("Tempo"));
    t_Tempo = named<QLineEdit>(p_Middle, "t_Tempo");
    t_Tempo->setMaxLength(6);
    t_Tempo->setFixedWidth(44);
    t_Tempo->setAlignment(Qt::AlignRight);
    sb_Tempo = named<QScrollBar>(p_Middle, "sb_Tempo");
    sb_Tempo->setOrientation(Qt::Horizontal);
    sb_Tempo->setRange(8, 255);
    sb_Tempo->setPageStep(4);
    sb_Tempo->setValue(8);
    sb_Tempo->setMinimumWidth(90);

    me_From = label(p_Middle, "me_From", QString(), Qt::AlignRight | Qt::AlignVCenter);
    me_From->setProperty("Tag", 0);
    me_To = label(p_Middle, "me_To", QString(), Qt::AlignRight | Qt::AlignVCenter);
    me_To->setProperty("Tag", 1);
    for (QLabel* edge : {me_From, me_To}) {
        edge->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        edge->setMinimumWidth(64);
    }
    me_FromTo = named<QLineEdit>(p_Middle, "me_FromTo");
    me_FromTo->setMaxLength(12);
    me_FromTo->setToolTip(tr("From"));
    me_FromTo->hide();

    auto* keyMeter = new QVBoxLayout;
    keyMeter->setSpacing(1);
    keyMeter->addWidget(cb_Key);
    keyMeter->addWidget(l_Meter);
    auto* modeNames = new QVBoxLayout;
    modeNames->setSpacing(0);
    for (QLabel* mode : {l_Beat, l_Style, l_Arng}) modeNames->addWidget(mode);
    auto* tempo = new QGridLayout;
    tempo->setSpacing(1);
    tempo->addWidget(l_Tempo, 0, 0);
    tempo->addWidget(t_Tempo, 0, 1);
    tempo->addWidget(sb_Tempo, 1, 0, 1, 2);
    auto* loop = new QVBoxLayout;
    loop->setSpacing(1);
    loop->addWidget(me_From);
    loop->addWidget(me_To);

    auto* row = new QHBoxLayout(p_Middle);
    row->setContentsMargins(kStripWidth + 4, 2, 6, 2);
    row->setSpacing(4);
    row->addLayout(keyMeter);
    row->addWidget(imgSAM);
    row->addLayout(modeNames);
    row->addWidget(b_CreateAcc);
    row->addWidget(b_StyleAcc);
    row->addSpacing(8);
    for (QToolButton* button : {b_Back, b_Stop, b_Play, b_Forw, b_Mark, b_Play2})
        row->addWidget(button);
    row->addSpacing(8);
    row->addLayout(tempo);
    row->addLayout(loop);
    row->addStretch(1);

    for (QWidget* widget : {static_cast<QWidget*>(imgSAM), static_cast<QWidget*>(l_Beat),
                            static_cast<QWidget*>(l_Style), static_cast<QWidget*>(l_Arng),
                            static_cast<QWidget*>(b_CreateAcc), static_cast<QWidget*>(b_StyleAcc),
                            static_cast<QWidget*>(b_Back), static_cast<QWidget*>(b_Stop),
                            static_cast<QWidget*>(b_Play), static_cast<QWidget*>(b_Forw),
                            static_cast<QWidget*>(b_Mark), static_cast<QWidget*>(b_Play2),
                            static_cast<QWidget*>(me_From), static_cast<QWidget*>(me_To)})
        registerControl(widget);
}

void TfMain::createChordRegion() {
    p_ChrG = named<QWidget>(this, "p_ChrG");
    p_ChrG->setFixedHeight(kChordHeight);
    fillPanel(p_ChrG, QColor(0xF4, 0xF1, 0xEA));
    p_VChr = named<QWidget>(p_ChrG, "p_VChr");
    p_VChr->setFixedWidth(kStripWidth);
    fillPanel(p_VChr, QColor(0xE6, 0xDC, 0xCF));

    l_Chords = label(p_VChr, "l_Chords", tr("Chords"), Qt::AlignCenter);
    QFont bold = l_Chords->font();
    bold.setBold(true);
    l_Chords->setFont(bold);
    l_ChrName = label(p_VChr, "l_ChrName", QString(), Qt::AlignCenter);
    l_ChrNotes = label(p_VChr, "l_ChrNotes", QString(), Qt::AlignCenter);
    l_ChrVol = label(p_VChr, "l_ChrVol", tr("Volume  "), Qt::AlignCenter);
    trb_VChr = volumeSlider(p_VChr, "trb_VChr", 1);
    chb_ChrOff = muteButton(p_VChr, "chb_ChrOff", 1);
    cse_ChrOkt = named<QSpinBox>(p_VChr, "cse_ChrOkt");
    cse_ChrOkt->setRange(0, 11);
    cse_ChrOkt->hide();
    l_ChrInstr = label(p_VChr, "l_ChrInstr", tr("  Instrument"));
    l_ChrPatch = label(p_VChr, "l_ChrPatch", QString(), Qt::AlignCenter);
    l_ChrPatch->setProperty("Tag", 1);
    l_ChrPatch->setToolTip(tr(kPatchHint));
    l_ChrPatch->setWordWrap(true);

    layoutStrip(p_ChrG, p_VChr, {l_Chords, l_ChrName, l_ChrNotes, l_ChrVol}, trb_VChr,
                {chb_ChrOff, cse_ChrOkt, l_ChrInstr, l_ChrPatch});

    // The instrument chooser pops up beside a strip.
    cb_Patchs = named<QListWidget>(this, "cb_Patchs");
    cb_Patchs->setStyleSheet(QStringLiteral("QListWidget { background: #FEF5E0; color: navy; }"));
    cb_Patchs->hide();
    for (QWidget* widget : {static_cast<QWidget*>(trb_VChr), static_cast<QWidget*>(chb_ChrOff)})
        registerControl(widget);
}

void TfMain::createStatusBar() {
    stbStatus = new QStatusBar(this);
    stbStatus->setObjectName(QStringLiteral("stbStatus"));
    stbStatus->setFixedHeight(kStatusHeight);
    stbStatus->setSizeGripEnabled(true);
    for (std::size_t i = 0; i < statusPanels_.size(); ++i) {
        auto* panel = new QLabel(stbStatus);
        panel->setObjectName(QStringLiteral("stbStatus_%1").arg(i));
        panel->setFixedWidth(kStatusPanelWidths[i]);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        stbStatus->addWidget(panel);
        statusPanels_[i] = panel;
    }
    statusPanels_[0]->setText(QString::fromUtf8(model::text::kHelpHint.data(),
                                                static_cast<int>(model::text::kHelpHint.size())));
    stbStatus->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(stbStatus, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pmnToolBars->popup(stbStatus->mapToGlobal(at)); });
    setStatusBar(stbStatus);
    // Nothing is clipped: the fixed regions and a 200-pixel melody panel always fit.
    setMinimumWidth(kMinimumWidth);
    setMinimumHeight(std::max(kMinimumHeight, minimumSizeHint().height()));
}

void TfMain::applySteps(const std::vector<model::ControlStep>& steps) {
    using model::ControlAction;
    for (const model::ControlStep& step : steps) {
        switch (step.action) {
            case ControlAction::LightsOff:
                for (int row = 0; row < ModeLightsView::kRows; ++row)
                    drawModeLight(row, LightLook::Off);
                continue;
            case ControlAction::ClearArrangementCheck:
                if (styleDialog_) styleDialog_->setArrangementEnabled(false);
                continue;
            case ControlAction::ClearArrangementApplied:
                if (arrangementDialog_) arrangementDialog_->setArrangementApplied(false);
                continue;
            case ControlAction::KeyToAuto:
                cb_Key->setCurrentIndex(0);
                continue;
            case ControlAction::ClearMeter:
                l_Meter->clear();
                continue;
            case ControlAction::ClearTempo:
                clearTempoDisplay();
                continue;
            default:
                break;
        }
        const auto found = controls_.find(
            QString::fromLatin1(step.control.data(), static_cast<int>(step.control.size())));
        if (found == controls_.end()) continue;
        const ControlRef& control = found->second;
        switch (step.action) {
            case ControlAction::Enable:
            case ControlAction::Disable: {
                const bool enable = step.action == ControlAction::Enable;
                if (control.action) control.action->setEnabled(enable);
                if (control.widget) control.widget->setEnabled(enable);
                break;
            }
            case ControlAction::Show:
            case ControlAction::Hide: {
                const bool show = step.action == ControlAction::Show;
                if (control.action) control.action->setVisible(show);
                if (control.widget) control.widget->setVisible(show);
                break;
            }
            case ControlAction::Release:
                if (control.action) control.action->setChecked(false);
                if (auto* button = qobject_cast<QAbstractButton*>(control.widget))
                    button->setChecked(false);
                break;
            default:
                break;
        }
    }
}

// --- Operations -----------------------------------------------------------------------------

void TfMain::setCommandState(int mode) {
    applySteps(model::commandStateSteps(mode));
    // Every change of the document enables Save through here.
    if (recovery_ &&
        (mode == model::command_mode::kChanged || mode == model::command_mode::kAccompaniment))
        recovery_->documentChanged();
}

void TfMain::enableDocumentControls(bool enable) {
    applySteps(model::documentControlSteps(enable));
}

void TfMain::setDocumentCaption(const QString& text) {
    const std::string suffix = text.toStdString();
    // The caption ends with the application title, so the platform does not add it again.
    QApplication::setApplicationDisplayName(
        QString::fromStdString(model::applicationTitle(suffix)));
    setWindowTitle(QString::fromStdString(model::windowCaption(suffix)));
    if (patchsDialog_)
        patchsDialog_->showDocumentName(notes_ ? QFileInfo(documentFileName_).fileName()
                                               : QString());
}

void TfMain::clearPositionDisplay() {
    l_MelNt->clear();
    l_MelPos->clear();
    // The cursor's position and the pointer's pixel in the status bar belong to the piece.
    statusPanels_[1]->clear();
    statusPanels_[2]->clear();
    me_From->setText(QString::fromLatin1(kEmptyPosition));
    me_To->setText(QString::fromLatin1(kEmptyPosition));
}

void TfMain::resetChordDisplay() {
    if (muteGlyph_.isNull()) muteGlyph_ = glyphPixmap(Glyph::Mute, 16);
    {
        // Showing the default octave never rewrites the piece's.
        const QSignalBlocker block(cse_ChrOkt);
        cse_ChrOkt->setValue(kDefaultAccompanimentOctave);
    }
    l_ChrName->setProperty("Tag", kNoChordName);
    l_ChrName->clear();
    l_ChrNotes->clear();
}

void TfMain::drawModeLight(int row, LightLook look) {
    imgSAM->drawModeLight(row, look);
}

int TfMain::contextHelpTopic() const {
    const QWidget* focus = QApplication::focusWidget();
    for (const QWidget* widget = focus; widget; widget = widget->parentWidget()) {
        if (widget == p_Middle || widget == cbar_General) return model::help_topic::kToolbar;
        if (widget == this) break;
    }
    return model::help_topic::kMainWindow;
}

// --- Start-up -------------------------------------------------------------------------------

bool TfMain::readSettings() {
    store_ = std::make_unique<SettingsStore>();
    store_->setErrorHandler([this](const std::string& message) {
        dialogs_.plain(this, QString::fromStdString(message));
    });
    const QRect screen = QApplication::primaryScreen()
                             ? QApplication::primaryScreen()->availableGeometry()
                             : QRect(0, 0, 1024, 768);
    const WindowPlacement designed{model::kDesignedHeight, model::kDesignedWidth,
                                   screen.x() + (screen.width() - model::kDesignedWidth) / 2,
                                   screen.y() + (screen.height() - model::kDesignedHeight) / 2};
    plan_ = model::planStartup(*store_, designed);
    if (!plan_.rootKeyFound) {
        // The command that writes the settings, and where they are looked for.
        dialogs_.show(
            this, model::msg::msgRunSetup,
            QStringLiteral(":\n\r varimel-regsetup --install-path DIR\n\r writes %1")
                .arg(QFile::decodeName(QByteArray::fromStdString(registryFilePath().string()))));
        return false;
    }
    const StartupSettings& startup = plan_.startup;
    maxRecentFiles_ = startup.settings.maxRecentFiles;
    recent_.setCapacity(maxRecentFiles_);
    for (const std::string& name : startup.recentFiles) recent_.appendStored(name);
    rebuildRecentFilesMenu();
    placement_ = startup.placement;
    maximised_ = startup.maximised;
    setGeometry(placement_.Left, placement_.Top, placement_.Width, placement_.Height);
    settings_ = startup.settings;
    showTips_ = settings_.showTips;
    savedDefaults_ = currentOptions;
    return true;
}

bool TfMain::loadInstrumentNames() {
    std::string reason;
    if (!instruments_.load(plan_.instrumentFile, reason)) {
        dialogs_.show(this, model::msg::msgCantOpenFile,
                      QFile::decodeName(QByteArray::fromStdString(plan_.instrumentFile)) +
                          QStringLiteral(" \n\r") + QString::fromStdString(reason));
        return false;
    }
    for (const std::string& entry : instruments_.entries())
        cb_Patchs->addItem(QString::fromStdString(entry));
    return true;
}

void TfMain::createLibraries() {
    const auto path = [](const std::string& text) {
        return QFile::decodeName(QByteArray::fromStdString(text));
    };
    styleDialog_ = new TfStyle(path(settings_.styleDir), path(plan_.styleImportTool), help_, this);
    styleDialog_->setMeter(4, 4);
    styleDialog_->setServices(&dialogs_, &launcher_, &player_);
    if (!styleDialog_->library().load()) dialogs_.show(this, model::msg::msgNoStylesLibrary);

    arrangementDialog_ = new TfArrang(path(settings_.arrangementDir),
                                      path(plan_.arrangementImportTool), help_, this);
    arrangementDialog_->library().setErrorReporter([this](const std::string& message) {
        dialogs_.error(this, QString::fromStdString(message));
    });
    arrangementDialog_->setServices(&dialogs_, &player_);
    arrangementDialog_->library().setMeter(4, 4);
    if (!arrangementDialog_->library().loadList())
        dialogs_.show(this, model::msg::msgNoArrangementsLibrary);

    styleDialog_->setImportVisible(model::isExecutableFile(plan_.styleImportTool));
    arrangementDialog_->setImportVisible(model::isExecutableFile(plan_.arrangementImportTool));
}

void TfMain::installMessageHandler() {
    // Always queued: the engine calls from any thread, and holds its lock while it does.
    setMessageHandler([this](const std::string& message) {
        const QString text = QString::fromStdString(message);
        QMetaObject::invokeMethod(
            this, [this, text] { dialogs_.error(this, text); }, Qt::QueuedConnection);
    });
}

void TfMain::showAsPlaced() {
    if (maximised_)
        showMaximized();
    else
        show();
}

void TfMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownOnce_ || !started_) return;
    shownOnce_ = true;
    // The tip of the day waits for the answers about unsaved work, so it never covers them.
    QTimer::singleShot(0, this, [this] {
        offerRecoveryCopies();
        if (commandLineTail_.isEmpty() && showTips_ != 0) showTipOfTheDay();
    });
}

// --- Window events --------------------------------------------------------------------------

void TfMain::recordPlacement() {
    // Maximised or minimised sizes are never recorded.
    if (windowState() != Qt::WindowNoState || !isVisible()) return;
    const QRect bounds = geometry();
    placement_ = {bounds.height(), bounds.width(), bounds.x(), bounds.y()};
}

void TfMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    recordPlacement();
}

void TfMain::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    recordPlacement();
}

void TfMain::closeEvent(QCloseEvent* event) {
    if (player_.isPlaying()) {
        event->ignore();
        return;
    }
    closeCancelled_ = false;
    if (!closeDocument()) {
        event->ignore();
        return;
    }
    event->accept();
    // The help, the instruments and the tips close with the program: a window left open would
    // keep it running without its main window.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window != this && window->isVisible()) window->close();
    }
}

bool TfMain::eventFilter(QObject* watched, QEvent* event) {
    if (accompanimentLabelEvent(watched, event)) return true;
    if (event->type() == QEvent::KeyPress && qobject_cast<QMenu*>(watched) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
        help_.showHelp(model::help_topic::kMenus);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfMain::mnFExitClick() {
    close();
}

// --- Help menu ------------------------------------------------------------------------------

void TfMain::mnContentsClick() {
    help_.showHelp(model::help_topic::kContents);
}
void TfMain::mnQuickTourClick() {
    help_.showHelp(model::help_topic::kQuickTour);
}
void TfMain::mnMelReqClick() {
    help_.showHelp(model::help_topic::kMelodyRequirement);
}
void TfMain::mnVmelDemosClick() {
    help_.showHelp(model::help_topic::kDemos);
}
void TfMain::mnBRFClick() {
    help_.showHelp(model::help_topic::kSupport);
}
void TfMain::mnSmpWSClick() {
    openWebSite();
}
void TfMain::VarimelWebsite1Click() {
    openWebSite();
}
void TfMain::mnTipsClick() {
    showTipOfTheDay();
}

void TfMain::mnMidiSamplesClick() {
    // The open dialog starts in the samples folder, now and for later opens.
    openDir_ = QFile::decodeName(QByteArray::fromStdString(plan_.samplesPath));
    openFile(documentFileName_, kOpenWithDialog);
}

void TfMain::openWebSite() {
    // The browser command of the settings names a program of another system; the desktop's
    // own opener serves the address instead.
    const std::string& address = settings_.siteAddress;
    const QUrl url(QString::fromStdString(model::siteUrl(address)));
    if (!address.empty() && launcher_.openUrl(url)) return;
    dialogs_.plain(this, QString::fromStdString(model::visitText(address)));
}

void TfMain::showTipOfTheDay() {
    if (!tipsDialog_) tipsDialog_ = new TfTips(*store_, showTips_, random_, dialogs_, this);
    tipsDialog_->load(QFile::decodeName(QByteArray::fromStdString(plan_.tipsFile)));
    tipsDialog_->show();
    tipsDialog_->raise();
    tipsDialog_->activateWindow();
}

void TfMain::mnAboutClick() {
    TfAbout about(this);
    QString error;
    if (!about.loadPicture(QFile::decodeName(QByteArray::fromStdString(plan_.aboutPicture)),
                           error)) {
        dialogs_.error(this, error);
        return;
    }
    dialogs_.run(about);
}

}  // namespace varimel
