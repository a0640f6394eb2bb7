// Recovery: the copies of unsaved documents that the window keeps in the user's data folder, so
// that a crash costs nothing since the last autosave — where they live, how each is named, locked
// by its window, listed at start, described to the user and put aside when it cannot be read.
//
//   auto copy = RecoveryCopy::create(recoveryFolder(), error);   // one per open document
//   copy->write(ProjectWriter::encode(...), {document, now}, error);
//   copy->remove();                                              // Save, Close, Exit
//   for (auto& orphan : RecoveryCopy::claimOrphans(folder)) ...  // at start
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace varimel::model {

// $XDG_DATA_HOME/varimel/recovery, or ~/.local/share/varimel/recovery when XDG_DATA_HOME is unset,
// empty or relative (as the XDG base directory rules say). Empty without either.
std::filesystem::path recoveryFolder(const char* xdgDataHome, const char* home);
std::filesystem::path recoveryFolder();  // from the environment

// What a copy records beside the project: the file it belongs to (the melody or project the
// document came from) and when it was written (seconds since the epoch).
struct RecoveryInfo {
    std::string document;
    std::int64_t savedAt = 0;
    std::int64_t ownerPid = 0;
    friend bool operator==(const RecoveryInfo&, const RecoveryInfo&) = default;
};
std::string encodeRecoveryInfo(const RecoveryInfo& info);
// False when the text is not such a record (a damaged or foreign file).
bool decodeRecoveryInfo(std::string_view text, RecoveryInfo& info);

// One recovery copy: "<stem>.vml" (an ordinary project), "<stem>.info" and "<stem>.lock". The
// lock file is held with an exclusive advisory lock for as long as its window lives, so the
// system frees it when the window dies, however it dies; its text is the owner's process id,
// checked for life where the file system has no such locks.
class RecoveryCopy {
  public:
    // The folder below the recovery folder where unreadable copies are kept.
    static constexpr std::string_view kAsideFolder = "unreadable";

    // A new copy for this process, locked at once; its files appear with the first write.
    // Null, with `error` set, when the folder or the lock cannot be made.
    static std::unique_ptr<RecoveryCopy> create(const std::filesystem::path& folder,
                                                std::string& error);
    // The copies in `folder` that no living window holds, each now locked for the caller, the
    // oldest first. Copies of other running windows (and this one's own) are left alone.
    static std::vector<std::unique_ptr<RecoveryCopy>> claimOrphans(
        const std::filesystem::path& folder);

    // Releases the lock; the files stay (for the next start, when they were not removed).
    ~RecoveryCopy();
    RecoveryCopy(const RecoveryCopy&) = delete;
    RecoveryCopy& operator=(const RecoveryCopy&) = delete;

    std::filesystem::path projectPath() const;
    std::filesystem::path infoPath() const;
    std::filesystem::path lockPath() const;
    RecoveryInfo info() const;

    // Writes the project's bytes, then the record, each through the safe-write routine. May run
    // on a helper thread; after remove() it writes nothing and answers true.
    bool write(std::string_view project, const RecoveryInfo& info, std::string& error);
    // Deletes the files and the lock; waits for a write under way.
    void remove();
    // Moves the project and its record into the aside folder, where nothing deletes them, and
    // drops the lock. `where` is the project's new path.
    bool putAside(std::filesystem::path& where, std::string& error);

  private:
    RecoveryCopy(std::filesystem::path folder, std::string stem, int lockFd);

    mutable std::mutex mutex_;
    std::filesystem::path folder_;
    std::string stem_;
    int lockFd_ = -1;
    bool removed_ = false;
    RecoveryInfo info_;
};

// True when the copy opens as a project (complete, of a version this program reads).
bool recoveryCopyReadable(const std::filesystem::path& project);

// "Varimel did not close properly. Restore your unsaved work on NAME from TIME?"; NAME is the
// document's file name without its folder, TIME the local date and time of the copy.
std::string recoveryQuestion(const RecoveryInfo& info);
// The damaged copy's report: where it now lies, and that the window goes on.
std::string unreadableCopyText(const std::filesystem::path& keptAt);
// The buttons of the question, in order: restore, discard, keep for later.
inline constexpr std::string_view kRestoreButton = "Restore";
inline constexpr std::string_view kDiscardButton = "Discard";
inline constexpr std::string_view kLaterButton = "Later";
enum class RecoveryAnswer { Restore = 0, Discard = 1, Later = 2 };

}  // namespace varimel::model
