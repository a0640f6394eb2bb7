// The playback commands of the command line: hear a document through a MIDI output, list the
// outputs, and render a document to a WAV file.
#pragma once

#include <string>

#include "engine/Apperr.h"
#include "engine/ChannelSettings.h"

namespace CLI {
class App;
}

namespace varimel::cli {

struct PlayOptions {
    std::string output;  // an output's name (or part of it); empty: the default output
    int fromBar = 0;     // counted from 1; 0: from the start
    int loopFrom = 0;    // both counted from 1; the loop runs to the end of loopTo
    int loopTo = 0;
    double tempoBpm = 0;  // 0: the file's tempo
};

// Adds "play" and "render"; `exitCode` receives the result of the one that ran.
void registerPlaybackCommands(CLI::App& app, int& exitCode);

// Prints the MIDI outputs with their numbers; answers an exit status.
int listOutputsCommand();
// Plays until the end, or until Ctrl-C stops it, printing the position as bar:beat:tick.
int playComposition(Composition& composition, ChannelSettings& channels,
                    const PlayOptions& options);
// Renders the whole document (or from options.fromBar) to a WAV file; unless quiet, says so.
int renderCompositionToWav(const Composition& composition, const ChannelSettings& channels,
                           const std::string& wavPath, const PlayOptions& options,
                           bool quiet = false);

}  // namespace varimel::cli
