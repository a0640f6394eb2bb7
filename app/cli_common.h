// Shared pieces of the command-line program: what a file is, the refusal of outputs that are
// inputs, and the registration functions of each group of commands.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "accompaniment/DocumentOpening.h"
#include "engine/Wchordmaster.h"

namespace CLI {
class App;
}

namespace varimel::cli {

// What a file is by its first bytes ("MThd" or "RIFF": MIDI, "VVml": a project); by its
// extension when the bytes say neither. `warning` is set when the extension disagrees.
DocumentKind documentKind(const std::string& path, std::string* warning = nullptr);
// The same from the file's first bytes, already read (fewer than four: none to tell by).
DocumentKind documentKind(const std::string& path, const std::string& head, std::string* warning);
bool isProjectFile(const std::string& path);

// Why a file could not be loaded: missing, a folder, or the reader's own reason.
std::string loadFailureReason(const std::string& path, const ChordMaster& master);

// Refuses a run whose outputs (empty ones ignored) are the same file as an input or as each
// other: prints why and answers exit status 2, else 0. Call before anything is written.
int refuseSameFiles(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs,
                    bool inputsExist = false);

// Checks a whole-number option before it is converted: "--jobs must be a whole number from 1 to
// 1024", never the parser's own text about the largest double.
std::function<std::string(const std::string&)> wholeNumberFrom(std::string option, long first,
                                                               long last);

// The meters of a style ("3/4 6/8"), "-" for none.
std::string meterSetText(uint32_t meters);

// Usable means the document can go on to harmonisation: status 0, or 92 (a warning).
inline bool usable(StatusCode status) {
    return status == 0 || status == 92;
}

// Each group adds its subcommands; `exitCode` receives the result of the one that ran.
void registerFileCommands(CLI::App& app, int& exitCode);
void registerSettingsCommands(CLI::App& app, int& exitCode);
void registerHarmoniseCommands(CLI::App& app, int& exitCode);
void registerLibraryCommands(CLI::App& app, int& exitCode);

}  // namespace varimel::cli
