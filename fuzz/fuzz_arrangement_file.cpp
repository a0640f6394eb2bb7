// An ".art" arrangement file: read and rendered, with its part plan, over pieces in several
// meters.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_library.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    varimel::fuzz::check(varimel::test::readArrangementFile(bytes, varimel::fuzz::pieces()), false);
    return 0;
}
