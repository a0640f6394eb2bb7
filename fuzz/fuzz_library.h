// The compiled library and the harmonised pieces the accompaniment targets work with, made once
// per process. The library folder comes from $VARIMEL_FUZZ_LIBRARY (scripts/fuzz.sh sets it),
// the pieces from the sample melodies.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/Wchordmaster.h"
#include "support/reader_paths.h"

namespace varimel::fuzz {

// A scratch library folder holding a copy of the compiled files of one kind (".stt", ".art"),
// so that a fuzzed list can name real files beside it.
inline test::ScratchFolder& libraryFolder(const char* extension) {
    static test::ScratchFolder folder;
    static bool filled = false;
    if (!filled) {
        filled = true;
        const char* source = std::getenv("VARIMEL_FUZZ_LIBRARY");
        std::error_code ec;
        if (source != nullptr) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(source, ec)) {
                if (entry.path().extension() != extension) continue;
                std::filesystem::copy_file(entry.path(), folder.path() / entry.path().filename(),
                                           std::filesystem::copy_options::overwrite_existing, ec);
            }
        }
    }
    return folder;
}

// Pieces in 4/4, 3/4 with a pick-up, 6/8, and a meter change.
inline const std::vector<Composition*>& pieces() {
    static std::vector<std::unique_ptr<ChordMaster>> masters;
    static std::vector<Composition*> compositions;
    if (masters.empty()) {
        for (const char* name :
             {"twinkle.mid", "greensleeves.mid", "silent_night.mid", "good_morning_to_all.mid"}) {
            auto master = test::harmonisedPiece(std::string(VARIMEL_SAMPLES_DIR) + "/" + name);
            if (!master) continue;
            compositions.push_back(master->composition());
            masters.push_back(std::move(master));
        }
    }
    return compositions;
}

}  // namespace varimel::fuzz
