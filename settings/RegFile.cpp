#include "settings/RegFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>
#include <unordered_map>

namespace varimel {

namespace fs = std::filesystem;

namespace {

constexpr char kSeparator = '\\';
// Export lines of binary data wrap before this column, as the system's editor does.
constexpr std::size_t kHexLineLimit = 77;

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string upperAscii(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](char c) { return upperAscii(c); });
    return result;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return upperAscii(x) == upperAscii(y);
           });
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view trimEnd(std::string_view text) {
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Up to 8 hex digits, nothing else.
std::optional<std::uint32_t> parseHex32(std::string_view text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        int digit = hexDigit(c);
        if (digit < 0) return std::nullopt;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return value;
}

// --- text encodings -------------------------------------------------------------------------

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

constexpr char32_t kReplacement = 0xFFFD;

// Lenient: an unpaired surrogate or a dangling odd byte becomes U+FFFD.
std::string utf16leToUtf8(const std::uint8_t* bytes, std::size_t size) {
    std::string out;
    std::size_t i = 0;
    auto unit = [&](std::size_t at) -> char32_t { return bytes[at] | (bytes[at + 1] << 8); };
    while (i + 1 < size) {
        char32_t code = unit(i);
        i += 2;
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < size && unit(i) >= 0xDC00 &&
            unit(i) <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(i) - 0xDC00);
            i += 2;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = kReplacement;
        }
        appendUtf8(out, code);
    }
    if (i < size) appendUtf8(out, kReplacement);
    return out;
}

// Lenient: a byte that does not start a valid sequence becomes U+FFFD.
std::vector<std::uint8_t> utf8ToUtf16le(std::string_view text) {
    std::vector<std::uint8_t> out;
    auto put = [&out](char32_t unit) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    };
    std::size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        char32_t code = kReplacement;
        // A sequence cut off by the end of the text is one bad byte, like any other: the
        // bytes after its lead are read on their own, not dropped.
        if (length > 1 && i + length > text.size()) length = 0;
        if (length == 1) {
            code = lead;
        } else if (length > 1) {
            code = lead & (0x7F >> length);
            for (std::size_t k = 1; k < length; ++k) {
                auto next = static_cast<unsigned char>(text[i + k]);
                if ((next & 0xC0) != 0x80) {
                    length = 0;
                    break;
                }
                code = (code << 6) | (next & 0x3F);
            }
            if (length == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
                code = kReplacement;
            }
        }
        i += length == 0 ? 1 : length;
        if (code >= 0x10000) {
            code -= 0x10000;
            put(0xD800 + (code >> 10));
            put(0xDC00 + (code & 0x3FF));
        } else {
            put(code);
        }
    }
    return out;
}

// --- paths ----------------------------------------------------------------------------------

std::string_view rootName(RegistryRoot root) {
    return root == RegistryRoot::ClassesRoot ? kClassesRootName : kLocalMachineName;
}

// The hive's full name for a hive token of a section header, short forms included.
std::string canonicalHive(std::string_view token) {
    std::string upper = upperAscii(token);
    if (upper == "HKLM") return std::string(kLocalMachineName);
    if (upper == "HKCR") return std::string(kClassesRootName);
    return upper;
}

std::vector<std::string_view> splitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        auto at = path.find(kSeparator);
        auto part = path.substr(0, at);
        if (!part.empty()) parts.push_back(part);
        if (at == std::string_view::npos) break;
        path.remove_prefix(at + 1);
    }
    return parts;
}

std::string joinPath(std::string_view hive, const std::vector<std::string_view>& parts) {
    std::string result(hive);
    for (auto part : parts) {
        result += kSeparator;
        result += part;
    }
    return result;
}

std::string lookupKeyFor(RegistryRoot root, std::string_view key) {
    return upperAscii(joinPath(rootName(root), splitPath(key)));
}

// Normalised key of a section header's text; empty when the header names no usable key.
std::string lookupKeyForHeader(std::string_view header) {
    auto parts = splitPath(header);
    if (parts.empty() || header.front() == '-') return {};
    std::string hive = canonicalHive(parts.front());
    parts.erase(parts.begin());
    return upperAscii(joinPath(hive, parts));
}

bool isSameOrBelow(const std::string& lookupKey, const std::string& ancestor) {
    return lookupKey == ancestor ||
           (lookupKey.size() > ancestor.size() && lookupKey.starts_with(ancestor) &&
            lookupKey[ancestor.size()] == kSeparator);
}

// --- value lines ----------------------------------------------------------------------------

// A quoted text starting at text[pos] == '"'; \\ and \" are the only escapes, as in exports.
std::optional<std::string> parseQuoted(std::string_view text, std::size_t& pos) {
    if (pos >= text.size() || text[pos] != '"') return std::nullopt;
    std::string result;
    for (std::size_t i = pos + 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            pos = i + 1;
            return result;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            ++i;
            c = text[i];
        }
        result += c;
    }
    return std::nullopt;
}

std::string quoteForExport(std::string_view text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') result += '\\';
        result += c;
    }
    return result + '"';
}

std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    text = trim(text);
    if (text.empty()) return bytes;
    if (text.back() == ',') text.remove_suffix(1);  // left behind by a wrapped line
    while (true) {
        auto comma = text.find(',');
        auto token = trim(text.substr(0, comma));
        if (token.size() > 2) return std::nullopt;
        auto value = parseHex32(token);
        if (!value) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(*value));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return bytes;
}

std::optional<RegistryValue> parseData(std::string_view data) {
    data = trim(data);
    if (!data.empty() && data.front() == '"') {
        std::size_t pos = 0;
        auto text = parseQuoted(data, pos);
        if (!text || !trim(data.substr(pos)).empty()) return std::nullopt;
        return RegistryValue::fromString(*text);
    }
    auto colon = data.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string kind = upperAscii(trim(data.substr(0, colon)));
    auto rest = data.substr(colon + 1);
    if (kind == "DWORD") {
        auto value = parseHex32(trim(rest));
        if (!value) return std::nullopt;
        return RegistryValue::fromDword(*value);
    }
    std::uint32_t type = regtype::kBinary;
    if (kind.starts_with("HEX(") && kind.ends_with(")")) {
        auto number = parseHex32(std::string_view(kind).substr(4, kind.size() - 5));
        if (!number) return std::nullopt;
        type = *number;
    } else if (kind != "HEX") {
        return std::nullopt;
    }
    auto bytes = parseHexBytes(rest);
    if (!bytes) return std::nullopt;
    if (type == regtype::kString || type == regtype::kExpandString) {
        // Exports hold these as UTF-16LE with a terminating zero.
        auto text = utf16leToUtf8(bytes->data(), bytes->size());
        if (!text.empty() && text.back() == '\0') text.pop_back();
        return RegistryValue::fromString(text, type);
    }
    return RegistryValue{type, std::move(*bytes)};
}

struct ParsedValue {
    std::string name;
    RegistryValue value;
};

std::optional<ParsedValue> parseValueLine(std::string_view line) {
    ParsedValue parsed;
    std::size_t pos = 0;
    if (line.starts_with('@')) {
        pos = 1;
    } else {
        auto name = parseQuoted(line, pos);
        if (!name) return std::nullopt;
        parsed.name = std::move(*name);
    }
    auto rest = trim(line.substr(pos));
    if (!rest.starts_with('=')) return std::nullopt;
    auto value = parseData(rest.substr(1));
    if (!value) return std::nullopt;
    parsed.value = std::move(*value);
    return parsed;
}

std::string hexList(std::string line, const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string token{kDigits[bytes[i] >> 4], kDigits[bytes[i] & 0xF]};
        if (i + 1 < bytes.size()) token += ',';
        if (line.size() + token.size() > kHexLineLimit) {
            out += line + "\\\n";
            line = "  ";
        }
        line += token;
    }
    return out + line;
}

std::string formatValue(std::string_view name, const RegistryValue& value) {
    std::string line = name.empty() ? std::string("@") : quoteForExport(name);
    line += '=';
    const auto& data = value.data;
    if (value.isString()) {
        std::string text = value.text();
        // A line break or zero inside the text cannot stand between quotes.
        bool plain = text.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
        if (value.type == regtype::kString && plain) return line + quoteForExport(text);
        auto bytes = utf8ToUtf16le(text);
        bytes.push_back(0);
        bytes.push_back(0);
        return hexList(line + "hex(" + std::to_string(value.type) + "):", bytes);
    }
    if (value.type == regtype::kDword && data.size() == 4) {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%02x%02x%02x%02x", data[3], data[2], data[1],
                      data[0]);
        return line + "dword:" + digits;
    }
    if (value.type == regtype::kBinary) return hexList(line + "hex:", data);
    char kind[16];
    std::snprintf(kind, sizeof kind, "hex(%x):", static_cast<unsigned>(value.type));
    return hexList(line + kind, data);
}

// Splits into lines without their line ends; a UTF-16LE file is turned into UTF-8 first.
std::vector<std::string> splitLines(std::string_view bytes) {
    std::string decoded;
    if (bytes.starts_with("\xFF\xFE")) {
        decoded = utf16leToUtf8(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2,
                                bytes.size() - 2);
        bytes = decoded;
    } else if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    }
    std::vector<std::string> lines;
    while (!bytes.empty()) {
        auto end = bytes.find('\n');
        auto line = bytes.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::string_view::npos) break;
        bytes.remove_prefix(end + 1);
    }
    return lines;
}

// True for a value line with hex data, the only kind that may go on over several lines.
bool isHexValueLine(std::string_view line) {
    std::size_t pos = 0;
    if (line.starts_with('@')) {
        pos = 1;
    } else if (!parseQuoted(line, pos)) {
        return false;
    }
    auto rest = trim(line.substr(pos));
    return rest.starts_with('=') && upperAscii(trim(rest.substr(1))).starts_with("HEX");
}

}  // namespace

// --- RegDocument ----------------------------------------------------------------------------

std::optional<RegDocument> RegDocument::parse(std::string_view bytes) {
    auto lines = splitLines(bytes);
    std::size_t i = 0;
    while (i < lines.size() && trim(lines[i]).empty()) ++i;
    RegDocument document;
    if (i == lines.size()) return document;
    auto header = trim(lines[i]);
    if (header != kRegFileHeader && header != kRegFileHeaderV4) return std::nullopt;

    // Indexes of the keys and of each key's value names, so that a file of many keys or values
    // reads in time proportional to its size, not to its square.
    std::unordered_map<std::string, std::size_t> sectionIndex;
    std::vector<std::unordered_map<std::string, std::size_t>> valueIndex;
    Section* current = nullptr;  // null: before the first key
    std::unordered_map<std::string, std::size_t>* currentValues = nullptr;
    for (++i; i < lines.size(); ++i) {
        std::string_view line = trim(lines[i]);
        if (line.empty()) continue;
        if (line.front() == '[') {
            std::string lookupKey;
            if (line.back() == ']') {
                auto inner = trim(line.substr(1, line.size() - 2));
                lookupKey = lookupKeyForHeader(inner);
                if (!lookupKey.empty()) {
                    // A key listed twice is one key, as when the export is imported.
                    auto [at, added] =
                        sectionIndex.try_emplace(lookupKey, document.sections_.size());
                    if (added) {
                        document.sections_.push_back({std::string(inner), lookupKey, {}});
                        valueIndex.emplace_back();
                    }
                    current = &document.sections_[at->second];
                    currentValues = &valueIndex[at->second];
                    continue;
                }
            }
            document.sections_.push_back({std::string(trimEnd(lines[i])), {}, {}});
            valueIndex.emplace_back();
            current = &document.sections_.back();
            currentValues = &valueIndex.back();
            continue;
        }
        if (current == nullptr) {
            document.preamble_.emplace_back(trimEnd(lines[i]));
            continue;
        }
        Entry entry;
        entry.verbatim = trimEnd(lines[i]);
        std::string logical(line);
        if (!current->lookupKey.empty() && (line.front() == '"' || line.front() == '@')) {
            // Long binary data continues on the next lines after a trailing backslash; a blank
            // line or a key ends it all the same.
            while (isHexValueLine(logical) && logical.ends_with('\\') && i + 1 < lines.size() &&
                   !trim(lines[i + 1]).empty() && !trim(lines[i + 1]).starts_with('[')) {
                logical.pop_back();
                logical += trim(lines[++i]);
                entry.verbatim += '\n';
                entry.verbatim += trimEnd(lines[i]);
            }
            if (auto parsed = parseValueLine(logical)) {
                auto& entries = current->entries;
                auto [at, added] =
                    currentValues->try_emplace(upperAscii(parsed->name), entries.size());
                if (!added) {
                    entries[at->second].value = std::move(parsed->value);  // the last one wins
                } else {
                    entries.push_back(
                        {true, std::move(parsed->name), std::move(parsed->value), {}});
                }
                continue;
            }
        }
        current->entries.push_back(std::move(entry));
    }
    return document;
}

std::string RegDocument::toText() const {
    std::string text(kRegFileHeader);
    text += '\n';
    for (const auto& line : preamble_) text += line + '\n';
    text += '\n';
    for (const auto& section : sections_) {
        text += section.lookupKey.empty() ? section.header : '[' + section.header + ']';
        text += '\n';
        for (const auto& entry : section.entries) {
            text += entry.isValue ? formatValue(entry.name, entry.value) : entry.verbatim;
            text += '\n';
            // A kept line that ends in a backslash must not swallow the next entry when read.
            if (!entry.isValue && entry.verbatim.ends_with('\\')) text += '\n';
        }
        text += '\n';
    }
    return text;
}

RegDocument::Section* RegDocument::findSection(const std::string& lookupKey) {
    auto found = std::find_if(sections_.begin(), sections_.end(),
                              [&](const Section& s) { return s.lookupKey == lookupKey; });
    return found == sections_.end() ? nullptr : &*found;
}

const RegDocument::Section* RegDocument::findSection(const std::string& lookupKey) const {
    return const_cast<RegDocument*>(this)->findSection(lookupKey);
}

RegDocument::Section* RegDocument::sectionFor(RegistryRoot root, std::string_view key,
                                              bool create) {
    auto parts = splitPath(key);
    if (parts.empty()) return nullptr;
    auto lookupKey = lookupKeyFor(root, key);
    if (auto* found = findSection(lookupKey)) return found;
    if (!create) return nullptr;
    sections_.push_back({joinPath(rootName(root), parts), lookupKey, {}});
    return &sections_.back();
}

bool RegDocument::keyExists(RegistryRoot root, std::string_view key) const {
    auto lookupKey = lookupKeyFor(root, key);
    if (splitPath(key).empty()) return true;
    return std::any_of(sections_.begin(), sections_.end(), [&](const Section& s) {
        return !s.lookupKey.empty() && isSameOrBelow(s.lookupKey, lookupKey);
    });
}

const RegistryValue* RegDocument::findValue(RegistryRoot root, std::string_view key,
                                            std::string_view name) const {
    const auto* section = findSection(lookupKeyFor(root, key));
    if (section == nullptr || splitPath(key).empty()) return nullptr;
    for (const auto& entry : section->entries) {
        if (entry.isValue && equalsNoCase(entry.name, name)) return &entry.value;
    }
    return nullptr;
}

bool RegDocument::createKey(RegistryRoot root, std::string_view key) {
    return sectionFor(root, key, true) != nullptr;
}

bool RegDocument::setValue(RegistryRoot root, std::string_view key, std::string_view name,
                           RegistryValue value) {
    auto* section = sectionFor(root, key, true);
    if (section == nullptr) return false;
    for (auto& entry : section->entries) {
        if (entry.isValue && equalsNoCase(entry.name, name)) {
            entry.value = std::move(value);
            return true;
        }
    }
    section->entries.push_back({true, std::string(name), std::move(value), {}});
    return true;
}

bool RegDocument::deleteKey(RegistryRoot root, std::string_view key) {
    if (splitPath(key).empty()) return false;
    auto lookupKey = lookupKeyFor(root, key);
    auto removed = std::erase_if(sections_, [&](const Section& s) {
        return !s.lookupKey.empty() && isSameOrBelow(s.lookupKey, lookupKey);
    });
    return removed > 0;
}

bool RegDocument::deleteValue(RegistryRoot root, std::string_view key, std::string_view name) {
    auto* section = sectionFor(root, key, false);
    if (section == nullptr) return false;
    return std::erase_if(section->entries, [&](const Entry& e) {
               return e.isValue && equalsNoCase(e.name, name);
           }) > 0;
}

std::vector<std::string> RegDocument::valueNames(RegistryRoot root, std::string_view key) const {
    std::vector<std::string> names;
    if (const auto* section = findSection(lookupKeyFor(root, key))) {
        for (const auto& entry : section->entries) {
            if (entry.isValue) names.push_back(entry.name);
        }
    }
    return names;
}

// --- RegistryFile ---------------------------------------------------------------------------

RegistryFile::RegistryFile(fs::path file) : path_(std::move(file)) {
    if (path_.empty()) return;  // nothing to read; writes will be refused on commit
    std::error_code ec;
    auto status = fs::status(path_, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
        loadError_ = "cannot read " + path_.string() + ": " + ec.message();
        return;
    }
    if (!fs::exists(status)) return;
    if (!fs::is_regular_file(status)) {
        loadError_ = path_.string() + " is not a file";
        return;
    }
    auto size = fs::file_size(path_, ec);
    if (ec || size > kMaxRegFileSize) {
        loadError_ = path_.string() + " is too large for a registry file";
        return;
    }
    std::ifstream in(path_, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        loadError_ = "cannot read " + path_.string();
        return;
    }
    auto parsed = RegDocument::parse(bytes);
    if (!parsed) {
        loadError_ = path_.string() + " is not a registry file";
        return;
    }
    document_ = std::move(*parsed);
}

RegistryFile::~RegistryFile() {
    RegistryFile::closeKey();
}

bool RegistryFile::commit() {
    if (!usable() || path_.empty()) return false;
    if (!writeFileAtomically(path_, document_.toText())) return false;
    keyCreatedUnsaved_ = false;
    return true;
}

bool RegistryFile::keyExists(std::string_view key) {
    return usable() && document_.keyExists(rootKey(), key);
}

bool RegistryFile::openKey(std::string_view key, bool canCreate) {
    closeKey();
    if (!usable()) return false;
    if (!document_.keyExists(rootKey(), key)) {
        if (!canCreate || !document_.createKey(rootKey(), key)) return false;
        keyCreatedUnsaved_ = true;
    }
    currentKey_ = std::string(key);
    return true;
}

void RegistryFile::closeKey() {
    // A key created without values is still written, as the system registry would keep it.
    if (keyCreatedUnsaved_) commit();
    keyCreatedUnsaved_ = false;
    currentKey_.reset();
}

bool RegistryFile::deleteKey(std::string_view key) {
    if (!usable()) return false;
    RegDocument before = document_;
    if (!document_.deleteKey(rootKey(), key)) return false;
    if (commit()) return true;
    document_ = std::move(before);
    return false;
}

bool RegistryFile::deleteValue(std::string_view name) {
    if (!usable() || !currentKey_) return false;
    RegDocument before = document_;
    if (!document_.deleteValue(rootKey(), *currentKey_, name)) return false;
    if (commit()) return true;
    document_ = std::move(before);
    return false;
}

std::optional<RegistryValue> RegistryFile::getValue(std::string_view name) {
    if (!currentKey_) return std::nullopt;
    const auto* value = document_.findValue(rootKey(), *currentKey_, name);
    if (value == nullptr) return std::nullopt;
    return *value;
}

bool RegistryFile::setValue(std::string_view name, const RegistryValue& value) {
    if (!usable() || !currentKey_) return false;
    RegDocument before = document_;
    if (!document_.setValue(rootKey(), *currentKey_, name, value)) return false;
    if (commit()) return true;
    document_ = std::move(before);  // keep the handle's view equal to the file
    return false;
}

// --- where the file is ----------------------------------------------------------------------

fs::path programDirectory() {
    std::error_code ec;
    auto program = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return program.parent_path();
}

fs::path installedRegistryPath(const fs::path& programDir) {
    if (programDir.empty()) return {};
    return (programDir / ".." / "etc" / "varimel" / "registry.reg").lexically_normal();
}

fs::path registryFilePath() {
    if (const char* named = std::getenv(kRegistryEnvVar); named != nullptr && *named != '\0') {
        return fs::path(named);
    }
    return installedRegistryPath(programDirectory());
}

}  // namespace varimel
