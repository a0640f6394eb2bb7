// MidiFileBuffer: the file under a MIDI reader or writer, a byte window over it, and the text of
// the last error or warning.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace varimel {

// Where an event too long for the buffer lies in the file; the receiver reads it from there.
struct FileRegion {
    std::FILE* file = nullptr;
    std::int64_t position = 0;
    std::int64_t length = 0;
};

class MidiFileBuffer {
  public:
    static constexpr int kModeWindow = 0;
    static constexpr int kModeWholeFile = 1;
    static constexpr int kModeWrite = 2;
    static constexpr std::int64_t kWindowSize = 64 * 1024;
    static constexpr std::int64_t kFallbackSize = 16;

    // Opens the file with "rb" (modes 0, 1) or "wb" (mode 2); a directory is never opened.
    MidiFileBuffer(const std::string& fileName, int mode);
    // Works on a handle the caller opened; it is left open.
    MidiFileBuffer(std::FILE* handle, int mode);
    // Reads bytes the caller already holds, as the whole file.
    explicit MidiFileBuffer(std::vector<std::uint8_t> bytes);
    // Writes into `sink` (emptied first) instead of a file, patches included.
    explicit MidiFileBuffer(std::vector<std::uint8_t>* sink);
    virtual ~MidiFileBuffer();
    MidiFileBuffer(const MidiFileBuffer&) = delete;
    MidiFileBuffer& operator=(const MidiFileBuffer&) = delete;

    virtual void error(const char* text);
    virtual void warning(const char* text);

    bool isOpen() const { return file_ != nullptr || inMemory_ || sink_ != nullptr; }
    // Read modes: the bytes that could be read. Write mode: the highest offset written.
    std::int64_t fileSize() const { return fileSize_; }
    const char* messageText() const { return message_.data(); }
    int mode() const { return mode_; }
    std::int64_t bufferSize() const { return bufferSize_; }
    bool bufferOwned() const { return !owned_.empty(); }

  protected:
    // The bytes [pos, pos + n) of the file, moving the window when needed; nullptr when they cannot
    // be had (beyond the file, larger than the buffer, nothing open). Reports nothing.
    // Inline for the bytes at hand, which is almost every read of a MIDI file.
    const std::uint8_t* fetch(std::int64_t pos, std::int64_t n) {
        if (n > 0 && pos >= windowStart_ && pos + n <= windowStart_ + windowLength_) {
            return buffer_ + (pos - windowStart_);
        }
        return fetchElsewhere(pos, n);
    }

    // Write side: puts n bytes at filePosition_ and advances it. False once the file cannot be
    // written.
    bool store(const std::uint8_t* bytes, std::int64_t n);
    // Writes the collected bytes out; reports a short write through error().
    bool flush();
    // Flushes (write mode) and closes an owned file. Returns false when any write failed.
    bool closeFile();
    bool writeFailed() const { return writeFailed_; }

    std::FILE* file() const { return file_; }

    std::int64_t filePosition_ = 0;  // offset of the next byte to read or write
    std::int64_t eventStart_ = 0;    // offset at which the current event began

  private:
    const std::uint8_t* fetchElsewhere(std::int64_t pos, std::int64_t n);
    void openBuffers();
    bool readWholeFile(std::int64_t claimedSize);
    void useWindowBuffer();
    void setMessage(const char* prefix, const char* text);

    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;
    bool inMemory_ = false;
    std::vector<std::uint8_t>* sink_ = nullptr;
    int mode_ = kModeWindow;

    std::vector<std::uint8_t> owned_;
    std::array<std::uint8_t, kFallbackSize> fallback_{};
    std::uint8_t* buffer_ = nullptr;  // owned_.data() or fallback_.data()
    std::int64_t bufferSize_ = 0;

    std::int64_t windowStart_ = 0;
    std::int64_t windowLength_ = 0;
    std::int64_t fileSize_ = 0;
    bool writeFailed_ = false;

    std::array<char, 256> message_{};
};

}  // namespace varimel
