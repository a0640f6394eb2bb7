// varimel-cli: the engine without windows — read melodies, harmonise them, save and export.
#include <CLI/CLI.hpp>

#include "cli_common.h"
#include "cli_play.h"

int main(int argc, char** argv) {
    CLI::App app{"Varimel on the command line: harmonises melodies and writes the results."};
    app.require_subcommand(1);
    int exitCode = 0;
    varimel::cli::registerFileCommands(app, exitCode);
    varimel::cli::registerSettingsCommands(app, exitCode);
    varimel::cli::registerHarmoniseCommands(app, exitCode);
    varimel::cli::registerLibraryCommands(app, exitCode);
    varimel::cli::registerPlaybackCommands(app, exitCode);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    return exitCode;
}
