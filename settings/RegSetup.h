// RegSetup: writes the program's registry key as its installer does, so that a fresh
// installation (or a build tree) starts with every path, option and list in place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/Registry.h"

namespace varimel {

inline constexpr std::string_view kDefaultSiteAddress = "www.belmora.com/varimel";
inline constexpr std::int32_t kDefaultMaxRecentFiles = 8;
// The settings value (under "Settings") that names the built-in synthesiser's sound font.
inline constexpr std::string_view kSoundFontValueName = "SoundFont";

// Where things are. Relative values are relative to installPath, as the store joins them.
struct InstallLayout {
    std::string installPath;  // the installation folder; a trailing separator is added
    std::string workPath = "work/";
    std::string imagesPath = "images/";
    std::string dataPath;        // folder of gmi.txt and tips.txt; "" is installPath itself
    std::string styleDir;        // stored as is; "" means installPath + "styles/"
    std::string arrangementDir;  // stored as is; "" means installPath + "arrangements/"
    std::string styleImportTool = "tools/varimel-style-import";
    std::string arrangementImportTool = "tools/varimel-arrangement-import";
    std::string siteAddress = std::string(kDefaultSiteAddress);
    bool showTips = true;
    std::int32_t maxRecentFiles = kDefaultMaxRecentFiles;
    // The built-in synthesiser's General MIDI sound font; "" writes none.
    std::string soundFont;
};

// Reads back the installation's values (paths, library folders, import tools, web address,
// sound font) that writeInstallation wrote, so that a reset can keep them. Values that are
// missing keep what `layout` holds. False when the program's settings key is missing.
bool readInstallation(Registry& registry, InstallLayout& layout);

// Where Debian's General MIDI sound font packages put their files, best first.
const std::vector<std::string>& debianSoundFonts();
// The first of them that exists; "" when none does.
std::string installedSoundFont();

// installPath with exactly the trailing separator the store expects.
std::string withTrailingSeparator(std::string path);

// Writes the installation's values (paths, tools, web address) always. The user's values
// (ShowTips, the thirteen options, MaxNumberFiles) are kept when they read back with their
// type and written with their defaults otherwise; the recent files and the window placement
// are left alone. With reset, the program's whole key is removed first, so everything starts
// from the defaults. False with a reason when the registry refused.
bool writeInstallation(Registry& registry, const InstallLayout& layout, bool reset,
                       std::string* error = nullptr);

}  // namespace varimel
