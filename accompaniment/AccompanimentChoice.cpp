#include "accompaniment/AccompanimentChoice.h"

#include "accompaniment/Tarangsmaster.h"
#include "accompaniment/Tstylemaster.h"

namespace varimel {

namespace {

constexpr int kAccompanimentChannel = 1;
constexpr int kOrganChannel = 2;
constexpr int kBassChannel = 3;
constexpr int kDrumsChannel = 9;
constexpr int kVolumeController = 7;
constexpr int kStyleSeedModulus = 4;
constexpr int32_t kMicrosecondsPerMinute = 60000000;

// Styles and arrangements fit the piece's meter, not that of a shorter pick-up bar.
void meterOfFirstBar(const Composition& composition, int& numerator, int& denominator) {
    composition.meterMap().meterOfPiece(numerator, denominator);
}

bool validChannel(int channel) {
    return channel >= 0 && channel < ChannelSettings::kChannels;
}

}  // namespace

void resetForDocument(AccompanimentSetup& setup) {
    setup.stylePatchSet = false;
    setup.arrangementPatchesSet = false;
    setup.arrangementEnabled = false;
    if (setup.arrangements) setup.arrangements->choiceMade = false;
}

int styleSeed(const Composition& composition) {
    const int64_t notes = composition.noteTracks().count(0);
    const int64_t bars = composition.barCount > 0 ? composition.barCount : 0;
    return static_cast<int>((notes + bars) % kStyleSeedModulus);
}

int compositionBpm(const Composition& composition) {
    const int32_t tempo = composition.tempo > 0 ? composition.tempo : Composition::kDefaultTempo;
    return kMicrosecondsPerMinute / tempo;
}

bool chooseStyle(AccompanimentSetup& setup, Composition& composition) {
    StyleLibrary* library = setup.styles;
    if (!library || !library->loaded()) return false;
    int numerator = 0, denominator = 0;
    meterOfFirstBar(composition, numerator, denominator);

    StyleId id = composition.styleId();
    if (id < 0) {
        const Style* selected = library->selectedStyle();
        if (selected && StyleLibrary::meterFits(selected->meters, numerator, denominator)) {
            id = library->selection();
        } else {
            setup.arrangementEnabled = false;
            id = library->autoSelect(numerator, denominator, styleSeed(composition));
        }
    }
    const Style* style = id >= 0 ? library->style(id) : nullptr;
    if (style) {
        // Only an explicit choice (the Style command) goes into the chord track; an automatic
        // one is made again whenever the document opens.
        composition.style = style;
        // The block-chord bit means something only alone.
        composition.setAccompanimentParts(
            (composition.accompanimentParts | accompaniment_part::kStyle) &
            ~accompaniment_part::kBlockChords);
        return true;
    }
    composition.setAccompanimentParts(composition.accompanimentParts & ~accompaniment_part::kStyle);
    return false;
}

void applyPatch(AccompanimentSetup& setup, Composition& composition, int channel, int program) {
    if (!validChannel(channel)) return;
    const uint8_t value = static_cast<uint8_t>(program & 0x7F);
    if (setup.channels) setup.channels->program[static_cast<size_t>(channel)] = value;
    composition.setEvent(static_cast<uint8_t>(event_kind::kProgramChange | channel), 0,
                         packEventValue(value), 0, true, 0);
    composition.setStateFlags(state_flag::kContentChanged, true);
}

void setChannelVolume(AccompanimentSetup& setup, Composition& composition, int channel,
                      int volume) {
    if (!validChannel(channel) || volume <= 0) return;
    const uint8_t value = static_cast<uint8_t>(volume > 127 ? 127 : volume);
    if (setup.channels) setup.channels->volume[static_cast<size_t>(channel)] = value;
    composition.setEvent(static_cast<uint8_t>(event_kind::kController | channel), kVolumeController,
                         packEventValue(kVolumeController, value), 0, true, 0);
    composition.setStateFlags(state_flag::kContentChanged, true);
}

void applyStylePatch(AccompanimentSetup& setup, Composition& composition) {
    const Style* style = composition.style;
    if (!style && setup.styles) style = setup.styles->selectedStyle();
    if (!style) return;
    if (style->octave < composition.accompanimentOctave) {
        composition.accompanimentOctave = style->octave;
    }
    applyPatch(setup, composition, kAccompanimentChannel, style->program);
    setup.stylePatchSet = true;
}

void applyArrangementPatches(AccompanimentSetup& setup, Composition& composition) {
    const ArrangementLibrary* library = setup.arrangements;
    // Without a readable part 0 (nothing found, or the file failed) the defaults apply.
    const ArrangementPart* part0 =
        library && !library->noArrangement ? library->currentPart0() : nullptr;
    using namespace default_band;
    applyPatch(setup, composition, kOrganChannel, part0 ? part0->organProgram : kOrganProgram);
    setChannelVolume(setup, composition, kOrganChannel, part0 ? part0->organVolume : kOrganVolume);
    applyPatch(setup, composition, kBassChannel, part0 ? part0->bassProgram : kBassProgram);
    setChannelVolume(setup, composition, kBassChannel, part0 ? part0->bassVolume : kBassVolume);
    setChannelVolume(setup, composition, kDrumsChannel, part0 ? part0->drumsVolume : kDrumsVolume);
    setup.arrangementPatchesSet = true;
}

void chooseArrangement(AccompanimentSetup& setup, Composition& composition, ArrangementId id) {
    if (setup.playing) return;
    ArrangementLibrary* library = setup.arrangements;
    if (!library) {
        // No library at all: the simple accompaniment with the default band.
        composition.arrangement = nullptr;
        composition.arrangementId = kNoArrangement;
        composition.setAccompanimentParts(
            (composition.accompanimentParts | accompaniment_part::kArrangement) &
            ~accompaniment_part::kBlockChords);
        if (!setup.arrangementPatchesSet) applyArrangementPatches(setup, composition);
        setup.arrangementEnabled = true;
        return;
    }
    if (library->choiceMade) return;

    library->loadList();  // a list that failed before is tried again
    int numerator = 0, denominator = 0;
    meterOfFirstBar(composition, numerator, denominator);
    library->setMeter(numerator, denominator);
    if (id == kNoArrangement) id = library->autoChoose(compositionBpm(composition));

    library->chosenId = id;
    composition.arrangementId = id;
    if (arrangementGroupOf(id) > library->groupCount()) {
        library->noArrangement = true;
        composition.arrangement = nullptr;
    } else {
        library->noArrangement = false;
        library->select(id);
        composition.arrangement = library->current();
    }
    library->choiceMade = true;
    setAccompanimentMode(setup, composition,
                         composition.accompanimentParts | accompaniment_part::kArrangement,
                         ModeChange::kAdd);
}

uint32_t setAccompanimentMode(AccompanimentSetup& setup, Composition& composition, uint32_t parts,
                              ModeChange how) {
    if (setup.playing) return composition.accompanimentParts;
    if (parts == accompaniment_part::kBlockChords) {
        setup.arrangementEnabled = false;
        if (how != ModeChange::kShowOnly) composition.setAccompanimentParts(parts);
    } else {
        if (how != ModeChange::kSetExactly) {
            parts = (parts | composition.accompanimentParts) & ~accompaniment_part::kBlockChords;
        }
        if (how != ModeChange::kShowOnly) {
            composition.setAccompanimentParts(parts);
            // The style dialog's box follows the part, or its next OK would bring it back.
            if (!(parts & accompaniment_part::kArrangement)) setup.arrangementEnabled = false;
        }
        if ((parts & accompaniment_part::kStyle) && !setup.stylePatchSet) {
            applyStylePatch(setup, composition);
        }
        if (parts & accompaniment_part::kArrangement) {
            chooseArrangement(setup, composition, kNoArrangement);
            if (!setup.arrangementPatchesSet) applyArrangementPatches(setup, composition);
            setup.arrangementEnabled = true;
        }
    }
    composition.setStateFlags(state_flag::kAccompanimentModeChanged, true);
    return parts;
}

bool createAccompanimentParts(AccompanimentSetup& setup, Composition& composition,
                              int defaultProgram) {
    bool styleFound = true;
    if (!(composition.accompanimentParts & accompaniment_part::kStyle)) {
        styleFound = chooseStyle(setup, composition);
    }
    if (composition.accompanimentParts & accompaniment_part::kStyle) {
        setAccompanimentMode(setup, composition, accompaniment_part::kStyle, ModeChange::kShowOnly);
    } else {
        applyPatch(setup, composition, kAccompanimentChannel, defaultProgram);
        setAccompanimentMode(setup, composition, accompaniment_part::kBlockChords,
                             ModeChange::kAdd);
    }
    return styleFound;
}

std::array<LightLook, 3> modeLights(uint32_t parts, bool hasStyleSelection) {
    const LightLook styleOff = hasStyleSelection ? LightLook::Off : LightLook::Unavailable;
    if (parts == accompaniment_part::kBlockChords) {
        return {LightLook::On, styleOff, LightLook::Off};
    }
    return {LightLook::Off, (parts & accompaniment_part::kStyle) ? LightLook::On : styleOff,
            (parts & accompaniment_part::kArrangement) ? LightLook::On : LightLook::Off};
}

namespace {

// A switch never leaves the piece silent: no parts at all means the block chords.
uint32_t soundingParts(uint32_t parts) {
    return parts == 0 ? accompaniment_part::kBlockChords : parts;
}

bool hasStyleSelection(const AccompanimentSetup& setup) {
    return setup.styles != nullptr && setup.styles->selection() >= 0;
}

}  // namespace

SwitchOutcome toggleAccompanimentPart(AccompanimentSetup& setup, Composition& composition,
                                      int row) {
    if (setup.playing || row < 0 || row > 2) return SwitchOutcome::kRefused;
    const uint32_t bit = 1u << row;
    const uint32_t parts = composition.accompanimentParts;
    uint32_t result = 0;
    if (bit == accompaniment_part::kBlockChords) {
        result = (parts & accompaniment_part::kBlockChords) ? composition.previousParts
                                                            : accompaniment_part::kBlockChords;
    } else {
        if (bit == accompaniment_part::kStyle && !hasStyleSelection(setup)) {
            return SwitchOutcome::kStyleUnavailable;
        }
        result = parts ^ bit;
        if (result != 0) result &= ~accompaniment_part::kBlockChords;
    }
    setAccompanimentMode(setup, composition, soundingParts(result), ModeChange::kSetExactly);
    return SwitchOutcome::kChanged;
}

void applyStyleDialogResult(AccompanimentSetup& setup, Composition& composition,
                            const StyleDialogResult& result) {
    if (!result.accepted || setup.playing) return;
    const StyleId selection = setup.styles ? result.selection : kNoStyle;
    if (selection >= 0 || result.arrangementEnabled) {
        if (result.arrangementEnabled) {
            setAccompanimentMode(setup, composition,
                                 composition.accompanimentParts | accompaniment_part::kArrangement,
                                 ModeChange::kAdd);
        } else {
            setAccompanimentMode(
                setup, composition,
                soundingParts(composition.accompanimentParts & ~accompaniment_part::kArrangement),
                ModeChange::kSetExactly);
        }
        if (selection >= 0) {
            composition.style = setup.styles->style(selection);
            if (composition.style) {
                setup.stylePatchSet = false;
                setAccompanimentMode(setup, composition,
                                     composition.accompanimentParts | accompaniment_part::kStyle,
                                     ModeChange::kAdd);
            }
        }
    } else {
        setAccompanimentMode(setup, composition, accompaniment_part::kBlockChords,
                             ModeChange::kSetExactly);
    }
    if (selection < 0) {
        setAccompanimentMode(
            setup, composition,
            soundingParts(composition.accompanimentParts & ~accompaniment_part::kStyle),
            ModeChange::kSetExactly);
    }
    if (composition.hasChordTrack()) composition.chordTrack.front().extra = selection;
}

void toggleArrangement(AccompanimentSetup& setup, Composition& composition) {
    if (setup.playing) return;
    if (composition.accompanimentParts & accompaniment_part::kArrangement) {
        setAccompanimentMode(
            setup, composition,
            soundingParts(composition.previousParts & ~accompaniment_part::kArrangement),
            ModeChange::kSetExactly);
    } else {
        setAccompanimentMode(setup, composition,
                             composition.accompanimentParts | accompaniment_part::kArrangement,
                             ModeChange::kAdd);
    }
}

void applyArrangementChoice(AccompanimentSetup& setup, Composition& composition,
                            ArrangementId selection) {
    if (setup.playing || selection == kNoArrangement) return;
    if (setup.arrangements) setup.arrangements->choiceMade = false;
    setup.arrangementPatchesSet = false;
    chooseArrangement(setup, composition, selection);
    setAccompanimentMode(setup, composition,
                         composition.accompanimentParts | accompaniment_part::kArrangement,
                         ModeChange::kAdd);
}

std::string noStyleForMeterMessage(const Composition& composition) {
    int numerator = 0, denominator = 0;
    meterOfFirstBar(composition, numerator, denominator);
    const std::string meter = std::to_string(numerator) + "/" + std::to_string(denominator);
    std::string message = kNoStyleForMeterMessage;
    const size_t at = message.find("%s");
    if (at != std::string::npos) message.replace(at, 2, meter);
    return message;
}

}  // namespace varimel
