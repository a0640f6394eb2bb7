// SafeWrite: the one way the program writes a file. A regular file (or the target of a symbolic
// link) is replaced through a temporary file in its own folder and a rename, so a failed write
// leaves the old file untouched; a FIFO or a device is written straight into; "-" is standard
// output. Failures name the user's file and the system's reason, never the temporary file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace varimel {

// The file name that stands for standard output.
inline constexpr std::string_view kStandardOutputName = "-";

// The path a write to `path` changes: symbolic links in the last component are followed (a
// relative link from its own folder), also when the final target does not exist yet. Answers
// `path` itself when it is no link; sets `error` for a loop of links.
std::filesystem::path resolveOutputPath(const std::filesystem::path& path, std::error_code& error);

// One output being written. open() chooses how; the caller writes through handle() and then
// calls commit(). Dropped without commit(), the temporary file goes and the target stays.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False, with error() set, when the target cannot be written at all (a directory, a missing
    // folder, no permission).
    bool open(const std::filesystem::path& target);
    std::FILE* handle() const { return file_; }
    // True when the bytes go to a temporary regular file, so a writer may seek back and patch
    // what it wrote; false for standard output, a FIFO or a device.
    bool seekable() const { return !temporary_.empty(); }
    // Flushes, and for a temporary file syncs it and renames it over the target, keeping the
    // target's permissions. False, with error() set, when any byte did not arrive.
    bool commit();
    // Sends what was written so far on its way to the disk without waiting, so that the sync at
    // the end finds little left: for an output of many megabytes written over a long run.
    void startWriteback();
    const std::string& error() const { return error_; }

  private:
    bool fail(const std::string& reason);
    void abandon();

    std::string shownName_;  // the user's name for the file, for messages
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::FILE* file_ = nullptr;
    bool standardOutput_ = false;
    bool newTarget_ = false;  // nothing was there when open() looked
    std::string error_;
};

// While one lives, committing a file that did not exist before skips that file's own sync: a
// batch of thousands of new files syncs them all at its end, which costs one wait instead of
// thousands. A file that replaces another is still synced before the rename, so that a crash
// never trades a good old file for an empty new one.
class DeferredSync {
  public:
    DeferredSync();
    // Syncs what finish() has not.
    ~DeferredSync();
    DeferredSync(const DeferredSync&) = delete;
    DeferredSync& operator=(const DeferredSync&) = delete;

    // Syncs the file systems of the folders new files went into. False, with `error` (when
    // given) naming the folder and the reason, when some data may not have reached the disk.
    bool finish(std::string* error = nullptr);

  private:
    bool finished_ = false;
};

// Writes `content` to `target` through an OutputFile. On failure `error` (when given) reads
// "cannot write <target>: <reason>".
bool writeFileAtomically(const std::filesystem::path& target, std::string_view content,
                         std::string* error = nullptr);

// The outputs of one run against its inputs and each other: answers why two of them are the same
// file (same device and inode, or for an output that does not exist yet, the same resolved path),
// or an empty string when all differ. Check before writing anything. `inputsExist` says the
// inputs were all found on disk (a folder's listing), which spares looking at each of them when
// no output exists yet.
std::string sameFileConflict(const std::vector<std::string>& inputs,
                             const std::vector<std::string>& outputs, bool inputsExist = false);

}  // namespace varimel
