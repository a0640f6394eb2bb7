#include "settings/Registry.h"

#include <bit>
#include <limits>

namespace varimel {

static_assert(std::numeric_limits<double>::is_iec559 && sizeof(double) == 8,
              "floats are stored as 8-byte IEEE doubles");

namespace {

void putLittleEndian(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t getLittleEndian(const std::vector<std::uint8_t>& in) {
    std::uint64_t value = 0;
    for (std::size_t i = in.size(); i-- > 0;) value = (value << 8) | in[i];
    return value;
}

[[noreturn]] void fail(std::string_view format, std::string_view name) {
    throw RegistryError(registryErrorText(format, name));
}

}  // namespace

std::string registryErrorText(std::string_view format, std::string_view valueName) {
    std::string text(format);
    if (auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, valueName);
    return text;
}

RegistryValue RegistryValue::fromString(std::string_view text, std::uint32_t type) {
    return RegistryValue{type, std::vector<std::uint8_t>(text.begin(), text.end())};
}

RegistryValue RegistryValue::fromDword(std::uint32_t value) {
    RegistryValue result{regtype::kDword, {}};
    putLittleEndian(result.data, value, 4);
    return result;
}

RegistryValue RegistryValue::fromBinary(std::vector<std::uint8_t> bytes) {
    return RegistryValue{regtype::kBinary, std::move(bytes)};
}

void Registry::setRootKey(RegistryRoot root) {
    closeKey();
    root_ = root;
}

bool Registry::valueExists(std::string_view name) {
    return getValue(name).has_value();
}

std::int32_t Registry::readInteger(std::string_view name) {
    auto value = getValue(name);
    if (!value) fail(kGetDataFailedText, name);
    if (value->type != regtype::kDword || value->data.size() != 4) fail(kInvalidDataTypeText, name);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(getLittleEndian(value->data)));
}

void Registry::writeInteger(std::string_view name, std::int32_t value) {
    if (!setValue(name, RegistryValue::fromDword(static_cast<std::uint32_t>(value)))) {
        fail(kSetDataFailedText, name);
    }
}

bool Registry::readBool(std::string_view name) {
    return readInteger(name) != 0;
}

void Registry::writeBool(std::string_view name, bool value) {
    writeInteger(name, value ? 1 : 0);
}

double Registry::readFloat(std::string_view name) {
    auto value = getValue(name);
    if (!value) fail(kGetDataFailedText, name);
    if (value->type != regtype::kBinary || value->data.size() != sizeof(double)) {
        fail(kInvalidDataTypeText, name);
    }
    return std::bit_cast<double>(getLittleEndian(value->data));
}

void Registry::writeFloat(std::string_view name, double value) {
    RegistryValue stored{regtype::kBinary, {}};
    putLittleEndian(stored.data, std::bit_cast<std::uint64_t>(value), sizeof(double));
    if (!setValue(name, stored)) fail(kSetDataFailedText, name);
}

std::string Registry::readString(std::string_view name) {
    auto value = getValue(name);
    if (!value) return {};
    if (!value->isString()) fail(kInvalidDataTypeText, name);
    return value->text();
}

void Registry::writeString(std::string_view name, std::string_view value) {
    if (!setValue(name, RegistryValue::fromString(value))) fail(kSetDataFailedText, name);
}

}  // namespace varimel
