// RegFile: the registry kept in a text file in the format of registry exports, so that value
// types survive and a person can read and edit it; RegistryFile is the backend over it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/SafeWrite.h"
#include "settings/Registry.h"

namespace varimel {

inline constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00";
// The older export header, still accepted when reading.
inline constexpr std::string_view kRegFileHeaderV4 = "REGEDIT4";
// Names the registry file; when unset, the file installed beside the program is used.
inline constexpr const char* kRegistryEnvVar = "VARIMEL_REGISTRY";
// Anything larger is not a settings file and is refused rather than read.
inline constexpr std::uintmax_t kMaxRegFileSize = 16u * 1024u * 1024u;

// The keys and values of a registry export. Parsing never fails on a line: lines it does
// not understand (comments, removal entries, malformed values) are kept verbatim in place
// and written back unchanged, so hand edits are never lost by a later save.
class RegDocument {
  public:
    // nullopt when the text is not a registry export (no header line); an empty text is an
    // empty registry. UTF-8 (with or without BOM) and UTF-16LE with BOM are read.
    static std::optional<RegDocument> parse(std::string_view bytes);
    // UTF-8, LF line ends, one blank line after each key.
    std::string toText() const;

    // A key exists when it has its own section or a section below it.
    bool keyExists(RegistryRoot root, std::string_view key) const;
    const RegistryValue* findValue(RegistryRoot root, std::string_view key,
                                   std::string_view name) const;
    // Both create the key when missing; false for the root itself, which holds no values.
    bool createKey(RegistryRoot root, std::string_view key);
    bool setValue(RegistryRoot root, std::string_view key, std::string_view name,
                  RegistryValue value);
    // Removes the key and every key below it; false when nothing was there.
    bool deleteKey(RegistryRoot root, std::string_view key);
    bool deleteValue(RegistryRoot root, std::string_view key, std::string_view name);

    // The value names of a key in file order (for inspection and tests).
    std::vector<std::string> valueNames(RegistryRoot root, std::string_view key) const;

  private:
    struct Entry {
        bool isValue = false;
        std::string name;  // value name as written; "" is the key's default value
        RegistryValue value;
        std::string verbatim;  // the line(s) as read, for entries that are not values
    };
    struct Section {
        std::string header;     // the text between the brackets, or the whole line when unusable
        std::string lookupKey;  // normalised path; empty for a section that is kept verbatim
        std::vector<Entry> entries;
    };

    Section* findSection(const std::string& lookupKey);
    const Section* findSection(const std::string& lookupKey) const;
    Section* sectionFor(RegistryRoot root, std::string_view key, bool create);

    std::vector<std::string> preamble_;  // lines between the header and the first key
    std::vector<Section> sections_;
};

// The registry over one file. The file is read when the object is made; every change is
// written at once, so one object is one short-lived handle, as the settings store uses it.
class RegistryFile : public Registry {
  public:
    explicit RegistryFile(std::filesystem::path file);
    ~RegistryFile() override;

    const std::filesystem::path& path() const { return path_; }
    // False when the file exists but is unreadable or no registry export: it then looks
    // empty and is never written, so a wrong path cannot destroy someone else's file.
    bool usable() const { return loadError_.empty(); }
    const std::string& loadError() const { return loadError_; }
    const RegDocument& document() const { return document_; }

    bool keyExists(std::string_view key) override;
    bool openKey(std::string_view key, bool canCreate) override;
    void closeKey() override;
    bool deleteKey(std::string_view key) override;
    bool deleteValue(std::string_view name) override;

  protected:
    std::optional<RegistryValue> getValue(std::string_view name) override;
    bool setValue(std::string_view name, const RegistryValue& value) override;

  private:
    bool commit();

    std::filesystem::path path_;
    std::string loadError_;
    RegDocument document_;
    std::optional<std::string> currentKey_;
    bool keyCreatedUnsaved_ = false;
};

// Where the registry file is: $VARIMEL_REGISTRY when set and not empty, otherwise
// installedRegistryPath(programDirectory()).
std::filesystem::path registryFilePath();
// <program dir>/../etc/varimel/registry.reg: <prefix>/bin -> <prefix>/etc/varimel, and in a
// build tree <build>/app -> <build>/etc/varimel. Empty when the program dir is unknown.
std::filesystem::path installedRegistryPath(const std::filesystem::path& programDir);
// The folder of the running program; empty when the system does not tell.
std::filesystem::path programDirectory();

}  // namespace varimel
