#include "ui/model/Startup.h"

#include <filesystem>
#include <system_error>

namespace varimel::model {

StartupPlan planStartup(SettingsStore& store, const WindowPlacement& designed,
                        HarmonyOptions& options) {
    StartupPlan plan;
    plan.startup.placement = designed;
    plan.rootKeyFound = readStartupSettings(store, plan.startup, options);
    if (!plan.rootKeyFound) return plan;
    const AppSettings& s = plan.startup.settings;
    plan.helpPath = s.installPath + "help/";
    plan.instrumentFile = s.dataPath + "gmi.txt";
    plan.tipsFile = s.dataPath + "tips.txt";
    plan.aboutPicture = s.imagesPath + "About.jpg";
    plan.samplesPath = s.installPath + "samples";
    plan.styleImportTool = s.installPath + s.styleImportTool;
    plan.arrangementImportTool = s.installPath + s.arrangementImportTool;
    return plan;
}

void writeExit(SettingsStore& store, const ExitState& state, const HarmonyOptions& options) {
    writeExitSettings(store, state.recentFilesChanged, state.recentFiles, state.maxRecentFiles,
                      state.placement, state.maximised, options);
}

bool isExecutableFile(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::is_regular_file(status)) return false;
    constexpr fs::perms anyExecute =
        fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    return (status.permissions() & anyExecute) != fs::perms::none;
}

std::string commandLineTail(const std::vector<std::string>& arguments,
                            const std::string& currentDir) {
    std::string tail;
    for (const std::string& argument : arguments) {
        if (!tail.empty()) tail += ' ';
        tail += argument;
    }
    if (tail.size() >= 2 && tail.front() == '"' && tail.back() == '"' &&
        tail.find('"', 1) == tail.size() - 1)
        tail = tail.substr(1, tail.size() - 2);
    if (tail.empty()) return tail;
    const std::filesystem::path path(tail);
    if (path.is_absolute() || currentDir.empty()) return tail;
    return (std::filesystem::path(currentDir) / path).lexically_normal().string();
}

std::string windowCaption(std::string_view text) {
    return "  " + std::string(kApplicationName) + " " + std::string(text);
}

std::string applicationTitle(std::string_view text) {
    return " " + std::string(kApplicationName) + " " + std::string(text);
}

}  // namespace varimel::model
