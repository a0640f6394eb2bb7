#include "settings/RegSetup.h"

#include <filesystem>

#include "settings/HarmonyOptions.h"
#include "settings/Tmyregistry.h"

namespace varimel {

namespace {

// Keeps a value that reads back with its type; otherwise writes the default.
template <typename Read, typename Write>
void keepOrWrite(Read&& read, Write&& write) {
    try {
        read();
    } catch (const RegistryError&) {
        write();
    }
}

}  // namespace

std::string withTrailingSeparator(std::string path) {
    if (path.empty() || (path.back() != '/' && path.back() != '\\')) {
        path += static_cast<char>(std::filesystem::path::preferred_separator);
    }
    return path;
}

bool writeInstallation(Registry& registry, const InstallLayout& layout, bool reset,
                       std::string* error) {
    auto fail = [&](std::string text) {
        registry.closeKey();
        if (error != nullptr) *error = std::move(text);
        return false;
    };
    const std::string installPath = withTrailingSeparator(layout.installPath);
    registry.setRootKey(RegistryRoot::LocalMachine);
    if (reset && registry.keyExists(kRootKey) && !registry.deleteKey(kRootKey)) {
        return fail("cannot remove the key " + std::string(kRootKey));
    }
    try {
        // The root key gets its own entry: its existence is what says setup has run.
        if (!registry.openKey(kRootKey, true))
            return fail("cannot create " + std::string(kRootKey));
        registry.closeKey();

        if (!registry.openKey(programKey(kSettingsKey), true)) {
            return fail("cannot create " + programKey(kSettingsKey));
        }
        registry.writeString(regname::kInstallPath, installPath);
        registry.writeString(regname::kWorkPath, layout.workPath);
        registry.writeString(regname::kImagesPath, layout.imagesPath);
        registry.writeString(regname::kDataPath, layout.dataPath);
        registry.writeString(regname::kStlPath,
                             layout.styleDir.empty() ? installPath + "styles/" : layout.styleDir);
        registry.writeString(regname::kArnPath, layout.arrangementDir.empty()
                                                    ? installPath + "arrangements/"
                                                    : layout.arrangementDir);
        registry.writeString(regname::kISName, layout.styleImportTool);
        registry.writeString(regname::kIAName, layout.arrangementImportTool);
        registry.writeString(regname::kURL, layout.siteAddress);
        if (!layout.soundFont.empty()) registry.writeString(kSoundFontValueName, layout.soundFont);
        keepOrWrite([&] { registry.readInteger(regname::kShowTips); },
                    [&] { registry.writeInteger(regname::kShowTips, layout.showTips ? 1 : 0); });
        for (const auto& value : optionValues()) {
            HarmonyOptions scratch;
            keepOrWrite([&] { value.read(registry, scratch); },
                        [&] { value.write(registry, defaultOptions); });
        }
        registry.closeKey();

        if (!registry.openKey(programKey(kRecentFilesKey), true)) {
            return fail("cannot create " + programKey(kRecentFilesKey));
        }
        keepOrWrite(
            [&] { registry.readInteger(regname::kMaxNumberFiles); },
            [&] { registry.writeInteger(regname::kMaxNumberFiles, layout.maxRecentFiles); });
        registry.closeKey();
    } catch (const RegistryError& failure) {
        return fail(failure.what());
    }
    return true;
}

bool readInstallation(Registry& registry, InstallLayout& layout) {
    registry.setRootKey(RegistryRoot::LocalMachine);
    if (!registry.openKey(programKey(kSettingsKey), false)) return false;
    auto keep = [&registry](std::string_view name, std::string& into) {
        if (!registry.valueExists(name)) return;
        try {
            into = registry.readString(name);
        } catch (const RegistryError&) {
            // A value of another type is not a path to keep.
        }
    };
    keep(regname::kInstallPath, layout.installPath);
    keep(regname::kWorkPath, layout.workPath);
    keep(regname::kImagesPath, layout.imagesPath);
    keep(regname::kDataPath, layout.dataPath);
    keep(regname::kStlPath, layout.styleDir);
    keep(regname::kArnPath, layout.arrangementDir);
    keep(regname::kISName, layout.styleImportTool);
    keep(regname::kIAName, layout.arrangementImportTool);
    keep(regname::kURL, layout.siteAddress);
    keep(kSoundFontValueName, layout.soundFont);
    registry.closeKey();
    return true;
}

const std::vector<std::string>& debianSoundFonts() {
    static const std::vector<std::string> fonts{"/usr/share/sounds/sf2/default-GM.sf2",
                                                "/usr/share/sounds/sf2/FluidR3_GM.sf2",
                                                "/usr/share/sounds/sf2/TimGM6mb.sf2"};
    return fonts;
}

std::string installedSoundFont() {
    for (const std::string& path : debianSoundFonts()) {
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error)) return path;
    }
    return {};
}

}  // namespace varimel
