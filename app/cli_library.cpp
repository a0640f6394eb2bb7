// The library command: the installed styles and arrangements.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "cli_common.h"
#include "cli_harmonise.h"

namespace varimel::cli {

std::string meterSetText(MeterSet meters) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const int packed = static_cast<int>((meters >> shift) & 0xFF);
        if (packed == 0) continue;
        if (!text.empty()) text += ' ';
        text += std::to_string(packed >> 4) + "/" + std::to_string(packed & 0x0F);
    }
    return text.empty() ? "-" : text;
}

namespace {

std::string tempoText(int mask) {
    if (mask == 0 || (mask & tempo_class::kAny) == tempo_class::kAny) return "any";
    std::string text;
    if (mask & tempo_class::kSlow) text += "slow ";
    if (mask & tempo_class::kMedium) text += "medium ";
    if (mask & tempo_class::kFast) text += "fast ";
    text.pop_back();
    return text;
}

int runLibrary() {
    const auto context = openLibraries();
    for (const std::string& message : context->messages) {
        std::cerr << "varimel-cli: " << message << '\n';
    }
    StyleLibrary& styles = context->styles;
    std::printf("Styles (%s)\n", styles.directory().c_str());
    std::printf("  %-10s %-7s %-14s %-12s %7s %4s %5s\n", "id", "group", "name", "meters",
                "program", "bars", "beats");
    for (int category = 0; category < kStyleCategoryCount; ++category) {
        for (const StyleEntry& entry : styles.entries(category)) {
            const Style* style = styles.find(entry.id);
            std::printf("  0x%08X %-7s %-14s %-12s %7d %4d %5d\n", static_cast<unsigned>(entry.id),
                        std::string(StyleLibrary::categoryName(category)).c_str(),
                        entry.name.c_str(), style ? meterSetText(style->meters).c_str() : "-",
                        style ? style->program : -1, style ? style->bars : 0,
                        style ? style->beatsPerBar : 0);
        }
    }
    ArrangementLibrary& arrangements = context->arrangements;
    std::printf("\nArrangements (%s)\n", arrangements.directory().c_str());
    std::printf("  %-10s %-5s %-18s %-12s %5s %4s %6s %6s %6s\n", "id", "meter", "tempo", "name",
                "organ", "bass", "organ%", "bass%", "drums%");
    for (int group = 0; group < arrangements.groupCount(); ++group) {
        const ArrangementGroup& g = arrangements.groups()[static_cast<size_t>(group)];
        for (size_t index = 0; index < g.entries.size(); ++index) {
            const ArrangementId id = makeArrangementId(group, static_cast<int>(index));
            arrangements.select(id);
            const ArrangementPart* part = arrangements.currentPart0();
            const std::string meter =
                std::to_string(g.key >> 8) + "/" + std::to_string(g.key & 0xFF);
            std::printf("  0x%08X %-5s %-18s %-12s %5d %4d %6d %6d %6d\n",
                        static_cast<unsigned>(id), meter.c_str(),
                        tempoText(g.entries[index].tempoMask).c_str(),
                        g.entries[index].name.c_str(), part ? part->organProgram : -1,
                        part ? part->bassProgram : -1, part ? part->organVolume : 0,
                        part ? part->bassVolume : 0, part ? part->drumsVolume : 0);
        }
    }
    return styles.loaded() ? 0 : 1;
}

}  // namespace

void registerLibraryCommands(CLI::App& app, int& exitCode) {
    CLI::App* library = app.add_subcommand("library", "List the installed styles and arrangements");
    library->callback([&exitCode] { exitCode = runLibrary(); });
}

}  // namespace varimel::cli
