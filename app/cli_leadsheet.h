// Lead-sheet outputs of the harmonise command (MusicXML), kept apart from the command itself.
#pragma once

#include "cli_harmonise.h"

namespace varimel::cli {

// Adds --musicxml, --musicxml-accompaniment, --title and --composer to a command.
void addLeadSheetFlags(CLI::App* command);
// Writes the lead sheet the flags ask for; 0 when done or none was asked for, else 1.
int writeLeadSheet(const HarmoniseOutcome& outcome, bool quiet);

}  // namespace varimel::cli
