// Little-endian readers and writers for the program's own binary files (project, style and
// arrangement files). Reads never pass the end: a short read answers false and reads nothing.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace varimel {

class ByteReader {
  public:
    explicit ByteReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    size_t position() const { return position_; }
    size_t remaining() const { return bytes_.size() - position_; }
    bool atEnd() const { return position_ >= bytes_.size(); }
    // True when `count` records of `size` bytes fit into what is left (no overflow).
    bool fits(int64_t count, size_t size) const {
        return count >= 0 && static_cast<uint64_t>(count) <= remaining() / (size ? size : 1);
    }

    bool u8(uint8_t& out) { return take(1) && (out = bytes_[position_ - 1], true); }
    bool u16(uint16_t& out) {
        if (!take(2)) return false;
        out = static_cast<uint16_t>(bytes_[position_ - 2] | bytes_[position_ - 1] << 8);
        return true;
    }
    bool i16(int16_t& out) {
        uint16_t raw = 0;
        if (!u16(raw)) return false;
        out = static_cast<int16_t>(raw);
        return true;
    }
    bool u32(uint32_t& out) {
        if (!take(4)) return false;
        const uint8_t* p = &bytes_[position_ - 4];
        out = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        return true;
    }
    bool i32(int32_t& out) {
        uint32_t raw = 0;
        if (!u32(raw)) return false;
        out = static_cast<int32_t>(raw);
        return true;
    }
    bool f32(float& out) {
        uint32_t raw = 0;
        if (!u32(raw)) return false;
        std::memcpy(&out, &raw, sizeof out);
        return true;
    }
    bool bytes(uint8_t* out, size_t count) {
        if (!take(count)) return false;
        std::memcpy(out, &bytes_[position_ - count], count);
        return true;
    }
    bool skip(size_t count) { return take(count); }

  private:
    bool take(size_t count) {
        if (count > remaining()) return false;
        position_ += count;
        return true;
    }

    const std::vector<uint8_t>& bytes_;
    size_t position_ = 0;
};

class ByteWriter {
  public:
    void u8(uint8_t value) { bytes_.push_back(value); }
    void u16(uint16_t value) {
        bytes_.push_back(static_cast<uint8_t>(value));
        bytes_.push_back(static_cast<uint8_t>(value >> 8));
    }
    void i16(int16_t value) { u16(static_cast<uint16_t>(value)); }
    void u32(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            bytes_.push_back(static_cast<uint8_t>(value >> shift));
    }
    void i32(int32_t value) { u32(static_cast<uint32_t>(value)); }
    void f32(float value) {
        uint32_t raw = 0;
        std::memcpy(&raw, &value, sizeof raw);
        u32(raw);
    }
    void zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    void text(const std::string& value) { bytes_.insert(bytes_.end(), value.begin(), value.end()); }
    void raw(const uint8_t* data, size_t count) { bytes_.insert(bytes_.end(), data, data + count); }

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    std::vector<uint8_t>& bytes() { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

// Reads a whole file, refusing anything that is not a regular file or is larger than `limit`.
bool readWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& out);
// Writes a file as SafeWrite does (a temporary file renamed over a regular file, straight into a
// FIFO or device, "-" to standard output), so a failed save leaves the previous file as it was.
// On failure `error` reads "cannot write <path>: <reason>".
bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& error);

}  // namespace varimel
