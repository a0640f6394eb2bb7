// DocumentOpening: what the main window does when a document opens, before anything is played,
// saved or exported — load the melody or project, take the tempo and the channels' instruments
// and volumes, and for a harmonised project restore its accompaniment without harmonising
// again. Free of any control, so that the window and the command line run the same steps.
//
// Use:
//   auto document = std::make_unique<OpenedDocument>();   // stays put: the composition points
//   OpeningRequest request{path, DocumentKind::kMidi};     // into its channel table
//   request.styles = &styles; request.arrangements = &arrangements;
//   request.report = [](const std::string& text) { showWarning(text); };
//   request.chooseMelodyChannel = [](const std::vector<int>& channels) { return channels[0]; };
//   const StatusCode status = openDocument(*document, request);
//   if (!documentUsable(status)) ...                      // the window's load-status report
//   ... harmonise (new chord track) then finishHarmonising(*document, report), or play/export.
//   Before a save or an export: storeDocumentSettings(*document).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "accompaniment/AccompanimentChoice.h"
#include "engine/ChannelSettings.h"
#include "engine/Wchordmaster.h"
#include "settings/HarmonyOptions.h"

namespace varimel {

class StyleLibrary;
class ArrangementLibrary;

// The window's document kinds: 1 a Standard MIDI File, 2 a project file.
enum class DocumentKind : int8_t { kNone = 0, kMidi = 1, kProject = 2 };

// The kind by extension as the open dialog decides it: ".mid" or ".vml", any case; kNone for
// any other name (the window then says "Can't open file " and the name).
DocumentKind documentKindByExtension(const std::string& path);

// Receives the texts the window shows in message boxes (the no-style warning, library errors).
using DocumentReporter = std::function<void(const std::string& text)>;

struct OpeningRequest {
    std::string path;
    DocumentKind kind = DocumentKind::kMidi;
    StyleLibrary* styles = nullptr;              // the application's libraries; null: none
    ArrangementLibrary* arrangements = nullptr;  // (the arrangement reporter is the caller's)
    DocumentReporter report;
    // Status 89 (melodies on several channels): gets the candidate channels, answers the one to
    // take or -1 to give up (the set-channel dialog). Unset: the load fails with 89.
    std::function<int(const std::vector<int>& channels)> chooseMelodyChannel;
    // Loads a melody file into the master (formats beyond MIDI); unset: the MIDI reader.
    std::function<StatusCode(ChordMaster& master)> loadMelody;
    // The options a melody starts from (a project brings its own): the user's saved defaults in
    // the window, the factory values elsewhere.
    HarmonyOptions melodyOptions = defaultOptions;
    // The previous document's volumes, which a MIDI file's channels 1..15 take over; the first
    // entry 0 means none.
    std::array<uint8_t, ChannelSettings::kChannels> savedVolumes{};
};

// One open document: what the window's notes view and main window hold for it. Not movable,
// because the composition and the setup point into it.
struct OpenedDocument {
    OpenedDocument() = default;
    OpenedDocument(const OpenedDocument&) = delete;
    OpenedDocument& operator=(const OpenedDocument&) = delete;

    Composition* composition() { return master ? master->composition() : nullptr; }
    const Composition* composition() const { return master ? master->composition() : nullptr; }

    DocumentKind kind = DocumentKind::kNone;
    std::unique_ptr<ChordMaster> master;
    HarmonyOptions options = defaultOptions;  // the window's currentOptions for this document
    ChannelSettings channels;                 // the document's channel table
    AccompanimentSetup setup;                 // points at the libraries and at `channels`
    StatusCode loadStatus = status::kUnreadableFile;
    bool keyRecognised = true;  // false after status 92: the key is taken from the file
};

// Usable means the document opens: status 0, or 92 (the key could not be recognised).
bool documentUsable(StatusCode status);

// Loads the file and, when it is usable, applies the document's settings and (for a project
// with a chord track) restores its style, arrangement and parts. Answers the load status, after
// status 89 the status of the chosen channel's analysis.
StatusCode openDocument(OpenedDocument& document, const OpeningRequest& request);

// The channel table and tempo from the composition, as the window shows them: programs of every
// stored program change; for a project the stored volumes, for a MIDI file the saved ones; the
// tempo of the first tempo event (500000 when none) as the composition's tempo.
void showDocumentSettings(OpenedDocument& document,
                          const std::array<uint8_t, ChannelSettings::kChannels>& savedVolumes = {});

// A harmonised project's accompaniment back as it was saved: extra candidates capped at the
// options' MaxNumCustomChords, the part plan rebuilt, the style kept or chosen (the no-style
// text reported), the stored arrangement loaded, the stored parts set.
void restoreProjectAccompaniment(OpenedDocument& document, const DocumentReporter& report);

// What Create Accompaniment does after a new chord track: a style when one fits (the no-style
// text reported otherwise), else the block-chord part with the options' DefAccPatch.
void finishHarmonising(OpenedDocument& document, const DocumentReporter& report);

// What choosing a key does (the window's key selector, --key, the minor-key question): the key
// is no longer recognised but taken from the key signature, which now says this key.
void setFileKey(Composition& composition, KeyIndex key, HarmonyOptions& options);

// The harmony a new harmonisation replaces: keys, chords, the chord track with the piece's chosen
// style, and the key signature written for them. Create Accompaniment puts it back when the new
// harmonisation fails, so the piece never sounds stale accompaniment over missing chords.
struct HarmonySnapshot {
    KeyIndex masterKey = kNoKey;
    std::vector<KeyRecord> keys;
    std::unique_ptr<std::array<int32_t, 240>> keyStatistics;
    std::string comment;
    std::vector<HarmonySlot> slots;
    std::vector<ChordTrackEntry> chordTrack;
    std::vector<int16_t> partPlan;
    int32_t keySignature = 0;
    bool hasKeySignature = false;
};
HarmonySnapshot takeHarmonySnapshot(ChordMaster& master);
void restoreHarmony(ChordMaster& master, HarmonySnapshot snapshot);
// After a successful harmonisation: the style the user chose for the piece stays its style.
void keepChosenStyle(Composition& composition, const HarmonySnapshot& before);

// Before a save or an export: the channel table's programs and volumes into the composition,
// and the tempo the user chose (`Composition::tempo`) into its tempo events.
void storeDocumentSettings(OpenedDocument& document);
// The composition's tempo into its tempo events: the first takes it, later ones keep their ratio
// to the first, a piece without one gains one at its start. An unchanged tempo changes nothing.
void storeTempo(Composition& composition);

// The text of a message box for one line of a terminal: its "\n\r" breaks become spaces.
std::string oneLine(const std::string& text);

}  // namespace varimel
