#include "cli_leadsheet.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>

#include "leadsheet/LeadSheet.h"
#include "leadsheet/MelodyFiles.h"

namespace varimel::cli {

namespace {

struct LeadSheetFlags {
    std::string musicXmlOut;
    bool accompaniment = false;
    std::string title;
    std::string composer;
    bool titleGiven = false;
};

LeadSheetFlags& flags() {
    static LeadSheetFlags instance;
    return instance;
}

MelodySource& source() {
    static MelodySource instance;
    return instance;
}

// What each opened score or tune said about itself, by file name (a batch opens several at
// once).
struct OpenedInfo {
    std::mutex mutex;
    std::map<std::string, MelodyInfo> byFile;
};
OpenedInfo& openedInfo() {
    static OpenedInfo instance;
    return instance;
}

}  // namespace

StatusCode loadMelody(ChordMaster& master) {
    std::vector<std::string> warnings;
    MelodyInfo info;
    const StatusCode status = loadMelodyFile(master, source(), warnings, info);
    {
        OpenedInfo& opened = openedInfo();
        const std::lock_guard<std::mutex> lock(opened.mutex);
        opened.byFile[master.fileName()] = std::move(info);
    }
    for (const std::string& warning : warnings)
        std::cerr << "varimel-cli: " << master.fileName() << ": " << warning << '\n';
    return status;
}

void addMelodySourceFlags(CLI::App* command) {
    MelodySource& s = source();
    command
        ->add_option("--part", s.musicXml.part,
                     "MusicXML: the part that holds the melody, counted from 1 (default 1)")
        ->check(CLI::Range(1, 1000));
    command
        ->add_option("--voice", s.musicXml.voice,
                     "MusicXML: the voice of the melody (default: the voice of the first note)")
        ->check(CLI::Range(1, 1000));
    command->add_option("--tune", s.tune, "ABC: the X: number of the tune (default: the first)")
        ->check(CLI::NonNegativeNumber);
}

void addLeadSheetFlags(CLI::App* command) {
    LeadSheetFlags& f = flags();
    command->add_option("--musicxml", f.musicXmlOut,
                        "Write a lead sheet (melody and chord symbols) as MusicXML");
    command->add_flag("--musicxml-accompaniment", f.accompaniment,
                      "With --musicxml: add a part with the block chords");
    command->add_option("--title", f.title,
                        "The lead sheet's title (default: the tune's T: or the score's title, "
                        "else the file name without its extension)");
    command->add_option("--composer", f.composer,
                        "The lead sheet's composer (default: the tune's C: or the score's)");
}

const std::string& leadSheetOutput() {
    return flags().musicXmlOut;
}

int writeLeadSheet(const HarmoniseOutcome& outcome, bool quiet) {
    const LeadSheetFlags& f = flags();
    if (f.musicXmlOut.empty() || !outcome.master || !outcome.master->composition()) return 0;
    MelodyInfo info;
    {
        OpenedInfo& opened = openedInfo();
        const std::lock_guard<std::mutex> lock(opened.mutex);
        const auto found = opened.byFile.find(outcome.master->fileName());
        if (found != opened.byFile.end()) info = found->second;
    }
    LeadSheetOptions options;
    options.title = !f.title.empty()      ? f.title
                    : !info.title.empty() ? info.title
                                          : std::filesystem::path(outcome.file).stem().string();
    options.composer = f.composer.empty() ? info.composer : f.composer;
    options.repeats = info.repeats;
    options.accompaniment = f.accompaniment;
    std::string error;
    if (!exportMusicXml(*outcome.master->composition(), options, f.musicXmlOut, error)) {
        std::cerr << "varimel-cli: can't write " << f.musicXmlOut << ": " << error << '\n';
        return 1;
    }
    if (!quiet) std::cout << "Wrote lead sheet " << f.musicXmlOut << '\n';
    return 0;
}

}  // namespace varimel::cli
