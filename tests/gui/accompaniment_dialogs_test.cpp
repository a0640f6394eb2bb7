// The style, instruments and arrangement dialogs driven offscreen through their controls, over
// the library built from data/, with scripted boxes and a recording output.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "accompaniment/PatternFiles.h"
#include "playback/MidiResult.h"
#include "playback/RecordingPort.h"
#include "playback/Tmplay.h"
#include "playback_log.h"
#include "support/samples.h"
#include "ui/DialogProvider.h"
#include "ui/Farrangs.h"
#include "ui/Fpatchs1.h"
#include "ui/Fstyle1.h"
#include "ui/Launcher.h"
#include "ui/StylePictureView.h"
#include "ui/model/InstrumentNames.h"
#include "ui/model/PatternPicture.h"

using namespace varimel;
namespace fs = std::filesystem;

namespace {

const QString kLibraryDir = QStringLiteral(VARIMEL_BUILD_LIBRARY_DIR);

class ScriptedDialogs final : public DialogProvider {
  public:
    QMessageBox::StandardButton message(QWidget*, model::MessageKind, const QString& text,
                                        QMessageBox::StandardButtons) override {
        messages.append(text);
        return QMessageBox::Ok;
    }
    QString openFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
    bool print(QWidget*, QPrinter&) override { return false; }
    int run(QDialog&) override { return QDialog::Accepted; }

    QStringList messages;
};

class ScriptedLauncher final : public Launcher {
  public:
    bool startDetached(const QString& program, const QString& argument) override {
        started.append(program + QLatin1Char(' ') + argument);
        return true;
    }
    bool openUrl(const QUrl&) override { return true; }
    QStringList started;
};

class RecordingHelp final : public HelpSink {
  public:
    void setHelpPath(const QString&) override {}
    void showHelp(int topic) override { topics.push_back(topic); }
    std::vector<int> topics;
};

// A player whose output records into `recording`, on `clock`.
struct RecordedPlayer {
    explicit RecordedPlayer(bool autoAdvance) : clock(autoAdvance) {
        player.setClock(clock);
        player.setOutputOpener([this](int, std::unique_ptr<OutputPort>& port) {
            port = std::make_unique<RecordingPort>(recording, clock);
            return midi_result::kOk;
        });
    }
    ~RecordedPlayer() { player.closeStream(); }

    // Whether a message with this status and first data byte (any second byte when data2 < 0)
    // was recorded.
    bool sent(int status, int data1, int data2 = -1) const {
        for (const RecordedMessage& entry : recording->messages()) {
            if (entry.silence) continue;
            if (messageStatus(entry.message) == status &&
                static_cast<int>(entry.message >> 8 & 0x7F) == data1 &&
                (data2 < 0 || static_cast<int>(entry.message >> 16 & 0x7F) == data2))
                return true;
        }
        return false;
    }

    ManualClock clock;
    std::shared_ptr<Recording> recording = std::make_shared<Recording>();
    PlayerContext player;
};

constexpr int kController = 0xB0;
constexpr int kProgramChange = 0xC0;
constexpr int kVolume = 7;

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

QPoint cellCentre(QTableWidget* grid, int row, int column) {
    return grid->visualRect(grid->model()->index(row, column)).center();
}

}  // namespace

class AccompanimentDialogsTest : public QObject {
    Q_OBJECT

  private:
    ScriptedDialogs dialogs_;
    ScriptedLauncher launcher_;
    RecordingHelp help_;

    std::unique_ptr<TfStyle> makeStyleDialog(PlayerContext* player) {
        auto dialog =
            std::make_unique<TfStyle>(kLibraryDir + QStringLiteral("styles/"),
                                      QStringLiteral("/opt/tools/stlimport"), help_, nullptr);
        dialog->setServices(&dialogs_, &launcher_, player);
        if (!dialog->library().load()) qFatal("the built style library is missing");
        return dialog;
    }
    static StyleId styleNamed(TfStyle& dialog, const char* name) {
        const StyleId id = dialog.library().findByName(name);
        if (id < 0) qFatal("no style %s in the built library", name);
        return id;
    }
    static QPushButton* button(QWidget& dialog, const char* name) {
        return dialog.findChild<QPushButton*>(QString::fromLatin1(name));
    }

  private Q_SLOTS:
    void init() { dialogs_.messages.clear(); }

    void styleLeftClickPreviewsAfterTheClickInterval();
    void styleQuickSecondClickSelectsWithoutPreview();
    void styleRightClicksRefuseOtherMetersAndDeselect();
    void styleCancelRestoresSelectionAndCheckBox();
    void styleClicksDuringAPreviewDoNothing();
    void styleReloadForgetsTheSelection();
    void stylePagesGroupByBeatsAndGreyOtherMeters();
    void stylePreviewPlaysTheChannelsAsTheyWereWhenItStarted();

    void instrumentsVolumeTextStopsAt127();
    void instrumentsSoloLeavesOneChannel();
    void instrumentsDrumsHaveNoChooserAndPatchesGoToTheCallBack();
    void instrumentsDrumsVolumeUnmutesAndSendsTheVolume();
    void instrumentsMuteAndSoloSilenceChannels();
    void instrumentsWritesByChannelReachTheirRows();
    void instrumentsHoverShowsTheChannel();

    void arrangementRightClickOnAnotherMeterChangesNothing();
    void arrangementMissingFileReportsAndSelectsNothing();
    void arrangementCancelRestoresTheCompositionsArrangement();
    void arrangementLeftClickPlaysItsOrganBassAndDrums();

    void screenshotsWhenAsked();
};

void AccompanimentDialogsTest::styleLeftClickPreviewsAfterTheClickInterval() {
    RecordedPlayer recorded(true);
    auto dialog = makeStyleDialog(&recorded.player);
    dialog->show();
    const StyleId id = styleNamed(*dialog, "PnBallad44");
    StylePictureView* picture = dialog->picture(id);
    QVERIFY(picture != nullptr);

    QTest::mouseClick(picture, Qt::LeftButton);
    QCOMPARE(picture->outline(), model::style_colours::kPendingOutline);
    QVERIFY(recorded.recording->size() == 0);
    const int program = dialog->library().find(id)->program;
    QTRY_VERIFY(recorded.sent(kProgramChange | 1, program));
    QTRY_VERIFY(!dialog->previewPlaying());
    QCOMPARE(picture->outline(), model::style_colours::kFitOutline);
    QCOMPARE(dialog->selection().id, kNoStyle);
}

// The instruments window may write the document's channels while a preview plays on its
// helper thread; the preview reads its own copy (run under ThreadSanitizer to see the race).
void AccompanimentDialogsTest::stylePreviewPlaysTheChannelsAsTheyWereWhenItStarted() {
    RecordedPlayer recorded(false);  // the preview lasts until the test moves the clock
    ChannelSettings document;
    document.volume[1] = 90;
    recorded.player.channelSettings = &document;
    auto dialog = makeStyleDialog(&recorded.player);
    dialog->show();
    QTest::mouseClick(dialog->picture(styleNamed(*dialog, "PnBallad44")), Qt::LeftButton);
    QTRY_VERIFY(dialog->previewPlaying());
    document.volume[1] = 30;
    QTRY_VERIFY(recorded.sent(kController | 1, kVolume));
    const auto played = [&] {
        recorded.clock.advance(1'000'000'000);
        return !dialog->previewPlaying();
    };
    QTRY_VERIFY(played());
    QVERIFY(recorded.sent(kController | 1, kVolume, 90));
    QVERIFY(!recorded.sent(kController | 1, kVolume, 30));
}

void AccompanimentDialogsTest::styleQuickSecondClickSelectsWithoutPreview() {
    RecordedPlayer recorded(true);
    auto dialog = makeStyleDialog(&recorded.player);
    dialog->show();
    const StyleId id = styleNamed(*dialog, "GtStrum44");
    StylePictureView* picture = dialog->picture(id);
    QVERIFY(picture != nullptr);

    QTest::mouseClick(picture, Qt::LeftButton);
    QTest::mouseClick(picture, Qt::LeftButton);
    QCOMPARE(dialog->selection().id, id);
    QCOMPARE(dialog->selection().name, std::string("GtStrum44"));
    QCOMPARE(picture->outline(), model::style_colours::kSelectedOutline);
    auto* timer = dialog->findChild<QTimer*>(QStringLiteral("clickSITimer"));
    QVERIFY(timer != nullptr && !timer->isActive());
    QTest::qWait(400);
    QCOMPARE(recorded.recording->size(), std::size_t{0});
}

void AccompanimentDialogsTest::styleRightClicksRefuseOtherMetersAndDeselect() {
    auto dialog = makeStyleDialog(nullptr);
    dialog->setMeter(4, 4);
    dialog->show();
    const StyleId ballad = styleNamed(*dialog, "PnBallad44");
    const StyleId waltz = styleNamed(*dialog, "PnWaltz34");
    QTest::mouseClick(dialog->picture(ballad), Qt::RightButton);
    QCOMPARE(dialog->selection().id, ballad);

    QTest::mouseClick(dialog->picture(waltz), Qt::RightButton);
    QCOMPARE(dialogs_.messages, QStringList{QStringLiteral("   Can't apply selected style   ")});
    QCOMPARE(dialog->selection().id, ballad);
    QCOMPARE(dialog->picture(waltz)->outline(), model::style_colours::kOtherOutline);
    QCOMPARE(dialog->picture(ballad)->outline(), model::style_colours::kSelectedOutline);

    QTest::mouseClick(dialog->picture(ballad), Qt::RightButton);
    QCOMPARE(dialog->selection().id, kNoStyle);
    QVERIFY(dialog->selection().style == nullptr);
    QCOMPARE(dialog->picture(ballad)->outline(), model::style_colours::kFitOutline);
}

void AccompanimentDialogsTest::styleCancelRestoresSelectionAndCheckBox() {
    auto dialog = makeStyleDialog(nullptr);
    const StyleId ballad = styleNamed(*dialog, "PnBallad44");
    const StyleId strum = styleNamed(*dialog, "GtStrum44");
    dialog->library().style(ballad);
    dialog->setArrangementEnabled(false);
    dialog->show();
    // The selected style's page is shown, its picture outlined green.
    auto* pages = dialog->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    QCOMPARE(pages->currentIndex(), ballad >> 24);
    QCOMPARE(dialog->picture(ballad)->outline(), model::style_colours::kSelectedOutline);

    QTest::mouseClick(dialog->picture(strum), Qt::RightButton);
    dialog->findChild<QCheckBox*>(QStringLiteral("cb_ArngOn"))->click();
    QCOMPARE(dialog->selection().id, strum);
    QVERIFY(dialog->arrangementEnabled());
    button(*dialog, "b_Cancel")->click();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->selection().id, ballad);
    QCOMPARE(dialog->selection().style, dialog->library().find(ballad));
    QVERIFY(!dialog->arrangementEnabled());
    // Hiding dropped the pictures; the next show builds them again.
    QVERIFY(dialog->picture(ballad) == nullptr);
    dialog->show();
    QVERIFY(dialog->picture(ballad) != nullptr);
}

void AccompanimentDialogsTest::styleClicksDuringAPreviewDoNothing() {
    RecordedPlayer recorded(false);  // the preview lasts until the clock is moved
    auto dialog = makeStyleDialog(&recorded.player);
    dialog->show();
    const StyleId ballad = styleNamed(*dialog, "PnBallad44");
    const StyleId strum = styleNamed(*dialog, "GtStrum44");
    QTest::mouseClick(dialog->picture(ballad), Qt::LeftButton);
    QTRY_VERIFY(dialog->previewPlaying());
    QVERIFY(!button(*dialog, "b_Ok")->isEnabled());
    QVERIFY(!button(*dialog, "b_Cancel")->isEnabled());

    QTest::mouseClick(dialog->picture(strum), Qt::RightButton);
    QTest::mouseClick(dialog->picture(ballad), Qt::LeftButton);
    dialog->reject();
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->selection().id, kNoStyle);

    recorded.clock.advance(60'000'000'000LL);
    QTRY_VERIFY(!dialog->previewPlaying());
    QVERIFY(button(*dialog, "b_Ok")->isEnabled());
    QCOMPARE(dialog->picture(ballad)->outline(), model::style_colours::kFitOutline);
    QTest::mouseClick(dialog->picture(strum), Qt::RightButton);
    QCOMPARE(dialog->selection().id, strum);
}

void AccompanimentDialogsTest::styleReloadForgetsTheSelection() {
    auto dialog = makeStyleDialog(nullptr);
    dialog->setImportVisible(true);
    dialog->show();
    const StyleId ballad = styleNamed(*dialog, "PnBallad44");
    QTest::mouseClick(dialog->picture(ballad), Qt::RightButton);
    QCOMPARE(dialog->selection().id, ballad);
    StylePictureView* before = dialog->picture(ballad);
    button(*dialog, "b_Reload")->click();
    QCOMPARE(dialog->selection().id, kNoStyle);
    QVERIFY(dialog->library().loaded());
    QVERIFY(dialog->picture(ballad) != nullptr);
    QVERIFY(dialog->picture(ballad) != before);
    QCOMPARE(dialog->picture(ballad)->outline(), model::style_colours::kFitOutline);

    button(*dialog, "b_Import")->click();
    QCOMPARE(launcher_.started.size(), 1);
    QVERIFY(launcher_.started.last().startsWith(QStringLiteral("/opt/tools/stlimport ")));
    QVERIFY(launcher_.started.last().endsWith(QStringLiteral("styles/")));
    button(*dialog, "b_Help")->click();
    QCOMPARE(help_.topics.back(), 24);
}

void AccompanimentDialogsTest::stylePagesGroupByBeatsAndGreyOtherMeters() {
    auto dialog = makeStyleDialog(nullptr);
    dialog->setMeter(3, 4);
    dialog->show();
    const StyleId waltz = styleNamed(*dialog, "PnWaltz34");
    const StyleId ballad = styleNamed(*dialog, "PnBallad44");
    QCOMPARE(dialog->picture(waltz)->picture().background, model::style_colours::kFitBackground);
    QCOMPARE(dialog->picture(ballad)->picture().background, model::style_colours::kOtherBackground);
    QVERIFY(dialog->picture(waltz)->toolTip().contains(QLatin1Char('\n')));
    QVERIFY(!dialog->picture(waltz)->toolTip().contains(QLatin1Char('\r')));
    // Every style of the library has a picture on its page.
    int pictures = 0;
    for (int category = 0; category < kStyleCategoryCount; ++category)
        for (const StyleEntry& entry : dialog->library().entries(category))
            pictures += dialog->picture(entry.id) != nullptr ? 1 : 0;
    QCOMPARE(pictures, 24);
    QVERIFY(dialog->findChild<QLabel*>(QStringLiteral("l_Stl0_2")) != nullptr);
}

void AccompanimentDialogsTest::instrumentsVolumeTextStopsAt127() {
    RecordedPlayer recorded(true);
    ChannelSettings settings;
    recorded.player.channelSettings = &settings;
    model::InstrumentNames names;
    names.setNames({"Piano", "Organ"});
    TfPatchs dialog(recorded.player, nullptr);
    dialog.showFor(settings, names);
    auto* grid = dialog.findChild<QTableWidget*>(QStringLiteral("sg_ChPs"));
    // Every header fits its column, cell margins included.
    const QFontMetrics metrics(grid->font());
    for (int column = 0; column < grid->columnCount(); ++column) {
        const QString header = grid->item(0, column)->text();
        QVERIFY2(metrics.horizontalAdvance(header) + 8 <= grid->columnWidth(column),
                 qPrintable(header));
    }
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, 3, 4));
    auto* editor = dialog.findChild<QLineEdit*>(QStringLiteral("me_vol"));
    QVERIFY(editor->isVisible());
    QCOMPARE(editor->text(), QStringLiteral("100"));
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("300"));
    QCOMPARE(settings.volume[2], 127);
    QCOMPARE(grid->item(3, 4)->text(), QStringLiteral("127"));
    QCOMPARE(editor->text(), QStringLiteral("127"));
    // A fourth digit and letters are refused, typed or pasted.
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("4a5"));
    QCOMPARE(editor->text(), QStringLiteral("45"));
    QCOMPARE(settings.volume[2], 45);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("1234"));
    QCOMPARE(editor->text(), QStringLiteral("123"));
    QCOMPARE(settings.volume[2], 123);
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_Backspace);
    QCOMPARE(settings.volume[2], 0);
    QCOMPARE(grid->item(3, 4)->text(), QStringLiteral("0"));
}

void AccompanimentDialogsTest::instrumentsSoloLeavesOneChannel() {
    RecordedPlayer recorded(true);
    ChannelSettings settings;
    recorded.player.channelSettings = &settings;
    model::InstrumentNames names;
    TfPatchs dialog(recorded.player, nullptr);
    dialog.showFor(settings, names);
    auto* grid = dialog.findChild<QTableWidget*>(QStringLiteral("sg_ChPs"));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, 3, 3));
    QCOMPARE(grid->item(3, 3)->text(), QStringLiteral("S"));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, 4, 3));
    QCOMPARE(grid->item(3, 3)->text(), QString());
    QCOMPARE(grid->item(4, 3)->text(), QStringLiteral("S"));
    QCOMPARE(settings.solo[2], 0);
    QCOMPARE(settings.solo[3], 1);
}

void AccompanimentDialogsTest::instrumentsDrumsHaveNoChooserAndPatchesGoToTheCallBack() {
    RecordedPlayer recorded(true);
    ChannelSettings settings;
    settings.program[3] = 1;
    model::InstrumentNames names;
    names.setNames({"Piano", "Organ", "Bass"});
    TfPatchs dialog(recorded.player, nullptr);
    std::vector<std::pair<int, int>> chosen;
    dialog.onPatchChosen = [&](int channel, int program) { chosen.emplace_back(channel, program); };
    dialog.showFor(settings, names);
    auto* grid = dialog.findChild<QTableWidget*>(QStringLiteral("sg_ChPs"));
    auto* chooser = dialog.findChild<QComboBox*>(QStringLiteral("cb_Patchs"));
    QCOMPARE(grid->item(5, 1)->text(), QStringLiteral("General MIDI Drums"));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, 5, 1));
    QVERIFY(!chooser->isVisible());

    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, 4, 1));
    QVERIFY(chooser->isVisible());
    QCOMPARE(chooser->currentText(), QStringLiteral("Organ"));
    QCOMPARE(chooser->count(), names.entryCount());
    chooser->setCurrentIndex(2);
    Q_EMIT chooser->activated(2);
    QCOMPARE(chosen, (std::vector<std::pair<int, int>>{{3, 2}}));
    QCOMPARE(grid->item(4, 1)->text(), QStringLiteral("Bass"));

    dialog.hide();
    QCOMPARE(chooser->count(), 0);
}

void AccompanimentDialogsTest::instrumentsDrumsVolumeUnmutesAndSendsTheVolume() {
    RecordedPlayer recorded(true);
    ChannelSettings settings;
    settings.mute[9] = 1;
    recorded.player.channelSettings = &settings;
    recorded.player.openStream();
    model::InstrumentNames names;
    TfPatchs dialog(recorded.player, nullptr);
    dialog.showFor(settings, names);
    auto* grid = dialog.findChild<QTableWidget*>(QStringLiteral("sg_ChPs"));
    QCOMPARE(grid->item(5, 2)->text(), QStringLiteral("M"));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, 5, 4));
    auto* editor = dialog.findChild<QLineEdit*>(QStringLiteral("me_vol"));
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("90"));
    QCOMPARE(settings.mute[9], 0);
    QCOMPARE(grid->item(5, 2)->text(), QString());
    QVERIFY(recorded.sent(kController | 9, kVolume, 90));
    // The up button steps the volume.
    QTest::mouseClick(dialog.findChild<QToolButton*>(QStringLiteral("ud_volUp")), Qt::LeftButton);
    QCOMPARE(settings.volume[9], 91);
    QVERIFY(recorded.sent(kController | 9, kVolume, 91));
}

void AccompanimentDialogsTest::instrumentsMuteAndSoloSilenceChannels() {
    RecordedPlayer recorded(true);
    ChannelSettings settings;
    recorded.player.channelSettings = &settings;
    recorded.player.openStream();
    model::InstrumentNames names;
    TfPatchs dialog(recorded.player, nullptr);
    QCheckBox melodyMute;  // stands in for the main window's mute button
    melodyMute.setCheckable(true);
    QSlider melodyVolume;
    int handlerRuns = 0;
    QObject::connect(&melodyMute, &QCheckBox::toggled, [&] { ++handlerRuns; });
    TfPatchs::MainControls controls;
    controls.melodyMute = &melodyMute;
    controls.melodyVolume = &melodyVolume;
    dialog.setMainControls(controls);
    dialog.showFor(settings, names);
    auto* grid = dialog.findChild<QTableWidget*>(QStringLiteral("sg_ChPs"));

    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, 1, 2));
    QCOMPARE(grid->item(1, 2)->text(), QStringLiteral("M"));
    QVERIFY(recorded.sent(kController | 0, kVolume, 0));
    QVERIFY(melodyMute.isChecked());
    QVERIFY(!melodyVolume.isEnabled());
    QCOMPARE(handlerRuns, 0);

    recorded.recording->clear();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, 4, 3));
    QVERIFY(recorded.sent(kController | 2, kVolume, 0));
    QVERIFY(recorded.sent(kController | 3, kVolume, 100));
    QVERIFY(recorded.sent(kController | 9, kVolume, 0));
}

void AccompanimentDialogsTest::instrumentsWritesByChannelReachTheirRows() {
    RecordedPlayer recorded(true);
    ChannelSettings settings;
    model::InstrumentNames names;
    TfPatchs dialog(recorded.player, nullptr);
    dialog.showFor(settings, names);
    auto* grid = dialog.findChild<QTableWidget*>(QStringLiteral("sg_ChPs"));
    dialog.showChannelVolume(9, 64);
    dialog.showChannelMute(9, true);
    dialog.showChannelName(3, QStringLiteral("Fretless Bass"));
    dialog.showChannelVolume(5, 12);  // not shown: ignored
    QCOMPARE(grid->item(5, 4)->text(), QStringLiteral("64"));
    QCOMPARE(grid->item(5, 2)->text(), QStringLiteral("M"));
    QCOMPARE(grid->item(4, 1)->text(), QStringLiteral("Fretless Bass"));
    for (int row = 1; row < 6; ++row) QVERIFY(grid->item(row, 4)->text() != QStringLiteral("12"));
}

void AccompanimentDialogsTest::instrumentsHoverShowsTheChannel() {
    RecordedPlayer recorded(true);
    ChannelSettings settings;
    model::InstrumentNames names;
    TfPatchs dialog(recorded.player, nullptr);
    dialog.showFor(settings, names);
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* grid = dialog.findChild<QTableWidget*>(QStringLiteral("sg_ChPs"));
    auto* status = dialog.findChild<QStatusBar*>(QStringLiteral("StatusBar1"));
    QTest::mouseMove(grid->viewport(), cellCentre(grid, 3, 1));
    QTRY_COMPARE(status->currentMessage(), QStringLiteral("Organ channel"));
    QTest::mouseMove(grid->viewport(), cellCentre(grid, 5, 3));
    QTRY_COMPARE(status->currentMessage(), QStringLiteral("Drums channel"));
    QTest::mouseMove(grid->viewport(), cellCentre(grid, 0, 3));
    QTRY_COMPARE(status->currentMessage(), QString());
}

void AccompanimentDialogsTest::arrangementRightClickOnAnotherMeterChangesNothing() {
    TfArrang dialog(kLibraryDir + QStringLiteral("arrangements/"), {}, help_, nullptr);
    dialog.library().setMeter(4, 4);
    dialog.show();
    const ArrangementId waltz = dialog.library().findByName("Waltz34");
    const ArrangementId rock = dialog.library().findByName("Rock44");
    QVERIFY(waltz >= 0 && rock >= 0);
    const QString waltzName = QStringLiteral("mi_%1_%2").arg(waltz >> 16).arg(waltz & 0xFFFF);
    const QString rockName = QStringLiteral("mi_%1_%2").arg(rock >> 16).arg(rock & 0xFFFF);
    QLabel* rockText = dialog.rowText(rockName);
    QVERIFY(rockText != nullptr);
    QCOMPARE(rockText->palette().color(QPalette::WindowText), QColor(0, 128, 0));
    QTest::mouseClick(rockText, Qt::RightButton);
    QCOMPARE(dialog.selectedId(), rock);
    // Selected: dark letters on its bright green, readable on the pale page.
    QCOMPARE(rockText->palette().color(QPalette::Window), QColor(0, 255, 0));
    QCOMPARE(rockText->palette().color(QPalette::WindowText), QColor(Qt::black));
    QVERIFY(rockText->autoFillBackground());

    QLabel* waltzText = dialog.rowText(waltzName);
    QCOMPARE(waltzText->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    QTest::mouseClick(waltzText, Qt::RightButton);
    QCOMPARE(dialog.selectedId(), rock);
    // Selected: dark letters on its bright green, readable on the pale page.
    QCOMPARE(rockText->palette().color(QPalette::Window), QColor(0, 255, 0));
    QCOMPARE(rockText->palette().color(QPalette::WindowText), QColor(Qt::black));
    QVERIFY(rockText->autoFillBackground());
    QCOMPARE(dialog.library().loadedId(), rock);
}

void AccompanimentDialogsTest::arrangementMissingFileReportsAndSelectsNothing() {
    test::TempDir dir("varimel-arrangements");
    ArrangementList list;
    ArrangementGroup group;
    group.key = static_cast<uint16_t>(meterKey(4, 4));
    group.entries.push_back({7, "Gone"});
    list.groups.push_back(group);
    writeBytes(dir / kArrangementListName, serializeArrangementList(list));

    TfArrang dialog(QString::fromStdString((dir.path() / "").string()), {}, help_, nullptr);
    QStringList errors;
    dialog.library().setErrorReporter(
        [&](const std::string& text) { errors.append(QString::fromStdString(text)); });
    dialog.show();
    QLabel* gone = dialog.rowText(QStringLiteral("mi_0_0"));
    QVERIFY(gone != nullptr);
    QTest::mouseDClick(gone, Qt::LeftButton);
    QCOMPARE(errors.value(0), QStringLiteral("Can't Load selected Arrangement?"));
    QCOMPARE(dialog.selectedId(), -1);
    QCOMPARE(gone->palette().color(QPalette::WindowText), QColor(0, 128, 0));
}

void AccompanimentDialogsTest::arrangementCancelRestoresTheCompositionsArrangement() {
    TfArrang dialog(kLibraryDir + QStringLiteral("arrangements/"), {}, help_, nullptr);
    QVERIFY(dialog.library().loadList());
    const ArrangementId ballad = dialog.library().findByName("Ballad44");
    const ArrangementId pop = dialog.library().findByName("Pop44");
    QVERIFY(ballad >= 0 && pop >= 0);
    dialog.library().select(ballad);
    dialog.setCompositionArrangement(ballad);
    dialog.show();
    QTest::mouseClick(dialog.rowText(QStringLiteral("mi_%1_%2").arg(pop >> 16).arg(pop & 0xFFFF)),
                      Qt::LeftButton);
    QCOMPARE(dialog.library().loadedId(), pop);
    // It opened on the piece's own arrangement, which a left click does not change.
    QCOMPARE(dialog.selectedId(), ballad);
    button(dialog, "b_Cancel")->click();
    QCOMPARE(dialog.library().loadedId(), ballad);
    QCOMPARE(dialog.selectedId(), ballad);
    QVERIFY(dialog.rowText(QStringLiteral("lmg_0")) == nullptr);
}

// As its tip promises, a click plays the arrangement: its organ, bass and drums reach the port
// with the arrangement's programs, and the dialog stays until the preview has ended.
void AccompanimentDialogsTest::arrangementLeftClickPlaysItsOrganBassAndDrums() {
    RecordedPlayer recorded(false);  // the preview lasts until the clock is moved
    TfArrang dialog(kLibraryDir + QStringLiteral("arrangements/"), {}, help_, nullptr);
    dialog.setServices(&dialogs_, &recorded.player);
    QVERIFY(dialog.library().loadList());
    const ArrangementId pop = dialog.library().findByName("Pop44");
    QVERIFY(pop >= 0);
    dialog.show();
    QTest::mouseClick(dialog.rowText(QStringLiteral("mi_%1_%2").arg(pop >> 16).arg(pop & 0xFFFF)),
                      Qt::LeftButton);
    QVERIFY(dialog.previewPlaying());
    QVERIFY(!button(dialog, "b_Ok")->isEnabled());
    dialog.reject();
    QVERIFY(dialog.isVisible());
    const auto played = [&] {
        recorded.clock.advance(1'000'000'000);
        return !dialog.previewPlaying();
    };
    QTRY_VERIFY(played());
    const ArrangementPart& part = dialog.library().current()->parts.front();
    QVERIFY(recorded.sent(kProgramChange | 2, part.organProgram));
    QVERIFY(recorded.sent(kProgramChange | 3, part.bassProgram));
    int organ = 0, bass = 0, drums = 0;
    for (const RecordedMessage& entry : recorded.recording->messages()) {
        organ += isNoteOn(entry.message, 2);
        bass += isNoteOn(entry.message, 3);
        drums += isNoteOn(entry.message, 9);
    }
    QVERIFY(organ > 0 && bass > 0 && drums > 0);
    QCOMPARE(dialog.selectedId(), kNoArrangement);  // playing is not choosing
    QVERIFY(button(dialog, "b_Ok")->isEnabled());
    QVERIFY(dialogs_.messages.isEmpty());
}

// With VARIMEL_SCREENSHOT_DIR set, saves the three dialogs as they look, to be checked by eye.
void AccompanimentDialogsTest::screenshotsWhenAsked() {
    const QString folder = qEnvironmentVariable("VARIMEL_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("VARIMEL_SCREENSHOT_DIR is not set");
    RecordedPlayer recorded(true);

    auto style = makeStyleDialog(&recorded.player);
    style->setMeter(4, 4);
    style->library().style(styleNamed(*style, "PnBallad44"));
    style->setArrangementEnabled(true);
    style->show();
    QVERIFY(QTest::qWaitForWindowExposed(style.get()));
    QVERIFY(style->grab().save(folder + QStringLiteral("/style_dialog.png")));
    style->findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
    QVERIFY(style->grab().save(folder + QStringLiteral("/style_dialog_guitar.png")));
    style->hide();

    ChannelSettings settings;
    settings.program = {0, 24, 16, 33};
    settings.mute[2] = 1;
    settings.solo[3] = 0;
    settings.volume[0] = 110;
    model::InstrumentNames names;
    std::string error;
    if (!names.load(VARIMEL_SOURCE_DIR "/data/gmi.txt", error)) QFAIL(error.c_str());
    TfPatchs patches(recorded.player, nullptr);
    patches.showFor(settings, names);
    QVERIFY(QTest::qWaitForWindowExposed(&patches));
    auto* grid = patches.findChild<QTableWidget*>(QStringLiteral("sg_ChPs"));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, 4, 4));
    QVERIFY(patches.grab().save(folder + QStringLiteral("/instruments_dialog.png")));

    TfArrang arrangements(kLibraryDir + QStringLiteral("arrangements/"), {}, help_, nullptr);
    arrangements.library().setMeter(4, 4);
    arrangements.show();
    QVERIFY(QTest::qWaitForWindowExposed(&arrangements));
    const ArrangementId rock = arrangements.library().findByName("Rock44");
    QTest::mouseClick(
        arrangements.rowText(QStringLiteral("mi_%1_%2").arg(rock >> 16).arg(rock & 0xFFFF)),
        Qt::RightButton);
    QVERIFY(arrangements.grab().save(folder + QStringLiteral("/arrangement_dialog.png")));
}

QTEST_MAIN(AccompanimentDialogsTest)
#include "accompaniment_dialogs_test.moc"
