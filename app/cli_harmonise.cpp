// The harmonise command: one file, or a whole folder in parallel.
#include "cli_harmonise.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "accompaniment/StyleRenderer.h"
#include "cli_common.h"
#include "cli_leadsheet.h"
#include "cli_play.h"
#include "engine/Mas_file.h"
#include "engine/MidiExport.h"
#include "engine/Tonality.h"
#include "leadsheet/MelodyFiles.h"
#include "settings/RegFile.h"
#include "settings/Tmyregistry.h"

namespace varimel::cli {

namespace {

// What choosing a key in the main window's key selector does: the key is no longer recognised
// but taken from the key signature, which now says this key.
void setFileKey(Composition& composition, KeyIndex key, HarmonyOptions& options) {
    options.AutoKey = false;
    const KeySignature signature = keyToSignature(key);
    composition.setEvent(event_kind::kKeySignature, 0,
                         packEventValue(signature.sharpsFlats, signature.minor), 0, false, 0);
}

}  // namespace

std::unique_ptr<AccompanimentContext> openLibraries() {
    auto context = std::make_unique<AccompanimentContext>();
    SettingsStore store([] { return std::make_unique<RegistryFile>(registryFilePath()); },
                        [&context](const std::string& error) { context->problem = error; });
    std::string styleDir, arrangementDir, styleTool, arrangementTool;
    if (!store.rootKeyExists()) {
        context->problem =
            "Please run setup again (no settings at " + registryFilePath().string() + ")";
        return context;
    }
    store.readLibrarySettings(styleDir, arrangementDir, styleTool, arrangementTool);
    context->styles.setDirectory(styleDir);
    context->arrangements.setDirectory(arrangementDir);
    context->arrangements.setErrorReporter(
        [ctx = context.get()](const std::string& message) { ctx->problem = message; });
    if (!context->styles.load()) context->problem = "can't read the style library in " + styleDir;
    context->arrangements.loadList();
    return context;
}

namespace {

// A name or a number as the user typed it; -1 when neither is known.
template <typename Library>
int32_t libraryId(const Library& library, const std::string& text) {
    const int32_t byName = library.findByName(text);
    if (byName >= 0) return byName;
    try {
        size_t used = 0;
        const long value = std::stol(text, &used, 0);
        if (used == text.size()) return static_cast<int32_t>(value);
    } catch (const std::exception&) {
    }
    return -1;
}

// What Create Accompaniment does after harmonising, with the user's choices of parts, style
// and arrangement; then the notes are rendered as they are before playback or export.
void accompany(HarmoniseOutcome& outcome, const HarmoniseRequest& request, StyleId storedStyle) {
    Composition& composition = *outcome.master->composition();
    outcome.accompaniment = openLibraries();
    AccompanimentContext& context = *outcome.accompaniment;
    outcome.accompanimentProblem = context.problem;
    composition.channelSettings = &context.channels;
    composition.tempo = composition.eventValue(event_kind::kTempo, 0);
    AccompanimentSetup setup;
    setup.styles = context.styles.loaded() ? &context.styles : nullptr;
    setup.arrangements = context.arrangements.listLoaded() ? &context.arrangements : nullptr;
    setup.channels = &context.channels;
    resetForDocument(setup);

    const bool wantStyle =
        request.style != "none" &&
        (request.parts.empty() || request.parts == "style" || request.parts == "style+arrange");
    const bool wantArrangement = request.arrangement != "none" &&
                                 (request.parts == "arrange" || request.parts == "style+arrange" ||
                                  (request.parts.empty() && request.arrangement != "auto"));

    // A project's style survives the new harmony, as the window keeps it with the document.
    if (storedStyle >= 0 && composition.hasChordTrack()) {
        composition.chordTrack.front().extra = storedStyle;
        if (composition.accompanimentParts & accompaniment_part::kStyle)
            chooseStyle(setup, composition);
    }
    if (wantStyle && request.style != "auto" && setup.styles && composition.hasChordTrack()) {
        const StyleId id = libraryId(context.styles, request.style);
        if (id >= 0 && context.styles.find(id)) {
            composition.chordTrack.front().extra = id;
        } else {
            outcome.accompanimentProblem = "unknown style '" + request.style + "'";
        }
    }
    if (wantStyle && request.parts.empty()) {
        if (!createAccompanimentParts(setup, composition, outcome.options.DefAccPatch)) {
            outcome.accompanimentProblem = noStyleForMeterMessage(composition);
        }
    } else if (wantStyle) {
        if (chooseStyle(setup, composition)) {
            setAccompanimentMode(setup, composition, accompaniment_part::kStyle, ModeChange::kAdd);
        } else {
            outcome.accompanimentProblem = noStyleForMeterMessage(composition);
        }
    } else if (request.parts.empty() || request.parts == "1") {
        applyPatch(setup, composition, 1, outcome.options.DefAccPatch);
        setAccompanimentMode(setup, composition, accompaniment_part::kBlockChords,
                             ModeChange::kSetExactly);
    }
    if (wantArrangement) {
        ArrangementId id = kNoArrangement;
        if (request.arrangement != "auto" && setup.arrangements) {
            id = libraryId(context.arrangements, request.arrangement);
            if (!context.arrangements.entry(id)) {
                outcome.accompanimentProblem = "unknown arrangement '" + request.arrangement + "'";
                id = kNoArrangement;
            }
        }
        chooseArrangement(setup, composition, id);
        setAccompanimentMode(setup, composition, accompaniment_part::kArrangement,
                             ModeChange::kAdd);
    }
    renderAccompaniment(composition);
}

}  // namespace

HarmoniseOutcome harmoniseFile(const std::string& path, const HarmoniseRequest& request) {
    HarmoniseOutcome outcome;
    outcome.file = path;
    outcome.options = defaultOptions;
    outcome.master = std::make_unique<ChordMaster>(path);
    ChordMaster& master = *outcome.master;

    const bool project = isProjectFile(path);
    outcome.loadStatus = project ? master.loadProject(outcome.options) : loadMelody(master);
    outcome.status = outcome.loadStatus;
    if (!usable(outcome.loadStatus)) return outcome;

    if (request.draft != 0 || !project) {
        applyDraft(request.draft != 0 ? request.draft : kDraftI, outcome.options);
    }
    // A key that could not be recognised at opening is taken from the file instead.
    if (outcome.loadStatus == status::kTooLittleMaterial) outcome.options.AutoKey = false;

    Composition& composition = *master.composition();
    const StyleId storedStyle = project ? composition.styleId() : kNoStyle;
    if (request.key != "auto") {
        setFileKey(composition, keyFromName(request.key), outcome.options);
    }
    outcome.harmonised = true;
    outcome.status = master.harmonise(outcome.options);
    if (outcome.status == status::kMajorOrRelativeMinor && request.answerMajorOrMinor != 0 &&
        isValidKey(master.key)) {
        const KeyIndex chosen =
            request.answerMajorOrMinor == 1 ? relativeKey(master.key % 12) : master.key % 12;
        setFileKey(composition, chosen, outcome.options);
        outcome.status = master.harmonise(outcome.options);
    }
    if (request.accompany && composition.hasChordTrack() &&
        (outcome.status == status::kOk || outcome.status == status::kManyKeys)) {
        accompany(outcome, request, storedStyle);
    }
    return outcome;
}

nlohmann::ordered_json outcomeJson(const HarmoniseOutcome& outcome) {
    using nlohmann::ordered_json;
    const ChordMaster& master = *outcome.master;
    const Composition* c = master.composition();
    ordered_json json;
    json["file"] = std::filesystem::path(outcome.file).filename().string();
    json["status"] = outcome.status;
    json["stage"] = outcome.harmonised ? "harmonise" : "load";
    json["melodyChannel"] = master.melodyChannel;
    int numerator = 4, denominator = 4;
    if (c) c->meterMap().meterOfBar(0, numerator, denominator);
    json["division"] = c ? c->ticksPerQuarter : 480;
    json["barCount"] = c ? c->barCount : 0;
    json["meter"] = {numerator, denominator};
    json["tempo"] = c ? c->eventValue(event_kind::kTempo, 0) : Composition::kDefaultTempo;
    json["upbeat"] = c ? c->noteTracks().cachedUpbeat() : -1;
    json["fileKey"] = c ? c->fileKey : -1;
    json["accompanimentOctave"] = c ? c->accompanimentOctave : -1;
    const KeyIndex key = outcome.harmonised ? master.key : kNoKey;
    json["key"] = isValidKey(key) ? key : -1;
    json["keyName"] =
        isValidKey(key) ? ordered_json(std::string(keyName(key))) : ordered_json(nullptr);
    ordered_json marks = ordered_json::array();
    for (int k = 0; k < kKeyCount; ++k)
        marks.push_back(c ? c->keyMarks[static_cast<size_t>(k)] : 0);
    json["keyMarks"] = marks;
    if (c && c->hasChordTrack()) {
        ordered_json bars = ordered_json::array();
        for (size_t bar = 0; bar < c->chordTrack.size(); ++bar) {
            const ChordTrackEntry& entry = c->chordTrack[bar];
            const HarmonySlot slot = bar < c->slots.size() ? c->slots[bar] : HarmonySlot{};
            ordered_json candidates = ordered_json::array();
            for (int i = 0; i < slot.mainCount + slot.extraCount && i < 12; ++i) {
                candidates.push_back(slot.candidates[static_cast<size_t>(i)]);
            }
            ordered_json item;
            item["bar"] = bar;
            item["chord"] = entry.chord;
            item["chordName"] = chordName(entry.chord);
            item["enabled"] = entry.enabled;
            item["mainCount"] = slot.mainCount;
            item["extraCount"] = slot.extraCount;
            item["candidates"] = candidates;
            item["cadenceKind"] = slot.cadenceKind;
            bars.push_back(item);
        }
        json["bars"] = bars;
    }
    if (c && outcome.accompaniment) {
        const AccompanimentContext& context = *outcome.accompaniment;
        ordered_json accompaniment;
        accompaniment["parts"] = c->accompanimentParts;
        accompaniment["styleId"] = c->style ? c->styleId() : -1;
        const std::string styleName = c->style ? context.styles.entryName(c->styleId()) : "";
        accompaniment["styleName"] =
            styleName.empty() ? ordered_json(nullptr) : ordered_json(styleName);
        accompaniment["arrangementId"] = c->arrangementId;
        const ArrangementEntry* entry =
            c->arrangement ? context.arrangements.entry(c->arrangementId) : nullptr;
        accompaniment["arrangementName"] =
            entry ? ordered_json(entry->name) : ordered_json(nullptr);
        ordered_json notes;
        for (int list : {1, 2, 3, 9}) notes[std::to_string(list)] = c->noteTracks().count(list);
        accompaniment["notes"] = notes;
        json["accompaniment"] = accompaniment;
    }
    return json;
}

std::string chordChart(const HarmoniseOutcome& outcome) {
    std::ostringstream out;
    const ChordMaster& master = *outcome.master;
    const Composition* c = master.composition();
    out << "File:   " << outcome.file << '\n';
    if (c && outcome.harmonised) {
        out << "Key:    "
            << (isValidKey(master.key) ? std::string(keyName(master.key)) : "not recognised")
            << '\n';
        int numerator = 4, denominator = 4;
        c->meterMap().meterOfBar(0, numerator, denominator);
        out << "Meter:  " << numerator << '/' << denominator << '\n';
    }
    if (c && c->hasChordTrack()) {
        constexpr size_t kBarsPerLine = 4;
        for (size_t bar = 0; bar < c->chordTrack.size(); ++bar) {
            char cell[32];
            std::snprintf(cell, sizeof cell, "%4zu| %-7s", bar + 1,
                          chordName(c->chordTrack[bar].chord).c_str());
            out << cell;
            if ((bar + 1) % kBarsPerLine == 0 || bar + 1 == c->chordTrack.size()) out << '\n';
        }
    }
    if (outcome.status != status::kOk) {
        out << "Status: " << outcome.status << " (" << statusMeaning(outcome.status) << ")\n";
    }
    return out.str();
}

namespace {

// The exit status of one file: 0 for a harmony (also with many keys), 1 otherwise.
int exitStatus(const HarmoniseOutcome& outcome) {
    return outcome.harmonised &&
                   (outcome.status == status::kOk || outcome.status == status::kManyKeys)
               ? 0
               : 1;
}

struct SingleOptions {
    std::string file;
    bool json = false;
    std::string projectOut;
    std::string exportOut;
    std::string wavOut;
};

int runSingle(const SingleOptions& options, const HarmoniseRequest& request) {
    HarmoniseOutcome outcome = harmoniseFile(options.file, request);
    if (options.json) {
        std::cout << outcomeJson(outcome).dump() << '\n';
    } else {
        std::cout << chordChart(outcome);
    }
    if (outcome.status != status::kOk) {
        std::cerr << "varimel-cli: " << options.file << ": status " << outcome.status << " ("
                  << statusMeaning(outcome.status) << ")\n";
    }
    if (!outcome.accompanimentProblem.empty()) {
        std::cerr << "varimel-cli: accompaniment: " << outcome.accompanimentProblem << '\n';
    }
    const int result = exitStatus(outcome);
    if (result != 0) return result;
    std::string error;
    if (!options.projectOut.empty() &&
        !ProjectWriter::write(options.projectOut, *outcome.master->composition(), outcome.options,
                              error)) {
        std::cerr << "varimel-cli: can't save " << options.projectOut << ": " << error << '\n';
        return 1;
    }
    if (!options.exportOut.empty()) outcome.master->storeChannelSettings();
    const ChannelSettings* channels =
        outcome.accompaniment ? &outcome.accompaniment->channels : nullptr;
    if (!options.exportOut.empty() &&
        !exportMidi(*outcome.master->composition(), channels, options.exportOut, error)) {
        std::cerr << "varimel-cli: can't export " << options.exportOut << ": " << error << '\n';
        return 1;
    }
    if (!options.exportOut.empty() && !options.json)
        std::cout << "Exported " << options.exportOut << '\n';
    if (writeLeadSheet(outcome, options.json) != 0) return 1;
    if (!options.wavOut.empty()) {
        return renderCompositionToWav(
            *outcome.master->composition(),
            outcome.accompaniment ? outcome.accompaniment->channels : ChannelSettings{},
            options.wavOut, PlayOptions{});
    }
    return 0;
}

std::vector<std::string> folderFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
        if (entry.is_regular_file() &&
            (isMelodyFile(entry.path().string()) || extension == ".vml")) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

int runBatch(const std::string& folder, unsigned jobs, const std::string& jsonlOut,
             const HarmoniseRequest& request) {
    const std::vector<std::string> files = folderFiles(folder);
    if (files.empty()) {
        std::cerr << "varimel-cli: no melody or project files in " << folder << '\n';
        return 1;
    }
    std::vector<std::string> lines(files.size());
    std::vector<StatusCode> statuses(files.size(), 0);
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i = next++; i < files.size(); i = next++) {
            // One bad file never stops the batch.
            try {
                HarmoniseOutcome outcome = harmoniseFile(files[i], request);
                statuses[i] = outcome.status;
                lines[i] = outcomeJson(outcome).dump();
            } catch (const std::exception& failure) {
                statuses[i] = status::kUnreadableFile;
                nlohmann::ordered_json json;
                json["file"] = std::filesystem::path(files[i]).filename().string();
                json["status"] = status::kUnreadableFile;
                json["error"] = failure.what();
                lines[i] = json.dump();
            }
        }
    };
    jobs = std::clamp<unsigned>(jobs, 1, static_cast<unsigned>(files.size()));
    std::vector<std::thread> threads;
    for (unsigned j = 1; j < jobs; ++j) threads.emplace_back(worker);
    worker();
    for (std::thread& thread : threads) thread.join();

    std::ofstream file;
    if (!jsonlOut.empty()) {
        file.open(jsonlOut);
        if (!file) {
            std::cerr << "varimel-cli: can't write " << jsonlOut << '\n';
            return 1;
        }
    }
    std::ostream& out = jsonlOut.empty() ? std::cout : file;
    for (const std::string& line : lines) out << line << '\n';

    std::map<StatusCode, int> summary;
    for (StatusCode s : statuses) ++summary[s];
    std::cerr << files.size() << " files:";
    for (const auto& [code, count] : summary) std::cerr << "  status " << code << ": " << count;
    std::cerr << '\n';
    return 0;
}

}  // namespace

void HarmoniseFlags::addTo(CLI::App* command) {
    command->add_option("--draft", draft, "Harmony draft: I, II or III (default I)")
        ->check(CLI::IsMember({"I", "II", "III"}));
    command
        ->add_option("--key", request.key, "A key name such as C-dur or a-moll, or auto (default)")
        ->check([](const std::string& name) {
            return name == "auto" || isValidKey(keyFromName(name))
                       ? std::string{}
                       : "unknown key name '" + name + "'";
        });
    auto* minorFlag = command->add_flag(
        "--minor", minor, "When major or relative minor is undecided, take the minor key");
    auto* majorFlag = command->add_flag(
        "--major", major, "When major or relative minor is undecided, take the major key");
    minorFlag->excludes(majorFlag);
    command
        ->add_option("--parts", request.parts,
                     "Accompaniment parts: 1 (block chords), style, arrange or style+arrange "
                     "(default: a style when one fits, else block chords)")
        ->check(CLI::IsMember({"1", "style", "arrange", "style+arrange"}));
    command->add_option("--style", request.style, "auto (default), none, or a style's name or id");
    command->add_option("--arrangement", request.arrangement,
                        "auto (default), none, or an arrangement's name or id");
}

const HarmoniseRequest& HarmoniseFlags::resolve() {
    request.draft = draft.empty() ? 0 : static_cast<int>(draft.size());  // I, II, III
    request.answerMajorOrMinor = minor ? 1 : major ? 2 : 0;
    return request;
}

void registerHarmoniseCommands(CLI::App& app, int& exitCode) {
    static SingleOptions single;
    static HarmoniseFlags flags;
    static std::string batchFolder, jsonlOut;
    static unsigned jobs = std::max(1u, std::thread::hardware_concurrency());

    CLI::App* command =
        app.add_subcommand("harmonise", "Recognise the key and choose a chord for every bar");
    command->add_option("FILE", single.file, "A Standard MIDI File or a .vml project");
    flags.addTo(command);
    command->add_flag("--json", single.json, "Print the result as one JSON object");
    command->add_option("-o,--output", single.projectOut, "Save the harmonised project (.vml)");
    command->add_option("--export", single.exportOut, "Export the result as a MIDI file");
    command->add_option("--wav", single.wavOut,
                        "Render melody and accompaniment to a WAV file (44.1 kHz stereo)");
    addLeadSheetFlags(command);
    addMelodySourceFlags(command);
    auto* batch = command->add_option("--batch", batchFolder,
                                      "Harmonise every melody and project file of a folder");
    command->add_option("--jobs", jobs, "Worker threads for --batch (default: the number of cores)")
        ->check(CLI::PositiveNumber);
    command->add_option("--jsonl", jsonlOut, "With --batch: write the JSON lines to this file");
    batch->excludes("FILE");

    command->callback([&exitCode, command] {
        const HarmoniseRequest& request = flags.resolve();
        if (!batchFolder.empty()) {
            exitCode = runBatch(batchFolder, jobs, jsonlOut, request);
        } else if (single.file.empty()) {
            std::cerr << command->help()
                      << "varimel-cli harmonise: FILE or --batch DIR is required\n";
            exitCode = 2;
        } else {
            exitCode = runSingle(single, request);
        }
    });
}

}  // namespace varimel::cli
