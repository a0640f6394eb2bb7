// The registry file read at start-up; what is read must write back unchanged.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static varimel::test::ScratchFile file(".reg");
    if (!file.write(data, size)) return 0;
    varimel::fuzz::check(varimel::test::readRegistryFile(file.path()), false);
    return 0;
}
