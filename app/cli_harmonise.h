// Harmonising one file as the main window does: load, apply a draft, choose or take the key,
// harmonise, answer the major-or-minor question — and the JSON that describes the result.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "accompaniment/AccompanimentChoice.h"
#include "accompaniment/Tarangsmaster.h"
#include "accompaniment/Tstylemaster.h"
#include "engine/Wchordmaster.h"
#include "settings/HarmonyOptions.h"

namespace CLI {
class App;
}

namespace varimel::cli {

struct HarmoniseRequest {
    // 0: none given (Draft IV for a MIDI file, the stored options for a project)
    int draft = 0;
    std::string key = "auto";    // "auto" or a key name such as "a-moll"
    int answerMajorOrMinor = 0;  // status 96: 0 report it, 1 take the minor key, 2 the major key
    // Accompaniment: "" (what Create Accompaniment does), "1", "style", "arrange", "style+arrange".
    std::string parts;
    std::string style = "auto";        // "auto", "none", a style name or identifier
    std::string arrangement = "auto";  // "auto", "none", an arrangement name or identifier
    bool accompany = true;             // false: harmony only
};

// The installed libraries, from the folders the settings name, and the document's channels.
struct AccompanimentContext {
    StyleLibrary styles;
    ArrangementLibrary arrangements;
    ChannelSettings channels;
    std::string problem;  // why the libraries are missing, when they are
};

struct HarmoniseOutcome {
    std::string file;
    std::unique_ptr<ChordMaster> master;
    HarmonyOptions options;
    StatusCode loadStatus = 0;
    StatusCode status = 0;
    bool harmonised = false;  // false: the load ended the work ("stage": "load")
    // Owned here because the composition points into its libraries and channel table.
    std::unique_ptr<AccompanimentContext> accompaniment;
    std::string accompanimentProblem;  // e.g. no style for the meter, unknown style name
};

// The options every command that harmonises shares (harmonise, play, render).
struct HarmoniseFlags {
    HarmoniseRequest request;
    std::string draft;
    bool minor = false;
    bool major = false;

    void addTo(CLI::App* command);
    // The request with the flags applied; call once parsing is done.
    const HarmoniseRequest& resolve();
};

// The installed style and arrangement libraries, from the folders the settings name.
std::unique_ptr<AccompanimentContext> openLibraries();

HarmoniseOutcome harmoniseFile(const std::string& path, const HarmoniseRequest& request);

// The result as one ordered JSON object.
nlohmann::ordered_json outcomeJson(const HarmoniseOutcome& outcome);

// The readable chord chart: file, key, meter, then the bars with their chord names.
std::string chordChart(const HarmoniseOutcome& outcome);

// The draft of a run that names none: its chords agree with musicians' most often.
inline constexpr int kDefaultDraft = kDraftIV;

// "IV" -> 4 for the drafts of the Harmony menu; 0 for none.
int draftNumber(const std::string& name);
// Draft IV has its own method; the other drafts (and none) are option sets for the harmonizer.
ChordMethod chordMethod(int draft);

// --explain: per bar the share of the melody on the chord's tones, as "fit" (0..1, three
// decimals, null without chord or melody) in the JSON bars, and as a chart with one bar a line.
void addFit(nlohmann::ordered_json& json, const HarmoniseOutcome& outcome);
std::string fitChart(const HarmoniseOutcome& outcome);

}  // namespace varimel::cli
