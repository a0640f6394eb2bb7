#include "support/reader_paths.h"

#include <unistd.h>

#include <atomic>
#include <bit>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "accompaniment/ArrangementRenderer.h"
#include "accompaniment/PartPlan.h"
#include "accompaniment/PatternFiles.h"
#include "accompaniment/StyleRenderer.h"
#include "accompaniment/Tarangsmaster.h"
#include "accompaniment/Tstylemaster.h"
#include "alg/midi/midi_rw.h"
#include "engine/Mas_file.h"
#include "engine/Status.h"
#include "engine/Wchordmaster.h"
#include "settings/HarmonyOptions.h"
#include "settings/RegFile.h"
#include "settings/Tmyregistry.h"

namespace varimel::test {

bool isKnownStatus(std::int32_t code) {
    switch (code) {
        case status::kOk:
        case status::kOutOfMemory:
        case status::kSeveralChannels:
        case status::kNotMonophonic:
        case status::kTooShort:
        case status::kTooLittleMaterial:
        case status::kTooLow:
        case status::kKeyNotRecognised:
        case status::kMajorOrRelativeMinor:
        case status::kManyKeys:
        case status::kUnreadableFile:
            return true;
        default:
            return false;
    }
}

namespace {

// The document stays open after these, so the user can go on to Create Accompaniment.
bool documentOpens(StatusCode code) {
    return code == status::kOk || code == status::kTooLittleMaterial;
}

// What Play does without a style or an arrangement.
void renderBlockChords(ChordMaster& master) {
    Composition* c = master.composition();
    if (c == nullptr) return;
    c->accompanimentParts = accompaniment_part::kBlockChords;
    renderAccompaniment(*c);
}

ReadOutcome refused(std::string message) {
    ReadOutcome outcome;
    outcome.status = status::kUnreadableFile;
    outcome.message = std::move(message);
    return outcome;
}

// Every document that opens can be saved as a project, and the project opens again: empty
// when it does, else what went wrong.
std::string reopenedAfterSave(ChordMaster& master, const HarmonyOptions& options) {
    if (master.composition() == nullptr) return "an opened document has no composition";
    ScratchFile saved(".vml");
    if (!saved.write(ProjectWriter::encode(*master.composition(), options))) return {};
    ChordMaster reopened(saved.path());
    HarmonyOptions reread = defaultOptions;
    if (reopened.loadProject(reread) == status::kUnreadableFile) {
        return "a saved project does not open again";
    }
    // Compared as stored, since a damaged file may hold options that are not numbers.
    return serializeHarmonyOptions(reread) == serializeHarmonyOptions(options)
               ? std::string()
               : "a saved project changes its options";
}

// The meters the automatic choices are asked for: the samples' meters and two rarer ones.
constexpr int kMeters[][2] = {{4, 4}, {3, 4}, {2, 4}, {6, 8}, {2, 2}, {9, 8}};

// File > Open up to the opened document: load, melody check and analysis; after status 89 the
// first channel that carried notes is taken as the melody, as the user would choose it.
StatusCode openMelody(ChordMaster& master, ReadOutcome& outcome) {
    StatusCode code = master.loadMidi();
    outcome.message = master.readerMessage();
    if (code == status::kSeveralChannels && master.noteChannels() != 0) {
        master.melodyChannel = static_cast<int16_t>(std::countr_zero(master.noteChannels()));
        code = master.analyse(1);
    }
    return code;
}

}  // namespace

ReadOutcome readMelodyFileOnly(const std::string& path) {
    ChordMaster master(path);
    ReadOutcome outcome;
    outcome.status = openMelody(master, outcome);

    // The bare reader, sequential and through a window, with option bits from the file's last
    // two bytes (beyond its chunks, where they change nothing else).
    std::uint8_t options[2] = {0, 0};
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        if (std::fseek(file, -2, SEEK_END) == 0 && std::fread(options, 1, 2, file) != 2) {
            options[0] = options[1] = 0;
        }
        std::fclose(file);
    }
    MidiFileReader reader(path, MidiFileBuffer::kModeWindow);
    reader.setOptions(options[0], options[1]);
    reader.run();
    return outcome;
}

ReadOutcome readMelodyFile(const std::string& path) {
    ChordMaster master(path);
    ReadOutcome outcome;
    StatusCode code = openMelody(master, outcome);
    if (documentOpens(code)) {
        // Options of their own, so that no run leaves anything behind for the next one.
        const HarmonyOptions options = defaultOptions;
        // Draft IV too must take whatever the reader lets through, and so must the renderers
        // with its chords.
        master.harmonise(options, ChordMethod::kDraftFour);
        renderBlockChords(master);
        code = master.harmonise(options);
        renderBlockChords(master);
        outcome.broken = reopenedAfterSave(master, options);
    }
    outcome.status = code;
    return outcome;
}

ReadOutcome readProjectFile(const std::string& path) {
    ChordMaster master(path);
    HarmonyOptions options = defaultOptions;  // a project file replaces them with its own
    ReadOutcome outcome;
    StatusCode code = master.loadProject(options);
    if (documentOpens(code)) {
        // A project opens ready to play: its chord track is rendered as the file holds it,
        // with the parts it names, before anything is harmonised again.
        if (Composition* c = master.composition()) {
            renderAccompaniment(*c);
            renderBlockChords(master);
        }
        master.harmonise(options, ChordMethod::kDraftFour);
        renderBlockChords(master);
        code = master.harmonise(options);
        renderBlockChords(master);
        outcome.broken = reopenedAfterSave(master, options);
    }
    outcome.status = code;
    return outcome;
}

ReadOutcome readRegistryFile(const std::string& path) {
    ReadOutcome outcome;
    {
        RegistryFile file(path);
        if (!file.usable()) {
            outcome.status = status::kUnreadableFile;
            outcome.message = file.loadError();
            return outcome;
        }
        // A save writes back what was read; writing it again must change nothing, or every
        // start of the program would alter a hand-edited file a little more.
        const std::string once = file.document().toText();
        const std::optional<RegDocument> again = RegDocument::parse(once);
        if (!again) {
            outcome.broken = "the written registry does not read back";
        } else if (again->toText() != once) {
            outcome.broken = "the written registry changes when written again";
        }
    }
    SettingsStore store([path] { return std::make_unique<RegistryFile>(path); });
    StartupSettings startup;
    HarmonyOptions options = defaultOptions;
    readStartupSettings(store, startup, options);
    outcome.status = status::kOk;
    return outcome;
}

std::unique_ptr<ChordMaster> harmonisedPiece(const std::string& midiPath) {
    auto master = std::make_unique<ChordMaster>(midiPath);
    const StatusCode loaded = master->loadMidi();
    if (!documentOpens(loaded) || !documentOpens(master->harmonise(defaultOptions)) ||
        !master->composition()->hasChordTrack()) {
        return nullptr;
    }
    return master;
}

ReadOutcome readStyleLibrary(const std::string& folder) {
    StyleLibrary library(folder);
    if (!library.load()) return refused(kStylesLibraryMessage);
    for (const auto& meter : kMeters) {
        for (int seed = 0; seed < 4; ++seed) {
            // The list's identifiers are trusted as stored, so a damaged list may name a
            // style it does not hold; the lookups must still answer.
            const StyleId id = library.autoSelect(meter[0], meter[1], seed);
            library.style(id);
            library.entryName(id);
        }
    }
    for (int category = 0; category < kStyleCategoryCount; ++category) {
        for (const StyleEntry& entry : library.entries(category)) {
            library.find(entry.id);
            library.findByName(entry.name);
        }
    }
    return {};
}

ReadOutcome readStyleFile(const std::vector<std::uint8_t>& bytes,
                          const std::vector<Composition*>& pieces) {
    Style style;
    if (!parseStyle(bytes, style)) return refused("not a style file");
    renderStylePreview(style);
    for (Composition* piece : pieces) {
        piece->style = &style;
        piece->accompanimentParts = accompaniment_part::kStyle;
        renderAccompaniment(*piece);
        piece->style = nullptr;
    }
    return {};
}

ReadOutcome readArrangementLibrary(const std::string& folder) {
    ArrangementLibrary library(folder);
    library.setErrorReporter([](const std::string&) {});
    if (!library.loadList()) return refused(kArrangementsLibraryMessage);
    for (const auto& meter : kMeters) {
        library.setMeter(meter[0], meter[1]);
        for (const int bpm : {60, 120, 180}) {
            const ArrangementId id = library.autoChoose(bpm);
            library.select(id);
            library.currentPart0();
        }
    }
    for (int group = 0; group < library.groupCount(); ++group) {
        for (const ArrangementEntry& entry : library.groups()[static_cast<size_t>(group)].entries) {
            library.entry(library.findByName(entry.name));
        }
    }
    return {};
}

ReadOutcome readArrangementFile(const std::vector<std::uint8_t>& bytes,
                                const std::vector<Composition*>& pieces) {
    Arrangement arrangement;
    if (!parseArrangement(bytes, arrangement)) return refused("not an arrangement file");
    for (Composition* piece : pieces) {
        piece->arrangement = &arrangement;
        piece->accompanimentParts = accompaniment_part::kArrangement;
        buildPartPlan(*piece);
        renderAccompaniment(*piece);
        piece->arrangement = nullptr;
    }
    return {};
}

ScratchFile::ScratchFile(std::string_view extension) {
    static std::atomic<unsigned> counter{0};
    std::error_code ec;
    std::filesystem::path folder = "/dev/shm";
    if (!std::filesystem::is_directory(folder, ec)) folder = std::filesystem::temp_directory_path();
    path_ = (folder / ("varimel-scratch-" + std::to_string(::getpid()) + "-" +
                       std::to_string(counter++) + std::string(extension)))
                .string();
}

ScratchFile::~ScratchFile() {
    std::remove(path_.c_str());
}

bool ScratchFile::write(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

}  // namespace varimel::test

namespace varimel::test {

ScratchFolder::ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    std::error_code ec;
    std::filesystem::path folder = "/dev/shm";
    if (!std::filesystem::is_directory(folder, ec)) folder = std::filesystem::temp_directory_path();
    folder /= "varimel-library-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    std::filesystem::create_directories(folder, ec);
    path_ = folder.string() + "/";
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool ScratchFolder::write(const std::string& name, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen((path_ + name).c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

}  // namespace varimel::test
