// The settings store over a registry file: the option record's bytes, the drafts, every
// operation with its read order and failure handling, and the set-up that writes the key.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "settings/HarmonyOptions.h"
#include "settings/RegFile.h"
#include "settings/RegSetup.h"
#include "settings/Tmyregistry.h"
#include "support/samples.h"

namespace fs = std::filesystem;
using namespace varimel;

namespace {

using varimel::test::TempDir;

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (saved_) {
            setenv(name_, saved_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> saved_;
};

// Logs the names of the values read and written through it.
class RecordingRegistry : public RegistryFile {
  public:
    RecordingRegistry(fs::path file, std::vector<std::string>& reads,
                      std::vector<std::string>& writes)
        : RegistryFile(std::move(file)), reads_(reads), writes_(writes) {}

  protected:
    std::optional<RegistryValue> getValue(std::string_view name) override {
        reads_.emplace_back(name);
        return RegistryFile::getValue(name);
    }
    bool setValue(std::string_view name, const RegistryValue& value) override {
        writes_.emplace_back(name);
        return RegistryFile::setValue(name, value);
    }

  private:
    std::vector<std::string>& reads_;
    std::vector<std::string>& writes_;
};

// Refuses to store one value, as a denied access or a full disk would.
class RefusingRegistry : public RegistryFile {
  public:
    RefusingRegistry(fs::path file, std::string refused)
        : RegistryFile(std::move(file)), refused_(std::move(refused)) {}

  protected:
    bool setValue(std::string_view name, const RegistryValue& value) override {
        return name != refused_ && RegistryFile::setValue(name, value);
    }

  private:
    std::string refused_;
};

HarmonyOptions unusualOptions() {
    HarmonyOptions o;
    o.SHBmode = 2;
    o.ApplyPKey = true;
    o.MinTaktBT = -2;
    o.ModeStT = 0x01020304;
    o.MinWT = -1.5f;
    o.CSFilter = true;
    o.DSFilter = false;
    o.kRecomChr = 1.0f;
    o.kDSFilter = 0.25f;
    o.MaxNumCustomChords = 300;
    o.AutoKey = false;
    o.DefAccPatch = -1;
    o.AutoSaveOpt = false;
    return o;
}

}  // namespace

// --- the option record ----------------------------------------------------------------------

TEST(HarmonyOptions, DefaultsHaveTheirExactThirtyTwoBytes) {
    const HarmonyOptionsBytes expected = {
        0x01, 0x00, 0x04, 0x00,  // SHBmode, ApplyPKey, MinTaktBT
        0x15, 0x00, 0x00, 0x00,  // ModeStT 21
        0x33, 0x33, 0x33, 0x3F,  // MinWT 0.7f
        0x00, 0x00, 0x00, 0x00,  // CSFilter, DSFilter, padding
        0xCD, 0xCC, 0x4C, 0x3F,  // kRecomChr 0.8f
        0xCD, 0xCC, 0xCC, 0x3E,  // kDSFilter 0.4f
        0x09, 0x00, 0x01, 0x00,  // MaxNumCustomChords, AutoKey, DefAccPatch
        0x01, 0x00, 0x00, 0x00,  // AutoSaveOpt, padding
    };
    EXPECT_EQ(serializeHarmonyOptions(defaultOptions), expected);
    EXPECT_EQ(deserializeHarmonyOptions(expected), defaultOptions);
    EXPECT_EQ(currentOptions, defaultOptions);
}

TEST(HarmonyOptions, EveryFieldHasItsOwnPlaceAndSign) {
    const HarmonyOptionsBytes expected = {
        0x02, 0x01, 0xFE, 0xFF, 0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0xC0,
        0xBF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00,
        0x80, 0x3E, 0x2C, 0x01, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00,
    };
    EXPECT_EQ(serializeHarmonyOptions(unusualOptions()), expected);
    EXPECT_EQ(deserializeHarmonyOptions(expected), unusualOptions());
}

TEST(HarmonyOptions, ReadingIgnoresPaddingAndTakesAnyNonZeroFlagAsSet) {
    auto bytes = serializeHarmonyOptions(defaultOptions);
    bytes[14] = bytes[15] = bytes[29] = bytes[30] = bytes[31] = 0xAA;
    bytes[1] = 2;    // ApplyPKey
    bytes[26] = 0;   // AutoKey
    bytes[28] = 77;  // AutoSaveOpt
    auto options = deserializeHarmonyOptions(bytes);
    EXPECT_TRUE(options.ApplyPKey);
    EXPECT_FALSE(options.AutoKey);
    EXPECT_TRUE(options.AutoSaveOpt);
    // Written back, flags are 0 or 1 and padding is zero again.
    auto again = serializeHarmonyOptions(options);
    EXPECT_EQ(again[1], 1);
    EXPECT_EQ(again[14], 0);
    EXPECT_EQ(again[31], 0);
}

TEST(HarmonyOptions, DraftsSetTheirOptions) {
    HarmonyOptions options = unusualOptions();
    ASSERT_TRUE(applyDraft(kDraftII, options));
    // Draft II changes five fields and keeps the rest, MinWT included.
    HarmonyOptions expected = unusualOptions();
    expected.SHBmode = 0;
    expected.ApplyPKey = false;
    expected.CSFilter = true;
    expected.DSFilter = true;
    expected.MaxNumCustomChords = 5;
    EXPECT_EQ(options, expected);

    EXPECT_EQ(draftOptions(kDraftI, unusualOptions()), defaultOptions);
    HarmonyOptions relative = defaultOptions;
    relative.ApplyPKey = true;
    EXPECT_EQ(draftOptions(kDraftIII, unusualOptions()), relative);
    // Draft IV is a method of its own; the options it leaves are the defaults.
    EXPECT_EQ(draftOptions(kDraftIV, unusualOptions()), defaultOptions);

    options = unusualOptions();
    EXPECT_FALSE(applyDraft(0, options));
    EXPECT_FALSE(applyDraft(5, options));
    EXPECT_EQ(options, unusualOptions());
}

// --- the store ------------------------------------------------------------------------------

class SettingsStoreTest : public ::testing::Test {
  protected:
    SettingsStore storeOver(std::function<std::unique_ptr<Registry>()> factory) {
        return SettingsStore(std::move(factory),
                             [this](const std::string& m) { messages.push_back(m); });
    }
    SettingsStore recordingStore() {
        return storeOver([this] {
            ++opened;
            return std::make_unique<RecordingRegistry>(file, reads, writes);
        });
    }
    void install(const std::string& installPath = "/opt/varimel/share/varimel") {
        RegistryFile registry(file);
        InstallLayout layout;
        layout.installPath = installPath;
        std::string error;
        ASSERT_TRUE(writeInstallation(registry, layout, false, &error)) << error;
    }
    void edit(std::string_view key, const std::function<void(Registry&)>& change,
              RegistryRoot root = RegistryRoot::LocalMachine) {
        RegistryFile registry(file);
        registry.setRootKey(root);
        ASSERT_TRUE(registry.openKey(key, true));
        change(registry);
    }
    void setRecentFiles(std::int32_t max, const std::vector<std::string>& names) {
        edit(programKey(kRecentFilesKey), [&](Registry& r) {
            r.writeInteger("MaxNumberFiles", max);
            for (std::size_t i = 0; i < names.size(); ++i) {
                r.writeString(recentFileValueName(i), names[i]);
            }
        });
    }

    TempDir dir;
    fs::path file = dir / "registry.reg";
    std::vector<std::string> messages;
    std::vector<std::string> reads;
    std::vector<std::string> writes;
    int opened = 0;  // registry handles the recording store made
    SettingsStore store = storeOver([this] { return std::make_unique<RegistryFile>(file); });
};

TEST_F(SettingsStoreTest, ARegistryWithoutTheProgramKeyAsksForSetup) {
    EXPECT_FALSE(store.rootKeyExists());  // no file at all
    edit(
        kBrowserCommandKey, [](Registry& r) { r.writeString("", "b.exe"); },
        RegistryRoot::ClassesRoot);
    edit("\\software\\Belmora\\Other", [](Registry& r) { r.writeInteger("X", 1); });
    EXPECT_FALSE(store.rootKeyExists());

    auto recording = recordingStore();
    StartupSettings startup;
    EXPECT_FALSE(readStartupSettings(recording, startup));
    EXPECT_TRUE(reads.empty());

    install();
    EXPECT_TRUE(store.rootKeyExists());
}

TEST_F(SettingsStoreTest, AFileThatIsNoRegistryAsksForSetupAndStaysUntouched) {
    std::ofstream(file) << "[section]\nkey=value\n";
    EXPECT_FALSE(store.rootKeyExists());
    EXPECT_FALSE(store.writeShowTips(true));
    EXPECT_EQ(readBytes(file), "[section]\nkey=value\n");
}

TEST_F(SettingsStoreTest, StartUpReadsEveryValueInItsOrder) {
    install();
    setRecentFiles(8, {"/m/a.mid", "/m/b.vml"});
    edit(
        kBrowserCommandKey, [](Registry& r) { r.writeString("", "\"C:\\B\\b.exe\" %1"); },
        RegistryRoot::ClassesRoot);
    ASSERT_TRUE(store.writePlacement({600, 842, 10, 20}, false));

    auto recording = recordingStore();
    StartupSettings startup;
    HarmonyOptions options = unusualOptions();
    ASSERT_TRUE(readStartupSettings(recording, startup, options));
    // The file is opened and parsed once for all seven groups.
    EXPECT_EQ(opened, 1);
    const std::vector<std::string> expected = {"MaxNumberFiles",
                                               "File0",
                                               "File1",
                                               "File2",
                                               "Height",
                                               "Width",
                                               "Left",
                                               "Top",
                                               "Maximize",
                                               "SHBmode",
                                               "ApplyPKey",
                                               "MinTaktBT",
                                               "ModeStT",
                                               "MinWT",
                                               "CSFilter",
                                               "DSFilter",
                                               "kDSFilter",
                                               "kRecomChr",
                                               "MaxNumCustomChords",
                                               "AutoKey",
                                               "DefAccPatch",
                                               "AutoSaveOpt",
                                               "InstallPath",
                                               "WorkPath",
                                               "ImagesPath",
                                               "DataPath",
                                               "ShowTips",
                                               "",
                                               "URL",
                                               "StlPath",
                                               "ArnPath",
                                               "ISName",
                                               "IAName"};
    EXPECT_EQ(reads, expected);
    EXPECT_TRUE(writes.empty());
    EXPECT_TRUE(messages.empty());

    EXPECT_EQ(startup.recentFiles, (std::vector<std::string>{"/m/a.mid", "/m/b.vml"}));
    EXPECT_EQ(startup.placement, (WindowPlacement{600, 842, 10, 20}));
    EXPECT_EQ(options, defaultOptions);
    const auto& s = startup.settings;
    EXPECT_EQ(s.maxRecentFiles, 8);
    EXPECT_EQ(s.installPath, "/opt/varimel/share/varimel/");
    EXPECT_EQ(s.workPath, "/opt/varimel/share/varimel/work/");
    EXPECT_EQ(s.imagesPath, "/opt/varimel/share/varimel/images/");
    EXPECT_EQ(s.dataPath, "/opt/varimel/share/varimel/");
    EXPECT_EQ(s.showTips, 1);
    EXPECT_EQ(s.browserPath, "C:\\B\\B.EXE");
    EXPECT_EQ(s.siteAddress, std::string(kDefaultSiteAddress));
    EXPECT_EQ(s.styleDir, "/opt/varimel/share/varimel/styles/");
    EXPECT_EQ(s.arrangementDir, "/opt/varimel/share/varimel/arrangements/");
    // The import tools come as stored; the window joins the install path to them.
    EXPECT_EQ(s.styleImportTool, "tools/varimel-style-import");
    EXPECT_EQ(s.arrangementImportTool, "tools/varimel-arrangement-import");
}

TEST_F(SettingsStoreTest, AValueOfTheWrongTypeEndsOnlyItsGroup) {
    install();
    edit(programKey(kSettingsKey), [](Registry& r) { r.writeInteger("MinWT", 1); });
    HarmonyOptions options = unusualOptions();
    EXPECT_FALSE(store.readOptions(options));
    EXPECT_EQ(messages, std::vector<std::string>{"Invalid data type for 'MinWT'"});
    HarmonyOptions expected = unusualOptions();  // what came before MinWT is the registry's
    expected.SHBmode = defaultOptions.SHBmode;
    expected.ApplyPKey = defaultOptions.ApplyPKey;
    expected.MinTaktBT = defaultOptions.MinTaktBT;
    expected.ModeStT = defaultOptions.ModeStT;
    EXPECT_EQ(options, expected);

    // The next group is read as usual.
    std::string install, work, images, data;
    std::uint8_t showTips = 9;
    EXPECT_TRUE(store.readPaths(install, work, images, data, showTips));
    EXPECT_EQ(showTips, 1);

    edit(programKey(kSettingsKey), [](Registry& r) { r.writeString("ShowTips", "yes"); });
    showTips = 9;
    EXPECT_FALSE(store.readPaths(install, work, images, data, showTips));
    EXPECT_EQ(data, "/opt/varimel/share/varimel/");
    EXPECT_EQ(showTips, 9);
    EXPECT_EQ(store.lastError(), "Invalid data type for 'ShowTips'");
}

TEST_F(SettingsStoreTest, ARefusedWriteKeepsWhatWasWrittenBeforeIt) {
    install();
    auto refusing = storeOver([this] { return std::make_unique<RefusingRegistry>(file, "MinWT"); });
    EXPECT_FALSE(refusing.writeOptions(unusualOptions()));
    EXPECT_EQ(messages, std::vector<std::string>{"Failed to set data for 'MinWT'"});

    HarmonyOptions stored;
    ASSERT_TRUE(store.readOptions(stored));
    HarmonyOptions expected = defaultOptions;
    expected.SHBmode = 2;
    expected.ApplyPKey = true;
    expected.MinTaktBT = -2;
    expected.ModeStT = 0x01020304;
    EXPECT_EQ(stored, expected);
}

TEST_F(SettingsStoreTest, RecentFilesStopAtTheFirstEmptyName) {
    setRecentFiles(16, {"/m/a.mid", ""});
    std::vector<std::string> list{"stale"};
    std::int32_t max = 0;
    EXPECT_EQ(store.readRecentFiles(list, max), 1);
    EXPECT_EQ(list, std::vector<std::string>{"/m/a.mid"});
    EXPECT_EQ(max, 16);
}

TEST_F(SettingsStoreTest, RecentFilesStopAtTheCapacityButTryAtLeastOne) {
    setRecentFiles(2, {"a", "b", "c", "d", "e"});
    std::vector<std::string> list;
    std::int32_t max = 0;
    EXPECT_EQ(store.readRecentFiles(list, max), 2);
    EXPECT_EQ(list, (std::vector<std::string>{"a", "b"}));

    for (std::int32_t capacity : {0, -3, 1}) {
        setRecentFiles(capacity, {"a", "b"});
        EXPECT_EQ(store.readRecentFiles(list, max), 1) << capacity;
        EXPECT_EQ(max, capacity);
    }

    std::vector<std::string> twelve;
    for (int i = 0; i < 12; ++i) twelve.push_back("song" + std::to_string(i));
    setRecentFiles(12, twelve);
    EXPECT_EQ(store.readRecentFiles(list, max), 12);
    EXPECT_EQ(list, twelve);
    EXPECT_EQ(RegistryFile(file).document().valueNames(RegistryRoot::LocalMachine,
                                                       programKey(kRecentFilesKey))[11],
              "File10");
}

TEST_F(SettingsStoreTest, RecentFilesWithoutCapacityOrKeyStayEmpty) {
    std::vector<std::string> list{"left over"};
    std::int32_t max = 0;
    EXPECT_EQ(store.readRecentFiles(list, max), 0);  // no key: nothing, and no message
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(messages.empty());

    edit(programKey(kRecentFilesKey), [](Registry& r) { r.writeString("File0", "a"); });
    EXPECT_EQ(store.readRecentFiles(list, max), 0);
    EXPECT_EQ(max, 0);
    EXPECT_EQ(messages, std::vector<std::string>{"Failed to get data for 'MaxNumberFiles'"});

    // A name of the wrong type ends the list where it stands.
    setRecentFiles(8, {"a"});
    edit(programKey(kRecentFilesKey), [](Registry& r) { r.writeInteger("File1", 3); });
    EXPECT_EQ(store.readRecentFiles(list, max), 1);
    EXPECT_EQ(store.lastError(), "Invalid data type for 'File1'");
}

TEST_F(SettingsStoreTest, WritingRecentFilesCreatesTheKeyAndKeepsACapacityOfZeroOut) {
    EXPECT_EQ(store.writeRecentFiles({"x", "y"}, 0), 2);
    std::vector<std::string> list;
    std::int32_t max = 0;
    EXPECT_EQ(store.readRecentFiles(list, max), 0);  // MaxNumberFiles was not written
    EXPECT_EQ(RegistryFile(file).document().valueNames(RegistryRoot::LocalMachine,
                                                       programKey(kRecentFilesKey)),
              (std::vector<std::string>{"File0", "File1"}));

    EXPECT_EQ(store.writeRecentFiles({"z"}, 4), 1);
    EXPECT_EQ(store.readRecentFiles(list, max), 2);  // File1 stays from before
    EXPECT_EQ(list, (std::vector<std::string>{"z", "y"}));
    EXPECT_EQ(max, 4);
}

TEST_F(SettingsStoreTest, AnUnchangedRunWritesBackExactlyWhatItRead) {
    install();
    setRecentFiles(2, {"a", "b", "c", "d", "e"});
    ASSERT_TRUE(store.writePlacement({500, 700, 3, 4}, true));
    ASSERT_TRUE(store.writeOptions(unusualOptions()));
    const auto before = readBytes(file);

    auto recording = recordingStore();
    StartupSettings startup;
    HarmonyOptions options;
    ASSERT_TRUE(readStartupSettings(recording, startup, options));
    writes.clear();
    writeExitSettings(recording, false, startup.recentFiles, startup.settings.maxRecentFiles,
                      startup.placement, startup.maximised, options);
    for (const auto& name : writes) {
        EXPECT_TRUE(name != "MaxNumberFiles" && !name.starts_with("File")) << name;
    }
    EXPECT_EQ(writes.size(), 5u + 13u);
    EXPECT_EQ(readBytes(file), before);
}

TEST_F(SettingsStoreTest, PlacementIsWrittenAsIntegersAndMaximizeReadAsAFlag) {
    WindowPlacement designed{591, 842, 0, 0};
    WindowPlacement placement = designed;
    bool maximised = false;
    EXPECT_FALSE(store.readPlacement(placement, maximised));  // no "DeskTop": designed bounds
    EXPECT_EQ(placement, designed);

    ASSERT_TRUE(store.writePlacement({480, 640, -8, 12}, true));
    ASSERT_TRUE(store.readPlacement(placement, maximised));
    EXPECT_EQ(placement, (WindowPlacement{480, 640, -8, 12}));
    EXPECT_TRUE(maximised);
    EXPECT_NE(readBytes(file).find("\"Maximize\"=dword:00000001"), std::string::npos);

    edit(programKey(kDeskTopKey), [](Registry& r) { r.writeInteger("Maximize", 5); });
    maximised = false;
    ASSERT_TRUE(store.readPlacement(placement, maximised));
    EXPECT_TRUE(maximised);
    ASSERT_TRUE(store.writePlacement(placement, false));
    EXPECT_NE(readBytes(file).find("\"Maximize\"=dword:00000000"), std::string::npos);
}

TEST_F(SettingsStoreTest, OptionsRoundTripAndNarrowLikeTheirFields) {
    ASSERT_TRUE(store.writeOptions(unusualOptions()));
    HarmonyOptions options;
    ASSERT_TRUE(store.readOptions(options));
    EXPECT_EQ(options, unusualOptions());

    edit(programKey(kSettingsKey), [](Registry& r) {
        r.writeInteger("SHBmode", 258);
        r.writeInteger("MinTaktBT", 65540);
        r.writeInteger("DefAccPatch", 255);
        r.writeInteger("AutoKey", 7);
        r.writeFloat("MinWT", 1e300);
        r.writeFloat("kDSFilter", 0.1);
    });
    ASSERT_TRUE(store.readOptions(options));
    EXPECT_EQ(options.SHBmode, 2);
    EXPECT_EQ(options.MinTaktBT, 4);
    EXPECT_EQ(options.DefAccPatch, -1);
    EXPECT_TRUE(options.AutoKey);
    EXPECT_TRUE(std::isinf(options.MinWT));
    EXPECT_EQ(options.kDSFilter, 0.1f);
}

TEST(BrowserLookup, TakesTheProgramOfTheOpenCommandInUpperCase) {
    EXPECT_EQ(
        browserProgramFromCommand("\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome"),
        "C:\\PROGRAM FILES\\INTERNET EXPLORER\\IEXPLORE.EXE");
    EXPECT_EQ(browserProgramFromCommand("C:\\PROGRA~1\\Web\\browse.exe %1"),
              "C:\\PROGRA~1\\WEB\\BROWSE.EXE");
    // A quote that only encloses an argument, and ".exe" inside a folder name.
    EXPECT_EQ(browserProgramFromCommand("C:\\Web.exes\\b.exe \"%1\""), "C:\\WEB.EXES\\B.EXE");
    // Without ".EXE": the quoted part, or the first word.
    EXPECT_EQ(browserProgramFromCommand("\"/usr/bin/web browser\" %u"), "/USR/BIN/WEB BROWSER");
    EXPECT_EQ(browserProgramFromCommand("/usr/bin/browser %u"), "/USR/BIN/BROWSER");
    EXPECT_EQ(browserProgramFromCommand(""), "");
}

TEST_F(SettingsStoreTest, WebSettingsReadTheAddressEvenWithoutABrowser) {
    install();
    std::string browser = "unset", address;
    EXPECT_FALSE(store.readWebSettings(browser, address));
    EXPECT_EQ(browser, "unset");
    EXPECT_EQ(address, std::string(kDefaultSiteAddress));

    edit(
        kBrowserCommandKey, [](Registry& r) { r.writeString("", "C:\\b.exe %1"); },
        RegistryRoot::ClassesRoot);
    EXPECT_TRUE(store.readWebSettings(browser, address));
    EXPECT_EQ(browser, "C:\\B.EXE");
}

// --- set-up ---------------------------------------------------------------------------------

TEST_F(SettingsStoreTest, SetupKeepsTheUsersValuesAndRefreshesThePaths) {
    install();
    ASSERT_TRUE(store.writeOptions(unusualOptions()));
    ASSERT_EQ(store.writeRecentFiles({"/m/a.mid", "/m/b.mid"}, 5), 2);
    ASSERT_TRUE(store.writeShowTips(false));
    ASSERT_TRUE(store.writePlacement({1, 2, 3, 4}, false));
    // A value spoilt by hand is put back to its default; the others stay.
    edit(programKey(kSettingsKey), [](Registry& r) { r.writeString("kDSFilter", "high"); });

    install("/srv/varimel/");
    StartupSettings startup;
    HarmonyOptions options;
    ASSERT_TRUE(readStartupSettings(store, startup, options));
    EXPECT_TRUE(messages.empty());
    HarmonyOptions expected = unusualOptions();
    expected.kDSFilter = defaultOptions.kDSFilter;
    EXPECT_EQ(options, expected);
    EXPECT_EQ(startup.recentFiles, (std::vector<std::string>{"/m/a.mid", "/m/b.mid"}));
    EXPECT_EQ(startup.settings.maxRecentFiles, 5);
    EXPECT_EQ(startup.settings.showTips, 0);
    EXPECT_EQ(startup.placement, (WindowPlacement{1, 2, 3, 4}));
    EXPECT_EQ(startup.settings.installPath, "/srv/varimel/");
    EXPECT_EQ(startup.settings.styleDir, "/srv/varimel/styles/");
}

TEST_F(SettingsStoreTest, SetupWithResetStartsFromTheDefaults) {
    install();
    ASSERT_TRUE(store.writeOptions(unusualOptions()));
    ASSERT_EQ(store.writeRecentFiles({"/m/a.mid"}, 3), 1);
    ASSERT_TRUE(store.writePlacement({1, 2, 3, 4}, true));
    {
        RegistryFile registry(file);
        InstallLayout layout;
        layout.installPath = "/opt/v";
        ASSERT_TRUE(writeInstallation(registry, layout, true));
    }
    StartupSettings startup;
    HarmonyOptions options = unusualOptions();
    ASSERT_TRUE(readStartupSettings(store, startup, options));
    EXPECT_EQ(options, defaultOptions);
    EXPECT_TRUE(startup.recentFiles.empty());
    EXPECT_EQ(startup.settings.maxRecentFiles, kDefaultMaxRecentFiles);
    EXPECT_EQ(startup.settings.showTips, 1);
    WindowPlacement placement;
    bool maximised = false;
    EXPECT_FALSE(store.readPlacement(placement, maximised));
}

TEST_F(SettingsStoreTest, TheSetupToolWritesARegistryTheStoreReads) {
#ifndef VARIMEL_REGSETUP_PROGRAM
    GTEST_SKIP() << "varimel-regsetup is not part of this build";
#else
    const std::string tool = VARIMEL_REGSETUP_PROGRAM;
    const auto output = dir / "etc" / "varimel" / "registry.reg";
    auto run = [&](const std::string& arguments) {
        return std::system(("\"" + tool + "\" " + arguments + " > /dev/null 2>&1").c_str());
    };
    ASSERT_EQ(run("--install-path \"" + (dir / "data").string() + "\" --output \"" +
                  output.string() + "\" --max-recent 4 --show-tips 0"),
              0);
    ScopedEnv env(kRegistryEnvVar, output.string());
    SettingsStore installed;
    StartupSettings startup;
    HarmonyOptions options = unusualOptions();
    ASSERT_TRUE(readStartupSettings(installed, startup, options));
    EXPECT_EQ(options, defaultOptions);
    EXPECT_EQ(startup.settings.installPath, (dir / "data").string() + "/");
    EXPECT_EQ(startup.settings.arrangementDir, (dir / "data").string() + "/arrangements/");
    EXPECT_EQ(startup.settings.maxRecentFiles, 4);
    EXPECT_EQ(startup.settings.showTips, 0);

    // A file that is not a registry is refused, not overwritten.
    std::ofstream(file) << "precious\n";
    EXPECT_NE(run("--install-path /x --output \"" + file.string() + "\""), 0);
    EXPECT_EQ(readBytes(file), "precious\n");
#endif
}
