// StyleLibrary: the installed styles — "styles.lst" and one ".stt" file per style — read once
// and kept in memory; answers which styles fit a meter, picks one automatically and keeps the
// current selection that the style dialog shows.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "accompaniment/PatternFiles.h"

namespace varimel {

inline constexpr char kStylesLibraryMessage[] =
    " Can't load Styles library!\n\r Please run setup program and install Styles library.";
inline constexpr char kNoStyleForMeterMessage[] =
    "There are no accompaniment style \n\r for meter %s in our collection.";

class StyleLibrary {
  public:
    // The folder as the settings keep it (`StlPath`).
    explicit StyleLibrary(std::string directory = {});

    const std::string& directory() const { return directory_; }
    void setDirectory(std::string directory) { directory_ = std::move(directory); }

    // Reads the list and every style file. False when the list cannot be read; the library then
    // stays empty. Does nothing more once loaded.
    bool load();
    bool reload();
    bool loaded() const { return loaded_; }

    static bool meterFits(MeterSet meters, int numerator, int denominator) {
        return varimel::meterFits(meters, numerator, denominator);
    }

    // Styles handed out stay valid for the library's lifetime, also across reload.
    // The style of an identifier (none when not loaded, for -1 and for identifiers the list
    // does not hold); it becomes the current selection.
    const Style* style(StyleId id);
    // The same without changing the selection.
    const Style* find(StyleId id) const;
    std::string entryName(StyleId id) const;
    // The identifier whose entry has this name (-1 if none).
    StyleId findByName(std::string_view name) const;

    // With a seed of 0, 1, 2 or 3: the 5th, 4th, 3rd or 2nd style that fits the meter, walking
    // the categories and the styles in list order; the last fitting one when there are fewer;
    // -1 when none fits. The choice becomes the current selection.
    StyleId autoSelect(int numerator, int denominator, int seed);

    StyleId selection() const { return selection_; }
    const Style* selectedStyle() const { return selected_; }

    static constexpr std::array<std::string_view, kStyleCategoryCount> kCategoryNames{
        "Piano", "Guitar", "Other"};
    static std::string_view categoryName(int category);

    int categoryCount(int category) const;
    const std::vector<StyleEntry>& entries(int category) const;
    const std::vector<Style>& styles(int category) const;

  private:
    void clear();

    std::string directory_;
    StyleList list_;
    std::array<std::vector<Style>, kStyleCategoryCount> styles_;
    // Styles of earlier loads: a composition may still point at one after a reload.
    std::vector<std::vector<Style>> retired_;
    bool loaded_ = false;
    StyleId selection_ = kNoStyle;
    const Style* selected_ = nullptr;
};

}  // namespace varimel
