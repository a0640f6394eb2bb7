// A project file opened, played as it was saved, harmonised again and saved.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static varimel::test::ScratchFile file(".vml");
    if (!file.write(data, size)) return 0;
    varimel::fuzz::check(varimel::test::readProjectFile(file.path()), true);
    return 0;
}
