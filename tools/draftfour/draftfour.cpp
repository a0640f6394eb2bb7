// Runs Draft IV on melodies held as JSON lines, one melody per line:
//   {"file", "status", "division", "fileKeyFound",
//    "meters": [[tick, ticksPerBar, numerator, denominator, ticksPerBeat], ...],
//    "notes": [[bar, tick in bar, duration, pitch], ...]}
// and writes one result per line: {"file", "status", "key", "keyName", "keySource",
// "bars": [{"bar", "chord", "chordName", "candidates"}]}.
//
//   varimel-draftfour IN.jsonl OUT.jsonl
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "engine/DraftFour.h"
#include "engine/Status.h"
#include "engine/Tonality.h"

using nlohmann::json;
using nlohmann::ordered_json;
using namespace varimel;

namespace {

draft_four::Melody melodyFrom(const json& record) {
    draft_four::Melody melody;
    melody.ticksPerQuarter = record.value("division", 480);
    melody.fileKey = record.value("fileKeyFound", kNoKey);
    for (const json& m : record.at("meters")) {
        melody.bars.push_back({m.at(1).get<int32_t>(), m.at(2).get<int>(), m.at(3).get<int>(),
                               m.at(4).get<int32_t>()});
    }
    for (const json& n : record.at("notes")) {
        melody.notes.push_back({n.at(0).get<int32_t>(), n.at(1).get<int32_t>(),
                                n.at(2).get<int32_t>(), n.at(3).get<int>()});
    }
    return melody;
}

// Melodies the loader refused (or that have nothing to harmonise) keep their status.
bool harmonisable(const json& record) {
    const int code = record.value("status", 0);
    return !record.value("notes", json::array()).empty() &&
           !record.value("meters", json::array()).empty() &&
           (code == status::kOk || code == status::kTooLittleMaterial ||
            code == status::kKeyNotRecognised || code == status::kMajorOrRelativeMinor ||
            code == status::kManyKeys);
}

ordered_json run(const json& record) {
    ordered_json out;
    out["file"] = record.value("file", "");
    out["method"] = "Draft IV";
    if (!harmonisable(record)) {
        out["status"] = record.value("status", status::kUnreadableFile);
        out["key"] = -1;
        out["bars"] = ordered_json::array();
        return out;
    }
    const draft_four::Melody melody = melodyFrom(record);
    const KeyIndex key = draft_four::chooseKey(melody);
    out["status"] = 0;
    out["key"] = key;
    out["keyName"] = std::string(noteName(tonicOf(key))) +
                     (isMinorKey(key) ? " minor" : " major");
    out["keySource"] = key == melody.fileKey ? "signature" : "melody";
    ordered_json bars = ordered_json::array();
    const std::vector<draft_four::BarHarmony> harmony = draft_four::harmonise(melody, key);
    for (size_t b = 0; b < harmony.size(); ++b) {
        ordered_json candidates = ordered_json::array();
        for (int i = 0; i < harmony[b].rankedCount; ++i) {
            candidates.push_back(harmony[b].ranked[static_cast<size_t>(i)]);
        }
        ordered_json bar;
        bar["bar"] = b;
        bar["chord"] = harmony[b].chord;
        bar["chordName"] = chordName(harmony[b].chord);
        bar["candidates"] = candidates;
        bars.push_back(bar);
    }
    out["bars"] = bars;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: varimel-draftfour IN.jsonl OUT.jsonl\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::cerr << "varimel-draftfour: can't read " << argv[1] << '\n';
        return 1;
    }
    std::ofstream out(argv[2]);
    if (!out) {
        std::cerr << "varimel-draftfour: can't write " << argv[2] << '\n';
        return 1;
    }
    std::string line;
    int count = 0, lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        try {
            out << run(json::parse(line)).dump() << '\n';
            ++count;
        } catch (const json::exception& error) {
            std::cerr << "varimel-draftfour: " << argv[1] << ':' << lineNumber << ": "
                      << error.what() << '\n';
            return 1;
        }
    }
    std::cerr << count << " melodies -> " << argv[2] << '\n';
    return out ? 0 : 1;
}
