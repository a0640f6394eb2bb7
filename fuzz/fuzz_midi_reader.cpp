// A Standard MIDI File opened as a melody up to the document, without harmonising: the reader,
// the loader, the melody check and the analysis, and the bare reader with other option bits.
// Many times faster than fuzz_midi_file, so a run reaches the reader's corners.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static varimel::test::ScratchFile file(".mid");
    if (!file.write(data, size)) return 0;
    varimel::fuzz::check(varimel::test::readMelodyFileOnly(file.path()), true);
    return 0;
}
