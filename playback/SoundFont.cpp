#include "playback/SoundFont.h"

#include <filesystem>
#include <system_error>

#include "settings/RegFile.h"
#include "settings/RegSetup.h"
#include "settings/Tmyregistry.h"

namespace varimel {

namespace {

bool isFile(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
}

}  // namespace

std::vector<std::string> systemSoundFonts() {
    return debianSoundFonts();
}

std::string configuredSoundFont() {
    try {
        RegistryFile registry(registryFilePath());
        if (!registry.usable() || !registry.openKey(programKey(kSettingsKey), false)) return {};
        const std::string path = registry.readString(kSoundFontValueName);
        return isFile(path) ? path : std::string{};
    } catch (const std::exception&) {
        // A settings file we cannot read only means the system's sound fonts are used.
        return {};
    }
}

std::string findSoundFont(const std::string& preferred) {
    if (isFile(preferred)) return preferred;
    if (std::string configured = configuredSoundFont(); !configured.empty()) return configured;
    for (const std::string& path : systemSoundFonts()) {
        if (isFile(path)) return path;
    }
    return {};
}

}  // namespace varimel
