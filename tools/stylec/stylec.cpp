// varimel-stylec: compiles the text sources of the style and arrangement libraries into
// "styles.lst" + ".stt" files and "arangs.lst" + ".art" files. Nothing is written while any
// source has an error.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

#include "LibrarySource.h"

namespace {

void printErrors(const std::vector<varimel::stylec::SourceError>& errors) {
    for (const auto& error : errors) std::cerr << error.text() << '\n';
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Compiles Varimel's style and arrangement sources into the library files."};
    std::string styleSources, styleOut, arrangementSources, arrangementOut;
    app.add_option("--styles", styleSources, "folder of the style sources (*.txt)");
    app.add_option("--styles-out", styleOut, "style folder to write");
    app.add_option("--arrangements", arrangementSources,
                   "folder of the arrangement sources (*.txt)");
    app.add_option("--arrangements-out", arrangementOut, "arrangement folder to write");
    CLI11_PARSE(app, argc, argv);
    if (styleSources.empty() != styleOut.empty() ||
        arrangementSources.empty() != arrangementOut.empty()) {
        std::cerr << "varimel-stylec: give each source folder with its output folder\n";
        return 2;
    }

    using namespace varimel::stylec;
    std::vector<SourceError> errors;
    std::vector<StyleSource> styles;
    std::vector<ArrangementSource> arrangements;
    if (!styleSources.empty()) readStyleSources(styleSources, styles, errors);
    if (!arrangementSources.empty())
        readArrangementSources(arrangementSources, arrangements, errors);
    if (!errors.empty()) {
        printErrors(errors);
        return 1;
    }
    if (!styleSources.empty() && !writeStyleLibrary(styleOut, styles, errors)) {
        printErrors(errors);
        return 1;
    }
    if (!arrangementSources.empty() &&
        !writeArrangementLibrary(arrangementOut, arrangements, errors)) {
        printErrors(errors);
        return 1;
    }
    std::cout << "varimel-stylec: " << styles.size() << " styles, " << arrangements.size()
              << " arrangements\n";
    return 0;
}
