// SettingsStore: reads and writes the program's settings (paths, harmony options, recent files,
// window placement) under its registry key, one group of values per operation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "settings/HarmonyOptions.h"
#include "settings/Registry.h"

namespace varimel {

// The program's key below HKEY_LOCAL_MACHINE; subkeys are appended without a separator.
inline constexpr std::string_view kRootKey = "\\software\\Belmora\\Varimel\\";
inline constexpr std::string_view kSettingsKey = "Settings";
inline constexpr std::string_view kRecentFilesKey = "Recent Files";
inline constexpr std::string_view kDeskTopKey = "DeskTop";
// Below HKEY_CLASSES_ROOT: the command that opens web pages.
inline constexpr std::string_view kBrowserCommandKey = "\\htmlfile\\shell\\open\\command";

// Value names.
namespace regname {
inline constexpr std::string_view kInstallPath = "InstallPath";
inline constexpr std::string_view kWorkPath = "WorkPath";
inline constexpr std::string_view kImagesPath = "ImagesPath";
inline constexpr std::string_view kDataPath = "DataPath";
inline constexpr std::string_view kShowTips = "ShowTips";
inline constexpr std::string_view kStlPath = "StlPath";
inline constexpr std::string_view kArnPath = "ArnPath";
inline constexpr std::string_view kISName = "ISName";
inline constexpr std::string_view kIAName = "IAName";
inline constexpr std::string_view kURL = "URL";
inline constexpr std::string_view kMaxNumberFiles = "MaxNumberFiles";
inline constexpr std::string_view kFilePrefix = "File";  // File0, File1, ... File10
inline constexpr std::string_view kHeight = "Height";
inline constexpr std::string_view kWidth = "Width";
inline constexpr std::string_view kLeft = "Left";
inline constexpr std::string_view kTop = "Top";
inline constexpr std::string_view kMaximize = "Maximize";
}  // namespace regname

// The thirteen option values in their registry order (the order of reading and writing),
// each with its registry type: integers keep the low bits that fit their field, floats are
// stored as doubles.
struct OptionValue {
    std::string_view name;
    void (*read)(Registry& registry, HarmonyOptions& options);
    void (*write)(Registry& registry, const HarmonyOptions& options);
};
std::span<const OptionValue> optionValues();

// The full name of a subkey of the program's key.
std::string programKey(std::string_view subkey);
// "File" + index, without padding.
std::string recentFileValueName(std::size_t index);

// The main window's normal (not maximised) bounds in pixels.
struct WindowPlacement {
    std::int32_t Height = 0;
    std::int32_t Width = 0;
    std::int32_t Left = 0;
    std::int32_t Top = 0;

    bool operator==(const WindowPlacement&) const = default;
};

// The values the main window keeps from the registry.
struct AppSettings {
    std::string installPath;
    std::string workPath;
    std::string imagesPath;
    std::string dataPath;
    std::uint8_t showTips = 0;
    std::string browserPath;
    std::string siteAddress;
    std::string styleDir;
    std::string arrangementDir;
    std::string styleImportTool;
    std::string arrangementImportTool;
    std::int32_t maxRecentFiles = 0;
};

// The browser program of an "open" command: upper case, without the opening quote and without
// the arguments, up to and including ".EXE"; without ".EXE", the quoted part or the first word.
std::string browserProgramFromCommand(std::string_view command);

using RegistryFactory = std::function<std::unique_ptr<Registry>()>;
using RegistryErrorHandler = std::function<void(const std::string& message)>;

// Every operation gets a registry handle from the factory and drops it when done, unless a
// SharedHandle lends one handle to a run of operations. An error of
// the registry layer ends only its operation: the values already transferred keep their new
// contents, the error text goes to the handler (the window shows it in a message box) and the
// operation answers false.
class SettingsStore {
  public:
    // Over the registry file at registryFilePath(), looked up anew for every operation.
    SettingsStore();
    explicit SettingsStore(RegistryFactory factory, RegistryErrorHandler onError = {});

    void setErrorHandler(RegistryErrorHandler onError) { onError_ = std::move(onError); }
    // The text of the last registry error, kept also when no handler is set.
    const std::string& lastError() const { return lastError_; }

    // False means the program was never set up ("Please run setup again").
    bool rootKeyExists();
    // WorkPath, ImagesPath and DataPath come back joined to InstallPath.
    bool readPaths(std::string& installPath, std::string& workPath, std::string& imagesPath,
                   std::string& dataPath, std::uint8_t& showTips);
    bool readLibrarySettings(std::string& styleDir, std::string& arrangementDir,
                             std::string& styleImportTool, std::string& arrangementImportTool);
    // Empties the list, then reads MaxNumberFiles and File0, File1, ... until the first empty
    // name or the capacity; at least one name is tried. Answers the number of names read.
    int readRecentFiles(std::vector<std::string>& list, std::int32_t& maxRecentFiles);
    // MaxNumberFiles only when above 0. Answers the number of names written.
    int writeRecentFiles(const std::vector<std::string>& list, std::int32_t maxRecentFiles);
    bool readPlacement(WindowPlacement& placement, bool& maximised);
    bool writePlacement(const WindowPlacement& placement, bool maximised);
    bool readOptions(HarmonyOptions& options);
    bool writeOptions(const HarmonyOptions& options);
    // The browser from the classes root, then URL. The address is read even when no browser
    // is registered, since the caller then shows it to the user instead.
    bool readWebSettings(std::string& browserPath, std::string& siteAddress);
    // The tips dialog's one write: ShowTips 0 or 1, creating "Settings" when missing.
    bool writeShowTips(bool showTips);

    // While one lives, every operation of the store goes through one handle from the factory,
    // so that a run of reads (start-up reads seven groups) opens and reads the registry file
    // once instead of once a group.
    class SharedHandle {
      public:
        explicit SharedHandle(SettingsStore& store);
        ~SharedHandle();
        SharedHandle(const SharedHandle&) = delete;
        SharedHandle& operator=(const SharedHandle&) = delete;

      private:
        SettingsStore& store_;
    };

  private:
    // The handle of one operation: the shared one, or one of its own.
    class Handle {
      public:
        Handle(std::unique_ptr<Registry> owned, Registry* shared)
            : owned_(std::move(owned)), registry_(shared != nullptr ? shared : owned_.get()) {}
        explicit operator bool() const { return registry_ != nullptr; }
        Registry& operator*() const { return *registry_; }
        Registry* operator->() const { return registry_; }

      private:
        std::unique_ptr<Registry> owned_;
        Registry* registry_;
    };

    Handle handle();
    template <typename Transfer>
    bool transfer(Registry& registry, RegistryRoot root, std::string_view key, bool create,
                  Transfer&& body);

    RegistryFactory factory_;
    std::unique_ptr<Registry> shared_;  // while a SharedHandle lives
    RegistryErrorHandler onError_;
    std::string lastError_;
};

// What start-up reads, in the main window's order: recent files, placement, options, paths,
// web settings, library settings. Fill placement with the designed bounds first: a missing
// "DeskTop" key leaves them. Answers false, reading nothing, when the root key is missing.
struct StartupSettings {
    std::vector<std::string> recentFiles;
    WindowPlacement placement;
    bool maximised = false;
    AppSettings settings;
};
bool readStartupSettings(SettingsStore& store, StartupSettings& startup,
                         HarmonyOptions& options = currentOptions);

// What exit writes: the recent files when they changed, then always the placement and the
// options.
void writeExitSettings(SettingsStore& store, bool recentFilesChanged,
                       const std::vector<std::string>& recentFiles, std::int32_t maxRecentFiles,
                       const WindowPlacement& placement, bool maximised,
                       const HarmonyOptions& options = currentOptions);

}  // namespace varimel
