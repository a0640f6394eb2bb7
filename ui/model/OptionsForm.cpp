#include "ui/model/OptionsForm.h"

#include <cctype>
#include <cstdio>

#include "engine/Tonality.h"
#include "ui/model/InstrumentNames.h"

namespace varimel::model {

OptionsControls optionsControls(const HarmonyOptions& options, const InstrumentNames& names) {
    OptionsControls controls;
    controls.autoKey = options.AutoKey;
    controls.patchEntry = names.entryOfProgram(options.DefAccPatch);
    controls.advanced = options.SHBmode != 0;
    controls.dissonanceFilter = options.DSFilter;
    controls.chordFilter = options.CSFilter;
    controls.customChords = customChordsText(options.MaxNumCustomChords);
    controls.saveAsDefault = options.AutoSaveOpt;
    return controls;
}

void storeOptionsControls(const OptionsControls& controls, const InstrumentNames& names,
                          HarmonyOptions& options) {
    options.AutoKey = controls.autoKey;
    options.SHBmode = controls.advanced ? 1 : 0;
    options.CSFilter = controls.chordFilter;
    options.DSFilter = controls.dissonanceFilter;
    options.MaxNumCustomChords =
        static_cast<std::int16_t>(customChordsCount(controls.customChords));
    // Without a selection the stored program stays, unless it is none (a program below 0 would
    // be masked to 127 when sent).
    const int program = names.programOfEntry(controls.patchEntry);
    if (program >= 0) {
        options.DefAccPatch = static_cast<std::int8_t>(program);
    } else if (options.DefAccPatch < 0) {
        options.DefAccPatch = 0;
    }
    options.AutoSaveOpt = controls.saveAsDefault;
}

std::string customChordsText(int count) {
    char text[16];
    std::snprintf(text, sizeof text, "%2d", count);
    return text;
}

int customChordsCount(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    int count = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        count = count * 10 + (text[at] - '0');
        if (count > kMaxCustomChords) return kMaxCustomChords;
    }
    return count;
}

const std::vector<ManualMeter>& manualMeters() {
    static const std::vector<ManualMeter> meters{{2, 4}, {3, 4}, {4, 4},  {2, 2}, {3, 8},
                                                 {6, 8}, {9, 8}, {12, 8}, {5, 4}, {7, 8}};
    return meters;
}

namespace {
const char* const kNothingChosen = "(none)";
}  // namespace

std::vector<std::string> manualMeterItems() {
    std::vector<std::string> items{kNothingChosen};
    for (const ManualMeter& meter : manualMeters())
        items.push_back(std::to_string(meter.numerator) + "/" + std::to_string(meter.denominator));
    return items;
}

std::vector<std::string> manualKeyItems() {
    std::vector<std::string> items{kNothingChosen};
    for (KeyIndex key = 0; key < kKeyCount; ++key) items.emplace_back(keyName(key));
    return items;
}

ManualProgressionControls manualProgressionControls(const ManualProgressionState& state) {
    ManualProgressionControls controls;
    controls.okEnabled = state.meterChosen && (state.keyChosen || state.withoutKey);
    // Once ticked it stays reachable, or the locked lists could never be unlocked.
    controls.withoutKeyEnabled = state.meterChosen || state.keyChosen || state.withoutKey;
    controls.listsEnabled = !state.withoutKey;
    return controls;
}

ManualProgression manualProgression(int meterItem, int keyItem, bool withoutKey) {
    ManualProgression choice;
    const auto& meters = manualMeters();
    if (isChosen(meterItem) && meterItem <= static_cast<int>(meters.size()))
        choice.meter = meters[static_cast<std::size_t>(meterItem - 1)];
    if (!withoutKey && isChosen(keyItem) && isValidKey(keyItem - 1)) choice.key = keyItem - 1;
    return choice;
}

}  // namespace varimel::model
