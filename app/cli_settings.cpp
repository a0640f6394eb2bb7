// The settings command: where the registry file is, what it holds, and a reset to defaults.
#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <sstream>

#include "cli_common.h"
#include "settings/RegFile.h"
#include "settings/RegSetup.h"
#include "settings/Tmyregistry.h"

namespace varimel::cli {

namespace {

int runSettings(bool reset, const std::string& installPath) {
    const std::filesystem::path path = registryFilePath();
    std::cout << "Registry file: " << (path.empty() ? "(unknown)" : path.string()) << '\n';
    if (reset) {
        RegistryFile registry(path);
        // The paths, library folders and sound font survive; options and lists start afresh.
        InstallLayout layout;
        const bool installed = registry.usable() && readInstallation(registry, layout);
        if (!installPath.empty()) {
            // A new data folder brings its own libraries.
            layout.installPath = installPath;
            layout.styleDir.clear();
            layout.arrangementDir.clear();
        }
        if (layout.installPath.empty() || (!installed && installPath.empty())) {
            std::cerr << "varimel-cli: Please run setup again (or give --install-path)\n";
            return 1;
        }
        std::string error;
        if (!writeInstallation(registry, layout, true, &error)) {
            std::cerr << "varimel-cli: can't reset the settings: " << error << '\n';
            return 1;
        }
        std::cout << "Settings reset to their defaults.\n";
    }
    SettingsStore store;
    if (!store.rootKeyExists()) {
        std::cout << "The program's settings key is missing: Please run setup again\n";
        return 1;
    }
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    std::cout << '\n' << text.str();
    return 0;
}

}  // namespace

void registerSettingsCommands(CLI::App& app, int& exitCode) {
    static bool reset = false;
    static std::string installPath;
    CLI::App* settings =
        app.add_subcommand("settings", "Show where the settings are kept and their values");
    settings->add_flag("--reset", reset, "Rewrite the default settings (keeps the paths)");
    settings->add_option("--install-path", installPath,
                         "With --reset: the data folder to point the settings at");
    settings->callback([&exitCode] { exitCode = runSettings(reset, installPath); });
}

}  // namespace varimel::cli
