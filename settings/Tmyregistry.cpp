#include "settings/Tmyregistry.h"

#include <limits>

#include "settings/RegFile.h"

namespace varimel {

namespace {

// Option values are stored as doubles; one beyond the float range narrows to an infinity
// instead of the undefined conversion.
float narrowToFloat(double value) {
    constexpr double kMax = std::numeric_limits<float>::max();
    if (value > kMax) return std::numeric_limits<float>::infinity();
    if (value < -kMax) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool endsProgramName(const std::string& text, std::size_t at) {
    return at >= text.size() || text[at] == '"' || text[at] == ' ' || text[at] == '\t';
}

}  // namespace

std::span<const OptionValue> optionValues() {
    // An integer read into a narrower field keeps its low bits.
    static constexpr OptionValue kValues[] = {
        {"SHBmode",
         [](Registry& r, HarmonyOptions& o) {
             o.SHBmode = static_cast<std::uint8_t>(r.readInteger("SHBmode"));
         },
         [](Registry& r, const HarmonyOptions& o) { r.writeInteger("SHBmode", o.SHBmode); }},
        {"ApplyPKey", [](Registry& r, HarmonyOptions& o) { o.ApplyPKey = r.readBool("ApplyPKey"); },
         [](Registry& r, const HarmonyOptions& o) { r.writeBool("ApplyPKey", o.ApplyPKey); }},
        {"MinTaktBT",
         [](Registry& r, HarmonyOptions& o) {
             o.MinTaktBT = static_cast<std::int16_t>(r.readInteger("MinTaktBT"));
         },
         [](Registry& r, const HarmonyOptions& o) { r.writeInteger("MinTaktBT", o.MinTaktBT); }},
        {"ModeStT", [](Registry& r, HarmonyOptions& o) { o.ModeStT = r.readInteger("ModeStT"); },
         [](Registry& r, const HarmonyOptions& o) { r.writeInteger("ModeStT", o.ModeStT); }},
        {"MinWT",
         [](Registry& r, HarmonyOptions& o) { o.MinWT = narrowToFloat(r.readFloat("MinWT")); },
         [](Registry& r, const HarmonyOptions& o) { r.writeFloat("MinWT", o.MinWT); }},
        {"CSFilter", [](Registry& r, HarmonyOptions& o) { o.CSFilter = r.readBool("CSFilter"); },
         [](Registry& r, const HarmonyOptions& o) { r.writeBool("CSFilter", o.CSFilter); }},
        {"DSFilter", [](Registry& r, HarmonyOptions& o) { o.DSFilter = r.readBool("DSFilter"); },
         [](Registry& r, const HarmonyOptions& o) { r.writeBool("DSFilter", o.DSFilter); }},
        {"kDSFilter",
         [](Registry& r, HarmonyOptions& o) {
             o.kDSFilter = narrowToFloat(r.readFloat("kDSFilter"));
         },
         [](Registry& r, const HarmonyOptions& o) { r.writeFloat("kDSFilter", o.kDSFilter); }},
        {"kRecomChr",
         [](Registry& r, HarmonyOptions& o) {
             o.kRecomChr = narrowToFloat(r.readFloat("kRecomChr"));
         },
         [](Registry& r, const HarmonyOptions& o) { r.writeFloat("kRecomChr", o.kRecomChr); }},
        {"MaxNumCustomChords",
         [](Registry& r, HarmonyOptions& o) {
             o.MaxNumCustomChords = static_cast<std::int16_t>(r.readInteger("MaxNumCustomChords"));
         },
         [](Registry& r, const HarmonyOptions& o) {
             r.writeInteger("MaxNumCustomChords", o.MaxNumCustomChords);
         }},
        {"AutoKey", [](Registry& r, HarmonyOptions& o) { o.AutoKey = r.readBool("AutoKey"); },
         [](Registry& r, const HarmonyOptions& o) { r.writeBool("AutoKey", o.AutoKey); }},
        {"DefAccPatch",
         [](Registry& r, HarmonyOptions& o) {
             o.DefAccPatch = static_cast<std::int8_t>(r.readInteger("DefAccPatch"));
         },
         [](Registry& r, const HarmonyOptions& o) {
             r.writeInteger("DefAccPatch", o.DefAccPatch);
         }},
        {"AutoSaveOpt",
         [](Registry& r, HarmonyOptions& o) { o.AutoSaveOpt = r.readBool("AutoSaveOpt"); },
         [](Registry& r, const HarmonyOptions& o) { r.writeBool("AutoSaveOpt", o.AutoSaveOpt); }},
    };
    return kValues;
}

std::string programKey(std::string_view subkey) {
    std::string key(kRootKey);
    key += subkey;
    return key;
}

std::string recentFileValueName(std::size_t index) {
    return std::string(regname::kFilePrefix) + std::to_string(index);
}

std::string browserProgramFromCommand(std::string_view command) {
    std::string text;
    for (char c : command) text += upperAscii(c);
    auto start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return {};
    // Only a quote that opens the command encloses the program; a later one is an argument's.
    bool quoted = text[start] == '"';
    if (quoted) ++start;
    constexpr std::string_view kExe = ".EXE";
    for (auto at = text.find(kExe, start); at != std::string::npos; at = text.find(kExe, at + 1)) {
        if (endsProgramName(text, at + kExe.size())) return text.substr(start, at + 4 - start);
    }
    auto end = quoted ? text.find('"', start) : text.find_first_of(" \t", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

SettingsStore::SettingsStore()
    : factory_([] { return std::make_unique<RegistryFile>(registryFilePath()); }) {}

SettingsStore::SettingsStore(RegistryFactory factory, RegistryErrorHandler onError)
    : factory_(std::move(factory)), onError_(std::move(onError)) {}

SettingsStore::Handle SettingsStore::handle() {
    if (shared_) return Handle(nullptr, shared_.get());
    return Handle(factory_ ? factory_() : nullptr, nullptr);
}

SettingsStore::SharedHandle::SharedHandle(SettingsStore& store) : store_(store) {
    if (store_.factory_) store_.shared_ = store_.factory_();
}

SettingsStore::SharedHandle::~SharedHandle() {
    store_.shared_.reset();
}

template <typename Transfer>
bool SettingsStore::transfer(Registry& registry, RegistryRoot root, std::string_view key,
                             bool create, Transfer&& body) {
    registry.setRootKey(root);
    if (!registry.openKey(key, create)) return false;
    try {
        body(registry);
    } catch (const RegistryError& error) {
        registry.closeKey();
        lastError_ = error.what();
        if (onError_) onError_(lastError_);
        return false;
    }
    registry.closeKey();
    return true;
}

bool SettingsStore::rootKeyExists() {
    auto registry = handle();
    if (!registry) return false;
    registry->setRootKey(RegistryRoot::LocalMachine);
    return registry->keyExists(kRootKey);
}

bool SettingsStore::readPaths(std::string& installPath, std::string& workPath,
                              std::string& imagesPath, std::string& dataPath,
                              std::uint8_t& showTips) {
    auto registry = handle();
    if (!registry) return false;
    return transfer(*registry, RegistryRoot::LocalMachine, programKey(kSettingsKey), false,
                    [&](Registry& r) {
                        installPath = r.readString(regname::kInstallPath);
                        workPath = installPath + r.readString(regname::kWorkPath);
                        imagesPath = installPath + r.readString(regname::kImagesPath);
                        dataPath = installPath + r.readString(regname::kDataPath);
                        showTips = static_cast<std::uint8_t>(r.readInteger(regname::kShowTips));
                    });
}

bool SettingsStore::readLibrarySettings(std::string& styleDir, std::string& arrangementDir,
                                        std::string& styleImportTool,
                                        std::string& arrangementImportTool) {
    auto registry = handle();
    if (!registry) return false;
    return transfer(*registry, RegistryRoot::LocalMachine, programKey(kSettingsKey), false,
                    [&](Registry& r) {
                        styleDir = r.readString(regname::kStlPath);
                        arrangementDir = r.readString(regname::kArnPath);
                        styleImportTool = r.readString(regname::kISName);
                        arrangementImportTool = r.readString(regname::kIAName);
                    });
}

int SettingsStore::readRecentFiles(std::vector<std::string>& list, std::int32_t& maxRecentFiles) {
    list.clear();
    auto registry = handle();
    if (!registry) return 0;
    transfer(*registry, RegistryRoot::LocalMachine, programKey(kRecentFilesKey), false,
             [&](Registry& r) {
                 maxRecentFiles = r.readInteger(regname::kMaxNumberFiles);
                 const std::int64_t last = std::int64_t{maxRecentFiles} - 1;
                 for (std::size_t i = 0;; ++i) {
                     auto name = r.readString(recentFileValueName(i));
                     if (name.empty()) break;
                     list.push_back(std::move(name));
                     if (static_cast<std::int64_t>(i) >= last) break;
                 }
             });
    return static_cast<int>(list.size());
}

int SettingsStore::writeRecentFiles(const std::vector<std::string>& list,
                                    std::int32_t maxRecentFiles) {
    auto registry = handle();
    if (!registry) return 0;
    int written = 0;
    transfer(*registry, RegistryRoot::LocalMachine, programKey(kRecentFilesKey), true,
             [&](Registry& r) {
                 if (maxRecentFiles > 0) r.writeInteger(regname::kMaxNumberFiles, maxRecentFiles);
                 for (std::size_t i = 0; i < list.size(); ++i) {
                     r.writeString(recentFileValueName(i), list[i]);
                     ++written;
                 }
             });
    return written;
}

bool SettingsStore::readPlacement(WindowPlacement& placement, bool& maximised) {
    auto registry = handle();
    if (!registry) return false;
    return transfer(*registry, RegistryRoot::LocalMachine, programKey(kDeskTopKey), false,
                    [&](Registry& r) {
                        placement.Height = r.readInteger(regname::kHeight);
                        placement.Width = r.readInteger(regname::kWidth);
                        placement.Left = r.readInteger(regname::kLeft);
                        placement.Top = r.readInteger(regname::kTop);
                        maximised = r.readBool(regname::kMaximize);
                    });
}

bool SettingsStore::writePlacement(const WindowPlacement& placement, bool maximised) {
    auto registry = handle();
    if (!registry) return false;
    return transfer(*registry, RegistryRoot::LocalMachine, programKey(kDeskTopKey), true,
                    [&](Registry& r) {
                        r.writeInteger(regname::kHeight, placement.Height);
                        r.writeInteger(regname::kWidth, placement.Width);
                        r.writeInteger(regname::kLeft, placement.Left);
                        r.writeInteger(regname::kTop, placement.Top);
                        r.writeInteger(regname::kMaximize, maximised ? 1 : 0);
                    });
}

bool SettingsStore::readOptions(HarmonyOptions& options) {
    auto registry = handle();
    if (!registry) return false;
    return transfer(*registry, RegistryRoot::LocalMachine, programKey(kSettingsKey), false,
                    [&](Registry& r) {
                        for (const auto& value : optionValues()) value.read(r, options);
                    });
}

bool SettingsStore::writeOptions(const HarmonyOptions& options) {
    auto registry = handle();
    if (!registry) return false;
    return transfer(*registry, RegistryRoot::LocalMachine, programKey(kSettingsKey), true,
                    [&](Registry& r) {
                        for (const auto& value : optionValues()) value.write(r, options);
                    });
}

bool SettingsStore::readWebSettings(std::string& browserPath, std::string& siteAddress) {
    auto registry = handle();
    if (!registry) return false;
    bool browserFound =
        transfer(*registry, RegistryRoot::ClassesRoot, kBrowserCommandKey, false,
                 [&](Registry& r) { browserPath = browserProgramFromCommand(r.readString("")); });
    bool addressRead =
        transfer(*registry, RegistryRoot::LocalMachine, programKey(kSettingsKey), false,
                 [&](Registry& r) { siteAddress = r.readString(regname::kURL); });
    return browserFound && addressRead;
}

bool SettingsStore::writeShowTips(bool showTips) {
    auto registry = handle();
    if (!registry) return false;
    return transfer(*registry, RegistryRoot::LocalMachine, programKey(kSettingsKey), true,
                    [&](Registry& r) { r.writeInteger(regname::kShowTips, showTips ? 1 : 0); });
}

bool readStartupSettings(SettingsStore& store, StartupSettings& startup, HarmonyOptions& options) {
    const SettingsStore::SharedHandle oneLook(store);
    if (!store.rootKeyExists()) return false;
    auto& s = startup.settings;
    store.readRecentFiles(startup.recentFiles, s.maxRecentFiles);
    store.readPlacement(startup.placement, startup.maximised);
    store.readOptions(options);
    store.readPaths(s.installPath, s.workPath, s.imagesPath, s.dataPath, s.showTips);
    store.readWebSettings(s.browserPath, s.siteAddress);
    store.readLibrarySettings(s.styleDir, s.arrangementDir, s.styleImportTool,
                              s.arrangementImportTool);
    return true;
}

void writeExitSettings(SettingsStore& store, bool recentFilesChanged,
                       const std::vector<std::string>& recentFiles, std::int32_t maxRecentFiles,
                       const WindowPlacement& placement, bool maximised,
                       const HarmonyOptions& options) {
    if (recentFilesChanged) store.writeRecentFiles(recentFiles, maxRecentFiles);
    store.writePlacement(placement, maximised);
    store.writeOptions(options);
}

}  // namespace varimel
