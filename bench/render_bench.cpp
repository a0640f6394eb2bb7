// Accompaniment rendering over a folder of melodies: every tune is harmonised once, then its
// full accompaniment (style on list 1, organ, bass and drums) is rendered with every style of
// its meter and the arrangement the program would choose.
//   render_bench [FOLDER] [--library DIR] [benchmark flags]
// FOLDER defaults to the bundled samples, DIR to the build tree's compiled library.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "accompaniment/AccompanimentChoice.h"
#include "accompaniment/StyleRenderer.h"
#include "accompaniment/Tarangsmaster.h"
#include "accompaniment/Tstylemaster.h"
#include "engine/Wchordmaster.h"

namespace {

namespace fs = std::filesystem;
using namespace varimel;

struct Job {
    Composition* composition;
    const Style* style;  // null: the arrangement alone
};

std::vector<std::string> midiFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
        if (entry.is_regular_file() && (extension == ".mid" || extension == ".midi")) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Tunes whose key cannot be recognised still get a chord track, so that they count.
void ensureChords(Composition& composition) {
    if (composition.hasChordTrack()) return;
    static const ChordCode kProgression[] = {makeChordCode(7, 0), makeChordCode(6, 0),
                                             makeChordCode(8, 1), makeChordCode(7, 0)};
    composition.slots.assign(static_cast<size_t>(composition.barCount), HarmonySlot{});
    for (size_t bar = 0; bar < composition.slots.size(); ++bar) {
        composition.slots[bar].mainCount = 1;
        composition.slots[bar].candidates[0] = kProgression[bar % 4];
    }
    composition.buildChordTrack();
}

void renderAll(benchmark::State& state, const std::vector<Job>& jobs) {
    int64_t notes = 0;
    for (auto _ : state) {
        for (const Job& job : jobs) {
            Composition& c = *job.composition;
            c.style = job.style;
            c.accompanimentParts =
                job.style ? accompaniment_part::kStyle | accompaniment_part::kArrangement
                          : accompaniment_part::kArrangement;
            benchmark::DoNotOptimize(renderAccompaniment(c));
            for (int list : {1, 2, 3, 9}) notes += c.noteTracks().count(list);
        }
    }
    const double renders = static_cast<double>(state.iterations() * jobs.size());
    state.counters["renders/s"] = benchmark::Counter(renders, benchmark::Counter::kIsRate);
    state.counters["notes/s"] =
        benchmark::Counter(static_cast<double>(notes), benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = VARIMEL_SAMPLES_DIR;
    std::string library = VARIMEL_LIBRARY_DIR;
    std::vector<char*> benchmarkArgs{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--library" && i + 1 < argc) {
            library = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            benchmarkArgs.push_back(argv[i]);
        } else {
            folder = arg;
        }
    }

    StyleLibrary styles((fs::path(library) / "styles" / "").string());
    ArrangementLibrary arrangements((fs::path(library) / "arrangements" / "").string());
    if (!styles.load() || !arrangements.loadList()) {
        std::cerr << "render_bench: no style or arrangement library in " << library << '\n';
        return 1;
    }

    std::vector<std::unique_ptr<ChordMaster>> masters;
    std::vector<Job> jobs;
    for (const std::string& file : midiFiles(folder)) {
        auto master = std::make_unique<ChordMaster>(file);
        const StatusCode loaded = master->loadMidi();
        if (loaded != status::kOk && loaded != status::kTooLittleMaterial) continue;
        master->harmonise();
        Composition& c = *master->composition();
        ensureChords(c);
        c.tempo = c.eventValue(event_kind::kTempo, 0);

        AccompanimentSetup setup;
        setup.arrangements = &arrangements;
        resetForDocument(setup);
        chooseArrangement(setup, c, kNoArrangement);

        int numerator = 0, denominator = 0;
        c.meterMap().meterOfBar(0, numerator, denominator);
        bool anyStyle = false;
        for (int category = 0; category < kStyleCategoryCount; ++category) {
            for (const Style& style : styles.styles(category)) {
                if (!meterFits(style.meters, numerator, denominator)) continue;
                jobs.push_back({&c, &style});
                anyStyle = true;
            }
        }
        if (!anyStyle) jobs.push_back({&c, nullptr});
        masters.push_back(std::move(master));
    }
    if (jobs.empty()) {
        std::cerr << "render_bench: no usable melodies in " << folder << '\n';
        return 1;
    }
    std::cout << "folder: " << folder << " (" << masters.size() << " tunes, " << jobs.size()
              << " renders per pass)\n";
    benchmark::RegisterBenchmark("RenderAccompaniment/folder", renderAll, jobs)
        ->Unit(benchmark::kMillisecond);
    int benchmarkArgc = static_cast<int>(benchmarkArgs.size());
    benchmark::Initialize(&benchmarkArgc, benchmarkArgs.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
