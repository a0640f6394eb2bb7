// Load + melody check + analysis (reading each file, or from bytes read beforehand), load +
// harmonise (Drafts I, II and IV), and harmonising alone, over a folder of MIDI files.
//   load_bench [FOLDER] [benchmark flags]     (default folder: the bundled samples)
// Reports files and notes per second, and the bytes a loaded composition holds against the
// 14 bytes per note of its note records.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/ByteIO.h"
#include "engine/Limits.h"
#include "engine/Wchordmaster.h"

namespace {

std::atomic<long long> liveBytes{0};
std::atomic<long long> peakBytes{0};
// Counted only while the held memory is measured: the atomic counting would otherwise weigh on
// the timed loops, which the other side's parser does not pay.
std::atomic<bool> counting{false};

void noteAllocation(void* p) {
    if (!p || !counting.load(std::memory_order_relaxed)) return;
    const long long now = liveBytes += static_cast<long long>(malloc_usable_size(p));
    long long peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
}

std::vector<std::string> midiFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
        if (entry.is_regular_file() && (extension == ".mid" || extension == ".midi")) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

int32_t melodyNotes(const varimel::ChordMaster& master) {
    const varimel::Composition* c = master.composition();
    if (!c) return 0;
    int32_t notes = 0;
    for (int list = 0; list < varimel::NoteTracks::kListCount; ++list) {
        notes += c->noteTracks().count(list);
    }
    return notes;
}

void loadFolder(benchmark::State& state, const std::vector<std::string>& files) {
    int64_t notes = 0;
    for (auto _ : state) {
        for (const std::string& file : files) {
            varimel::ChordMaster master(file);
            benchmark::DoNotOptimize(master.loadMidi());
            notes += melodyNotes(master);
        }
    }
    state.counters["files/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * files.size()), benchmark::Counter::kIsRate);
    state.counters["notes/s"] =
        benchmark::Counter(static_cast<double>(notes), benchmark::Counter::kIsRate);

    // Memory held by one loaded composition, averaged over the folder.
    long long heldBytes = 0;
    long long noteBytes = 0;
    counting = true;
    for (const std::string& file : files) {
        const long long before = liveBytes.load();
        varimel::ChordMaster master(file);
        master.loadMidi();
        heldBytes += liveBytes.load() - before;
        noteBytes += 14LL * melodyNotes(master);
    }
    counting = false;
    state.counters["bytes/composition"] =
        static_cast<double>(heldBytes) / static_cast<double>(std::max<size_t>(files.size(), 1));
    state.counters["held/(notes*14)"] =
        noteBytes ? static_cast<double>(heldBytes) / static_cast<double>(noteBytes) : 0.0;
}

// The same with the files' bytes read beforehand, as a parser handed a buffer works: each pass
// is handed its own copies, made while the clock stands.
void loadFromMemory(benchmark::State& state, const std::vector<std::string>& files) {
    std::vector<std::vector<uint8_t>> contents(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        varimel::readWholeFile(files[i], varimel::limits::kMaxMidiFileSize, contents[i]);
    }
    std::vector<std::vector<uint8_t>> handed = contents;
    for (auto _ : state) {
        for (size_t i = 0; i < files.size(); ++i) {
            varimel::ChordMaster master(files[i]);
            master.provideContent(std::move(handed[i]));
            benchmark::DoNotOptimize(master.loadMidi());
        }
        state.PauseTiming();
        handed = contents;
        state.ResumeTiming();
    }
    state.counters["files/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * files.size()), benchmark::Counter::kIsRate);
}

// Load + key recognition + harmonisation + chord track, per file, by a draft: Draft I (the
// harmonizer with the default options), Draft II (the harmonizer with its own options) or
// Draft IV.
void harmoniseFolder(benchmark::State& state, const std::vector<std::string>& files, int draft) {
    varimel::HarmonyOptions options = varimel::defaultOptions;
    varimel::applyDraft(draft, options);
    const auto method =
        draft == 4 ? varimel::ChordMethod::kDraftFour : varimel::ChordMethod::kHarmonizer;
    for (auto _ : state) {
        for (const std::string& file : files) {
            varimel::ChordMaster master(file);
            if (master.loadMidi() == 0) {
                benchmark::DoNotOptimize(master.harmonise(options, method));
            }
        }
    }
    state.counters["files/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * files.size()), benchmark::Counter::kIsRate);
}

// Harmonisation alone (key, chords, chord track) of melodies loaded beforehand.
void harmoniseLoaded(benchmark::State& state, const std::vector<std::string>& files,
                     varimel::ChordMethod method) {
    std::vector<std::unique_ptr<varimel::ChordMaster>> loaded;
    int64_t bars = 0;
    for (const std::string& file : files) {
        auto master = std::make_unique<varimel::ChordMaster>(file);
        if (master->loadMidi() != 0) continue;
        bars += master->composition()->barCount;
        loaded.push_back(std::move(master));
    }
    for (auto _ : state) {
        for (const auto& master : loaded) {
            benchmark::DoNotOptimize(master->harmonise(varimel::defaultOptions, method));
        }
    }
    state.counters["files/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * loaded.size()), benchmark::Counter::kIsRate);
    state.counters["bars/s"] = benchmark::Counter(static_cast<double>(state.iterations() * bars),
                                                  benchmark::Counter::kIsRate);
}

}  // namespace

// The replacement allocator counts bytes; GCC cannot see that these operators are themselves
// the new/delete pair, so it mistakes free() here for a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    noteAllocation(p);
    return p;
}
void operator delete(void* p) noexcept {
    if (p && counting.load(std::memory_order_relaxed)) {
        liveBytes -= static_cast<long long>(malloc_usable_size(p));
    }
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}

int main(int argc, char** argv) {
    std::string folder = VARIMEL_SAMPLES_DIR;
    std::vector<char*> benchmarkArgs{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-') {
            benchmarkArgs.push_back(argv[i]);
        } else {
            folder = argv[i];
        }
    }
    const std::vector<std::string> files = midiFiles(folder);
    if (files.empty()) {
        std::cerr << "load_bench: no MIDI files in " << folder << '\n';
        return 1;
    }
    std::cout << "folder: " << folder << " (" << files.size() << " files)\n";
    benchmark::RegisterBenchmark("LoadCheckAnalyse/folder", loadFolder, files)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("LoadCheckAnalyseFromMemory/folder", loadFromMemory, files)
        ->Unit(benchmark::kMillisecond);
    using varimel::ChordMethod;
    benchmark::RegisterBenchmark("LoadHarmonise/folder", harmoniseFolder, files, 1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("LoadDraftII/folder", harmoniseFolder, files, 2)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("LoadDraftIV/folder", harmoniseFolder, files, 4)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("HarmoniseDraftI/folder", harmoniseLoaded, files,
                                 ChordMethod::kHarmonizer)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("HarmoniseDraftIV/folder", harmoniseLoaded, files,
                                 ChordMethod::kDraftFour)
        ->Unit(benchmark::kMillisecond);
    int benchmarkArgc = static_cast<int>(benchmarkArgs.size());
    benchmark::Initialize(&benchmarkArgc, benchmarkArgs.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
