#include "engine/SafeWrite.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <system_error>
#include <unordered_map>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <unistd.h>
#define VARIMEL_HAVE_FSYNC 1
#endif

namespace varimel {

namespace fs = std::filesystem;

namespace {

// As many links as the system follows before it gives up (Linux's limit).
constexpr int kMaxLinkHops = 40;

std::string reasonOf(int code) {
    return std::generic_category().message(code);
}

std::string shownName(const fs::path& path) {
    return path == kStandardOutputName ? "standard output" : path.string();
}

fs::path temporaryNameBeside(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    const auto seed = static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ (counter++ * 0x9E3779B9u));
    std::minstd_rand random(seed);
    std::ostringstream name;
    name << '.' << target.filename().string() << ".tmp-" << std::hex << random();
    const fs::path folder = target.parent_path();
    return folder.empty() ? fs::path(name.str()) : folder / name.str();
}

// The folders whose new files wait for a DeferredSync to sync them.
struct Deferral {
    std::mutex mutex;
    int active = 0;
    std::set<fs::path> folders;
};

Deferral& deferral() {
    static Deferral shared;
    return shared;
}

// True when the sync of a new file in `folder` is left to the living DeferredSync.
bool deferSyncOf(const fs::path& folder) {
    Deferral& d = deferral();
    std::lock_guard lock(d.mutex);
    if (d.active == 0) return false;
    d.folders.insert(folder.empty() ? fs::path(".") : folder);
    return true;
}

}  // namespace

DeferredSync::DeferredSync() {
    Deferral& d = deferral();
    std::lock_guard lock(d.mutex);
    ++d.active;
}

DeferredSync::~DeferredSync() {
    finish();
}

bool DeferredSync::finish(std::string* error) {
    if (finished_) return true;
    finished_ = true;
    std::set<fs::path> folders;
    {
        Deferral& d = deferral();
        std::lock_guard lock(d.mutex);
        --d.active;
        // Every deferral that ends syncs all the folders so far; the last one lets them go.
        folders = d.folders;
        if (d.active == 0) d.folders.clear();
    }
    bool ok = true;
#ifdef VARIMEL_HAVE_FSYNC
    for (const fs::path& folder : folders) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int code = fd < 0 ? errno : 0;
#ifdef __linux__
        if (fd >= 0 && ::syncfs(fd) != 0) code = errno;
#else
        ::sync();
        if (fd >= 0 && ::fsync(fd) != 0) code = errno;
#endif
        if (fd >= 0) ::close(fd);
        if (code != 0 && ok) {
            ok = false;
            if (error != nullptr) *error = "cannot sync " + folder.string() + ": " + reasonOf(code);
        }
    }
#endif
    return ok;
}

fs::path resolveOutputPath(const fs::path& path, std::error_code& error) {
    error.clear();
    fs::path current = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        std::error_code statusError;
        const fs::file_status status = fs::symlink_status(current, statusError);
        if (statusError || !fs::is_symlink(status)) return current;
        const fs::path target = fs::read_symlink(current, statusError);
        if (statusError) return current;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return path;
}

OutputFile::~OutputFile() {
    abandon();
}

bool OutputFile::fail(const std::string& reason) {
    error_ = "cannot write " + shownName_ + ": " + reason;
    abandon();
    return false;
}

void OutputFile::abandon() {
    if (file_ != nullptr && !standardOutput_) std::fclose(file_);
    file_ = nullptr;
    if (!temporary_.empty()) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
        temporary_.clear();
    }
}

bool OutputFile::open(const fs::path& target) {
    abandon();
    error_.clear();
    shownName_ = shownName(target);
    standardOutput_ = target == kStandardOutputName;
    if (standardOutput_) {
        file_ = stdout;
        return true;
    }
    if (target.empty()) return fail("no file name");

    std::error_code ec;
    target_ = resolveOutputPath(target, ec);
    if (ec) return fail(ec.message());
    const fs::file_status status = fs::status(target_, ec);
    newTarget_ = !fs::exists(status);
    if (fs::is_directory(status)) return fail(reasonOf(EISDIR));
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        // A FIFO or a device: renaming over it would destroy it, so the bytes go straight in.
        file_ = std::fopen(target_.string().c_str(), "wb");
        return file_ != nullptr || fail(reasonOf(errno));
    }
    for (int attempt = 0; attempt < 16 && file_ == nullptr; ++attempt) {
        temporary_ = temporaryNameBeside(target_);
        file_ = std::fopen(temporary_.string().c_str(), "wbx");  // never reuse a stranger's file
        if (file_ == nullptr && errno != EEXIST) break;
    }
    if (file_ == nullptr) {
        const int code = errno;
        temporary_.clear();
        return fail(reasonOf(code));
    }
    return true;
}

bool OutputFile::commit() {
    if (file_ == nullptr) return false;
    errno = 0;
    bool written = std::ferror(file_) == 0 && std::fflush(file_) == 0;
    int code = errno;
#ifdef VARIMEL_HAVE_FSYNC
    // The rename must not reach the disk before the data it points to, unless there was nothing
    // before it and a DeferredSync syncs the folder later.
    if (written && seekable() && !(newTarget_ && deferSyncOf(target_.parent_path())) &&
        ::fsync(::fileno(file_)) != 0) {
        written = false;
        code = errno;
    }
#endif
    if (!standardOutput_) {
        if (std::fclose(file_) != 0 && written) {
            written = false;
            code = errno;
        }
    }
    file_ = nullptr;
    if (!written) return fail(code != 0 ? reasonOf(code) : "write error");
    if (!seekable()) return true;

    std::error_code ec;
    const fs::file_status existing = fs::status(target_, ec);
    if (!ec && fs::exists(existing)) fs::permissions(temporary_, existing.permissions(), ec);
    fs::rename(temporary_, target_, ec);
    if (ec) return fail(ec.message());
    temporary_.clear();
    return true;
}

void OutputFile::startWriteback() {
    if (file_ == nullptr || !seekable() || std::fflush(file_) != 0) return;
#ifdef __linux__
    // Errors show in commit()'s sync; this only starts the writing early.
    ::sync_file_range(::fileno(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

bool writeFileAtomically(const fs::path& target, std::string_view content, std::string* error) {
    OutputFile output;
    bool ok = output.open(target);
    if (ok && !content.empty()) {
        ok = std::fwrite(content.data(), 1, content.size(), output.handle()) == content.size();
    }
    // A short write shows in commit(), which names the reason and drops the temporary file.
    ok = output.commit() && ok;
    if (!ok && error != nullptr) *error = output.error();
    return ok;
}

namespace {

// Where a file is or would be: the resolved path with its folder made canonical.
fs::path placeOf(const std::string& name) {
    std::error_code ec;
    const fs::path resolved = fs::absolute(resolveOutputPath(name, ec), ec);
    const fs::path place = fs::weakly_canonical(resolved, ec);
    return ec ? resolved.lexically_normal() : place;
}

// Names each file once: an existing file by its device and inode, so that links and other
// spellings of it meet; one that does not exist yet by its place. Folders are made canonical
// once each, since a batch puts thousands of names into a few of them.
class FileIdentities {
  public:
    std::string of(const std::string& name) {
        if (name == kStandardOutputName) return "-";
        struct stat info {};
        if (::stat(name.c_str(), &info) == 0) {
            return "i" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
        }
        return "p" + placeOfMissing(name).string();
    }

  private:
    fs::path placeOfMissing(const std::string& name) {
        std::error_code ec;
        const fs::path resolved = fs::absolute(resolveOutputPath(name, ec), ec);
        const fs::path leaf = resolved.filename();
        if (ec || leaf.empty() || leaf == "." || leaf == "..") return placeOf(name);
        const fs::path folder = resolved.parent_path();
        auto known = folders_.find(folder.string());
        if (known == folders_.end()) {
            std::error_code canonicalError;
            fs::path canonical = fs::canonical(folder, canonicalError);
            if (canonicalError) canonical.clear();  // a missing folder: the slow way below
            known = folders_.emplace(folder.string(), std::move(canonical)).first;
        }
        return known->second.empty() ? placeOf(name) : known->second / leaf;
    }

    std::unordered_map<std::string, fs::path> folders_;
};

}  // namespace

std::string sameFileConflict(const std::vector<std::string>& inputs,
                             const std::vector<std::string>& outputs, bool inputsExist) {
    // Each name is resolved once, then looked up: a batch of thousands stays linear.
    FileIdentities identities;
    std::vector<std::string> outputIdentities;
    outputIdentities.reserve(outputs.size());
    bool anOutputExists = false;
    for (const std::string& output : outputs) {
        outputIdentities.push_back(identities.of(output));
        anOutputExists = anOutputExists || outputIdentities.back().front() == 'i';
    }
    // An output that does not exist yet cannot be an input that does: then the inputs need not
    // be looked at one by one.
    std::unordered_map<std::string, size_t> inputAt;
    for (size_t i = 0; i < inputs.size() && (anOutputExists || !inputsExist); ++i) {
        if (inputs[i] != kStandardOutputName) inputAt.emplace(identities.of(inputs[i]), i);
    }
    std::unordered_map<std::string, size_t> outputAt;
    for (size_t i = 0; i < outputs.size(); ++i) {
        const std::string& identity = outputIdentities[i];
        if (const auto input = inputAt.find(identity); input != inputAt.end()) {
            return "the output " + outputs[i] + " is the input " + inputs[input->second];
        }
        const auto [earlier, added] = outputAt.emplace(identity, i);
        if (!added) {
            return "the outputs " + outputs[earlier->second] + " and " + outputs[i] +
                   " are the same file";
        }
    }
    return {};
}

}  // namespace varimel
