// Commands on files: info, save (project), export (MIDI).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "cli_common.h"
#include "cli_leadsheet.h"
#include "engine/Mas_file.h"
#include "engine/MidiExport.h"
#include "engine/Tonality.h"

namespace varimel::cli {

bool isProjectFile(const std::string& path) {
    if (path.size() < 4) return false;
    std::string extension = path.substr(path.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    return extension == ".vml";
}

std::unique_ptr<ChordMaster> openDocument(const std::string& path, StatusCode& status) {
    auto master = std::make_unique<ChordMaster>(path);
    status = isProjectFile(path) ? master->loadProject() : loadMelody(*master);
    return master;
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

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

void reportFailure(const std::string& file, StatusCode status, const ChordMaster& master) {
    std::cerr << "varimel-cli: can't open " << file << ": status " << status << " ("
              << statusMeaning(status) << ")";
    if (!master.readerMessage().empty()) std::cerr << ": " << trimmed(master.readerMessage());
    std::cerr << '\n';
}

// Prints what was read, as a person checking a file wants to see it.
int runInfo(const std::string& file) {
    StatusCode result = 0;
    const auto master = openDocument(file, result);
    const Composition* c = master->composition();

    printRow("File:", file);
    if (c) {
        int numerator = 4, denominator = 4;
        c->meterMap().meterOfBar(0, numerator, denominator);
        int sharpsFlats = 0, minor = 0;
        const KeyIndex signatureKey =
            c->eventValue(event_kind::kKeySignature, 0, &sharpsFlats, &minor);
        const bool hasSignature = c->findEvent(event_kind::kKeySignature, 0, false) != nullptr;
        const bool hasMeter = c->findEvent(event_kind::kTimeSignature, 0, false) != nullptr;
        const int32_t tempo = c->eventValue(event_kind::kTempo, 0);
        const NoteTracks& notes = c->noteTracks();

        printRow("Format:", std::to_string(c->fileFormat));
        printRow("Tracks:", std::to_string(c->trackCount));
        printRow("Division:", std::to_string(c->ticksPerQuarter) + " ticks per quarter note");
        printRow("Meter of bar 1:", std::to_string(numerator) + "/" + std::to_string(denominator) +
                                        (hasMeter ? "" : " (no time signature in the file)"));
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
        printRow("Upbeat:", notes.cachedUpbeat() < 0
                                ? "not computed"
                                : std::to_string(notes.cachedUpbeat()) + " ticks");
        int32_t noteCount = 0;
        for (int list = 0; list < NoteTracks::kListCount; ++list) noteCount += notes.count(list);
        printRow("Notes:", std::to_string(noteCount));
        printRow("Accompaniment octave:", std::to_string(c->accompanimentOctave));
    }
    printRow("Status:", std::to_string(result) + " (" + statusMeaning(result) + ")");
    if (result == status::kUnreadableFile && !master->readerMessage().empty()) {
        printRow("Reader:", trimmed(master->readerMessage()));
    }
    return usable(result) ? 0 : 1;
}

// Opens a usable document and writes it with `write`; `verb` and `done` name the action.
template <typename Write>
int writeDocument(const std::string& file, const std::string& output, const char* verb,
                  const char* done, Write write) {
    StatusCode result = 0;
    const auto master = openDocument(file, result);
    if (!usable(result)) {
        reportFailure(file, result, *master);
        return 1;
    }
    std::string error;
    if (!write(*master->composition(), error)) {
        std::cerr << "varimel-cli: can't " << verb << ' ' << output << ": " << error << '\n';
        return 1;
    }
    std::cout << done << ' ' << output << '\n';
    return 0;
}

int runSave(const std::string& file, const std::string& output) {
    return writeDocument(file, output, "save", "Saved",
                         [&](const Composition& c, std::string& error) {
                             return ProjectWriter::write(output, c, currentOptions, error);
                         });
}

int runExport(const std::string& file, const std::string& output) {
    return writeDocument(file, output, "export", "Exported",
                         [&](const Composition& c, std::string& error) {
                             return exportMidi(c, nullptr, output, error);
                         });
}

}  // namespace

void registerFileCommands(CLI::App& app, int& exitCode) {
    static std::string infoFile, saveFile, saveOutput, exportFile, exportOutput;

    CLI::App* info = app.add_subcommand("info", "Load a melody or project and print what was read");
    info->add_option("FILE", infoFile, "A Standard MIDI File or a .vml project")->required();
    addMelodySourceFlags(info);
    info->callback([&exitCode] { exitCode = runInfo(infoFile); });

    CLI::App* save = app.add_subcommand("save", "Load a melody and save it as a project");
    save->add_option("FILE", saveFile, "A Standard MIDI File or a .vml project")->required();
    save->add_option("-o,--output", saveOutput, "The project file to write (.vml)")->required();
    save->callback([&exitCode] { exitCode = runSave(saveFile, saveOutput); });

    CLI::App* exportCommand =
        app.add_subcommand("export", "Load a melody or project and export it as a MIDI file");
    exportCommand->add_option("FILE", exportFile, "A Standard MIDI File or a .vml project")
        ->required();
    exportCommand->add_option("-o,--output", exportOutput, "The MIDI file to write")->required();
    exportCommand->callback([&exitCode] { exitCode = runExport(exportFile, exportOutput); });
}

}  // namespace varimel::cli
