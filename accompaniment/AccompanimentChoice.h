// AccompanimentChoice: the main window's accompaniment decisions, free of any control — which
// style and arrangement a piece gets, which parts sound, and the instruments and volumes of
// their channels — so that the command line and the window run the very same code.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "accompaniment/PatternFiles.h"
#include "engine/Apperr.h"

namespace varimel {

class StyleLibrary;
class ArrangementLibrary;

// Instruments of the arrangement channels when no arrangement was found (GM programs from 0:
// Drawbar Organ, Acoustic Bass).
namespace default_band {
inline constexpr uint8_t kOrganProgram = 16;
inline constexpr uint8_t kOrganVolume = 70;
inline constexpr uint8_t kBassProgram = 33;
inline constexpr uint8_t kBassVolume = 100;
inline constexpr uint8_t kDrumsVolume = 100;
}  // namespace default_band

// What the main window holds for these decisions besides the composition.
struct AccompanimentSetup {
    StyleLibrary* styles = nullptr;              // the style dialog's library; null: none
    ArrangementLibrary* arrangements = nullptr;  // the arrangement dialog's library
    ChannelSettings* channels = nullptr;         // the open document's channel table
    bool stylePatchSet = false;                  // the style's instrument is on channel 1
    bool arrangementPatchesSet = false;          // the arrangement's instruments are on 2, 3 and 9
    bool arrangementEnabled = false;             // the style dialog's "Enable Arrangement" box
    bool playing = false;                        // while the player thread runs nothing changes
};

// How setAccompanimentMode treats the parts it is given.
enum class ModeChange { kShowOnly = 0, kAdd = 1, kSetExactly = 2 };

// A document was opened or closed: no patch is set, no arrangement applied.
void resetForDocument(AccompanimentSetup& setup);

// Seed of the automatic style choice: (melody notes + bars) mod 4.
int styleSeed(const Composition& composition);

// Keeps the composition's style; else takes the library's selection when it fits the meter of
// bar 0; else chooses automatically. True when the composition ends with a style (the style
// part is then on); false turns the style part off.
bool chooseStyle(AccompanimentSetup& setup, Composition& composition);

// The style's program on channel 1; a style lower than the accompaniment octave lowers it.
void applyStylePatch(AccompanimentSetup& setup, Composition& composition);

// Chooses (id -1: automatically by meter and tempo) and loads the arrangement, and turns the
// arrangement part on. Does nothing while playing or once an arrangement was applied for the
// document.
void chooseArrangement(AccompanimentSetup& setup, Composition& composition, ArrangementId id);

// Organ, bass and drums programs and volumes from the arrangement's part 0, or the defaults
// when none was found.
void applyArrangementPatches(AccompanimentSetup& setup, Composition& composition);

// A channel's program (kept in the channel table and as the composition's program change).
void applyPatch(AccompanimentSetup& setup, Composition& composition, int channel, int program);
// A channel's volume; 0 only silences and is not stored.
void setChannelVolume(AccompanimentSetup& setup, Composition& composition, int channel, int volume);

// Sets the parts (1 alone is the block-chord part; any other value drops bit 1) and puts the
// instruments of newly sounding parts on their channels. Answers the parts it arrived at.
uint32_t setAccompanimentMode(AccompanimentSetup& setup, Composition& composition, uint32_t parts,
                              ModeChange how);

// What Create Accompaniment does after harmonising: a style when one fits, else the block-chord
// part with `defaultProgram` (DefAccPatch) on channel 1. False when no style fits the meter,
// for the caller to show noStyleForMeterMessage.
bool createAccompanimentParts(AccompanimentSetup& setup, Composition& composition,
                              int defaultProgram);

// The mode switches, row 0 "1-beat", 1 "style", 2 "arrange": "1-beat" goes back to the parts
// before it (or stays alone when there were none); "style" and "arrange" toggle their part,
// and switching the last one off leaves the block chords.
enum class SwitchOutcome { kChanged, kStyleUnavailable, kRefused };
SwitchOutcome toggleAccompanimentPart(AccompanimentSetup& setup, Composition& composition, int row);

// How the style dialog was left: the library's selection (-1 none) and its "Enable
// Arrangement" box. Only OK changes the piece; the chosen style is kept in the chord track so
// that the project reopens with it.
struct StyleDialogResult {
    bool accepted = false;
    StyleId selection = kNoStyle;
    bool arrangementEnabled = false;
};
void applyStyleDialogResult(AccompanimentSetup& setup, Composition& composition,
                            const StyleDialogResult& result);

// The arrangement switch of the toolbar: off goes back to the parts before the arrangement,
// on adds the arrangement chosen automatically (or kept from before).
void toggleArrangement(AccompanimentSetup& setup, Composition& composition);

// The arrangement dialog's OK: the selection replaces any arrangement applied before, with its
// own instruments, and the arrangement part sounds.
void applyArrangementChoice(AccompanimentSetup& setup, Composition& composition,
                            ArrangementId selection);

// "There are no accompaniment style ... for meter 6/8 ..." with the meter of bar 0.
std::string noStyleForMeterMessage(const Composition& composition);

// How the window draws each of the three mode lights ("1-beat", "style", "arrange").
enum class LightLook { Off, On, Unavailable };
// The lights for a set of parts: the block-chord light alone for exactly 1; the style light off
// when a style could be switched on (the style dialog has a selection), else unavailable.
std::array<LightLook, 3> modeLights(uint32_t parts, bool hasStyleSelection);

// Beats per minute of the composition's tempo.
int compositionBpm(const Composition& composition);

}  // namespace varimel
