// Startup: what the main window reads at start (settings, the files it needs, where help and the
// import tools are) and writes at exit, and the texts of its caption, all without a control.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/HarmonyOptions.h"
#include "settings/Tmyregistry.h"

namespace varimel::model {

inline constexpr std::string_view kApplicationName = "Varimel";
inline constexpr int kDesignedWidth = 842;
inline constexpr int kDesignedHeight = 591;

struct StartupPlan {
    bool rootKeyFound = false;  // false: "Please run setup again", and the program ends
    StartupSettings startup;
    std::string helpPath;               // folder of index.html and topic-<N>.html
    std::string instrumentFile;         // dataPath + "gmi.txt"
    std::string tipsFile;               // dataPath + "tips.txt"
    std::string aboutPicture;           // imagesPath + "About.jpg"
    std::string samplesPath;            // installPath + "samples"
    std::string styleImportTool;        // installPath + ISName
    std::string arrangementImportTool;  // installPath + IAName
};

// Reads everything start-up needs in the window's order; `designed` is the placement the window
// keeps when the registry holds none.
StartupPlan planStartup(SettingsStore& store, const WindowPlacement& designed,
                        HarmonyOptions& options = currentOptions);

// What the window writes at exit.
struct ExitState {
    bool recentFilesChanged = false;
    std::vector<std::string> recentFiles;
    std::int32_t maxRecentFiles = 0;
    WindowPlacement placement;  // the window's normal bounds at this moment
    bool maximised = false;     // the window is maximised at this moment
};
void writeExit(SettingsStore& store, const ExitState& state,
               const HarmonyOptions& options = currentOptions);

// True for a regular file the user may execute (the import tools are shown only then).
bool isExecutableFile(const std::string& path);

// The command-line tail: the arguments joined by single blanks; a tail wholly in double quotes
// loses them; a relative name is made absolute against `currentDir`. Empty without arguments.
std::string commandLineTail(const std::vector<std::string>& arguments,
                            const std::string& currentDir);

// "  Varimel " + text, and the application title " Varimel " + text.
std::string windowCaption(std::string_view text);
std::string applicationTitle(std::string_view text);

}  // namespace varimel::model
