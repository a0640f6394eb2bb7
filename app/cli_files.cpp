// Commands on files: info, save (project), export (MIDI).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "cli_common.h"
#include "cli_harmonise.h"
#include "cli_leadsheet.h"
#include "engine/Limits.h"
#include "engine/Mas_file.h"
#include "engine/MidiExport.h"
#include "engine/SafeWrite.h"
#include "engine/Tonality.h"

namespace varimel::cli {

namespace {

bool hasExtension(const std::string& path, std::string_view wanted) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    return extension == wanted;
}

// The first four bytes of a file; empty when it cannot be read.
std::string leadingBytes(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return {};
    std::ifstream file(path, std::ios::binary);
    char bytes[4] = {};
    file.read(bytes, sizeof bytes);
    return std::string(bytes, static_cast<size_t>(file.gcount()));
}

}  // namespace

DocumentKind documentKind(const std::string& path, std::string* warning) {
    return documentKind(path, leadingBytes(path), warning);
}

DocumentKind documentKind(const std::string& path, const std::string& head, std::string* warning) {
    const bool projectName = hasExtension(path, ".vml");
    DocumentKind kind = projectName ? DocumentKind::kProject : DocumentKind::kMidi;
    if (head == "VVml") kind = DocumentKind::kProject;
    if (head == "MThd" || head == "RIFF") kind = DocumentKind::kMidi;
    if (warning != nullptr && head.size() == 4) {
        const bool midiName = hasExtension(path, ".mid") || hasExtension(path, ".midi") ||
                              hasExtension(path, ".kar") || hasExtension(path, ".rmi");
        if (kind == DocumentKind::kProject && !projectName) {
            *warning = path + " is a project file; reading it as one";
        } else if (kind == DocumentKind::kMidi && head != "MThd" && head != "RIFF") {
            warning->clear();  // neither: the reader says what is wrong
        } else if (kind == DocumentKind::kMidi && !midiName) {
            *warning = path + " is a MIDI file; reading it as one";
        }
    }
    return kind;
}

std::function<std::string(const std::string&)> wholeNumberFrom(std::string option, long first,
                                                               long last) {
    return [option = std::move(option), first, last](const std::string& text) -> std::string {
        const std::string wanted = option + " must be a whole number from " +
                                   std::to_string(first) + " to " + std::to_string(last);
        if (text.empty() || text.size() > 9 ||
            !std::all_of(text.begin(), text.end(),
                         [](unsigned char c) { return std::isdigit(c); })) {
            return wanted;
        }
        const long value = std::stol(text);
        return value < first || value > last ? wanted : std::string{};
    };
}

std::string loadFailureReason(const std::string& path, const ChordMaster& master) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) return "no such file";
    if (std::filesystem::is_directory(status)) return "it is a folder, not a file";
    std::string reason = master.readerMessage();
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    if (reason.rfind("error: ", 0) == 0) reason.erase(0, 7);
    return reason.empty() ? "not a MIDI file or project the program can read" : reason;
}

bool isProjectFile(const std::string& path) {
    return documentKind(path) == DocumentKind::kProject;
}

int refuseSameFiles(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs,
                    bool inputsExist) {
    std::vector<std::string> given;
    for (const std::string& output : outputs) {
        if (!output.empty()) given.push_back(output);
    }
    const std::string conflict = sameFileConflict(inputs, given, inputsExist);
    if (conflict.empty()) return 0;
    std::cerr << "varimel-cli: " << conflict << "; nothing written\n";
    return 2;
}

namespace {

std::string channelList(uint16_t channels) {
    std::string text;
    for (int channel = 0; channel < 16; ++channel) {
        if (!(channels & (1u << channel))) continue;
        if (!text.empty()) text += ", ";
        text += std::to_string(channel);
    }
    return text.empty() ? "none" : text;
}

void printRow(const char* label, const std::string& value) {
    std::printf("%-22s %s\n", label, value.c_str());
}

void reportFailure(const HarmoniseOutcome& outcome) {
    std::cerr << "varimel-cli: can't open " << statusReport(outcome) << '\n';
}

// --channel of info, save and export: the melody channel to take after status 89.
int melodyChannelChoice = -1;

HarmoniseRequest openingRequest() {
    HarmoniseRequest request;
    request.melodyChannel = melodyChannelChoice;
    return request;
}

// Prints what was read, as a person checking a file wants to see it.
int runInfo(const std::string& file) {
    HarmoniseOutcome outcome = openFile(file, openingRequest(), false);
    reportProblems(outcome);
    const StatusCode result = outcome.loadStatus;
    const ChordMaster* master = outcome.master;
    const Composition* c = master->composition();

    printRow("File:", file);
    if (result == status::kUnreadableFile) {
        // Nothing was read: only why.
        printRow("Status:", std::to_string(result) + " (" + statusMeaning(result) +
                                "): " + loadFailureReason(file, *master));
        return 1;
    }
    if (c) {
        int numerator = 4, denominator = 4;
        c->meterMap().meterOfBar(0, numerator, denominator);
        int sharpsFlats = 0, minor = 0;
        const KeyIndex signatureKey =
            c->eventValue(event_kind::kKeySignature, 0, &sharpsFlats, &minor);
        const bool hasSignature = c->findEvent(event_kind::kKeySignature, 0, false) != nullptr;
        const bool hasMeter =
            c->meterFromFile || c->findEvent(event_kind::kTimeSignature, 0, false) != nullptr;
        const int32_t tempo = c->eventValue(event_kind::kTempo, 0);
        const NoteTracks& notes = c->noteTracks();

        printRow("Format:", std::to_string(c->fileFormat));
        printRow("Tracks:", std::to_string(c->trackCount));
        printRow("Division:", std::to_string(c->ticksPerQuarter) + " ticks per quarter note");
        int pieceNumerator = 4, pieceDenominator = 4;
        c->meterMap().meterOfPiece(pieceNumerator, pieceDenominator);
        const bool pickUpBar = pieceNumerator != numerator || pieceDenominator != denominator;
        printRow("Meter of bar 1:", std::to_string(numerator) + "/" + std::to_string(denominator) +
                                        (hasMeter ? "" : " (no time signature in the file)") +
                                        (pickUpBar ? " (a pick-up bar; from bar 2 on " +
                                                         std::to_string(pieceNumerator) + "/" +
                                                         std::to_string(pieceDenominator) + ")"
                                                   : ""));
        char tempoText[64];
        std::snprintf(tempoText, sizeof tempoText, "%d us per quarter note (%.1f BPM)", tempo,
                      60000000.0 / tempo);
        printRow("Tempo:", tempoText);
        printRow("Key signature:", hasSignature ? std::to_string(std::abs(sharpsFlats)) +
                                                      (sharpsFlats < 0 ? " flats" : " sharps") +
                                                      (minor ? ", minor (" : ", major (") +
                                                      std::string(keyName(signatureKey)) + ")"
                                                : "none");
        printRow("Melody channel:",
                 master->melodyChannel < 0
                     ? "not decided (notes on channels " + channelList(master->noteChannels()) + ")"
                     : std::to_string(master->melodyChannel));
        printRow("Bars:", std::to_string(c->barCount));
        printRow("Upbeat:", notes.cachedUpbeat() < 0 ? "not computed"
                                                     : std::to_string(notes.cachedUpbeat()) +
                                                           " ticks of rest before the first note");
        int32_t noteCount = 0;
        for (int list = 0; list < NoteTracks::kListCount; ++list) noteCount += notes.count(list);
        printRow("Notes:", std::to_string(noteCount));
        printRow("Accompaniment octave:", std::to_string(c->accompanimentOctave));
    }
    printRow("Status:", std::to_string(result) + " (" + statusMeaning(result) + ")");
    return usable(result) ? 0 : 1;
}

// Opens a usable document and writes it with `write`; `verb` and `done` name the action.
template <typename Write>
int writeDocument(const std::string& file, const std::string& output, const char* verb,
                  const char* done, Write write) {
    if (const int refused = refuseSameFiles({file}, {output})) return refused;
    HarmoniseOutcome outcome = openFile(file, openingRequest(), false);
    reportProblems(outcome);
    if (!usable(outcome.loadStatus)) {
        reportFailure(outcome);
        return 1;
    }
    // The document's instruments and volumes go with whatever is written.
    storeDocumentSettings(*outcome.document);
    std::string error;
    if (!write(outcome, error)) {
        std::cerr << "varimel-cli: can't " << verb << ": " << error << '\n';
        return 1;
    }
    // Standard output carries the file itself.
    if (output != kStandardOutputName) std::cout << done << ' ' << output << '\n';
    return 0;
}

int runSave(const std::string& file, const std::string& output) {
    return writeDocument(file, output, "save", "Saved",
                         [&](HarmoniseOutcome& outcome, std::string& error) {
                             return ProjectWriter::write(output, *outcome.master->composition(),
                                                         outcome.options, error);
                         });
}

int runExport(const std::string& file, const std::string& output) {
    return writeDocument(
        file, output, "export", "Exported", [&](HarmoniseOutcome& outcome, std::string& error) {
            return exportMidi(*outcome.master->composition(), &outcome.channels(), output, error);
        });
}

}  // namespace

void registerFileCommands(CLI::App& app, int& exitCode) {
    static std::string infoFile, saveFile, saveOutput, exportFile, exportOutput;
    auto addChannel = [](CLI::App* command) {
        command
            ->add_option("--channel", melodyChannelChoice,
                         "When melodies are on several channels, take this one (0 to 15)")
            ->check(wholeNumberFrom("--channel", 0, 15));
    };

    CLI::App* info = app.add_subcommand("info", "Load a melody or project and print what was read");
    info->add_option("FILE", infoFile, "A Standard MIDI File or a .vml project")->required();
    addChannel(info);
    addMelodySourceFlags(info);
    info->callback([&exitCode] { exitCode = runInfo(infoFile); });

    CLI::App* save = app.add_subcommand("save", "Load a melody and save it as a project");
    save->add_option("FILE", saveFile, "A Standard MIDI File or a .vml project")->required();
    save->add_option("-o,--output", saveOutput,
                     "The project file to write (.vml; - for standard output)")
        ->required();
    addChannel(save);
    addMelodySourceFlags(save);
    save->callback([&exitCode] { exitCode = runSave(saveFile, saveOutput); });

    CLI::App* exportCommand =
        app.add_subcommand("export", "Load a melody or project and export it as a MIDI file");
    exportCommand->add_option("FILE", exportFile, "A Standard MIDI File or a .vml project")
        ->required();
    exportCommand
        ->add_option("-o,--output", exportOutput, "The MIDI file to write (- for standard output)")
        ->required();
    addChannel(exportCommand);
    addMelodySourceFlags(exportCommand);
    exportCommand->callback([&exitCode] { exitCode = runExport(exportFile, exportOutput); });
}

}  // namespace varimel::cli
