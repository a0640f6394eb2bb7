#include "accompaniment/Tstylemaster.h"

#include "engine/ByteIO.h"

namespace varimel {

namespace {

const std::vector<StyleEntry> kNoEntries;
const std::vector<Style> kNoStyles;

bool validCategory(int category) {
    return category >= 0 && category < kStyleCategoryCount;
}

constexpr int kAutoSelectThreshold = 4;

}  // namespace

StyleLibrary::StyleLibrary(std::string directory) : directory_(std::move(directory)) {}

void StyleLibrary::clear() {
    list_ = StyleList{};
    for (auto& category : styles_) {
        if (!category.empty()) retired_.push_back(std::move(category));
        category.clear();
    }
    loaded_ = false;
    selection_ = kNoStyle;
    selected_ = nullptr;
}

bool StyleLibrary::load() {
    if (loaded_) return true;
    clear();
    std::vector<uint8_t> bytes;
    if (!readWholeFile(joinPath(directory_, kStyleListName), kMaxLibraryFileSize, bytes) ||
        !parseStyleList(bytes, list_)) {
        list_ = StyleList{};
        return false;
    }
    for (int category = 0; category < kStyleCategoryCount; ++category) {
        const auto& entries = list_.categories[static_cast<size_t>(category)];
        auto& styles = styles_[static_cast<size_t>(category)];
        styles.resize(entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            // A style that cannot be read keeps no events and fits no meter.
            const std::string path = joinPath(directory_, entries[i].name + kStyleExtension);
            if (!readWholeFile(path, kMaxLibraryFileSize, bytes) || !parseStyle(bytes, styles[i])) {
                styles[i] = Style{};
            }
        }
    }
    loaded_ = true;
    return true;
}

bool StyleLibrary::reload() {
    clear();
    return load();
}

const Style* StyleLibrary::find(StyleId id) const {
    if (!loaded_ || id < 0) return nullptr;
    // The stored identifier is trusted: its high byte is the category, the rest the position.
    const int category = id >> 24;
    const size_t index = static_cast<size_t>(id & 0xFFFFFF);
    if (!validCategory(category)) return nullptr;
    const auto& styles = styles_[static_cast<size_t>(category)];
    return index < styles.size() ? &styles[index] : nullptr;
}

const Style* StyleLibrary::style(StyleId id) {
    selected_ = find(id);
    selection_ = selected_ ? id : kNoStyle;
    return selected_;
}

std::string StyleLibrary::entryName(StyleId id) const {
    if (!loaded_ || id < 0) return {};
    const int category = id >> 24;
    const size_t index = static_cast<size_t>(id & 0xFFFFFF);
    if (!validCategory(category)) return {};
    const auto& entries = list_.categories[static_cast<size_t>(category)];
    return index < entries.size() ? entries[index].name : std::string{};
}

StyleId StyleLibrary::findByName(std::string_view name) const {
    for (const auto& entries : list_.categories) {
        for (const StyleEntry& entry : entries) {
            if (entry.name == name) return entry.id;
        }
    }
    return kNoStyle;
}

StyleId StyleLibrary::autoSelect(int numerator, int denominator, int seed) {
    int counter = seed;
    StyleId remembered = kNoStyle;
    bool stopped = false;
    for (int category = 0; category < kStyleCategoryCount && !stopped; ++category) {
        const auto& entries = list_.categories[static_cast<size_t>(category)];
        const auto& styles = styles_[static_cast<size_t>(category)];
        for (size_t i = 0; i < styles.size() && i < entries.size(); ++i) {
            if (!meterFits(styles[i].meters, numerator, denominator)) continue;
            ++counter;
            remembered = entries[i].id;
            if (counter > kAutoSelectThreshold) {
                stopped = true;
                break;
            }
        }
    }
    style(remembered);
    return remembered;
}

std::string_view StyleLibrary::categoryName(int category) {
    return validCategory(category) ? kCategoryNames[static_cast<size_t>(category)]
                                   : std::string_view{};
}

int StyleLibrary::categoryCount(int category) const {
    return validCategory(category)
               ? static_cast<int>(list_.categories[static_cast<size_t>(category)].size())
               : 0;
}

const std::vector<StyleEntry>& StyleLibrary::entries(int category) const {
    return validCategory(category) ? list_.categories[static_cast<size_t>(category)] : kNoEntries;
}

const std::vector<Style>& StyleLibrary::styles(int category) const {
    return validCategory(category) ? styles_[static_cast<size_t>(category)] : kNoStyles;
}

}  // namespace varimel
