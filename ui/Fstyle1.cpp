#include "ui/Fstyle1.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

#include "accompaniment/StyleRenderer.h"
#include "playback/Tmplay.h"
#include "ui/DialogProvider.h"
#include "ui/FormSupport.h"
#include "ui/Launcher.h"
#include "ui/StylePictureView.h"
#include "ui/model/HelpTopics.h"
#include "ui/model/Msg_list.h"
#include "ui/model/PatternPicture.h"
#include "ui/model/StylePageLayout.h"

namespace varimel {

namespace {

constexpr int kClickInterval = 300;  // ms that tell a single left click from a double one

}  // namespace

TfStyle::TfStyle(const QString& styleDir, const QString& importTool, HelpSink& help,
                 QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      PageControl1(named<QTabWidget>(this, "PageControl1")),
      l_Help(
          named<QLabel>(this, "l_Help", tr("Tip: Left Click for play, Right Click for select "))),
      cb_ArngOn(named<QCheckBox>(this, "cb_ArngOn", tr("Enable Arrangement"))),
      b_Ok(named<QPushButton>(this, "b_Ok", tr("Ok"))),
      b_Cancel(named<QPushButton>(this, "b_Cancel", tr("Cancel"))),
      b_Help(named<QPushButton>(this, "b_Help", tr("Help"))),
      b_Import(named<QPushButton>(this, "b_Import", tr("Import"))),
      b_Reload(named<QPushButton>(this, "b_Reload", tr("Reload"))),
      clickSITimer(new QTimer(this)),
      help_(help),
      library_(QFile::encodeName(styleDir).toStdString()),
      importTool_(importTool) {
    setObjectName(QStringLiteral("TfStyle"));
    new PlaceKeeper(this);
    setWindowTitle(tr("Styles of instrumental accompaniments"));
    setFixedSize(594, 360);

    QFont bold = PageControl1->font();
    bold.setBold(true);
    PageControl1->setFont(bold);
    // Hot tracking: the tab under the pointer is lit.
    PageControl1->setAttribute(Qt::WA_Hover);
    const char* pageNames[] = {"ts_Piano", "ts_Guitar", "ts_Other"};
    const char* boxNames[] = {"sb_1", "sb_2", "sb_3"};
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        pages_[i] = named<QWidget>(PageControl1, pageNames[i]);
        scrollBoxes_[i] = named<QScrollArea>(pages_[i], boxNames[i]);
        scrollBoxes_[i]->setWidgetResizable(false);
        scrollBoxes_[i]->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scrollBoxes_[i]->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        auto* pageLayout = new QVBoxLayout(pages_[i]);
        pageLayout->setContentsMargins(0, 0, 0, 0);
        pageLayout->addWidget(scrollBoxes_[i]);
        PageControl1->addTab(
            pages_[i], QString::fromUtf8(StyleLibrary::categoryName(static_cast<int>(i)).data()));
    }

    l_Help->setStyleSheet(QStringLiteral("color: blue;"));
    cb_ArngOn->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    b_Ok->setDefault(true);
    b_Import->setToolTip(tr("Import style from midi file"));
    b_Reload->setToolTip(tr("Reload styles list"));
    b_Import->hide();
    b_Reload->hide();
    clickSITimer->setObjectName(QStringLiteral("clickSITimer"));
    clickSITimer->setInterval(kClickInterval);
    clickSITimer->setSingleShot(true);

    auto* layout = new QGridLayout(this);
    layout->addWidget(PageControl1, 0, 0, 1, 2);
    layout->addWidget(l_Help, 1, 0);
    layout->addWidget(cb_ArngOn, 1, 1, Qt::AlignRight);
    auto* buttons = buttonRow({b_Import, b_Reload, b_Help, b_Ok, b_Cancel});
    layout->addLayout(buttons, 2, 0, 1, 2);

    connect(b_Ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(b_Cancel, &QPushButton::clicked, this, &TfStyle::b_CancelClick);
    connect(b_Help, &QPushButton::clicked, this, &TfStyle::b_HelpClick);
    connect(b_Import, &QPushButton::clicked, this, &TfStyle::b_ImportClick);
    connect(b_Reload, &QPushButton::clicked, this, &TfStyle::b_ReloadClick);
    connect(clickSITimer, &QTimer::timeout, this, &TfStyle::clickSITimerTimer);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &TfStyle::b_HelpClick);
}

TfStyle::~TfStyle() {
    waitForPreview();
}

void TfStyle::setServices(DialogProvider* dialogs, Launcher* launcher, PlayerContext* player) {
    dialogs_ = dialogs;
    launcher_ = launcher;
    player_ = player;
}

void TfStyle::setMeter(int numerator, int denominator) {
    meterNum_ = numerator;
    meterDen_ = denominator;
}

void TfStyle::setImportVisible(bool visible) {
    b_Import->setVisible(visible);
    b_Reload->setVisible(visible);
}

bool TfStyle::arrangementEnabled() const {
    return cb_ArngOn->isChecked();
}
void TfStyle::setArrangementEnabled(bool enabled) {
    cb_ArngOn->setChecked(enabled);
}

TfStyle::Selection TfStyle::selection() const {
    return {library_.selection(), library_.selectedStyle(),
            library_.entryName(library_.selection())};
}

StylePictureView* TfStyle::picture(StyleId id) const {
    for (StylePictureView* view : pictures_)
        if (view->id() == id) return view;
    return nullptr;
}

bool TfStyle::fits(const Style& style) const {
    return StyleLibrary::meterFits(style.meters, meterNum_, meterDen_);
}

void TfStyle::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TfStyle::FormShow() {
    library_.load();
    layout()->activate();
    clearPages();
    for (int category = 0; category < kStyleCategoryCount; ++category) buildPage(category);
    snapshotId_ = library_.selection();
    snapshotArrangement_ = cb_ArngOn->isChecked();
    pending_ = nullptr;
    if (StylePictureView* selected = picture(library_.selection())) {
        PageControl1->setCurrentIndex(library_.selection() >> 24);
        selected->setOutline(model::style_colours::kSelectedOutline);
        scrollBoxes_[static_cast<size_t>(library_.selection() >> 24)]->ensureWidgetVisible(
            selected);
    }
    stabilize();
}

void TfStyle::buildPage(int category) {
    QScrollArea* box = scrollBoxes_[static_cast<size_t>(category)];
    auto* content = named<QWidget>(box, "sb_content");
    // Pages that were never shown have not been laid out yet; all boxes have the shown one's size.
    const QWidget* shownViewport =
        scrollBoxes_[static_cast<size_t>(PageControl1->currentIndex())]->viewport();
    const int boxWidth = shownViewport->width();
    auto* probe = new QLabel(QStringLiteral("0 beats per bar"), content);
    const int labelHeight = probe->sizeHint().height();
    delete probe;
    const std::vector<Style>& styles = library_.styles(category);
    const model::StylePageLayout page =
        model::layoutStylePage(category, library_.entries(category), styles, boxWidth, labelHeight);
    for (const model::StyleGroupLabel& place : page.labels) {
        auto* label =
            named<QLabel>(content, place.name.c_str(), QString::fromStdString(place.caption));
        label->move(place.x, place.y);
    }
    for (const model::StylePicturePlace& place : page.pictures) {
        const Style& style = styles[static_cast<size_t>(place.index)];
        auto* view = new StylePictureView(
            place.id,
            model::drawPattern(style, fits(style), model::StylePageLayout::kPictureWidth,
                               model::StylePageLayout::kPictureHeight),
            content);
        view->setObjectName(QString::fromStdString(place.name));
        view->setToolTip(displayText(place.hint));
        view->move(place.x, place.y);
        connect(view, &StylePictureView::pressed, this, &TfStyle::pictureMouseDown);
        pictures_.push_back(view);
    }
    content->resize(boxWidth, std::max(page.height + 8, shownViewport->height()));
    box->setWidget(content);
}

void TfStyle::clearPages() {
    clickSITimer->stop();
    pending_ = nullptr;
    pictures_.clear();
    for (QScrollArea* box : scrollBoxes_) delete box->takeWidget();
}

void TfStyle::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) clearPages();
}

void TfStyle::closeEvent(QCloseEvent* event) {
    if (playing_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfStyle::done(int result) {
    // Closing waits until the preview has returned.
    if (playing_) return;
    if (result != Accepted) {
        // Cancel, Escape and the close button restore what the dialog showed with.
        library_.style(snapshotId_);
        cb_ArngOn->setChecked(snapshotArrangement_);
    }
    QDialog::done(result);
}

void TfStyle::stabilize() {
    for (QPushButton* button : {b_Ok, b_Cancel, b_Reload}) button->setEnabled(!playing_);
}

void TfStyle::restoreOutline(StylePictureView* view) {
    if (view == nullptr) return;
    if (view->id() == library_.selection())
        view->setOutline(model::style_colours::kSelectedOutline);
    else
        view->resetOutline();
}

void TfStyle::pictureMouseDown(StylePictureView* view, Qt::MouseButton button) {
    if (playing_) return;
    if (button == Qt::RightButton) {
        select(view);
        return;
    }
    if (button != Qt::LeftButton) return;
    if (clickSITimer->isActive()) {
        // A quick second click on the same picture selects it without playing it.
        if (view == pending_) select(view);
        return;
    }
    pending_ = view;
    view->setOutline(model::style_colours::kPendingOutline);
    clickSITimer->start();
}

void TfStyle::clickSITimerTimer() {
    clickSITimer->stop();
    StylePictureView* view = pending_;
    if (view == nullptr) return;
    const Style* style = library_.find(view->id());
    if (player_ == nullptr || style == nullptr || !style->valid) {
        restoreOutline(view);
        return;
    }
    auto preview = std::make_shared<StylePreview>(renderStylePreview(*style));
    if (!preview->notes) {
        restoreOutline(view);
        return;
    }
    playing_ = true;
    stabilize();
    waitForPreview();
    PlayerContext* player = player_;
    // The preview blocks for the whole pattern: it plays on a helper thread while the dialog
    // keeps painting, and its end comes back through the event loop. The thread reads its own
    // copy of the document's channels, which the instruments window may change meanwhile.
    const PlayerContext::PreviewSetup setup = player->previewSetup();
    previewThread_.start(
        this,
        [player, preview, setup] {
            player->playPreview(*preview->notes, preview->tempo, preview->division,
                                {preview->program, preview->program2}, setup);
        },
        [this](bool played) { previewEnded(played); });
}

void TfStyle::previewEnded(bool played) {
    waitForPreview();
    playing_ = false;
    restoreOutline(pending_);
    pending_ = nullptr;
    stabilize();
    if (!played && dialogs_ != nullptr)
        dialogs_->message(this, model::MessageKind::Error,
                          displayText(model::msg::msgCantPlayStyle.text), QMessageBox::Ok);
}

void TfStyle::waitForPreview() {
    previewThread_.wait();
}

void TfStyle::select(StylePictureView* view) {
    clickSITimer->stop();
    if (pending_ != nullptr && pending_ != view) restoreOutline(pending_);
    pending_ = nullptr;
    const Style* style = library_.find(view->id());
    if (style == nullptr || !fits(*style)) {
        view->setOutline(model::style_colours::kOtherOutline);
        if (dialogs_ != nullptr)
            dialogs_->message(this, model::MessageKind::Warning,
                              displayText(model::msg::msgCantApplyStyle.text), QMessageBox::Ok);
        return;
    }
    const StyleId previous = library_.selection();
    if (previous == view->id()) {
        library_.style(kNoStyle);
        view->resetOutline();
        return;
    }
    library_.style(view->id());
    view->setOutline(model::style_colours::kSelectedOutline);
    if (StylePictureView* old = picture(previous)) old->resetOutline();
}

void TfStyle::b_CancelClick() {
    reject();
}

void TfStyle::b_HelpClick() {
    help_.showHelp(model::help_topic::kStyleDialog);
}

void TfStyle::b_ImportClick() {
    if (launcher_ != nullptr)
        launcher_->startDetached(importTool_, QFile::decodeName(library_.directory().c_str()));
}

void TfStyle::b_ReloadClick() {
    if (playing_) return;
    clearPages();
    library_.reload();
    library_.style(kNoStyle);
    FormShow();
}

}  // namespace varimel
