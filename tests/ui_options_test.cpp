// The options dialog's controls read from and stored into an options record, and the manual
// chord progression dialog's lists, enabled states and choice, without a window.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/Tonality.h"
#include "settings/HarmonyOptions.h"
#include "ui/model/InstrumentNames.h"
#include "ui/model/OptionsForm.h"

namespace varimel::model {
namespace {

// A file naming two programs: entries 0 and 1 are names, then "1".."128" follow.
InstrumentNames twoNames() {
    InstrumentNames names;
    names.setNames({"Piano", "Bright Piano"});
    return names;
}

InstrumentNames allNames() {
    std::vector<std::string> list;
    for (int program = 0; program < InstrumentNames::kProgramCount; ++program)
        list.push_back("GM " + std::to_string(program));
    InstrumentNames names;
    names.setNames(std::move(list));
    return names;
}

TEST(OptionsForm, CustomChordsTextReadsLeadingDigitsWithinZeroToNine) {
    EXPECT_EQ(customChordsCount("12"), 9);
    EXPECT_EQ(customChordsCount(" 9"), 9);
    EXPECT_EQ(customChordsCount("5"), 5);
    EXPECT_EQ(customChordsCount("7a"), 7);
    EXPECT_EQ(customChordsCount("99999999999999999999"), 9);
    EXPECT_EQ(customChordsCount("-3"), 0);
    EXPECT_EQ(customChordsCount("x1"), 0);
    EXPECT_EQ(customChordsCount(""), 0);
    EXPECT_EQ(customChordsCount("  "), 0);
    EXPECT_EQ(customChordsText(9), " 9");
    EXPECT_EQ(customChordsText(0), " 0");
}

TEST(OptionsForm, TwelveCustomChordsAreStoredAsNineAndShownAsNine) {
    const InstrumentNames names = allNames();
    HarmonyOptions options;
    OptionsControls controls = optionsControls(options, names);
    controls.customChords = "12";
    storeOptionsControls(controls, names, options);
    EXPECT_EQ(options.MaxNumCustomChords, 9);
    EXPECT_EQ(optionsControls(options, names).customChords, " 9");
}

TEST(OptionsForm, AnyMethodButStandardShowsAdvancedAndStoresOne) {
    const InstrumentNames names = allNames();
    HarmonyOptions options;
    options.SHBmode = 2;
    OptionsControls controls = optionsControls(options, names);
    EXPECT_TRUE(controls.advanced);
    storeOptionsControls(controls, names, options);
    EXPECT_EQ(options.SHBmode, 1);

    controls.advanced = false;
    storeOptionsControls(controls, names, options);
    EXPECT_EQ(options.SHBmode, 0);
    EXPECT_FALSE(optionsControls(options, names).advanced);
}

TEST(OptionsForm, EachControlShowsAndStoresItsOwnField) {
    const InstrumentNames names = allNames();
    HarmonyOptions options;
    options.AutoKey = false;
    options.DSFilter = true;
    options.CSFilter = false;
    options.AutoSaveOpt = false;
    options.DefAccPatch = 40;
    OptionsControls shown = optionsControls(options, names);
    EXPECT_FALSE(shown.autoKey);
    EXPECT_TRUE(shown.dissonanceFilter);
    EXPECT_FALSE(shown.chordFilter);
    EXPECT_FALSE(shown.saveAsDefault);
    EXPECT_EQ(shown.patchEntry, 40);

    // Each control flipped alone changes its field alone.
    shown.autoKey = true;
    shown.chordFilter = true;
    HarmonyOptions stored = options;
    storeOptionsControls(shown, names, stored);
    HarmonyOptions expected = options;
    expected.AutoKey = true;
    expected.CSFilter = true;
    EXPECT_EQ(stored, expected);
}

TEST(OptionsForm, DefaultsStoredOverChangedOptionsChangeOnlyTheShownFields) {
    const InstrumentNames names = allNames();
    HarmonyOptions options;
    options.SHBmode = 0;
    options.CSFilter = true;
    options.DSFilter = true;
    options.MaxNumCustomChords = 3;
    options.AutoKey = false;
    options.DefAccPatch = 52;
    options.AutoSaveOpt = false;
    // Fields the dialog never shows.
    options.ApplyPKey = true;
    options.MinWT = 0.5f;
    options.MinTaktBT = 6;
    options.kDSFilter = 0.25f;

    storeOptionsControls(optionsControls(defaultOptions, names), names, options);
    HarmonyOptions expected = defaultOptions;
    expected.ApplyPKey = true;
    expected.MinWT = 0.5f;
    expected.MinTaktBT = 6;
    expected.kDSFilter = 0.25f;
    EXPECT_EQ(options, expected);
}

TEST(OptionsForm, PatchEntriesMapToProgramsThroughTheInstrumentList) {
    const InstrumentNames names = twoNames();
    HarmonyOptions options;
    options.DefAccPatch = 1;
    EXPECT_EQ(optionsControls(options, names).patchEntry, 1);
    // Program 33 is not named: it shows as its number, entry 2 + 33 ("34").
    options.DefAccPatch = 33;
    OptionsControls controls = optionsControls(options, names);
    EXPECT_EQ(controls.patchEntry, 35);
    EXPECT_EQ(names.entries()[35], "34");

    controls.patchEntry = 2 + 40;  // "41"
    storeOptionsControls(controls, names, options);
    EXPECT_EQ(options.DefAccPatch, 40);
    controls.patchEntry = 0;
    storeOptionsControls(controls, names, options);
    EXPECT_EQ(options.DefAccPatch, 0);
}

TEST(OptionsForm, NoPatchSelectedKeepsAValidProgramElseTakesZero) {
    const InstrumentNames names = allNames();
    HarmonyOptions options;
    options.DefAccPatch = 48;
    OptionsControls controls = optionsControls(options, names);
    controls.patchEntry = -1;
    storeOptionsControls(controls, names, options);
    EXPECT_EQ(options.DefAccPatch, 48);

    options.DefAccPatch = -5;
    EXPECT_EQ(optionsControls(options, names).patchEntry, -1);
    storeOptionsControls(controls, names, options);
    EXPECT_EQ(options.DefAccPatch, 0);

    // Without any list (nothing filled), nothing can be chosen either.
    options.DefAccPatch = 12;
    storeOptionsControls(controls, InstrumentNames(), options);
    EXPECT_EQ(options.DefAccPatch, 12);
}

TEST(ManualProgression, ListsStartWithAPlaceholderThenMetersOrKeysInKeyOrder) {
    const auto meters = manualMeterItems();
    ASSERT_EQ(meters.size(), manualMeters().size() + 1);
    EXPECT_NE(std::find(meters.begin(), meters.end(), "4/4"), meters.end());
    EXPECT_NE(std::find(meters.begin(), meters.end(), "6/8"), meters.end());
    const auto keys = manualKeyItems();
    ASSERT_EQ(keys.size(), 25u);
    EXPECT_EQ(keys[1], "Cis-dur");
    EXPECT_EQ(keys[24], "cis-moll");
    EXPECT_EQ(keys[20], "a-moll");
    EXPECT_FALSE(isChosen(0));
    EXPECT_FALSE(isChosen(-1));
    EXPECT_TRUE(isChosen(1));
}

TEST(ManualProgression, OkNeedsAMeterAndEitherAKeyOrNoKeyTicked) {
    const auto controls = [](bool meter, bool key, bool withoutKey) {
        return manualProgressionControls({meter, key, withoutKey});
    };
    EXPECT_FALSE(controls(false, false, false).okEnabled);
    EXPECT_FALSE(controls(false, false, false).withoutKeyEnabled);

    // A meter alone offers "w/o Key" but no OK; with a key as well OK comes.
    EXPECT_FALSE(controls(true, false, false).okEnabled);
    EXPECT_TRUE(controls(true, false, false).withoutKeyEnabled);
    EXPECT_TRUE(controls(true, true, false).okEnabled);
    // A key alone is not enough, with or without the box.
    EXPECT_FALSE(controls(false, true, false).okEnabled);
    EXPECT_FALSE(controls(false, true, true).okEnabled);
    EXPECT_TRUE(controls(false, true, false).withoutKeyEnabled);

    // A meter and "w/o Key": OK, and the lists are locked while the box stays reachable.
    const ManualProgressionControls keyless = controls(true, false, true);
    EXPECT_TRUE(keyless.okEnabled);
    EXPECT_FALSE(keyless.listsEnabled);
    EXPECT_TRUE(keyless.withoutKeyEnabled);
    EXPECT_TRUE(controls(true, false, false).listsEnabled);
}

TEST(ManualProgression, ChoiceGivesTheMeterAndTheKeyUnlessKeyless) {
    const auto items = manualMeterItems();
    const int fourFour =
        static_cast<int>(std::find(items.begin(), items.end(), "4/4") - items.begin());
    ManualProgression choice = manualProgression(fourFour, 20, false);
    EXPECT_EQ(choice.meter.numerator, 4);
    EXPECT_EQ(choice.meter.denominator, 4);
    EXPECT_EQ(keyName(choice.key), "a-moll");

    choice = manualProgression(fourFour, 20, true);
    EXPECT_EQ(choice.key, kNoKey);
    EXPECT_EQ(choice.meter.numerator, 4);

    choice = manualProgression(0, 0, false);
    EXPECT_EQ(choice.meter.numerator, 0);
    EXPECT_EQ(choice.key, kNoKey);
    choice = manualProgression(static_cast<int>(items.size()), 25, false);
    EXPECT_EQ(choice.meter.numerator, 0);
    EXPECT_EQ(choice.key, kNoKey);
}

}  // namespace
}  // namespace varimel::model
