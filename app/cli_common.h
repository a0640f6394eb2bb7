// Shared pieces of the command-line program: opening a document as the main window does, and
// the registration functions of each group of commands.
#pragma once

#include <memory>
#include <string>

#include "engine/Wchordmaster.h"

namespace CLI {
class App;
}

namespace varimel::cli {

// Loads a ".vml" project (by extension, any case) or a MIDI file into a new chord master.
std::unique_ptr<ChordMaster> openDocument(const std::string& path, StatusCode& status);
bool isProjectFile(const std::string& path);

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
