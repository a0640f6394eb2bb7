// varimel-regsetup: writes the program's registry file for an installation, as the installer
// would; run again, it refreshes the paths and keeps the user's options and recent files.
#include "settings/RegSetup.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <string>

#include "settings/RegFile.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    CLI::App app{"Writes the Varimel registry file for an installation."};
    varimel::InstallLayout layout;
    std::string output;
    bool reset = false;
    bool showTips = layout.showTips;
    app.add_option("--install-path", layout.installPath,
                   "installation folder: the data root holding samples, styles, arrangements")
        ->required();
    app.add_option("--output", output,
                   "registry file to write (default: $VARIMEL_REGISTRY, else "
                   "<program dir>/../etc/varimel/registry.reg)");
    app.add_option("--work-path", layout.workPath, "work folder, relative to the install path")
        ->capture_default_str();
    app.add_option("--images-path", layout.imagesPath, "images folder, relative")
        ->capture_default_str();
    app.add_option("--data-path", layout.dataPath,
                   "folder of gmi.txt and tips.txt, relative (empty: the install path)");
    app.add_option("--styles", layout.styleDir, "style folder (default: <install>/styles/)");
    app.add_option("--arrangements", layout.arrangementDir,
                   "arrangement folder (default: <install>/arrangements/)");
    app.add_option("--style-import", layout.styleImportTool, "style import tool, relative")
        ->capture_default_str();
    app.add_option("--arrangement-import", layout.arrangementImportTool,
                   "arrangement import tool, relative")
        ->capture_default_str();
    app.add_option("--url", layout.siteAddress, "web site address without the scheme")
        ->capture_default_str();
    app.add_option("--show-tips", showTips, "show the tip of the day at start (0 or 1)")
        ->capture_default_str();
    layout.soundFont = varimel::installedSoundFont();
    app.add_option("--soundfont", layout.soundFont,
                   "General MIDI sound font of the built-in synthesiser (default: the first of "
                   "Debian's that is installed)");
    app.add_option("--max-recent", layout.maxRecentFiles, "capacity of the recent-files list")
        ->capture_default_str();
    app.add_flag("--reset", reset, "forget the user's options, recent files and placement");
    CLI11_PARSE(app, argc, argv);
    layout.showTips = showTips;

    std::error_code ec;
    auto installPath = fs::absolute(layout.installPath, ec);
    if (!ec) layout.installPath = installPath.lexically_normal().string();
    fs::path file = output.empty() ? varimel::registryFilePath() : fs::path(output);
    if (file.empty()) {
        std::cerr << "varimel-regsetup: no registry file given and none found; use --output\n";
        return 1;
    }
    if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);

    varimel::RegistryFile registry(file);
    if (!registry.usable()) {
        std::cerr << "varimel-regsetup: " << registry.loadError() << "; left unchanged\n";
        return 1;
    }
    std::string error;
    if (!varimel::writeInstallation(registry, layout, reset, &error)) {
        std::cerr << "varimel-regsetup: " << file.string() << ": " << error << '\n';
        return 1;
    }
    return 0;
}
