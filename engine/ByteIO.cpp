#include "engine/ByteIO.h"

#include <cstdio>
#include <filesystem>

#include "engine/SafeWrite.h"

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
    const std::string_view content(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return writeFileAtomically(std::filesystem::path(path), content, &error);
}

}  // namespace varimel
