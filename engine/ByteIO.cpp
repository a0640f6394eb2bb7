#include "engine/ByteIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <new>

#include "engine/SafeWrite.h"

namespace varimel {

bool readWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& out) {
    out.clear();
    // One open, sized by the open handle: a batch reads thousands of files. Without blocking,
    // so that a FIFO is refused rather than waited on.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return false;
    struct stat info {};
    bool whole = ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
                 static_cast<uint64_t>(info.st_size) <= limit;
    if (whole) {
        try {
            out.resize(static_cast<size_t>(info.st_size));
        } catch (const std::bad_alloc&) {
            whole = false;
        }
    }
    size_t have = 0;
    while (whole && have < out.size()) {
        const ssize_t got = ::read(descriptor, out.data() + have, out.size() - have);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        have += static_cast<size_t>(got);
    }
    ::close(descriptor);
    if (!whole || have != out.size()) {
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
