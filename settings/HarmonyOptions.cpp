#include "settings/HarmonyOptions.h"

#include <bit>
#include <limits>

namespace varimel {

static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4,
              "the option record stores IEEE single floats");

HarmonyOptions currentOptions = defaultOptions;

namespace {

// Byte offsets of the record; the gaps at 14 and 29 are padding.
constexpr std::size_t kSHBmodeAt = 0;
constexpr std::size_t kApplyPKeyAt = 1;
constexpr std::size_t kMinTaktBTAt = 2;
constexpr std::size_t kModeStTAt = 4;
constexpr std::size_t kMinWTAt = 8;
constexpr std::size_t kCSFilterAt = 12;
constexpr std::size_t kDSFilterAt = 13;
constexpr std::size_t kRecomChrAt = 16;
constexpr std::size_t kDSFilterFactorAt = 20;
constexpr std::size_t kMaxNumCustomChordsAt = 24;
constexpr std::size_t kAutoKeyAt = 26;
constexpr std::size_t kDefAccPatchAt = 27;
constexpr std::size_t kAutoSaveOptAt = 28;

constexpr int kDraftIIMaxCustomChords = 5;

void put(HarmonyOptionsBytes& bytes, std::size_t at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get(std::span<const std::uint8_t, kHarmonyOptionsSize> bytes, std::size_t at,
                  int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[at + i];
    return value;
}

}  // namespace

HarmonyOptionsBytes serializeHarmonyOptions(const HarmonyOptions& o) {
    HarmonyOptionsBytes bytes{};
    put(bytes, kSHBmodeAt, o.SHBmode, 1);
    put(bytes, kApplyPKeyAt, o.ApplyPKey ? 1 : 0, 1);
    put(bytes, kMinTaktBTAt, static_cast<std::uint16_t>(o.MinTaktBT), 2);
    put(bytes, kModeStTAt, static_cast<std::uint32_t>(o.ModeStT), 4);
    put(bytes, kMinWTAt, std::bit_cast<std::uint32_t>(o.MinWT), 4);
    put(bytes, kCSFilterAt, o.CSFilter ? 1 : 0, 1);
    put(bytes, kDSFilterAt, o.DSFilter ? 1 : 0, 1);
    put(bytes, kRecomChrAt, std::bit_cast<std::uint32_t>(o.kRecomChr), 4);
    put(bytes, kDSFilterFactorAt, std::bit_cast<std::uint32_t>(o.kDSFilter), 4);
    put(bytes, kMaxNumCustomChordsAt, static_cast<std::uint16_t>(o.MaxNumCustomChords), 2);
    put(bytes, kAutoKeyAt, o.AutoKey ? 1 : 0, 1);
    put(bytes, kDefAccPatchAt, static_cast<std::uint8_t>(o.DefAccPatch), 1);
    put(bytes, kAutoSaveOptAt, o.AutoSaveOpt ? 1 : 0, 1);
    return bytes;
}

HarmonyOptions deserializeHarmonyOptions(std::span<const std::uint8_t, kHarmonyOptionsSize> b) {
    HarmonyOptions o;
    o.SHBmode = static_cast<std::uint8_t>(get(b, kSHBmodeAt, 1));
    o.ApplyPKey = get(b, kApplyPKeyAt, 1) != 0;
    o.MinTaktBT = static_cast<std::int16_t>(get(b, kMinTaktBTAt, 2));
    o.ModeStT = static_cast<std::int32_t>(get(b, kModeStTAt, 4));
    o.MinWT = std::bit_cast<float>(get(b, kMinWTAt, 4));
    o.CSFilter = get(b, kCSFilterAt, 1) != 0;
    o.DSFilter = get(b, kDSFilterAt, 1) != 0;
    o.kRecomChr = std::bit_cast<float>(get(b, kRecomChrAt, 4));
    o.kDSFilter = std::bit_cast<float>(get(b, kDSFilterFactorAt, 4));
    o.MaxNumCustomChords = static_cast<std::int16_t>(get(b, kMaxNumCustomChordsAt, 2));
    o.AutoKey = get(b, kAutoKeyAt, 1) != 0;
    o.DefAccPatch = static_cast<std::int8_t>(get(b, kDefAccPatchAt, 1));
    o.AutoSaveOpt = get(b, kAutoSaveOptAt, 1) != 0;
    return o;
}

bool applyDraft(int draft, HarmonyOptions& options) {
    switch (draft) {
        case kDraftI:
        case kDraftIV:  // Draft IV reads only AutoKey and MaxNumCustomChords
            options = defaultOptions;
            return true;
        case kDraftII:
            options.SHBmode = 0;
            options.ApplyPKey = false;
            options.CSFilter = true;
            options.DSFilter = true;
            options.MaxNumCustomChords = kDraftIIMaxCustomChords;
            return true;
        case kDraftIII:
            options = defaultOptions;
            options.ApplyPKey = true;
            return true;
        default:
            return false;
    }
}

HarmonyOptions draftOptions(int draft, const HarmonyOptions& from) {
    HarmonyOptions result = from;
    applyDraft(draft, result);
    return result;
}

}  // namespace varimel
