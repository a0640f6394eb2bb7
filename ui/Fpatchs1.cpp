#include "ui/Fpatchs1.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "playback/Tmplay.h"
#include "ui/FormSupport.h"
#include "ui/model/InstrumentNames.h"
#include "ui/model/InstrumentsGrid.h"

namespace varimel {

using Grid = model::InstrumentsGrid;

namespace {

constexpr int kWidth = 342;
constexpr int kHeight = 128;
constexpr int kUpDownWidth = 11;

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

TfPatchs::TfPatchs(PlayerContext& player, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint),
      sg_ChPs(named<QTableWidget>(this, "sg_ChPs")),
      cb_Patchs(named<QComboBox>(sg_ChPs->viewport(), "cb_Patchs")),
      me_vol(named<QLineEdit>(sg_ChPs->viewport(), "me_vol")),
      ud_vol(named<QWidget>(sg_ChPs->viewport(), "ud_vol")),
      volUp_(named<QToolButton>(ud_vol, "ud_volUp")),
      volDown_(named<QToolButton>(ud_vol, "ud_volDown")),
      StatusBar1(named<QStatusBar>(this, "StatusBar1")),
      player_(player) {
    setObjectName(QStringLiteral("TfPatchs"));
    setWindowTitle(tr("Instruments"));
    setFixedSize(kWidth, kHeight);

    sg_ChPs->setRowCount(Grid::kRows);
    sg_ChPs->setColumnCount(Grid::kColumns);
    sg_ChPs->horizontalHeader()->hide();
    sg_ChPs->verticalHeader()->hide();
    sg_ChPs->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sg_ChPs->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sg_ChPs->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sg_ChPs->setSelectionMode(QAbstractItemView::SingleSelection);
    sg_ChPs->setFrameStyle(QFrame::NoFrame);
    sg_ChPs->setMouseTracking(true);
    // The small grid font of a tool window; "Volume" takes the widest column.
    QFont small = sg_ChPs->font();
    small.setPixelSize(11);
    sg_ChPs->setFont(small);
    sg_ChPs->setTextElideMode(Qt::ElideNone);
    for (int column = 0; column < Grid::kColumns; ++column)
        sg_ChPs->setColumnWidth(column, Grid::kColumnWidths[static_cast<size_t>(column)]);
    for (int row = 0; row < Grid::kRows; ++row) sg_ChPs->setRowHeight(row, Grid::kRowHeight);
    for (int row = 0; row < Grid::kRows; ++row) {
        for (int column = 0; column < Grid::kColumns; ++column) {
            auto* item = new QTableWidgetItem;
            if (row == 0 || column == Grid::kNumberColumn) {
                item->setFlags(Qt::ItemIsEnabled);
                item->setBackground(palette().button());
            }
            if (row > 0 && column >= Grid::kMuteColumn) item->setTextAlignment(Qt::AlignCenter);
            sg_ChPs->setItem(row, column, item);
        }
    }

    me_vol->setAlignment(Qt::AlignRight);
    me_vol->setFrame(false);
    me_vol->setTextMargins(0, 0, 1, 0);
    me_vol->setMaxLength(Grid::kMaxVolumeDigits);
    me_vol->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), me_vol));
    volUp_->setArrowType(Qt::UpArrow);
    volDown_->setArrowType(Qt::DownArrow);
    auto* upDown = new QVBoxLayout(ud_vol);
    upDown->setContentsMargins(0, 0, 0, 0);
    upDown->setSpacing(0);
    upDown->addWidget(volUp_);
    upDown->addWidget(volDown_);
    for (QToolButton* button : {volUp_, volDown_}) {
        button->setFixedSize(kUpDownWidth, Grid::kRowHeight / 2);
        button->setAutoRepeat(true);
    }
    ud_vol->setFixedSize(kUpDownWidth, Grid::kRowHeight);
    hideEditors();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(sg_ChPs);
    layout->addWidget(StatusBar1);
    StatusBar1->setSizeGripEnabled(false);

    connect(sg_ChPs, &QTableWidget::cellClicked, this, &TfPatchs::sg_ChPsSelectCell);
    connect(sg_ChPs, &QTableWidget::cellEntered, this,
            [this](int row, int) { sg_ChPsMouseMove(row); });
    connect(cb_Patchs, &QComboBox::activated, this, &TfPatchs::cb_PatchsChange);
    connect(me_vol, &QLineEdit::textEdited, this, &TfPatchs::me_volChange);
    connect(volUp_, &QToolButton::clicked, this, [this] { stepVolume(1); });
    connect(volDown_, &QToolButton::clicked, this, [this] { stepVolume(-1); });
}

void TfPatchs::showFor(ChannelSettings& settings, const model::InstrumentNames& names) {
    settings_ = &settings;
    names_ = &names;
    cb_Patchs->clear();
    for (const std::string& entry : names.entries()) cb_Patchs->addItem(fromStd(entry));
    fillGrid();
    hideEditors();
    cb_Patchs->setFixedWidth(sg_ChPs->columnWidth(Grid::kPatchColumn));
    if (main_.toolButton) main_.toolButton->setChecked(true);
    show();
}

void TfPatchs::rebind(ChannelSettings& settings, const QString& documentName) {
    hideEditors();
    settings_ = &settings;
    showDocumentName(documentName);
    if (names_ != nullptr) fillGrid();
}

void TfPatchs::showDocumentName(const QString& documentName) {
    setWindowTitle(documentName.isEmpty() ? tr("Instruments")
                                          : tr("Instruments - %1").arg(documentName));
}

void TfPatchs::placeBeside(const QRect& panel) {
    move(panel.right() - frameGeometry().width() + 1, panel.top());
}

void TfPatchs::fillGrid() {
    for (int column = 0; column < Grid::kColumns; ++column)
        setCell(0, column, fromStd(Grid::cellText(ChannelSettings{}, *names_, 0, column)));
    for (int row = 1; row < Grid::kRows; ++row)
        for (int column = 0; column < Grid::kColumns; ++column)
            setCell(row, column, fromStd(Grid::cellText(*settings_, *names_, row, column)));
}

void TfPatchs::setCell(int row, int column, const QString& text) {
    sg_ChPs->item(row, column)->setText(text);
}

void TfPatchs::hideEditors() {
    cb_Patchs->hide();
    me_vol->hide();
    ud_vol->hide();
    editedRow_ = 0;
}

void TfPatchs::placeEditor(QWidget* editor, int row, int column, int width) {
    const QRect cell = sg_ChPs->visualRect(sg_ChPs->model()->index(row, column));
    editor->setGeometry(cell.left(), cell.top(), width, cell.height());
}

QAbstractButton* TfPatchs::muteButton(int channel) const {
    if (channel == Grid::kMelodyChannel) return main_.melodyMute;
    if (channel == Grid::kAccompanimentChannel) return main_.accompanimentMute;
    return nullptr;
}

QAbstractSlider* TfPatchs::volumeSlider(int channel) const {
    if (channel == Grid::kMelodyChannel) return main_.melodyVolume;
    if (channel == Grid::kAccompanimentChannel) return main_.accompanimentVolume;
    return nullptr;
}

// The main window's button follows without running its handler; the dialog applies the
// settings itself.
void TfPatchs::setMainMute(int channel, bool down) {
    if (QAbstractButton* button = muteButton(channel)) {
        const QSignalBlocker blocker(button);
        button->setChecked(down);
    }
    if (QAbstractSlider* slider = volumeSlider(channel)) slider->setEnabled(!down);
}

void TfPatchs::sg_ChPsSelectCell(int row, int column) {
    hideEditors();
    const int channel = Grid::channelOfRow(row);
    if (channel < 0 || settings_ == nullptr) return;
    const auto index = static_cast<size_t>(channel);
    switch (column) {
        case Grid::kPatchColumn:
            if (!Grid::hasPatchChooser(row)) return;
            placeEditor(cb_Patchs, row, column, sg_ChPs->columnWidth(column));
            {
                const QSignalBlocker blocker(cb_Patchs);
                cb_Patchs->setCurrentIndex(names_->entryOfProgram(settings_->program[index]));
            }
            editedRow_ = row;
            cb_Patchs->show();
            cb_Patchs->setFocus();
            return;
        case Grid::kMuteColumn: {
            const bool muted = Grid::toggleMute(*settings_, channel) != 0;
            setCell(row, column, muted ? QStringLiteral("M") : QString());
            setMainMute(channel, muted);
            player_.applyChannelSettings();
            return;
        }
        case Grid::kSoloColumn:
            Grid::toggleSolo(*settings_, channel);
            for (int other = 1; other < Grid::kRows; ++other)
                setCell(other, column,
                        fromStd(Grid::cellText(*settings_, *names_, other, Grid::kSoloColumn)));
            player_.applyChannelSettings();
            return;
        case Grid::kVolumeColumn:
            placeEditor(me_vol, row, column, sg_ChPs->columnWidth(column) - kUpDownWidth);
            me_vol->setText(QString::number(settings_->volume[index]));
            ud_vol->move(me_vol->geometry().right() + 1, me_vol->y());
            editedRow_ = row;
            me_vol->show();
            ud_vol->show();
            me_vol->setFocus();
            me_vol->selectAll();
            return;
        default:
            return;
    }
}

void TfPatchs::sg_ChPsMouseMove(int row) {
    StatusBar1->clearMessage();
    const std::string_view text = Grid::statusText(row);
    if (!text.empty()) StatusBar1->showMessage(QString::fromUtf8(text.data(), text.size()));
}

void TfPatchs::cb_PatchsChange(int index) {
    if (editedRow_ == 0 || !Grid::hasPatchChooser(editedRow_) || names_ == nullptr) return;
    const int program = names_->programOfEntry(index);
    if (program < 0) return;
    setCell(editedRow_, Grid::kPatchColumn, cb_Patchs->itemText(index));
    if (onPatchChosen) onPatchChosen(Grid::channelOfRow(editedRow_), program);
}

void TfPatchs::me_volChange(const QString& text) {
    const int channel = Grid::channelOfRow(editedRow_);
    if (channel < 0 || settings_ == nullptr) return;
    const auto index = static_cast<size_t>(channel);
    settings_->mute[index] = 0;
    setCell(editedRow_, Grid::kMuteColumn, {});
    setMainMute(channel, false);

    const int volume = Grid::parseVolume(text.toStdString());
    settings_->volume[index] = static_cast<uint8_t>(volume);
    if (QAbstractSlider* slider = volumeSlider(channel)) {
        {
            const QSignalBlocker blocker(slider);
            slider->setValue(Grid::kMaxVolume - volume);
        }
        if (onVolumeSliderWritten)
            onVolumeSliderWritten(channel);
        else
            player_.setVolume(volume, channel);
    } else {
        player_.setVolume(volume, channel);
    }
    const QString shown = QString::number(volume);
    setCell(editedRow_, Grid::kVolumeColumn, shown);
    if (me_vol->text() != shown && !text.isEmpty()) me_vol->setText(shown);
}

void TfPatchs::stepVolume(int step) {
    if (editedRow_ == 0) return;
    const int volume =
        std::clamp(Grid::parseVolume(me_vol->text().toStdString()) + step, 0, Grid::kMaxVolume);
    me_vol->setText(QString::number(volume));
    me_volChange(me_vol->text());
}

void TfPatchs::showChannelName(int channel, const QString& name) {
    const int row = Grid::rowOfChannel(channel);
    if (row > 0) setCell(row, Grid::kPatchColumn, name);
}

void TfPatchs::showChannelMute(int channel, bool muted) {
    const int row = Grid::rowOfChannel(channel);
    if (row > 0) setCell(row, Grid::kMuteColumn, muted ? QStringLiteral("M") : QString());
}

void TfPatchs::showChannelVolume(int channel, int volume) {
    const int row = Grid::rowOfChannel(channel);
    if (row > 0) setCell(row, Grid::kVolumeColumn, QString::number(volume));
}

void TfPatchs::hideEvent(QHideEvent* event) {
    hideEditors();
    if (main_.toolButton) main_.toolButton->setChecked(false);
    cb_Patchs->clear();
    QWidget::hideEvent(event);
}

}  // namespace varimel
