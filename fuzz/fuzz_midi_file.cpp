// A Standard MIDI File opened as a melody: loaded, checked, analysed and harmonised.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static varimel::test::ScratchFile file(".mid");
    if (!file.write(data, size)) return 0;
    varimel::fuzz::check(varimel::test::readMelodyFile(file.path()), true);
    return 0;
}
