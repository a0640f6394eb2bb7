#include "engine/ByteIO.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

namespace varimel {

bool readWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& out) {
    out.clear();
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > limit) return false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    out.resize(static_cast<size_t>(size));
    const size_t read = out.empty() ? 0 : std::fread(out.data(), 1, out.size(), file);
    std::fclose(file);
    if (read != out.size()) {
        out.clear();
        return false;
    }
    return true;
}

bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& error) {
    std::random_device entropy;
    const std::string temporary = path + ".tmp" + std::to_string(entropy() % 1000000);
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        error = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!written || !flushed || !closed) {
        error = "write error (may be disk full)";
        std::remove(temporary.c_str());
        return false;
    }
    std::error_code renameError;
    std::filesystem::rename(temporary, path, renameError);
    if (renameError) {
        error = "cannot replace " + path + ": " + renameError.message();
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace varimel
