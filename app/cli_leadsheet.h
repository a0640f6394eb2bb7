// Lead-sheet outputs of the harmonise command (MusicXML), kept apart from the command itself.
#pragma once

#include "cli_harmonise.h"

namespace varimel::cli {

// Opens a melody file of any format the program reads (MIDI, MusicXML, ABC) into the master,
// with the part, voice and tune the flags name; warnings go to standard error.
StatusCode loadMelody(ChordMaster& master);
// Adds --part, --voice and --tune to a command that opens melodies.
void addMelodySourceFlags(CLI::App* command);

// Adds --musicxml, --musicxml-accompaniment, --title and --composer to a command.
void addLeadSheetFlags(CLI::App* command);
// The file --musicxml names ("" for none, "-" for standard output), for the check that no
// output overwrites an input or another output.
const std::string& leadSheetOutput();
// Writes the lead sheet the flags ask for; 0 when done or none was asked for, else 1.
int writeLeadSheet(const HarmoniseOutcome& outcome, bool quiet);

}  // namespace varimel::cli
