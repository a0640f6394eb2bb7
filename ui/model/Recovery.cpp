#include "ui/model/Recovery.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "engine/ByteIO.h"
#include "engine/SafeWrite.h"
#include "engine/Status.h"
#include "engine/Wchordmaster.h"

namespace varimel::model {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kProjectExtension = ".vml";
constexpr std::string_view kInfoExtension = ".info";
constexpr std::string_view kLockExtension = ".lock";
constexpr std::string_view kDocumentField = "document=";
constexpr std::string_view kSavedField = "saved=";
constexpr std::string_view kPidField = "pid=";
constexpr std::string_view kInfoHeader = "varimel recovery 1";
constexpr std::size_t kMaxInfoSize = 1 << 16;

std::int64_t currentPid() {
    return static_cast<std::int64_t>(::getpid());
}

bool processAlive(std::int64_t pid) {
    if (pid <= 0) return false;
    // EPERM: the process exists but belongs to someone else.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::string readText(const fs::path& path) {
    std::vector<std::uint8_t> bytes;
    if (!readWholeFile(path.string(), kMaxInfoSize, bytes)) return {};
    return std::string(bytes.begin(), bytes.end());
}

// The owner's id written into its lock file, for the check where locks are not supported.
void recordOwner(int fd) {
    const std::string pid = std::to_string(currentPid()) + "\n";
    if (::ftruncate(fd, 0) != 0) return;
    if (::pwrite(fd, pid.data(), pid.size(), 0) < 0) return;
}

// Opens and locks `path`: the descriptor, or -1 when a living window holds it (or it cannot be
// opened at all).
int takeLock(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        recordOwner(fd);
        return fd;
    }
    const int reason = errno;
    if (reason == EWOULDBLOCK) {
        ::close(fd);
        return -1;
    }
    // No advisory locks here (some network file systems): the recorded owner must be gone.
    const std::string text = readText(path);
    const std::int64_t owner = std::strtoll(text.c_str(), nullptr, 10);
    if (owner == currentPid() || processAlive(owner)) {
        ::close(fd);
        return -1;
    }
    recordOwner(fd);
    return fd;
}

std::string newStem() {
    static std::atomic<int> counter{0};
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    return "copy-" + std::to_string(currentPid()) + "-" + std::to_string(now) + "-" +
           std::to_string(counter++);
}

std::int64_t modificationSeconds(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return 0;
    return static_cast<std::int64_t>(status.st_mtime);
}

}  // namespace

fs::path recoveryFolder(const char* xdgDataHome, const char* home) {
    fs::path base;
    if (xdgDataHome != nullptr && *xdgDataHome != '\0' && fs::path(xdgDataHome).is_absolute())
        base = xdgDataHome;
    else if (home != nullptr && *home != '\0')
        base = fs::path(home) / ".local" / "share";
    else
        return {};
    return base / "varimel" / "recovery";
}

fs::path recoveryFolder() {
    return recoveryFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

std::string encodeRecoveryInfo(const RecoveryInfo& info) {
    std::string text(kInfoHeader);
    text += "\n";
    text += std::string(kDocumentField) + info.document + "\n";
    text += std::string(kSavedField) + std::to_string(info.savedAt) + "\n";
    text += std::string(kPidField) + std::to_string(info.ownerPid) + "\n";
    return text;
}

bool decodeRecoveryInfo(std::string_view text, RecoveryInfo& info) {
    std::istringstream lines{std::string(text)};
    std::string line;
    if (!std::getline(lines, line) || line != kInfoHeader) return false;
    RecoveryInfo read;
    bool saved = false;
    while (std::getline(lines, line)) {
        if (line.starts_with(kDocumentField)) {
            read.document = line.substr(kDocumentField.size());
        } else if (line.starts_with(kSavedField)) {
            char* end = nullptr;
            const std::string value = line.substr(kSavedField.size());
            read.savedAt = std::strtoll(value.c_str(), &end, 10);
            saved = end != value.c_str() && *end == '\0';
        } else if (line.starts_with(kPidField)) {
            read.ownerPid = std::strtoll(line.c_str() + kPidField.size(), nullptr, 10);
        }
    }
    if (!saved) return false;
    info = read;
    return true;
}

RecoveryCopy::RecoveryCopy(fs::path folder, std::string stem, int lockFd)
    : folder_(std::move(folder)), stem_(std::move(stem)), lockFd_(lockFd) {}

RecoveryCopy::~RecoveryCopy() {
    if (lockFd_ >= 0) ::close(lockFd_);
}

fs::path RecoveryCopy::projectPath() const {
    return folder_ / (stem_ + std::string(kProjectExtension));
}
fs::path RecoveryCopy::infoPath() const {
    return folder_ / (stem_ + std::string(kInfoExtension));
}
fs::path RecoveryCopy::lockPath() const {
    return folder_ / (stem_ + std::string(kLockExtension));
}

RecoveryInfo RecoveryCopy::info() const {
    const std::lock_guard lock(mutex_);
    return info_;
}

std::unique_ptr<RecoveryCopy> RecoveryCopy::create(const fs::path& folder, std::string& error) {
    if (folder.empty()) {
        error = "no folder for recovery copies (HOME is not set)";
        return nullptr;
    }
    std::error_code made;
    fs::create_directories(folder, made);
    if (made) {
        error = "cannot create " + folder.string() + ": " + made.message();
        return nullptr;
    }
    const std::string stem = newStem();
    const int fd = takeLock(folder / (stem + std::string(kLockExtension)));
    if (fd < 0) {
        error = "cannot lock a recovery copy in " + folder.string();
        return nullptr;
    }
    return std::unique_ptr<RecoveryCopy>(new RecoveryCopy(folder, stem, fd));
}

std::vector<std::unique_ptr<RecoveryCopy>> RecoveryCopy::claimOrphans(const fs::path& folder) {
    std::vector<std::unique_ptr<RecoveryCopy>> copies;
    std::error_code error;
    if (folder.empty() || !fs::is_directory(folder, error)) return copies;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const fs::path& path = entry.path();
        std::error_code kind;
        if (!entry.is_regular_file(kind)) continue;
        const std::string stem = path.stem().string();
        if (path.extension() == kLockExtension) {
            // A window that died before its first copy leaves only its lock.
            const fs::path project = folder / (stem + std::string(kProjectExtension));
            if (fs::exists(project, kind)) continue;
            const int fd = takeLock(path);
            if (fd < 0) continue;
            if (!fs::exists(project, kind)) fs::remove(path, kind);
            ::close(fd);
            continue;
        }
        if (path.extension() != kProjectExtension) continue;
        const int fd = takeLock(folder / (stem + std::string(kLockExtension)));
        if (fd < 0) continue;
        auto copy = std::unique_ptr<RecoveryCopy>(new RecoveryCopy(folder, stem, fd));
        // Its window may have removed it between the listing and the lock.
        if (!fs::exists(copy->projectPath(), kind)) {
            std::error_code ignored;
            fs::remove(copy->lockPath(), ignored);
            continue;
        }
        RecoveryInfo info;
        if (!decodeRecoveryInfo(readText(copy->infoPath()), info))
            info.savedAt = modificationSeconds(copy->projectPath());
        copy->info_ = info;
        copies.push_back(std::move(copy));
    }
    std::sort(copies.begin(), copies.end(), [](const auto& a, const auto& b) {
        return a->info_.savedAt != b->info_.savedAt ? a->info_.savedAt < b->info_.savedAt
                                                    : a->stem_ < b->stem_;
    });
    return copies;
}

bool RecoveryCopy::write(std::string_view project, const RecoveryInfo& info, std::string& error) {
    const std::lock_guard lock(mutex_);
    if (removed_) return true;
    if (!writeFileAtomically(projectPath(), project, &error)) return false;
    RecoveryInfo recorded = info;
    recorded.ownerPid = currentPid();
    if (!writeFileAtomically(infoPath(), encodeRecoveryInfo(recorded), &error)) return false;
    info_ = recorded;
    return true;
}

void RecoveryCopy::remove() {
    const std::lock_guard lock(mutex_);
    if (removed_) return;
    removed_ = true;
    std::error_code ignored;
    fs::remove(projectPath(), ignored);
    fs::remove(infoPath(), ignored);
    // The lock goes last: until then no other window takes the half-removed copy.
    fs::remove(lockPath(), ignored);
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
}

bool RecoveryCopy::putAside(fs::path& where, std::string& error) {
    const std::lock_guard lock(mutex_);
    const fs::path aside = folder_ / kAsideFolder;
    std::error_code failed;
    fs::create_directories(aside, failed);
    if (!failed) fs::rename(projectPath(), aside / projectPath().filename(), failed);
    if (failed) {
        error = "cannot move " + projectPath().string() + " to " + aside.string() + ": " +
                failed.message();
        return false;
    }
    where = aside / projectPath().filename();
    std::error_code ignored;
    if (fs::exists(infoPath(), ignored))
        fs::rename(infoPath(), aside / infoPath().filename(), ignored);
    removed_ = true;
    fs::remove(lockPath(), ignored);
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
    return true;
}

bool recoveryCopyReadable(const fs::path& project) {
    ChordMaster master(project.string());
    HarmonyOptions scratch = defaultOptions;
    return master.loadProject(scratch) == status::kOk;
}

std::string recoveryQuestion(const RecoveryInfo& info) {
    const std::string name = info.document.empty() ? std::string("an unnamed document")
                                                   : fs::path(info.document).filename().string();
    char when[64] = "an unknown time";
    const std::time_t saved = static_cast<std::time_t>(info.savedAt);
    std::tm local{};
    if (info.savedAt > 0 && ::localtime_r(&saved, &local) != nullptr)
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &local);
    return "Varimel did not close properly. Restore your unsaved work on " + name + " from " +
           when + "?";
}

std::string unreadableCopyText(const fs::path& keptAt) {
    return "A recovery copy of unsaved work cannot be read (it is damaged or from another "
           "version).\n\rIt was kept as " +
           keptAt.string();
}

}  // namespace varimel::model
