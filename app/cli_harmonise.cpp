// The harmonise command: one file, or a whole folder in parallel.
#include "cli_harmonise.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
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
#include "engine/ByteIO.h"
#include "engine/Limits.h"
#include "engine/Mas_file.h"
#include "engine/MidiExport.h"
#include "engine/SafeWrite.h"
#include "engine/Tonality.h"
#include "leadsheet/MelodyFiles.h"
#include "settings/RegFile.h"
#include "settings/Tmyregistry.h"

namespace varimel::cli {

namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

KeyIndex keyFromUserName(const std::string& typed) {
    const std::string name = lowered(typed);
    // The program's own names (C-dur, a-moll, Fis-dur), in any case.
    for (KeyIndex key = 0; key < kKeyCount; ++key) {
        if (lowered(std::string(keyName(key))) == name) return key;
    }
    // English names: a letter, an optional # or b, then nothing, "m", "major" or "minor".
    static constexpr int kLetterPitch[] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
    if (name.empty() || name[0] < 'a' || name[0] > 'g') return kNoKey;
    int pitch = kLetterPitch[name[0] - 'a'];
    size_t at = 1;
    if (at < name.size() && (name[at] == '#' || name[at] == 'b')) {
        pitch = (pitch + (name[at] == '#' ? 1 : 11)) % 12;
        ++at;
    }
    std::string mode = name.substr(at);
    if (!mode.empty() && mode[0] == ' ') mode.erase(0, 1);
    bool minor = false;
    if (mode == "m" || mode == "min" || mode == "minor") {
        minor = true;
    } else if (!mode.empty() && mode != "maj" && mode != "major") {
        return kNoKey;
    }
    for (KeyIndex key = minor ? 12 : 0; key < (minor ? kKeyCount : 12); ++key) {
        if (tonicOf(key) == pitch) return key;
    }
    return kNoKey;
}

std::shared_ptr<AccompanimentContext> openLibraries() {
    auto context = std::make_shared<AccompanimentContext>();
    AccompanimentContext* raw = context.get();
    auto report = [raw](const std::string& text) { raw->messages.push_back(oneLine(text)); };
    SettingsStore store([] { return std::make_unique<RegistryFile>(registryFilePath()); }, report);
    if (!store.rootKeyExists()) {
        report("Please run setup again (no settings at " + registryFilePath().string() + ")");
        return context;
    }
    std::string styleDir, arrangementDir, styleTool, arrangementTool;
    store.readLibrarySettings(styleDir, arrangementDir, styleTool, arrangementTool);
    context->styles.setDirectory(styleDir);
    context->arrangements.setDirectory(arrangementDir);
    context->arrangements.setErrorReporter(report);
    if (!context->styles.load()) report(kStylesLibraryMessage);
    if (!context->arrangements.loadList()) report(kArrangementsLibraryMessage);
    return context;
}

namespace {

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// A name (any case) or a number as the user typed it; -1 when neither is known.
int32_t numberOrNone(const std::string& text) {
    try {
        size_t used = 0;
        const long value = std::stol(text, &used, 0);
        if (used == text.size()) return static_cast<int32_t>(value);
    } catch (const std::exception&) {
    }
    return -1;
}

StyleId styleByName(const StyleLibrary& styles, const std::string& text) {
    for (int category = 0; category < kStyleCategoryCount; ++category) {
        for (const StyleEntry& entry : styles.entries(category)) {
            if (sameName(entry.name, text)) return entry.id;
        }
    }
    const StyleId id = numberOrNone(text);
    return id >= 0 && styles.find(id) ? id : kNoStyle;
}

std::string styleNames(const StyleLibrary& styles) {
    std::string names;
    for (int category = 0; category < kStyleCategoryCount; ++category) {
        for (const StyleEntry& entry : styles.entries(category)) {
            names += (names.empty() ? "" : ", ") + entry.name;
        }
    }
    return names.empty() ? "none installed" : names;
}

std::string arrangementNames(const ArrangementLibrary& arrangements) {
    std::string names;
    for (const ArrangementGroup& group : arrangements.groups()) {
        for (const ArrangementEntry& entry : group.entries) {
            names += (names.empty() ? "" : ", ") + entry.name;
        }
    }
    return names.empty() ? "none installed" : names;
}

ArrangementId arrangementByName(const ArrangementLibrary& arrangements, const std::string& text) {
    for (int group = 0; group < arrangements.groupCount(); ++group) {
        const auto& entries = arrangements.groups()[static_cast<size_t>(group)].entries;
        for (size_t index = 0; index < entries.size(); ++index) {
            if (sameName(entries[index].name, text)) {
                return makeArrangementId(group, static_cast<int>(index));
            }
        }
    }
    const ArrangementId id = numberOrNone(text);
    return arrangements.entry(id) ? id : kNoArrangement;
}

StyleId appliedStyle(const StyleLibrary& styles, const Style* style) {
    if (style == nullptr) return kNoStyle;
    for (int category = 0; category < kStyleCategoryCount; ++category) {
        for (const StyleEntry& entry : styles.entries(category)) {
            if (styles.find(entry.id) == style) return entry.id;
        }
    }
    return kNoStyle;
}

bool explicitAccompaniment(const HarmoniseRequest& request) {
    return !request.parts.empty() || request.style != "auto" || request.arrangement != "auto";
}

// What Create Accompaniment does after harmonising, with the user's choices of parts, style
// and arrangement.
void accompany(HarmoniseOutcome& outcome, const HarmoniseRequest& request) {
    OpenedDocument& document = *outcome.document;
    Composition& composition = *document.composition();
    AccompanimentContext& context = *outcome.accompaniment;
    AccompanimentSetup& setup = document.setup;
    if (setup.styles && !setup.styles->loaded()) setup.styles = nullptr;
    if (setup.arrangements && !setup.arrangements->listLoaded()) setup.arrangements = nullptr;
    auto problem = [&outcome](const std::string& text) {
        outcome.accompanimentProblems.push_back(oneLine(text));
    };

    const bool wantStyle =
        request.style != "none" &&
        (request.parts.empty() || request.parts == "style" || request.parts == "style+arrange");
    const bool wantArrangement = request.arrangement != "none" &&
                                 (request.parts == "arrange" || request.parts == "style+arrange" ||
                                  (request.parts.empty() && request.arrangement != "auto"));

    // An explicit style goes with the chord track, as the Style command stores it.
    if (wantStyle && request.style != "auto" && setup.styles && composition.hasChordTrack()) {
        const StyleId id = styleByName(context.styles, request.style);
        const Style* style = id >= 0 ? context.styles.find(id) : nullptr;
        int numerator = 4, denominator = 4;
        composition.meterMap().meterOfPiece(numerator, denominator);
        if (style == nullptr) {
            outcome.requestError = "unknown style '" + request.style +
                                   "'; the styles are: " + styleNames(context.styles);
            return;
        }
        if (!StyleLibrary::meterFits(style->meters, numerator, denominator)) {
            outcome.requestError = "the style " + context.styles.entryName(id) + " is for " +
                                   meterSetText(style->meters) + ", the melody is in " +
                                   std::to_string(numerator) + "/" + std::to_string(denominator);
            return;
        }
        composition.chordTrack.front().extra = id;
    }
    if (wantStyle && request.parts.empty()) {
        finishHarmonising(document, problem);
    } else if (wantStyle) {
        if (chooseStyle(setup, composition)) {
            setAccompanimentMode(setup, composition, accompaniment_part::kStyle, ModeChange::kAdd);
        } else {
            problem(noStyleForMeterMessage(composition));
        }
    } else if (request.parts.empty() || request.parts == "1") {
        applyPatch(setup, composition, 1, document.options.DefAccPatch);
        setAccompanimentMode(setup, composition, accompaniment_part::kBlockChords,
                             ModeChange::kSetExactly);
    }
    if (wantArrangement) {
        ArrangementId id = kNoArrangement;
        if (request.arrangement != "auto" && setup.arrangements) {
            id = arrangementByName(context.arrangements, request.arrangement);
            if (id == kNoArrangement) {
                outcome.requestError =
                    "unknown arrangement '" + request.arrangement +
                    "'; the arrangements are: " + arrangementNames(context.arrangements);
                return;
            }
        }
        chooseArrangement(setup, composition, id);
        setAccompanimentMode(setup, composition, accompaniment_part::kArrangement,
                             ModeChange::kAdd);
    }
}

// The key the stored harmony was made in.
KeyIndex storedKey(const Composition& composition) {
    if (!composition.keys.empty()) return composition.keys.front().key;
    return composition.fileKey;
}

}  // namespace

HarmoniseOutcome openFile(const std::string& path, const HarmoniseRequest& request,
                          bool harmoniseMelody, std::shared_ptr<AccompanimentContext> libraries) {
    HarmoniseOutcome outcome;
    outcome.file = path;
    outcome.accompaniment = libraries ? std::move(libraries) : openLibraries();
    AccompanimentContext& context = *outcome.accompaniment;
    outcome.accompanimentProblems = std::move(context.messages);
    context.messages.clear();
    context.styles.style(kNoStyle);  // a previous file's selection is no choice for this one
    context.arrangements.choiceMade = false;

    // The file is opened and read once: what it is shows in its first bytes, and the MIDI
    // reader takes the same bytes.
    std::vector<uint8_t> content;
    std::string warning;
    DocumentKind kind;
    // A file the readers would refuse (too large, a folder, missing) is left to them, so that
    // they say why in their own words.
    if (readWholeFile(path, limits::kMaxMidiFileSize, content) && !content.empty()) {
        const std::string head(content.begin(),
                               content.begin() + std::min<ptrdiff_t>(std::ssize(content), 4));
        kind = documentKind(path, head, &warning);
        // Projects, MusicXML and ABC have readers of their own.
        if (kind == DocumentKind::kProject || melodyFormatOf(path) != MelodyFormat::kMidi) {
            std::vector<uint8_t>().swap(content);
        }
    } else {
        kind = documentKind(path, &warning);
    }
    if (!warning.empty()) outcome.warnings.push_back(warning);
    OpeningRequest opening;
    opening.path = path;
    opening.kind = kind;
    opening.styles = &context.styles;
    opening.arrangements = &context.arrangements;
    opening.report = [&outcome](const std::string& text) {
        outcome.accompanimentProblems.push_back(oneLine(text));
    };
    opening.chooseMelodyChannel = [&request](const std::vector<int>& channels) {
        return std::find(channels.begin(), channels.end(), request.melodyChannel) != channels.end()
                   ? request.melodyChannel
                   : -1;
    };
    // Melodies of every format the program reads (MIDI, MusicXML, ABC) load alike.
    opening.loadMelody = [&content](ChordMaster& master) {
        if (!content.empty()) master.provideContent(std::move(content));
        content.clear();
        return loadMelody(master);
    };
    outcome.document = std::make_unique<OpenedDocument>();
    OpenedDocument& document = *outcome.document;
    // The candidates of status 89 are kept for the message that offers --channel.
    outcome.loadStatus = openDocument(document, opening);
    outcome.master = document.master.get();
    outcome.status = outcome.loadStatus;
    outcome.options = document.options;
    auto collect = [&] {
        for (std::string& message : context.messages)
            outcome.accompanimentProblems.push_back(message);
        context.messages.clear();
        outcome.options = document.options;
    };
    if (!documentUsable(outcome.loadStatus)) {
        collect();
        return outcome;
    }

    Composition& composition = *document.composition();
    ChordMaster& master = *document.master;
    const bool project = kind == DocumentKind::kProject;
    const StyleId storedStyle = project ? composition.styleId() : kNoStyle;
    const bool keepStoredHarmony =
        project && composition.hasChordTrack() && request.draft == 0 && request.key == "auto";
    if (keepStoredHarmony) {
        // The project's chord track, with any chords edited by hand, stays as it was saved.
        master.key = storedKey(composition);
        outcome.harmonised = true;
        if (request.accompany && explicitAccompaniment(request)) accompany(outcome, request);
        if (request.accompany) renderAccompaniment(composition);
        collect();
        return outcome;
    }
    if (!harmoniseMelody && request.draft == 0 && request.key == "auto") {
        collect();
        return outcome;
    }

    // A project is harmonised again with the options stored in it, unless a draft is named.
    const int draft = request.draft != 0 ? request.draft : project ? 0 : kDefaultDraft;
    if (draft != 0) applyDraft(draft, document.options);
    // A key that could not be recognised at opening is taken from the file instead; Draft IV
    // needs no key recognition and finds its key in any melody.
    if (!document.keyRecognised && draft != kDraftIV) document.options.AutoKey = false;
    if (request.key != "auto") {
        setFileKey(composition, keyFromUserName(request.key), document.options);
    }
    outcome.harmonised = true;
    outcome.status = master.harmonise(document.options, chordMethod(draft));
    if (outcome.status == status::kMajorOrRelativeMinor && request.answerMajorOrMinor != 0 &&
        isValidKey(master.key)) {
        const KeyIndex chosen =
            request.answerMajorOrMinor == 1 ? relativeKey(master.key % 12) : master.key % 12;
        setFileKey(composition, chosen, document.options);
        outcome.status = master.harmonise(document.options, chordMethod(draft));
    }
    if (request.accompany && composition.hasChordTrack() &&
        (outcome.status == status::kOk || outcome.status == status::kManyKeys)) {
        // A project's explicit style survives the new harmony, as the window keeps it.
        if (storedStyle >= 0) composition.chordTrack.front().extra = storedStyle;
        accompany(outcome, request);
        renderAccompaniment(composition);
    }
    collect();
    return outcome;
}

HarmoniseOutcome harmoniseFile(const std::string& path, const HarmoniseRequest& request,
                               std::shared_ptr<AccompanimentContext> libraries) {
    return openFile(path, request, true, std::move(libraries));
}

namespace {

constexpr auto kReplaceBadBytes = nlohmann::ordered_json::error_handler_t::replace;

// One JSON object written as text in the order its fields are given: the bytes an ordered_json
// tree would dump, without building and freeing the tree (in a batch that was a third of the
// time). Strings and floating-point numbers go through the library's own formatting.
class JsonLine {
  public:
    JsonLine& key(std::string_view name) {
        separate();
        text_ += '"';
        text_ += name;
        text_ += "\":";
        afterKey_ = true;
        return *this;
    }
    template <typename T>
    JsonLine& value(const T& item) {
        separate();
        if constexpr (std::is_same_v<T, std::nullptr_t>) {
            text_ += "null";
        } else if constexpr (std::is_same_v<T, bool>) {
            text_ += item ? "true" : "false";
        } else if constexpr (std::is_integral_v<T>) {
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, item).ptr;
            text_.append(digits, end);
        } else {
            // A file name need not be UTF-8; its undecodable bytes show as U+FFFD rather than
            // ending the run.
            text_ += nlohmann::ordered_json(item).dump(-1, ' ', false, kReplaceBadBytes);
        }
        return *this;
    }
    // `item`, or null when it is absent.
    template <typename T>
    JsonLine& valueOrNull(bool present, const T& item) {
        return present ? value(item) : value(nullptr);
    }
    JsonLine& open(char bracket) {
        separate();
        text_ += bracket;
        first_.push_back(true);
        return *this;
    }
    JsonLine& close(char bracket) {
        text_ += bracket;
        first_.pop_back();
        return *this;
    }
    std::string take() { return std::move(text_); }

  private:
    void separate() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (first_.empty()) return;
        if (!first_.back()) text_ += ',';
        first_.back() = false;
    }

    std::string text_;
    std::vector<bool> first_;
    bool afterKey_ = false;
};

}  // namespace

std::string outcomeLine(const HarmoniseOutcome& outcome, bool explain) {
    const ChordMaster& master = *outcome.master;
    const Composition* c = master.composition();
    JsonLine json;
    json.open('{');
    json.key("file").value(std::filesystem::path(outcome.file).filename().string());
    json.key("status").value(outcome.status);
    json.key("stage").value(outcome.harmonised ? "harmonise" : "load");
    json.key("melodyChannel").value(master.melodyChannel);
    int numerator = 4, denominator = 4;
    if (c) c->meterMap().meterOfPiece(numerator, denominator);
    json.key("division").value(c ? c->ticksPerQuarter : 480);
    json.key("barCount").value(c ? c->barCount : 0);
    json.key("meter").open('[').value(numerator).value(denominator).close(']');
    json.key("tempo").value(c ? c->eventValue(event_kind::kTempo, 0) : Composition::kDefaultTempo);
    json.key("upbeat").value(c ? c->noteTracks().cachedUpbeat() : -1);
    json.key("fileKey").value(c ? c->fileKey : -1);
    json.key("accompanimentOctave").value(c ? c->accompanimentOctave : -1);
    const KeyIndex key = outcome.harmonised ? master.key : kNoKey;
    json.key("key").value(isValidKey(key) ? key : -1);
    json.key("keyName").valueOrNull(isValidKey(key), std::string(keyName(key)));
    json.key("keyMarks").open('[');
    for (int k = 0; k < kKeyCount; ++k) json.value(c ? c->keyMarks[static_cast<size_t>(k)] : 0);
    json.close(']');
    if (c && c->hasChordTrack()) {
        const std::vector<double> fit = explain ? chordFitOf(outcome) : std::vector<double>{};
        json.key("bars").open('[');
        for (size_t bar = 0; bar < c->chordTrack.size(); ++bar) {
            const ChordTrackEntry& entry = c->chordTrack[bar];
            const HarmonySlot slot = bar < c->slots.size() ? c->slots[bar] : HarmonySlot{};
            json.open('{');
            json.key("bar").value(bar);
            json.key("chord").value(entry.chord);
            json.key("chordName").value(chordName(entry.chord, c->pieceKey()));
            json.key("enabled").value(entry.enabled);
            json.key("mainCount").value(slot.mainCount);
            json.key("extraCount").value(slot.extraCount);
            json.key("candidates").open('[');
            for (int i = 0; i < slot.mainCount + slot.extraCount && i < 12; ++i) {
                json.value(slot.candidates[static_cast<size_t>(i)]);
            }
            json.close(']');
            json.key("cadenceKind").value(slot.cadenceKind);
            if (explain) {
                const bool fitted = bar < fit.size() && fit[bar] >= 0;
                json.key("fit").valueOrNull(fitted, fitted ? roundedFit(fit[bar]) : 0.0);
            }
            json.close('}');
        }
        json.close(']');
    }
    if (c && outcome.harmonised && c->hasChordTrack() && outcome.accompaniment) {
        const AccompanimentContext& context = *outcome.accompaniment;
        json.key("accompaniment").open('{');
        json.key("parts").value(c->accompanimentParts);
        // The style that plays, chosen automatically or by name.
        const StyleId styleId = appliedStyle(context.styles, c->style);
        json.key("styleId").value(styleId);
        const std::string styleName = styleId >= 0 ? context.styles.entryName(styleId) : "";
        json.key("styleName").valueOrNull(!styleName.empty(), styleName);
        json.key("arrangementId").value(c->arrangementId);
        const ArrangementEntry* entry =
            c->arrangement ? context.arrangements.entry(c->arrangementId) : nullptr;
        json.key("arrangementName").valueOrNull(entry != nullptr, entry ? entry->name : "");
        json.key("notes").open('{');
        for (int list : {1, 2, 3, 9})
            json.key(std::to_string(list)).value(c->noteTracks().count(list));
        json.close('}');
        json.close('}');
    }
    json.close('}');
    return json.take();
}

nlohmann::ordered_json outcomeJson(const HarmoniseOutcome& outcome) {
    return nlohmann::ordered_json::parse(outcomeLine(outcome, false));
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
        c->meterMap().meterOfPiece(numerator, denominator);
        out << "Meter:  " << numerator << '/' << denominator << '\n';
    }
    if (c && c->hasChordTrack()) {
        constexpr size_t kBarsPerLine = 4;
        for (size_t bar = 0; bar < c->chordTrack.size(); ++bar) {
            char cell[32];
            std::snprintf(cell, sizeof cell, "%4zu| %-7s", bar + 1,
                          chordName(c->chordTrack[bar].chord, c->pieceKey()).c_str());
            out << cell;
            if ((bar + 1) % kBarsPerLine == 0 || bar + 1 == c->chordTrack.size()) out << '\n';
        }
    }
    if (outcome.status != status::kOk) {
        out << "Status: " << outcome.status << " (" << statusMeaning(outcome.status) << ")\n";
    }
    return out.str();
}

namespace {}  // namespace

std::string statusReport(const HarmoniseOutcome& outcome) {
    std::string text = outcome.file + ": status " + std::to_string(outcome.status) + " (" +
                       statusMeaning(outcome.status) + ")";
    if (outcome.status == status::kUnreadableFile && outcome.master) {
        text += ": " + loadFailureReason(outcome.file, *outcome.master);
    }
    if (outcome.status == status::kSeveralChannels && outcome.master) {
        std::string channels;
        for (int channel = 0; channel < 16; ++channel) {
            if (!(outcome.master->noteChannels() & (1u << channel))) continue;
            channels += (channels.empty() ? "" : ", ") + std::to_string(channel);
        }
        text += "; melodies on channels " + channels + ": choose one with --channel N";
    }
    if (outcome.status == status::kKeyNotRecognised) {
        text += "; give the key with --key (for example --key C or --key Am)";
    }
    return text;
}

void reportProblems(const HarmoniseOutcome& outcome) {
    for (const std::string& warning : outcome.warnings) {
        std::cerr << "varimel-cli: warning: " << warning << '\n';
    }
    for (const std::string& problem : outcome.accompanimentProblems) {
        std::cerr << "varimel-cli: accompaniment: " << problem << '\n';
    }
}

namespace {

// The exit status of one file: 0 for a harmony (also with many keys), 1 otherwise.
int exitStatus(const HarmoniseOutcome& outcome) {
    return outcome.harmonised &&
                   (outcome.status == status::kOk || outcome.status == status::kManyKeys)
               ? 0
               : 1;
}

// The files one harmonised document is written to; empty names are not written.
struct Outputs {
    std::string project;
    std::string exportMidi;
    std::string wav;

    std::vector<std::string> names() const { return {project, exportMidi, wav}; }
    bool onStandardOutput() const {
        return project == kStandardOutputName || exportMidi == kStandardOutputName ||
               wav == kStandardOutputName;
    }
};

// Writes the document to its outputs, with its instruments and volumes; answers an exit status.
int writeOutputs(HarmoniseOutcome& outcome, const Outputs& outputs, bool quiet) {
    storeDocumentSettings(*outcome.document);
    const Composition& composition = *outcome.master->composition();
    std::string error;
    if (!outputs.project.empty() &&
        !ProjectWriter::write(outputs.project, composition, outcome.options, error)) {
        std::cerr << "varimel-cli: can't save: " << error << '\n';
        return 1;
    }
    if (!outputs.exportMidi.empty() &&
        !exportMidi(composition, &outcome.channels(), outputs.exportMidi, error)) {
        std::cerr << "varimel-cli: can't export: " << error << '\n';
        return 1;
    }
    if (!outputs.exportMidi.empty() && !quiet)
        std::cout << "Exported " << outputs.exportMidi << '\n';
    if (!outputs.wav.empty()) {
        return renderCompositionToWav(composition, outcome.channels(), outputs.wav, PlayOptions{},
                                      quiet);
    }
    return 0;
}

struct SingleOptions {
    std::string file;
    bool json = false;
    bool explain = false;
    Outputs outputs;
};

int runSingle(const SingleOptions& options, const HarmoniseRequest& request) {
    std::vector<std::string> outputs = options.outputs.names();
    outputs.push_back(leadSheetOutput());
    if (const int refused = refuseSameFiles({options.file}, outputs)) return refused;
    HarmoniseOutcome outcome = harmoniseFile(options.file, request);
    reportProblems(outcome);
    if (!outcome.requestError.empty()) {
        std::cerr << "varimel-cli: " << outcome.requestError << "; nothing written\n";
        return 2;
    }
    // When a file goes to standard output, what would be printed goes to standard error.
    const bool fileOnStdout =
        options.outputs.onStandardOutput() || leadSheetOutput() == kStandardOutputName;
    std::ostream& report = fileOnStdout ? std::cerr : std::cout;
    if (options.json) {
        report << outcomeLine(outcome, options.explain) << '\n';
    } else {
        report << (options.explain ? fitChart(outcome) : chordChart(outcome));
    }
    if (outcome.status != status::kOk)
        std::cerr << "varimel-cli: " << statusReport(outcome) << '\n';
    const int result = exitStatus(outcome);
    if (result != 0) return result;
    const int written = writeOutputs(outcome, options.outputs, options.json || fileOnStdout);
    if (written != 0) return written;
    return writeLeadSheet(outcome, options.json || fileOnStdout) != 0 ? 1 : 0;
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

// One input name per line ("-": standard input); blank lines are skipped.
bool listedFiles(const std::string& list, std::vector<std::string>& files) {
    std::ifstream file;
    if (list != "-") {
        file.open(list);
        if (!file) return false;
    }
    std::istream& in = list == "-" ? std::cin : file;
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) files.push_back(line);
    }
    return true;
}

// How many bytes of JSON lines a batch writes before it sends them on to the disk.
constexpr size_t kWritebackBytes = size_t{4} << 20;

struct BatchOptions {
    std::string folder;     // --batch DIR
    std::string filesFrom;  // --files-from FILE|-
    unsigned jobs = 1;
    std::string jsonl;   // "" or "-": standard output
    std::string outDir;  // where -o/--export/--wav files go, named after their inputs
    bool project = false, exportMidi = false, wav = false;
    bool explain = false;  // each bar's fit in the JSON lines
};

Outputs batchOutputs(const BatchOptions& options, const std::string& input) {
    const std::filesystem::path stem =
        std::filesystem::path(options.outDir) / std::filesystem::path(input).stem();
    Outputs outputs;
    if (options.project) outputs.project = stem.string() + ".vml";
    if (options.exportMidi) outputs.exportMidi = stem.string() + ".mid";
    if (options.wav) outputs.wav = stem.string() + ".wav";
    return outputs;
}

// What a batch keeps of one tune until its line is written.
struct BatchResult {
    std::string line;
    StatusCode status = 0;
    bool failed = false;
};

// One tune of a batch, harmonised and written; one bad file never stops the batch.
BatchResult harmoniseInBatch(const std::string& file, const BatchOptions& options,
                             const HarmoniseRequest& request,
                             const std::shared_ptr<AccompanimentContext>& libraries) {
    BatchResult result;
    try {
        HarmoniseOutcome outcome = harmoniseFile(file, request, libraries);
        result.status = outcome.status;
        result.line = outcomeLine(outcome, options.explain);
        result.failed = exitStatus(outcome) != 0 || !outcome.requestError.empty();
        if (!result.failed && (options.project || options.exportMidi || options.wav)) {
            result.failed = writeOutputs(outcome, batchOutputs(options, file), true) != 0;
        }
    } catch (const std::exception& failure) {
        result.status = status::kUnreadableFile;
        result.failed = true;
        nlohmann::ordered_json json;
        json["file"] = std::filesystem::path(file).filename().string();
        json["status"] = status::kUnreadableFile;
        json["error"] = failure.what();
        result.line = json.dump(-1, ' ', false, kReplaceBadBytes);
    }
    return result;
}

// The counts a batch reports at its end, and the first few files that failed.
class BatchSummary {
  public:
    void add(const std::string& file, StatusCode status, bool failed) {
        ++statuses_[status];
        if (!failed) return;
        if (named_.size() < kNamedFailures) {
            named_.push_back(file + " (status " + std::to_string(status) + ")");
        }
        ++failures_;
    }

    int report(size_t fileCount) const {
        std::cerr << fileCount << " files:";
        for (const auto& [code, count] : statuses_)
            std::cerr << "  status " << code << ": " << count;
        std::cerr << '\n';
        if (failures_ == 0) return 0;
        std::cerr << failures_ << " failed:";
        for (size_t i = 0; i < named_.size(); ++i) std::cerr << (i ? ", " : " ") << named_[i];
        if (failures_ > kNamedFailures)
            std::cerr << ", and " << failures_ - kNamedFailures << " more";
        std::cerr << '\n';
        return 1;
    }

  private:
    static constexpr size_t kNamedFailures = 10;
    std::map<StatusCode, size_t> statuses_;
    std::vector<std::string> named_;
    size_t failures_ = 0;
};

int runBatch(const BatchOptions& options, const HarmoniseRequest& request) {
    std::vector<std::string> files;
    if (!options.filesFrom.empty()) {
        if (!listedFiles(options.filesFrom, files)) {
            std::cerr << "varimel-cli: cannot read the list " << options.filesFrom << '\n';
            return 1;
        }
    } else {
        files = folderFiles(options.folder);
    }
    if (files.empty()) {
        std::cerr << "varimel-cli: no melody or project files in "
                  << (options.filesFrom.empty() ? options.folder : options.filesFrom) << '\n';
        return 1;
    }
    {
        std::vector<std::string> planned;
        for (const std::string& file : files) {
            for (const std::string& name : batchOutputs(options, file).names()) {
                if (!name.empty()) planned.push_back(name);
            }
        }
        if (!options.jsonl.empty() && options.jsonl != kStandardOutputName) {
            planned.push_back(options.jsonl);
        }
        // A folder's files were all there when it was read; a list may name missing ones.
        if (const int refused = refuseSameFiles(files, planned, options.filesFrom.empty())) {
            return refused;
        }
    }

    // New output files are synced together once the batch is done, not one by one.
    DeferredSync sync;
    // The lines go out as the tunes finish, in file order: a worker that runs ahead waits
    // rather than piling up lines, so memory stays flat however many files there are.
    OutputFile jsonl;
    if (!jsonl.open(options.jsonl.empty() ? std::string(kStandardOutputName) : options.jsonl)) {
        std::cerr << "varimel-cli: " << jsonl.error() << '\n';
        return 1;
    }
    const unsigned jobs =
        std::clamp<unsigned>(options.jobs, 1, static_cast<unsigned>(files.size()));
    const size_t window = size_t{32} * jobs;
    std::mutex mutex;
    std::condition_variable written;
    std::map<size_t, BatchResult> waiting;  // finished, not yet written
    size_t nextToWrite = 0;
    BatchSummary summary;
    bool writeFailed = false;
    bool writing = false;  // a worker is writing lines: the others only hand theirs in
    size_t unsynced = 0;   // bytes of lines not yet sent on to the disk

    // The lines are written outside the lock, by one worker at a time, so that a worker that
    // finishes a tune never waits for another's write to the disk.
    auto finish = [&](size_t i, BatchResult result) {
        std::unique_lock lock(mutex);
        waiting.emplace(i, std::move(result));
        if (writing) return;
        writing = true;
        std::string lines;
        for (;;) {
            lines.clear();
            for (auto first = waiting.begin();
                 first != waiting.end() && first->first == nextToWrite; first = waiting.begin()) {
                BatchResult& done = first->second;
                lines += done.line;
                lines += '\n';
                summary.add(files[nextToWrite], done.status, done.failed);
                waiting.erase(first);
                ++nextToWrite;
            }
            if (lines.empty()) break;
            written.notify_all();
            lock.unlock();
            const bool ok =
                std::fwrite(lines.data(), 1, lines.size(), jsonl.handle()) == lines.size();
            // Many megabytes of lines go to the disk as they come, not all at the end.
            if ((unsynced += lines.size()) >= kWritebackBytes) {
                jsonl.startWriteback();
                unsynced = 0;
            }
            lock.lock();
            if (!ok) writeFailed = true;
        }
        writing = false;
    };
    std::atomic<size_t> next{0};
    auto worker = [&] {
        // Each worker opens the libraries once: documents point into them while they work.
        const std::shared_ptr<AccompanimentContext> libraries = openLibraries();
        for (size_t i = next++; i < files.size(); i = next++) {
            {
                std::unique_lock lock(mutex);
                written.wait(lock, [&] { return i < nextToWrite + window; });
            }
            finish(i, harmoniseInBatch(files[i], options, request, libraries));
        }
    };
    std::vector<std::thread> threads;
    for (unsigned j = 1; j < jobs; ++j) threads.emplace_back(worker);
    worker();
    for (std::thread& thread : threads) thread.join();

    if (!jsonl.commit() || writeFailed) {
        std::cerr << "varimel-cli: "
                  << (jsonl.error().empty() ? "cannot write the JSON lines" : jsonl.error())
                  << '\n';
        return 1;
    }
    if (std::string error; !sync.finish(&error)) {
        std::cerr << "varimel-cli: " << error << '\n';
        return 1;
    }
    return summary.report(files.size());
}

}  // namespace

void HarmoniseFlags::addTo(CLI::App* command) {
    command->add_option("--draft", draft, "Harmony draft: I, II, III or IV (default IV)")
        ->check(CLI::IsMember({"I", "II", "III", "IV"}));
    command
        ->add_option("--key", request.key,
                     "The key: auto (default), or a name such as C, Am, F#m, Bb, \"C major\", "
                     "\"a minor\", C-dur or a-moll (any case)")
        ->check([](const std::string& name) {
            return name == "auto" || isValidKey(keyFromUserName(name))
                       ? std::string{}
                       : "unknown key '" + name +
                             "': give a letter with # or b and m for "
                             "minor (C, Am, F#m, Bb), a name such as "
                             "\"C major\" or \"a minor\", C-dur or a-moll";
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
    command
        ->add_option("--channel", request.melodyChannel,
                     "When melodies are on several channels, take this one (0 to 15)")
        ->check(wholeNumberFrom("--channel", 0, 15));
}

const HarmoniseRequest& HarmoniseFlags::resolve() {
    request.draft = draftNumber(draft);
    request.answerMajorOrMinor = minor ? 1 : major ? 2 : 0;
    return request;
}

void registerHarmoniseCommands(CLI::App& app, int& exitCode) {
    static SingleOptions single;
    static HarmoniseFlags flags;
    static BatchOptions batchOptions;
    batchOptions.jobs = std::max(1u, std::thread::hardware_concurrency());

    CLI::App* command =
        app.add_subcommand("harmonise", "Recognise the key and choose a chord for every bar");
    command->add_option("FILE", single.file, "A Standard MIDI File or a .vml project");
    flags.addTo(command);
    command->add_flag("--json", single.json, "Print the result as one JSON object");
    command->add_flag("--explain", single.explain,
                      "Per bar, how much of the melody lies on the chord's tones");
    // With --batch the outputs take no name: each input's goes into --out-dir under its name.
    auto* projectOption = command
                              ->add_option("-o,--output", single.outputs.project,
                                           "Save the harmonised project (.vml; - for standard "
                                           "output; with --batch no name)")
                              ->expected(0, 1);
    auto* exportOption = command
                             ->add_option("--export", single.outputs.exportMidi,
                                          "Export the result as a MIDI file (- for standard "
                                          "output; with --batch no name)")
                             ->expected(0, 1);
    auto* wavOption = command
                          ->add_option("--wav", single.outputs.wav,
                                       "Render melody and accompaniment to a WAV file (44.1 kHz "
                                       "stereo; - for standard output; with --batch no name)")
                          ->expected(0, 1);
    addLeadSheetFlags(command);
    addMelodySourceFlags(command);
    auto* batch = command->add_option("--batch", batchOptions.folder,
                                      "Harmonise every melody and project file of a folder");
    auto* filesFrom = command->add_option(
        "--files-from", batchOptions.filesFrom,
        "Harmonise the files listed in this file, one per line (- for standard input)");
    command
        ->add_option("--jobs", batchOptions.jobs,
                     "Worker threads for a batch (default: the number of cores)")
        ->check(wholeNumberFrom("--jobs", 1, 1024));
    command->add_option("--jsonl", batchOptions.jsonl,
                        "In a batch: write the JSON lines to this file (default and -: standard "
                        "output)");
    command->add_option("--out-dir", batchOptions.outDir,
                        "In a batch: the folder for the -o, --export and --wav files, each named "
                        "after its input");
    batch->excludes("FILE");
    filesFrom->excludes("FILE");
    filesFrom->excludes(batch);

    command->callback([&exitCode, command, projectOption, exportOption, wavOption] {
        const HarmoniseRequest& request = flags.resolve();
        const bool isBatch = !batchOptions.folder.empty() || !batchOptions.filesFrom.empty();
        if (isBatch) {
            batchOptions.project = projectOption->count() > 0;
            batchOptions.exportMidi = exportOption->count() > 0;
            batchOptions.wav = wavOption->count() > 0;
            const bool writes = batchOptions.project || batchOptions.exportMidi || batchOptions.wav;
            const bool named = !single.outputs.project.empty() ||
                               !single.outputs.exportMidi.empty() || !single.outputs.wav.empty();
            if (writes && (batchOptions.outDir.empty() || named)) {
                std::cerr << "varimel-cli harmonise: in a batch, -o, --export and --wav take no "
                             "file name and need --out-dir DIR\n";
                exitCode = 2;
                return;
            }
            batchOptions.explain = single.explain;
            exitCode = runBatch(batchOptions, request);
        } else if (single.file.empty()) {
            std::cerr << command->help()
                      << "varimel-cli harmonise: FILE, --batch DIR or --files-from LIST is "
                         "required\n";
            exitCode = 2;
        } else if ((projectOption->count() && single.outputs.project.empty()) ||
                   (exportOption->count() && single.outputs.exportMidi.empty()) ||
                   (wavOption->count() && single.outputs.wav.empty())) {
            std::cerr << "varimel-cli harmonise: -o, --export and --wav need a file name (- for "
                         "standard output)\n";
            exitCode = 2;
        } else {
            exitCode = runSingle(single, request);
        }
    });
}

}  // namespace varimel::cli
