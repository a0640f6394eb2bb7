// Shared pieces of the command-line program: what a file is, the refusal of outputs that are
// inputs, and the registration functions of each group of commands.
#pragma once

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
bool isProjectFile(const std::string& path);

// Refuses a run whose outputs (empty ones ignored) are the same file as an input or as each
// other: prints why and answers exit status 2, else 0. Call before anything is written.
int refuseSameFiles(const std::vector<std::string>& inputs,
                    const std::vector<std::string>& outputs);

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
