#include "alg/midi/midi_buffer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

namespace varimel {

namespace {

int knownMode(int mode) {
    return mode == MidiFileBuffer::kModeWholeFile || mode == MidiFileBuffer::kModeWrite
               ? mode
               : MidiFileBuffer::kModeWindow;
}

// Read in slices so that a bogus size (a device, a directory handle) never becomes one huge
// allocation: memory follows the bytes that really arrive.
constexpr std::int64_t kReadSlice = 1 << 20;

std::int64_t sizeBySeekingToEnd(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return 0;
    const long end = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    return end > 0 ? static_cast<std::int64_t>(end) : 0;
}

}  // namespace

MidiFileBuffer::MidiFileBuffer(const std::string& fileName, int mode) : mode_(knownMode(mode)) {
    std::error_code ec;
    if (!fileName.empty() && !std::filesystem::is_directory(fileName, ec)) {
        file_ = std::fopen(fileName.c_str(), mode_ == kModeWrite ? "wb" : "rb");
        ownsFile_ = file_ != nullptr;
    }
    openBuffers();
}

MidiFileBuffer::MidiFileBuffer(std::FILE* handle, int mode)
    : file_(handle), mode_(knownMode(mode)) {
    openBuffers();
}

MidiFileBuffer::MidiFileBuffer(std::vector<std::uint8_t> bytes)
    : mode_(kModeWholeFile), owned_(std::move(bytes)) {
    inMemory_ = true;
    fileSize_ = static_cast<std::int64_t>(owned_.size());
    if (owned_.empty()) {
        useWindowBuffer();
        return;
    }
    buffer_ = owned_.data();
    bufferSize_ = fileSize_;
    windowLength_ = fileSize_;
}

MidiFileBuffer::MidiFileBuffer(std::vector<std::uint8_t>* sink) : sink_(sink), mode_(kModeWrite) {
    sink_->clear();
    bufferSize_ = kWindowSize;  // only a sign of being usable: the sink grows as needed
}

MidiFileBuffer::~MidiFileBuffer() {
    closeFile();
}

void MidiFileBuffer::openBuffers() {
    if (mode_ != kModeWrite && file_ != nullptr) {
        const std::int64_t claimed = sizeBySeekingToEnd(file_);
        fileSize_ = claimed;
        if (mode_ == kModeWholeFile && claimed > 0 && readWholeFile(claimed)) return;
    }
    useWindowBuffer();
}

bool MidiFileBuffer::readWholeFile(std::int64_t claimedSize) {
    try {
        std::int64_t have = 0;
        while (have < claimedSize) {
            const std::int64_t want = std::min(kReadSlice, claimedSize - have);
            owned_.resize(static_cast<std::size_t>(have + want));
            const std::size_t got =
                std::fread(owned_.data() + have, 1, static_cast<std::size_t>(want), file_);
            have += static_cast<std::int64_t>(got);
            if (static_cast<std::int64_t>(got) < want) break;
        }
        owned_.resize(static_cast<std::size_t>(have));
    } catch (const std::bad_alloc&) {
        owned_.clear();
        owned_.shrink_to_fit();
        fileSize_ = claimedSize;
        return false;
    }
    // A handle that cannot be read (a directory, a write-only stream) leaves an empty file.
    fileSize_ = static_cast<std::int64_t>(owned_.size());
    if (owned_.empty()) return false;
    buffer_ = owned_.data();
    bufferSize_ = fileSize_;
    windowStart_ = 0;
    windowLength_ = fileSize_;
    return true;
}

void MidiFileBuffer::useWindowBuffer() {
    if (mode_ == kModeWholeFile) mode_ = kModeWindow;  // the file did not fit into memory
    try {
        owned_.assign(static_cast<std::size_t>(kWindowSize), 0);
        buffer_ = owned_.data();
        bufferSize_ = kWindowSize;
    } catch (const std::bad_alloc&) {
        owned_.clear();
        buffer_ = fallback_.data();
        bufferSize_ = kFallbackSize;
    }
    windowStart_ = 0;
    windowLength_ = 0;
}

const std::uint8_t* MidiFileBuffer::fetchElsewhere(std::int64_t pos, std::int64_t n) {
    if (pos < 0 || n < 0 || bufferSize_ <= 0) return nullptr;
    if (n == 0) return buffer_;
    if (n > bufferSize_ || pos > fileSize_ - n) return nullptr;
    if (pos >= windowStart_ && pos + n <= windowStart_ + windowLength_) {
        return buffer_ + (pos - windowStart_);
    }
    if (mode_ == kModeWrite || file_ == nullptr) return nullptr;
    if (std::fseek(file_, static_cast<long>(pos), SEEK_SET) != 0) return nullptr;
    const std::int64_t want = std::min(bufferSize_, fileSize_ - pos);
    const std::size_t got = std::fread(buffer_, 1, static_cast<std::size_t>(want), file_);
    windowStart_ = pos;
    windowLength_ = static_cast<std::int64_t>(got);
    if (n > windowLength_) return nullptr;
    return buffer_;
}

bool MidiFileBuffer::store(const std::uint8_t* bytes, std::int64_t n) {
    if (mode_ != kModeWrite || bufferSize_ <= 0) return false;
    if (sink_ != nullptr) {
        try {
            const auto end = static_cast<std::size_t>(filePosition_ + n);
            if (sink_->size() < end) sink_->resize(end);
        } catch (const std::bad_alloc&) {
            if (!writeFailed_) error("out of memory");
            writeFailed_ = true;
            return false;
        }
        std::memcpy(sink_->data() + filePosition_, bytes, static_cast<std::size_t>(n));
        filePosition_ += n;
        fileSize_ = std::max(fileSize_, filePosition_);
        return !writeFailed_;
    }
    while (n > 0) {
        // The window only ever holds bytes written by us, contiguous from its start, so a write
        // that would leave a hole in it starts a new window instead.
        const bool inside = filePosition_ >= windowStart_ &&
                            filePosition_ <= windowStart_ + windowLength_ &&
                            filePosition_ < windowStart_ + bufferSize_;
        if (!inside) {
            flush();
            windowStart_ = filePosition_;
            windowLength_ = 0;
        }
        const std::int64_t offset = filePosition_ - windowStart_;
        const std::int64_t count = std::min(n, bufferSize_ - offset);
        std::memcpy(buffer_ + offset, bytes, static_cast<std::size_t>(count));
        windowLength_ = std::max(windowLength_, offset + count);
        filePosition_ += count;
        bytes += count;
        n -= count;
        fileSize_ = std::max(fileSize_, filePosition_);
    }
    return !writeFailed_;
}

bool MidiFileBuffer::flush() {
    if (mode_ != kModeWrite || windowLength_ == 0) return !writeFailed_;
    bool ok = file_ != nullptr;
    // stdio buffers too, so a full disk may only show at fflush.
    if (ok) ok = std::fseek(file_, static_cast<long>(windowStart_), SEEK_SET) == 0;
    if (ok) {
        ok = std::fwrite(buffer_, 1, static_cast<std::size_t>(windowLength_), file_) ==
             static_cast<std::size_t>(windowLength_);
    }
    if (ok) ok = std::fflush(file_) == 0;
    windowStart_ += windowLength_;
    windowLength_ = 0;
    if (!ok && !writeFailed_) {
        writeFailed_ = true;
        error("write error (may be disk full)");
    }
    return !writeFailed_;
}

bool MidiFileBuffer::closeFile() {
    if (mode_ == kModeWrite) flush();
    if (file_ != nullptr && ownsFile_) {
        const bool closed = std::fclose(file_) == 0;
        if (!closed && mode_ == kModeWrite && !writeFailed_) {
            writeFailed_ = true;
            error("write error (may be disk full)");
        }
    }
    file_ = nullptr;
    ownsFile_ = false;
    return !writeFailed_;
}

void MidiFileBuffer::error(const char* text) {
    setMessage("error", text);
}

void MidiFileBuffer::warning(const char* text) {
    setMessage("warning", text);
}

void MidiFileBuffer::setMessage(const char* prefix, const char* text) {
    std::snprintf(message_.data(), message_.size(), "%s: %s\n", prefix, text);
}

}  // namespace varimel
