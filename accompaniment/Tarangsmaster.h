// ArrangementLibrary: the installed arrangements — "arangs.lst" read once, one ".art" file
// loaded at a time as the current arrangement — and the automatic choice by meter and tempo.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "accompaniment/PatternFiles.h"

namespace varimel {

inline constexpr char kArrangementsLibraryMessage[] =
    " Can't load Arrangements library!\n\r Please run setup program and install Arrangements "
    "library.";
inline constexpr char kCannotLoadArrangementMessage[] = "Can't Load selected Arrangement?";

class ArrangementLibrary {
  public:
    // Receives the error texts the user must see; the GUI shows them in an error box.
    using ErrorReporter = std::function<void(const std::string&)>;

    // The folder as the settings keep it (`ArnPath`). The meter starts at 4/4.
    explicit ArrangementLibrary(std::string directory = {});

    const std::string& directory() const { return directory_; }
    void setDirectory(std::string directory) { directory_ = std::move(directory); }
    void setErrorReporter(ErrorReporter reporter) { reportError_ = std::move(reporter); }

    // Reads the list; once it has succeeded later calls do nothing, after a failure the next
    // call tries again.
    bool loadList();
    bool listLoaded() const { return listLoaded_; }

    void setMeter(int numerator, int denominator);
    int meterNumerator() const { return meterNum_; }
    int meterDenominator() const { return meterDen_; }
    int currentMeterKey() const { return meterKey(meterNum_, meterDen_); }

    // 7 (any) outside 4/4; in 4/4 below 95 bpm slow, above 139 fast, else medium.
    int tempoClass(int bpm) const;
    // The first fitting entry of the first group of the current meter; Auto
    // ((groups + 1) << 16) when none fits.
    ArrangementId autoChoose(int bpm) const;
    ArrangementId autoId() const { return makeArrangementId(groupCount() + 1, 0); }

    // Loads the arrangement file of `id` and makes it current. An identifier whose group is
    // not in the list makes none current and is answered as it is; a file that cannot be read
    // is reported ("Can't Load selected Arrangement?") and answered with -1.
    ArrangementId select(ArrangementId id);
    // Arrangements handed out stay valid for the library's lifetime, also across select and
    // reset: the composition keeps a plain pointer to the one it plays.
    const Arrangement* current() const { return current_; }
    // Part 0's instrument bytes, which apply to the whole arrangement; null without one.
    const ArrangementPart* currentPart0() const;
    ArrangementId loadedId() const { return loadedId_; }

    // The identifier last chosen for a piece, the mark for default instruments (set when the
    // choice found nothing) and the mark that a choice was applied.
    ArrangementId chosenId = kNoArrangement;
    bool noArrangement = false;
    bool choiceMade = false;

    // Forgets the choice and the loaded arrangement and reads the list again on the next use.
    void reset();

    int groupCount() const { return static_cast<int>(list_.groups.size()); }
    const std::vector<ArrangementGroup>& groups() const { return list_.groups; }
    const ArrangementEntry* entry(ArrangementId id) const;
    // The identifier of the entry with this name (-1 if none).
    ArrangementId findByName(std::string_view name) const;

  private:
    std::string directory_;
    ErrorReporter reportError_;
    ArrangementList list_;
    bool listLoaded_ = false;
    int meterNum_ = 4;
    int meterDen_ = 4;
    std::vector<std::unique_ptr<Arrangement>> kept_;
    // The arrangements read since the list was last read, by identifier, so that switching
    // back and forth reads no file twice and keeps no second copy.
    std::vector<std::pair<ArrangementId, const Arrangement*>> readSinceReset_;
    const Arrangement* current_ = nullptr;
    ArrangementId loadedId_ = kNoArrangement;
};

}  // namespace varimel
