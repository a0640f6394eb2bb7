#include "leadsheet/Zip.h"

#include <algorithm>
#include <array>

#include "leadsheet/Xml.h"

namespace varimel {

namespace {

// --- Inflate (RFC 1951) -----------------------------------------------------------------------

class BitReader {
  public:
    BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    // -1 past the end.
    int bits(int count) {
        int value = 0;
        for (int i = 0; i < count; ++i) {
            if (byte_ >= size_) return -1;
            value |= ((data_[byte_] >> bit_) & 1) << i;
            if (++bit_ == 8) bit_ = 0, ++byte_;
        }
        return value;
    }
    void alignToByte() {
        if (bit_ != 0) bit_ = 0, ++byte_;
    }
    bool copyBytes(size_t count, std::string& out) {
        if (count > size_ - byte_) return false;
        out.append(reinterpret_cast<const char*>(data_ + byte_), count);
        byte_ += count;
        return true;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t byte_ = 0;
    int bit_ = 0;
};

// A canonical Huffman code: the count of codes of each length and the symbols in code order.
struct Huffman {
    std::array<int, 16> counts{};
    std::vector<int> symbols;

    bool build(const int* lengths, int n) {
        counts.fill(0);
        for (int i = 0; i < n; ++i) ++counts[static_cast<size_t>(lengths[i])];
        counts[0] = 0;
        int left = 1;
        for (int len = 1; len < 16; ++len) {
            left = left * 2 - counts[static_cast<size_t>(len)];
            if (left < 0) return false;  // over-subscribed
        }
        std::array<int, 16> offsets{};
        for (int len = 1; len < 15; ++len)
            offsets[static_cast<size_t>(len + 1)] =
                offsets[static_cast<size_t>(len)] + counts[static_cast<size_t>(len)];
        symbols.assign(static_cast<size_t>(n), 0);
        for (int i = 0; i < n; ++i)
            if (lengths[i] != 0)
                symbols[static_cast<size_t>(offsets[static_cast<size_t>(lengths[i])]++)] = i;
        return true;
    }

    int decode(BitReader& in) const {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len < 16; ++len) {
            const int bit = in.bits(1);
            if (bit < 0) return -1;
            code |= bit;
            const int count = counts[static_cast<size_t>(len)];
            if (code - count < first) return symbols[static_cast<size_t>(index + (code - first))];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }
};

constexpr std::array<int, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                             15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                             67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<int, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<int, 30> kDistanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<int, 30> kDistanceExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool inflateBlock(BitReader& in, const Huffman& lengths, const Huffman& distances, size_t limit,
                  std::string& out) {
    while (true) {
        const int symbol = lengths.decode(in);
        if (symbol < 0) return false;
        if (symbol < 256) {
            if (out.size() >= limit) return false;
            out += static_cast<char>(symbol);
            continue;
        }
        if (symbol == 256) return true;
        const int lengthIndex = symbol - 257;
        if (lengthIndex >= 29) return false;
        const int extra = in.bits(kLengthExtra[static_cast<size_t>(lengthIndex)]);
        const int distanceSymbol = distances.decode(in);
        if (extra < 0 || distanceSymbol < 0 || distanceSymbol >= 30) return false;
        const int distanceExtra = in.bits(kDistanceExtra[static_cast<size_t>(distanceSymbol)]);
        if (distanceExtra < 0) return false;
        const size_t length =
            static_cast<size_t>(kLengthBase[static_cast<size_t>(lengthIndex)] + extra);
        const size_t distance =
            static_cast<size_t>(kDistanceBase[static_cast<size_t>(distanceSymbol)] + distanceExtra);
        if (distance > out.size() || length > limit - out.size()) return false;
        for (size_t i = 0; i < length; ++i) out += out[out.size() - distance];
    }
}

bool dynamicTables(BitReader& in, Huffman& lengths, Huffman& distances) {
    const int literalCount = in.bits(5) + 257;
    const int distanceCount = in.bits(5) + 1;
    const int codeCount = in.bits(4) + 4;
    if (literalCount > 286 || distanceCount > 30 || codeCount < 4) return false;
    static constexpr std::array<int, 19> kOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                   11, 4,  12, 3, 13, 2, 14, 1, 15};
    std::array<int, 19> codeLengths{};
    for (int i = 0; i < codeCount; ++i) {
        const int value = in.bits(3);
        if (value < 0) return false;
        codeLengths[static_cast<size_t>(kOrder[static_cast<size_t>(i)])] = value;
    }
    Huffman codes;
    if (!codes.build(codeLengths.data(), 19)) return false;
    std::array<int, 316> all{};
    int index = 0;
    while (index < literalCount + distanceCount) {
        const int symbol = codes.decode(in);
        if (symbol < 0) return false;
        if (symbol < 16) {
            all[static_cast<size_t>(index++)] = symbol;
            continue;
        }
        int repeat = 0, value = 0;
        if (symbol == 16) {
            if (index == 0) return false;
            value = all[static_cast<size_t>(index - 1)];
            repeat = 3 + in.bits(2);
        } else if (symbol == 17) {
            repeat = 3 + in.bits(3);
        } else {
            repeat = 11 + in.bits(7);
        }
        if (repeat < 3 || index + repeat > literalCount + distanceCount) return false;
        while (repeat--) all[static_cast<size_t>(index++)] = value;
    }
    return lengths.build(all.data(), literalCount) &&
           distances.build(all.data() + literalCount, distanceCount);
}

// --- Zip directory ----------------------------------------------------------------------------

uint32_t read16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8);
}
uint32_t read32(const std::vector<uint8_t>& b, size_t at) {
    return read16(b, at) | read16(b, at + 2) << 16;
}

struct Entry {
    std::string name;
    uint32_t method;
    uint32_t compressedSize;
    uint32_t size;
    uint32_t localHeader;
};

bool directory(const std::vector<uint8_t>& zip, std::vector<Entry>& entries, std::string& problem) {
    entries.clear();
    problem = "not a readable zip archive";
    if (zip.size() < 22) return false;
    // The end record lies within the last 64 KB + 22 bytes (its comment is at most 64 KB).
    size_t end = zip.size() - 22;
    const size_t lowest = zip.size() > 65557 ? zip.size() - 65557 : 0;
    while (read32(zip, end) != 0x06054b50) {
        if (end == lowest) return false;
        --end;
    }
    const uint32_t count = read16(zip, end + 10);
    size_t at = read32(zip, end + 16);
    for (uint32_t i = 0; i < count; ++i) {
        if (at + 46 > zip.size() || read32(zip, at) != 0x02014b50) return false;
        const uint32_t nameLength = read16(zip, at + 28);
        const uint32_t extraLength = read16(zip, at + 30);
        const uint32_t commentLength = read16(zip, at + 32);
        if (at + 46 + nameLength > zip.size()) return false;
        Entry entry;
        entry.method = read16(zip, at + 10);
        entry.compressedSize = read32(zip, at + 20);
        entry.size = read32(zip, at + 24);
        entry.localHeader = read32(zip, at + 42);
        entry.name.assign(reinterpret_cast<const char*>(zip.data() + at + 46), nameLength);
        entries.push_back(std::move(entry));
        at += 46 + nameLength + extraLength + commentLength;
    }
    problem.clear();
    return true;
}

bool unpack(const std::vector<uint8_t>& zip, const Entry& entry, size_t limit, std::string& content,
            std::string& problem) {
    const size_t at = entry.localHeader;
    if (at + 30 > zip.size() || read32(zip, at) != 0x04034b50) {
        problem = "a damaged zip entry: " + entry.name;
        return false;
    }
    const size_t data = at + 30 + read16(zip, at + 26) + read16(zip, at + 28);
    if (data > zip.size() || entry.compressedSize > zip.size() - data) {
        problem = "a damaged zip entry: " + entry.name;
        return false;
    }
    if (entry.size > limit) {
        problem = entry.name + " unpacks to more than the size limit";
        return false;
    }
    content.clear();
    if (entry.method == 0) {
        content.assign(reinterpret_cast<const char*>(zip.data() + data), entry.compressedSize);
        return true;
    }
    if (entry.method != 8) {
        problem = entry.name + " is packed in a way that is not read (method " +
                  std::to_string(entry.method) + ")";
        return false;
    }
    if (!inflate(zip.data() + data, entry.compressedSize, limit, content)) {
        problem = entry.name + " cannot be unpacked (damaged, or beyond the size limit)";
        return false;
    }
    return true;
}

}  // namespace

bool inflate(const uint8_t* data, size_t size, size_t limit, std::string& out) {
    out.clear();
    BitReader in(data, size);
    int last = 0;
    do {
        last = in.bits(1);
        const int type = in.bits(2);
        if (last < 0 || type < 0) return false;
        if (type == 0) {
            in.alignToByte();
            const int length = in.bits(16);
            const int complement = in.bits(16);
            if (length < 0 || complement < 0 || (length ^ 0xFFFF) != complement) return false;
            if (static_cast<size_t>(length) > limit - out.size()) return false;
            if (!in.copyBytes(static_cast<size_t>(length), out)) return false;
        } else if (type == 1) {
            static const auto fixed = [] {
                std::array<int, 320> lengths{};
                for (int i = 0; i < 144; ++i) lengths[static_cast<size_t>(i)] = 8;
                for (int i = 144; i < 256; ++i) lengths[static_cast<size_t>(i)] = 9;
                for (int i = 256; i < 280; ++i) lengths[static_cast<size_t>(i)] = 7;
                for (int i = 280; i < 288; ++i) lengths[static_cast<size_t>(i)] = 8;
                for (int i = 288; i < 320; ++i) lengths[static_cast<size_t>(i)] = 5;
                std::pair<Huffman, Huffman> tables;
                tables.first.build(lengths.data(), 288);
                tables.second.build(lengths.data() + 288, 30);
                return tables;
            }();
            if (!inflateBlock(in, fixed.first, fixed.second, limit, out)) return false;
        } else if (type == 2) {
            Huffman lengths, distances;
            if (!dynamicTables(in, lengths, distances) ||
                !inflateBlock(in, lengths, distances, limit, out))
                return false;
        } else {
            return false;
        }
    } while (!last);
    return true;
}

bool zipEntryNames(const std::vector<uint8_t>& archive, std::vector<std::string>& names,
                   std::string& problem) {
    std::vector<Entry> entries;
    if (!directory(archive, entries, problem)) return false;
    names.clear();
    for (const Entry& entry : entries) names.push_back(entry.name);
    return true;
}

bool readZipEntry(const std::vector<uint8_t>& archive, const std::string& name, size_t limit,
                  std::string& content, std::string& problem) {
    std::vector<Entry> entries;
    if (!directory(archive, entries, problem)) return false;
    for (const Entry& entry : entries)
        if (entry.name == name) return unpack(archive, entry, limit, content, problem);
    problem = "the archive has no " + name;
    return false;
}

bool readMxlScore(const std::vector<uint8_t>& archive, size_t limit, std::string& score,
                  std::string& problem) {
    std::vector<Entry> entries;
    if (!directory(archive, entries, problem)) return false;
    std::string rootFile;
    const auto container = std::find_if(entries.begin(), entries.end(), [](const Entry& entry) {
        return entry.name == "META-INF/container.xml";
    });
    if (container != entries.end()) {
        std::string text;
        if (!unpack(archive, *container, limit, text, problem)) return false;
        xml::Element root;
        std::string error;
        if (!xml::parse(text, root, error)) {
            problem = "META-INF/container.xml cannot be read: " + error;
            return false;
        }
        if (const xml::Element* files = root.child("rootfiles"))
            if (const xml::Element* file = files->child("rootfile"))
                if (const std::string* path = file->attribute("full-path")) rootFile = *path;
    }
    for (const Entry& entry : entries) {
        const std::string& name = entry.name;
        const bool isScore =
            rootFile.empty()
                ? name.rfind("META-INF/", 0) != 0 &&
                      ((name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0) ||
                       (name.size() > 9 && name.compare(name.size() - 9, 9, ".musicxml") == 0))
                : name == rootFile;
        if (isScore) return unpack(archive, entry, limit, score, problem);
    }
    problem = rootFile.empty() ? "the archive holds no score" : "the archive has no " + rootFile;
    return false;
}

}  // namespace varimel
