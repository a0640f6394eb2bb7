// The bundled sample melodies, for tests that must hold for every tune.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace varimel::test {

// Every data/samples/*.mid, sorted by name.
std::vector<std::filesystem::path> sampleMelodyPaths();
std::vector<std::string> sampleMelodyFiles();
// data/samples/<name>.mid
std::filesystem::path sampleMelodyPath(const std::string& name);

// A temporary folder, removed with everything in it when the object goes.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "varimel-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

}  // namespace varimel::test
