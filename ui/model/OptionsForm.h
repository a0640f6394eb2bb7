// OptionsForm: the options dialog's control values, read from a `HarmonyOptions` record and
// stored back into one; and the manual chord progression dialog's lists and enabled states.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/ChordCode.h"
#include "settings/HarmonyOptions.h"

namespace varimel::model {

class InstrumentNames;

// What the options dialog shows, control by control.
struct OptionsControls {
    bool autoKey = false;           // chb_OnGetTon
    int patchEntry = -1;            // cb_DAP's item index, -1 for no selection
    bool advanced = false;          // rb_Advanced; rb_Standart otherwise
    bool dissonanceFilter = false;  // chb_DSF
    bool chordFilter = false;       // chb_CSF
    std::string customChords;       // mt_NCC's text
    bool saveAsDefault = false;     // cb_setdopt

    bool operator==(const OptionsControls&) const = default;
};

inline constexpr int kMaxCustomChords = 9;

// The controls for an options record; the patch list holds the entries of `names`.
OptionsControls optionsControls(const HarmonyOptions& options, const InstrumentNames& names);
// Writes the shown fields into `options` and leaves the others. A patch list without a
// selection keeps the stored program when it is one, else takes program 0.
void storeOptionsControls(const OptionsControls& controls, const InstrumentNames& names,
                          HarmonyOptions& options);

// The text of the custom chords box: the number right-aligned in two places (" 9").
std::string customChordsText(int count);
// The count a text stands for: its leading decimal digits after any blanks, at most 9; 0 for
// empty, negative or non-numeric text.
int customChordsCount(std::string_view text);

// --- The manual chord progression dialog ---

struct ManualMeter {
    int numerator = 0;
    int denominator = 0;
};

// The meters offered, and the combo boxes' items: a placeholder at 0 that stands for nothing
// chosen, then the meters as "3/4", or the 24 key names in key order.
const std::vector<ManualMeter>& manualMeters();
std::vector<std::string> manualMeterItems();
std::vector<std::string> manualKeyItems();

// The dialog's state: the two chosen-flags and the "without key" box.
struct ManualProgressionState {
    bool meterChosen = false;
    bool keyChosen = false;
    bool withoutKey = false;
};

struct ManualProgressionControls {
    bool okEnabled = false;
    bool withoutKeyEnabled = false;
    bool listsEnabled = true;
};

// A flag is set when the selected item is above the placeholder.
inline bool isChosen(int itemIndex) {
    return itemIndex > 0;
}
// OK needs a meter and either a key or the "without key" box; that box is offered once either
// list has a choice; while it is ticked the lists are locked.
ManualProgressionControls manualProgressionControls(const ManualProgressionState& state);

// The choice after OK: the meter of the chosen item, the key or -1 without one.
struct ManualProgression {
    ManualMeter meter;
    KeyIndex key = kNoKey;
};
ManualProgression manualProgression(int meterItem, int keyItem, bool withoutKey);

}  // namespace varimel::model
