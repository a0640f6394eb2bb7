#include "support/samples.h"

#include <algorithm>
#include <random>

namespace varimel::test {

std::vector<std::filesystem::path> sampleMelodyPaths() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(VARIMEL_SAMPLES_DIR)) {
        if (entry.path().extension() == ".mid") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> sampleMelodyFiles() {
    std::vector<std::string> files;
    for (const auto& path : sampleMelodyPaths()) files.push_back(path.string());
    return files;
}

std::filesystem::path sampleMelodyPath(const std::string& name) {
    return std::filesystem::path(VARIMEL_SAMPLES_DIR) / (name + ".mid");
}

TempDir::TempDir(const std::string& prefix) {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            (prefix + "-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace varimel::test
