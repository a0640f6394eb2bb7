// Registry: the typed key/value interface the settings store works through, so that the
// program runs on any backend (a registry file here, the system registry elsewhere).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace varimel {

// The two hives the program touches: its own settings and the system's file associations.
enum class RegistryRoot { LocalMachine, ClassesRoot };

// The hive names as registry exports spell them.
inline constexpr std::string_view kLocalMachineName = "HKEY_LOCAL_MACHINE";
inline constexpr std::string_view kClassesRootName = "HKEY_CLASSES_ROOT";

// Registry value types; the numbers are the system's own, so exports stay interchangeable.
namespace regtype {
inline constexpr std::uint32_t kNone = 0;
inline constexpr std::uint32_t kString = 1;        // REG_SZ
inline constexpr std::uint32_t kExpandString = 2;  // REG_EXPAND_SZ
inline constexpr std::uint32_t kBinary = 3;        // REG_BINARY
inline constexpr std::uint32_t kDword = 4;         // REG_DWORD, little-endian
}  // namespace regtype

// The error texts of the registry layer; %s stands for the value name.
inline constexpr std::string_view kGetDataFailedText = "Failed to get data for '%s'";
inline constexpr std::string_view kInvalidDataTypeText = "Invalid data type for '%s'";
inline constexpr std::string_view kSetDataFailedText = "Failed to set data for '%s'";

// Fills the value name into one of the error texts above.
std::string registryErrorText(std::string_view format, std::string_view valueName);

// One stored value. String types hold their text as UTF-8 bytes (no terminator); a DWORD
// holds its four little-endian bytes; every other type holds its raw bytes.
struct RegistryValue {
    std::uint32_t type = regtype::kNone;
    std::vector<std::uint8_t> data;

    static RegistryValue fromString(std::string_view text, std::uint32_t type = regtype::kString);
    static RegistryValue fromDword(std::uint32_t value);
    static RegistryValue fromBinary(std::vector<std::uint8_t> bytes);

    bool isString() const { return type == regtype::kString || type == regtype::kExpandString; }
    std::string text() const { return std::string(data.begin(), data.end()); }

    bool operator==(const RegistryValue&) const = default;
};

// A failed transfer of one value. Only the registry layer throws it; the settings store
// catches it at the end of each operation, so it never leaves the engine.
class RegistryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Keys are addressed from the selected root, with or without a leading backslash
// ("\software\Belmora\Varimel\Settings"); names compare without regard to case.
// The typed reads and writes act on the key opened last and throw RegistryError.
class Registry {
  public:
    virtual ~Registry() = default;

    // Selecting a root closes the open key, as the system's registry objects do.
    void setRootKey(RegistryRoot root);
    RegistryRoot rootKey() const { return root_; }

    virtual bool keyExists(std::string_view key) = 0;
    virtual bool openKey(std::string_view key, bool canCreate) = 0;
    virtual void closeKey() = 0;
    // Removes a key with everything below it; false when it could not be removed.
    virtual bool deleteKey(std::string_view key) = 0;
    // Removes one value of the open key; false when there was none or it stayed.
    virtual bool deleteValue(std::string_view name) = 0;

    bool valueExists(std::string_view name);

    std::int32_t readInteger(std::string_view name);
    void writeInteger(std::string_view name, std::int32_t value);
    // Stored as a DWORD 0 or 1; any value other than 0 reads as true.
    bool readBool(std::string_view name);
    void writeBool(std::string_view name, bool value);
    // Stored as the 8 bytes of an IEEE double (REG_BINARY).
    double readFloat(std::string_view name);
    void writeFloat(std::string_view name, double value);
    // A missing string reads as the empty string; any other type is an error.
    std::string readString(std::string_view name);
    void writeString(std::string_view name, std::string_view value);

  protected:
    // The raw value of the open key, nullopt when there is no such value or no open key.
    virtual std::optional<RegistryValue> getValue(std::string_view name) = 0;
    // Stores a value in the open key; false when it was refused.
    virtual bool setValue(std::string_view name, const RegistryValue& value) = 0;

  private:
    RegistryRoot root_ = RegistryRoot::LocalMachine;
};

}  // namespace varimel
