#include "ui/Farrangs.h"

#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <memory>

#include "accompaniment/ArrangementRenderer.h"
#include "playback/Tmplay.h"
#include "ui/DialogProvider.h"
#include "ui/FormSupport.h"
#include "ui/Launcher.h"
#include "ui/StylePictureView.h"
#include "ui/model/ArrangementRows.h"
#include "ui/model/HelpTopics.h"
#include "ui/model/Msg_list.h"

namespace varimel {

namespace {

constexpr int kRowTop = 4;
constexpr int kRowStep = 30;
const char* const kTag = "tag";

void paintText(QLabel* text, model::Rgb colour) {
    QPalette palette = text->palette();
    // The selected entry's bright green is its background, behind dark letters: as letters on
    // the pale page it could hardly be read.
    const bool selected = colour == model::arrangement_colours::kSelected;
    palette.setColor(QPalette::WindowText, selected ? QColor(Qt::black) : toQColor(colour));
    palette.setColor(QPalette::Window, toQColor(colour));
    text->setAutoFillBackground(selected);
    text->setPalette(palette);
}

}  // namespace

TfArrang::TfArrang(const QString& arrangementDir, const QString& importTool, HelpSink& help,
                   QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      StaticText1(named<QLabel>(this, "StaticText1", tr("Meter"))),
      StaticText2(named<QLabel>(this, "StaticText2", tr("Arrangement"))),
      sb_1(named<QScrollArea>(this, "sb_1")),
      l_Help(named<QLabel>(this, "l_Help", tr("Tip: Click for play, Double click for select "))),
      b_Ok(named<QPushButton>(this, "b_Ok", tr("Ok"))),
      b_Cancel(named<QPushButton>(this, "b_Cancel", tr("Cancel"))),
      b_Help(named<QPushButton>(this, "b_Help", tr("Help"))),
      b_Import(named<QPushButton>(this, "b_Import", tr("Import"))),
      b_Reload(named<QPushButton>(this, "b_Reload", tr("Reload"))),
      help_(help),
      library_(QFile::encodeName(arrangementDir).toStdString()),
      importTool_(importTool) {
    setObjectName(QStringLiteral("TfArrang"));
    new PlaceKeeper(this);
    setWindowTitle(tr("Arrangements of instrumental accompaniments"));
    setFixedSize(586, 330);
    for (QLabel* header : {StaticText1, StaticText2}) {
        header->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        QFont bold = header->font();
        bold.setBold(true);
        header->setFont(bold);
    }
    StaticText1->setFixedWidth(121);
    StaticText2->setFixedWidth(377);
    sb_1->setStyleSheet(
        QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget "
                       "{ background: rgb(241, 247, 234); }"));
    sb_1->setWidgetResizable(false);
    sb_1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    l_Help->setStyleSheet(QStringLiteral("color: blue;"));
    b_Ok->setDefault(true);
    b_Import->setToolTip(tr("Import style from midi file"));
    b_Reload->setToolTip(tr("Reload styles list"));
    b_Import->hide();
    b_Reload->hide();

    auto* layout = new QGridLayout(this);
    layout->addWidget(StaticText1, 0, 0);
    layout->addWidget(StaticText2, 0, 1, Qt::AlignLeft);
    layout->addWidget(sb_1, 1, 0, 1, 2);
    layout->addWidget(l_Help, 2, 0, 1, 2);
    layout->addLayout(buttonRow({b_Import, b_Reload, b_Help, b_Ok, b_Cancel}), 3, 0, 1, 2);

    connect(b_Ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(b_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(b_Help, &QPushButton::clicked, this, &TfArrang::b_HelpClick);
    connect(b_Import, &QPushButton::clicked, this, &TfArrang::b_ImportClick);
    connect(b_Reload, &QPushButton::clicked, this, &TfArrang::b_ReloadClick);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &TfArrang::b_HelpClick);
}

TfArrang::~TfArrang() {
    waitForPreview();
}

void TfArrang::setServices(DialogProvider* dialogs, PlayerContext* player) {
    dialogs_ = dialogs;
    player_ = player;
}

void TfArrang::setImportVisible(bool visible) {
    b_Import->setVisible(visible);
    b_Reload->setVisible(visible);
}

QLabel* TfArrang::rowText(const QString& name) const {
    for (QLabel* text : texts_)
        if (text->objectName() == name) return text;
    return nullptr;
}

void TfArrang::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TfArrang::FormShow() {
    shownSelectedId_ = selectedId_;
    clearRows();
    if (library_.loadList()) buildRows();
}

void TfArrang::buildRows() {
    auto* content = named<QWidget>(sb_1, "sb_content");
    const int meterKey = library_.currentMeterKey();
    const std::vector<model::ArrangementRow> rows =
        model::arrangementRows(library_.groups(), meterKey, selectedId_);
    const int entriesLeft = StaticText1->width() + 14;
    int y = kRowTop;
    int right = entriesLeft;
    auto makeText = [&](const std::string& name, const std::string& caption, model::Rgb colour) {
        auto* text = named<QLabel>(content, name.c_str(), QString::fromStdString(caption));
        QFont bold = text->font();
        bold.setBold(true);
        text->setFont(bold);
        paintText(text, colour);
        text->adjustSize();
        texts_.push_back(text);
        return text;
    };
    for (const model::ArrangementRow& row : rows) {
        makeText(row.name, row.meterText, row.colour)->move(4, y);
        int x = entriesLeft;
        for (const model::ArrangementItem& item : row.items) {
            QLabel* text = makeText(item.name, item.caption, item.colour);
            text->setProperty(kTag, item.tag);
            text->setCursor(Qt::PointingHandCursor);
            text->installEventFilter(this);
            text->move(x, y);
            if (item.colour == model::arrangement_colours::kSelected) highlighted_ = text;
            x += text->width() + 10;
        }
        right = std::max(right, x);
        y += kRowStep;
    }
    content->resize(std::max(right, sb_1->viewport()->width()),
                    std::max(y, sb_1->viewport()->height()));
    sb_1->setWidget(content);
}

void TfArrang::clearRows() {
    texts_.clear();
    highlighted_ = nullptr;
    delete sb_1->takeWidget();
}

void TfArrang::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) clearRows();
}

bool TfArrang::eventFilter(QObject* watched, QEvent* event) {
    auto* text = qobject_cast<QLabel*>(watched);
    if (text != nullptr && (event->type() == QEvent::MouseButtonPress ||
                            event->type() == QEvent::MouseButtonDblClick)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        // A double click selects, as the tip says.
        arrangementMouseDown(
            text, event->type() == QEvent::MouseButtonDblClick ? Qt::RightButton : mouse->button());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfArrang::arrangementMouseDown(QLabel* text, Qt::MouseButton button) {
    // The library's current arrangement is what the preview plays: it stays until it ends.
    if (playing_) return;
    const ArrangementId tag = text->property(kTag).toInt();
    if (button == Qt::LeftButton) {
        if (library_.select(tag) == tag) playCurrent();
        return;
    }
    if (button != Qt::RightButton) return;
    const int meterKey = library_.currentMeterKey();
    if (!model::arrangementSelectable(library_.groups(), meterKey, tag)) return;
    selectedId_ = library_.select(tag);
    if (selectedId_ < 0) {
        // Nothing is selected now: no text stays lit.
        if (highlighted_ != nullptr)
            paintText(highlighted_, model::arrangement_colours::kCurrentMeter);
        highlighted_ = nullptr;
        return;
    }
    paintText(text, model::arrangement_colours::kSelected);
    if (highlighted_ != nullptr && highlighted_ != text)
        paintText(highlighted_, model::arrangement_colours::kCurrentMeter);
    highlighted_ = text;
}

void TfArrang::setCompositionArrangement(ArrangementId id) {
    compositionArrangement_ = id;
    const int meterKey = library_.currentMeterKey();
    const ArrangementId automatic = library_.autoId();
    // Another piece's choice never carries over.
    if (model::arrangementSelectable(library_.groups(), meterKey, id))
        selectedId_ = id;
    else if (model::arrangementSelectable(library_.groups(), meterKey, automatic))
        selectedId_ = automatic;
    else
        selectedId_ = kNoArrangement;
}

void TfArrang::playCurrent() {
    const Arrangement* arrangement = library_.current();
    if (player_ == nullptr || arrangement == nullptr) return;
    auto preview = std::make_shared<ArrangementPreview>(renderArrangementPreview(*arrangement));
    if (!preview->notes) return;
    setPlaying(true);
    // The preview reads its own copy of the document's channels, which the instruments window
    // may change meanwhile.
    previewThread_.start(
        this,
        [player = player_, preview, setup = player_->previewSetup()] {
            player->playArrangementPreview(*preview->notes, preview->tempo, preview->division,
                                           {preview->organProgram, preview->bassProgram}, setup);
        },
        [this](bool played) {
            waitForPreview();
            setPlaying(false);
            if (!played && dialogs_ != nullptr)
                dialogs_->message(this, model::MessageKind::Error,
                                  displayText(model::msg::msgCantPlayStyle.text), QMessageBox::Ok);
        });
}

void TfArrang::setPlaying(bool playing) {
    playing_ = playing;
    for (QPushButton* button : {b_Ok, b_Cancel, b_Reload}) button->setEnabled(!playing);
}

void TfArrang::waitForPreview() {
    previewThread_.wait();
}

void TfArrang::done(int result) {
    // Closing waits until the preview has returned.
    if (playing_) return;
    // OK applies only an arrangement of the piece's meter.
    if (result == Accepted &&
        !model::arrangementSelectable(library_.groups(), library_.currentMeterKey(), selectedId_))
        selectedId_ = kNoArrangement;
    if (result != Accepted) {
        // Left clicks changed the library's current arrangement; the piece keeps its own.
        selectedId_ = shownSelectedId_;
        library_.select(compositionArrangement_);
    }
    QDialog::done(result);
}

void TfArrang::b_HelpClick() {
    help_.showHelp(model::help_topic::kStyleDialog);
}

void TfArrang::b_ImportClick() {
    // There is no arrangement import program to start.
}

void TfArrang::b_ReloadClick() {
    library_.reset();
    clearRows();
    FormShow();
}

}  // namespace varimel
