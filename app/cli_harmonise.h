// Harmonising one file as the main window does: load, apply a draft, choose or take the key,
// harmonise, answer the major-or-minor question — and the JSON that describes the result.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/Wchordmaster.h"
#include "settings/HarmonyOptions.h"

namespace varimel::cli {

struct HarmoniseRequest {
    int draft = 0;  // 0: none given (Draft I for a MIDI file, the stored options for a project)
    std::string key = "auto";    // "auto" or a key name such as "a-moll"
    int answerMajorOrMinor = 0;  // status 96: 0 report it, 1 take the minor key, 2 the major key
};

struct HarmoniseOutcome {
    std::string file;
    std::unique_ptr<ChordMaster> master;
    HarmonyOptions options;
    StatusCode loadStatus = 0;
    StatusCode status = 0;
    bool harmonised = false;  // false: the load ended the work ("stage": "load")
};

HarmoniseOutcome harmoniseFile(const std::string& path, const HarmoniseRequest& request);

// The result as one ordered JSON object.
nlohmann::ordered_json outcomeJson(const HarmoniseOutcome& outcome);

// The readable chord chart: file, key, meter, then the bars with their chord names.
std::string chordChart(const HarmoniseOutcome& outcome);

}  // namespace varimel::cli
