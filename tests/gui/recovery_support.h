// Helpers of the recovery tests: the test's recovery folder, the autosave interval in its
// registry, copies left behind as a dead window leaves them, and what a start would be offered.
#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/Mas_file.h"
#include "engine/Wchordmaster.h"
#include "settings/RegFile.h"
#include "settings/Tmyregistry.h"
#include "ui/model/AutosaveSchedule.h"
#include "ui/model/Recovery.h"

namespace varimel::test {

// The recovery folder of a window whose XDG_DATA_HOME is `dir`/data-home (WindowFixture).
inline std::filesystem::path recoveryFolderIn(const std::filesystem::path& dir) {
    return model::recoveryFolder((dir / "data-home").c_str(), nullptr);
}

inline bool setAutosaveInterval(const std::filesystem::path& registryFile, int seconds) {
    RegistryFile registry(registryFile);
    if (!registry.openKey(programKey(kSettingsKey), true)) return false;
    registry.writeInteger(model::kAutoSaveIntervalValue, seconds);
    registry.closeKey();
    return true;
}

// The files directly in the folder (the aside folder not included), and of them the projects.
inline std::vector<std::filesystem::path> recoveryFiles(const std::filesystem::path& folder,
                                                        const std::string& extension = {}) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file() && (extension.empty() || entry.path().extension() == extension))
            files.push_back(entry.path());
    }
    return files;
}
inline std::vector<std::filesystem::path> recoveryProjects(const std::filesystem::path& folder) {
    return recoveryFiles(folder, ".vml");
}

// What a start would offer now; the copies are released again.
inline std::vector<std::filesystem::path> offered(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> paths;
    for (const auto& copy : model::RecoveryCopy::claimOrphans(folder))
        paths.push_back(copy->projectPath());
    return paths;
}

// The melody harmonised with the default options, edited, as a project's bytes.
inline std::string harmonisedProjectBytes(const std::filesystem::path& melody,
                                          const std::function<void(Composition&)>& edit = {}) {
    ChordMaster master(melody.string());
    if (master.loadMidi() != 0 || master.harmonise(defaultOptions) != 0) return {};
    if (edit) edit(*master.composition());
    const auto bytes = ProjectWriter::encode(*master.composition(), defaultOptions);
    return std::string(bytes.begin(), bytes.end());
}

// A copy as a window that died left it: written, its lock free. Answers the project's path.
inline std::filesystem::path leaveCopy(const std::filesystem::path& folder,
                                       const std::string& project, const std::string& document,
                                       std::int64_t savedAt) {
    std::string error;
    auto copy = model::RecoveryCopy::create(folder, error);
    if (!copy || !copy->write(project, {document, savedAt, 0}, error)) return {};
    return copy->projectPath();
}

inline std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace varimel::test
