// Writes one project file per sample melody (loaded and harmonised, with block chords), the
// seeds of the project target's corpus: fuzz_seed_projects SAMPLES_DIR OUT_DIR.
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/Mas_file.h"
#include "engine/Wchordmaster.h"
#include "settings/HarmonyOptions.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_seed_projects SAMPLES_DIR OUT_DIR\n");
        return 2;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(argv[2], ec);
    int written = 0;
    for (const auto& entry : fs::directory_iterator(argv[1], ec)) {
        if (entry.path().extension() != ".mid") continue;
        varimel::ChordMaster master(entry.path().string());
        const varimel::StatusCode loaded = master.loadMidi();
        // Projects that could not be harmonised are seeds too: they hold no chord track.
        if (loaded == varimel::status::kOk) master.harmonise(varimel::defaultOptions);
        if (master.composition() == nullptr || master.composition()->notes == nullptr) continue;
        master.composition()->accompanimentParts = varimel::accompaniment_part::kBlockChords;
        const fs::path out = fs::path(argv[2]) / entry.path().stem().concat(".vml");
        std::string error;
        if (!varimel::ProjectWriter::write(out.string(), *master.composition(),
                                           varimel::defaultOptions, error)) {
            std::fprintf(stderr, "%s: %s\n", out.c_str(), error.c_str());
            return 1;
        }
        ++written;
    }
    std::printf("%d seed projects in %s\n", written, argv[2]);
    return written > 0 ? 0 : 1;
}
