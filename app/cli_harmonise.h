// Harmonising one file as the main window does: load, apply a draft, choose or take the key,
// harmonise, answer the major-or-minor question — and the JSON that describes the result.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "accompaniment/AccompanimentChoice.h"
#include "accompaniment/DocumentOpening.h"
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
    int melodyChannel = -1;      // status 89: the channel to take as the melody; -1 none
    // Accompaniment: "" (what Create Accompaniment does), "1", "style", "arrange", "style+arrange".
    std::string parts;
    std::string style = "auto";        // "auto", "none", a style name or identifier
    std::string arrangement = "auto";  // "auto", "none", an arrangement name or identifier
    bool accompany = true;             // false: harmony only
};

// The installed libraries, from the folders the settings name. One per worker: a document's
// composition points into them, and choosing changes their selection.
struct AccompanimentContext {
    StyleLibrary styles;
    ArrangementLibrary arrangements;
    std::vector<std::string> messages;  // the libraries' failures, not yet handed to an outcome
};

struct HarmoniseOutcome {
    std::string file;
    // Declared before the document, which points into it, so that it goes after the document.
    std::shared_ptr<AccompanimentContext> accompaniment;
    std::unique_ptr<OpenedDocument> document;
    ChordMaster* master = nullptr;  // the document's
    HarmonyOptions options;         // the options of the document's harmony
    StatusCode loadStatus = 0;
    StatusCode status = 0;
    bool harmonised = false;            // false: the load ended the work ("stage": "load")
    std::vector<std::string> warnings;  // e.g. an extension that disagrees
    std::vector<std::string> accompanimentProblems;  // e.g. no style for the meter
    // A request that cannot be met (an unknown style, a style for another meter): exit 2.
    std::string requestError;

    ChannelSettings& channels() { return document->channels; }
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

// A key as the user types it: the program's names (C-dur, a-moll) or English ones (C, Am, F#m,
// Bb, "C major", "a minor"), in any case; kNoKey when it names none.
KeyIndex keyFromUserName(const std::string& name);

// The installed style and arrangement libraries, from the folders the settings name; their
// failures are in `messages`, with the texts the window shows.
std::shared_ptr<AccompanimentContext> openLibraries();

// Opens a document as the window does. A project with a chord track keeps its stored harmony
// unless a draft or a key is asked for; a MIDI file is harmonised when `harmoniseMelody` (or a
// draft or key is asked for). The accompaniment is rendered. `libraries`: a worker's own, or
// null to open them.
HarmoniseOutcome openFile(const std::string& path, const HarmoniseRequest& request,
                          bool harmoniseMelody,
                          std::shared_ptr<AccompanimentContext> libraries = nullptr);
HarmoniseOutcome harmoniseFile(const std::string& path, const HarmoniseRequest& request,
                               std::shared_ptr<AccompanimentContext> libraries = nullptr);

// "FILE: status N (meaning)", with the reader's reason for a failed load and what to do about
// several melody channels (--channel) or an unknown key (--key).
std::string statusReport(const HarmoniseOutcome& outcome);

// Prints the outcome's warnings and accompaniment problems on standard error.
void reportProblems(const HarmoniseOutcome& outcome);

// The result as one ordered JSON object.
nlohmann::ordered_json outcomeJson(const HarmoniseOutcome& outcome);
// The same object as one line of text; with `explain`, each bar also carries its "fit".
std::string outcomeLine(const HarmoniseOutcome& outcome, bool explain);

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
// The fit of every bar (negative: none), and one as the JSON shows it.
std::vector<double> chordFitOf(const HarmoniseOutcome& outcome);
double roundedFit(double fit);
std::string fitChart(const HarmoniseOutcome& outcome);

}  // namespace varimel::cli
