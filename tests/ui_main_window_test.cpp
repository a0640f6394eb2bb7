// The main window's rules without a window: command states, start-up and exit over a registry
// file, the caption and the command-line tail.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "settings/RegFile.h"
#include "settings/RegSetup.h"
#include "support/samples.h"
#include "ui/model/CommandState.h"
#include "ui/model/Startup.h"

namespace varimel::model {
namespace {

// The observable state of the named controls after a sequence of steps.
struct ControlStates {
    std::map<std::string, bool> enabled;
    std::map<std::string, bool> visible;
    std::set<std::string> released;
    std::vector<ControlAction> others;

    void apply(const std::vector<ControlStep>& steps) {
        for (const ControlStep& step : steps) {
            const std::string name(step.control);
            switch (step.action) {
                case ControlAction::Enable:
                    enabled[name] = true;
                    break;
                case ControlAction::Disable:
                    enabled[name] = false;
                    break;
                case ControlAction::Show:
                    visible[name] = true;
                    break;
                case ControlAction::Hide:
                    visible[name] = false;
                    break;
                case ControlAction::Release:
                    released.insert(name);
                    break;
                default:
                    others.push_back(step.action);
                    break;
            }
        }
    }
};

const std::vector<std::string> kPrint{"tb_PrintPr", "tb_Print", "mnFPrint", "mnFPrintPrev",
                                      "mnFLeadSheet"};

TEST(CommandState, NoDocumentDisablesEveryDocumentControlAndHidesTheLights) {
    ControlStates states;
    states.apply(commandStateSteps(command_mode::kNoDocument));
    for (std::string_view name : documentControls())
        EXPECT_FALSE(states.enabled.at(std::string(name))) << name;
    for (const std::string& name : kPrint) EXPECT_FALSE(states.enabled.at(name)) << name;
    EXPECT_FALSE(states.visible.at("imgSAM"));
    EXPECT_EQ(states.enabled.size(), 36u);
}

TEST(CommandState, PrintControlsAreOnlyEverDisabledByDocumentControls) {
    for (bool enable : {true, false})
        for (const ControlStep& step : documentControlSteps(enable)) {
            if (std::find(kPrint.begin(), kPrint.end(), step.control) != kPrint.end()) {
                EXPECT_EQ(step.action, ControlAction::Disable) << step.control;
            }
        }
}

TEST(CommandState, OpenedDocumentLeavesStyleArrangementAndPrintingOff) {
    ControlStates states;
    states.apply(commandStateSteps(command_mode::kNoDocument));
    states.apply(commandStateSteps(command_mode::kOpened));
    for (const char* on :
         {"mnAcc",   "mnHarm",    "mnFClose", "b_CreateAcc", "tb_Instr",  "tb_Opt",
          "mnFSave", "mnFSaveAs", "tb_Save",  "mnFExport",   "tb_Export", "tb_Close",
          "b_Play",  "b_Stop",    "b_Back",   "b_Forw",      "b_Mark",    "b_Play2",
          "me_From", "me_To",     "trb_VMel", "chb_MelOff",  "trb_VChr",  "chb_ChrOff"})
        EXPECT_TRUE(states.enabled.at(on)) << on;
    for (const char* off :
         {"mnAStyle", "b_StyleAcc", "tb_Arng", "l_Beat", "l_Style", "l_Arng", "mnAPArran"})
        EXPECT_FALSE(states.enabled.at(off)) << off;
    for (const std::string& name : kPrint) EXPECT_FALSE(states.enabled.at(name)) << name;
    EXPECT_FALSE(states.visible.at("imgSAM"));
    EXPECT_EQ(states.released, std::set<std::string>{"tb_Close"});
}

TEST(CommandState, SavedAndChangedSwitchOnlySave) {
    ControlStates saved;
    saved.apply(commandStateSteps(command_mode::kSaved));
    EXPECT_EQ(saved.enabled, (std::map<std::string, bool>{{"mnFSave", false}, {"tb_Save", false}}));
    ControlStates changed;
    changed.apply(commandStateSteps(command_mode::kChanged));
    EXPECT_EQ(changed.enabled, (std::map<std::string, bool>{{"mnFSave", true}, {"tb_Save", true}}));
    EXPECT_TRUE(saved.visible.empty() && changed.visible.empty());
}

TEST(CommandState, AccompanimentEnablesStyleArrangementPrintingAndSave) {
    ControlStates states;
    states.apply(commandStateSteps(command_mode::kOpened));
    states.apply(commandStateSteps(command_mode::kSaved));
    states.apply(commandStateSteps(command_mode::kAccompaniment));
    for (const char* on :
         {"b_StyleAcc", "mnAStyle", "tb_Arng", "l_Beat", "l_Style", "l_Arng", "mnAPArran",
          "tb_PrintPr", "tb_Print", "mnFPrint", "mnFPrintPrev", "mnFSave", "tb_Save"})
        EXPECT_TRUE(states.enabled.at(on)) << on;
    EXPECT_TRUE(states.visible.at("imgSAM"));
}

TEST(CommandState, ClosedResetsTheModeControlsAfterDisabling) {
    ControlStates states;
    states.apply(commandStateSteps(command_mode::kAccompaniment));
    states.apply(commandStateSteps(command_mode::kClosed));
    for (std::string_view name : documentControls())
        EXPECT_FALSE(states.enabled.at(std::string(name))) << name;
    for (const std::string& name : kPrint) EXPECT_FALSE(states.enabled.at(name)) << name;
    EXPECT_EQ(states.released, (std::set<std::string>{"tb_Arng", "chb_MelOff", "chb_ChrOff"}));
    EXPECT_EQ(states.others, (std::vector<ControlAction>{
                                 ControlAction::LightsOff, ControlAction::ClearArrangementCheck,
                                 ControlAction::ClearArrangementApplied, ControlAction::KeyToAuto,
                                 ControlAction::ClearMeter, ControlAction::ClearTempo}));
    EXPECT_TRUE(commandStateSteps(6).empty());
}

// --- Start-up and exit over a registry file -----------------------------------------------

class StartupExit : public ::testing::Test {
  protected:
    void SetUp() override {
        file_ = dir_ / "registry.reg";
        store_ = std::make_unique<SettingsStore>(
            [this] { return std::make_unique<RegistryFile>(file_); },
            [this](const std::string& message) { errors_.push_back(message); });
    }
    void install() {
        RegistryFile registry(file_);
        InstallLayout layout;
        layout.installPath = (dir_ / "data").string();
        ASSERT_TRUE(writeInstallation(registry, layout, false));
    }
    std::string text() const {
        std::ifstream in(file_);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    test::TempDir dir_;
    std::filesystem::path file_;
    std::unique_ptr<SettingsStore> store_;
    std::vector<std::string> errors_;
    const WindowPlacement designed_{591, 842, 10, 20};
};

TEST_F(StartupExit, WithoutTheRootKeyNothingIsRead) {
    HarmonyOptions options = defaultOptions;
    options.MinTaktBT = 7;
    const StartupPlan plan = planStartup(*store_, designed_, options);
    EXPECT_FALSE(plan.rootKeyFound);
    EXPECT_EQ(options.MinTaktBT, 7);
    EXPECT_TRUE(plan.instrumentFile.empty());
    EXPECT_EQ(plan.startup.placement, designed_);
}

TEST_F(StartupExit, InstalledRegistryGivesEveryPathTheWindowNeeds) {
    install();
    HarmonyOptions options{};
    const StartupPlan plan = planStartup(*store_, designed_, options);
    ASSERT_TRUE(plan.rootKeyFound);
    const std::string root = (dir_ / "data").string() + "/";
    EXPECT_EQ(plan.helpPath, root + "help/");
    EXPECT_EQ(plan.instrumentFile, root + "gmi.txt");
    EXPECT_EQ(plan.tipsFile, root + "tips.txt");
    EXPECT_EQ(plan.aboutPicture, root + "images/About.jpg");
    EXPECT_EQ(plan.styleImportTool, root + "tools/varimel-style-import");
    EXPECT_EQ(plan.arrangementImportTool, root + "tools/varimel-arrangement-import");
    EXPECT_EQ(plan.startup.placement, designed_);  // no "DeskTop" key yet
    EXPECT_EQ(plan.startup.settings.siteAddress, kDefaultSiteAddress);
    EXPECT_EQ(options.MinTaktBT, defaultOptions.MinTaktBT);
    EXPECT_TRUE(errors_.empty());
}

TEST_F(StartupExit, AnOptionOfTheWrongTypeCostsOnlyTheRestOfTheOptions) {
    install();
    {
        RegistryFile registry(file_);
        ASSERT_TRUE(registry.openKey(programKey(kSettingsKey), false));
        registry.writeInteger("MinTaktBT", 6);
        registry.writeInteger("MinWT", 1);  // a float stored as an integer
        registry.writeInteger("MaxNumCustomChords", 3);
    }
    HarmonyOptions options = defaultOptions;
    const StartupPlan plan = planStartup(*store_, designed_, options);
    ASSERT_TRUE(plan.rootKeyFound);
    EXPECT_EQ(options.MinTaktBT, 6);
    EXPECT_EQ(options.MaxNumCustomChords, defaultOptions.MaxNumCustomChords);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0], "Invalid data type for 'MinWT'");
    // The groups after the options are read all the same.
    EXPECT_FALSE(plan.tipsFile.empty());
    EXPECT_FALSE(plan.startup.settings.styleDir.empty());
}

TEST_F(StartupExit, RecentFilesStopAtMaxNumberFilesAndUnchangedOnesAreNotWritten) {
    install();
    {
        RegistryFile registry(file_);
        ASSERT_TRUE(registry.openKey(programKey(kRecentFilesKey), true));
        registry.writeInteger("MaxNumberFiles", 2);
        for (int i = 0; i < 5; ++i)
            registry.writeString(recentFileValueName(static_cast<std::size_t>(i)),
                                 "/m/" + std::to_string(i) + ".mid");
    }
    StartupPlan plan = planStartup(*store_, designed_);
    EXPECT_EQ(plan.startup.recentFiles, (std::vector<std::string>{"/m/0.mid", "/m/1.mid"}));
    EXPECT_EQ(plan.startup.settings.maxRecentFiles, 2);

    ExitState state;
    state.recentFiles = {"/other.mid"};
    state.maxRecentFiles = 2;
    state.placement = {500, 700, 1, 2};
    writeExit(*store_, state);
    EXPECT_NE(text().find("/m/4.mid"), std::string::npos);
    EXPECT_EQ(text().find("/other.mid"), std::string::npos);

    state.recentFilesChanged = true;
    writeExit(*store_, state);
    plan = planStartup(*store_, designed_);
    EXPECT_EQ(plan.startup.recentFiles.front(), "/other.mid");
}

TEST_F(StartupExit, MaximisedWindowKeepsItsNormalBoundsForTheNextStart) {
    install();
    ExitState state;
    state.placement = {480, 640, 30, 40};
    state.maximised = true;
    writeExit(*store_, state);
    const StartupPlan plan = planStartup(*store_, designed_);
    EXPECT_EQ(plan.startup.placement, state.placement);
    EXPECT_TRUE(plan.startup.maximised);
}

TEST(ExecutableFile, OnlyARegularFileWithAnExecuteBitCounts) {
    test::TempDir dir;
    const auto tool = dir / "tool";
    std::ofstream(tool) << "#!/bin/sh\n";
    EXPECT_FALSE(isExecutableFile(tool.string()));
    std::filesystem::permissions(tool, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    EXPECT_TRUE(isExecutableFile(tool.string()));
    EXPECT_FALSE(isExecutableFile(dir.path().string()));
    EXPECT_FALSE(isExecutableFile((dir / "missing").string()));
}

TEST(CommandLineTail, ArgumentsJoinQuotesGoAndNamesBecomeAbsolute) {
    EXPECT_EQ(commandLineTail({}, "/home/u"), "");
    EXPECT_EQ(commandLineTail({"tune.mid"}, "/home/u"), "/home/u/tune.mid");
    EXPECT_EQ(commandLineTail({"my", "tune.mid"}, "/home/u"), "/home/u/my tune.mid");
    EXPECT_EQ(commandLineTail({"\"/a b/tune.vml\""}, "/home/u"), "/a b/tune.vml");
    EXPECT_EQ(commandLineTail({"\"a\"", "\"b\""}, "/x"), "/x/\"a\" \"b\"");
    EXPECT_EQ(commandLineTail({"../t.mid"}, "/home/u"), "/home/t.mid");
}

TEST(Caption, WindowCaptionEndsWithTheApplicationTitle) {
    EXPECT_EQ(windowCaption(""), "  Varimel ");
    EXPECT_EQ(windowCaption(" - /m/a.mid"), "  Varimel  - /m/a.mid");
    EXPECT_EQ(applicationTitle(" - /m/a.mid"), " Varimel  - /m/a.mid");
    EXPECT_TRUE(windowCaption(" x").ends_with(applicationTitle(" x")));
}

}  // namespace
}  // namespace varimel::model
