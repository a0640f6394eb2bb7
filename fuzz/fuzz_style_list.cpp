// "styles.lst" loaded as the style library, beside the compiled style files.
#include <cstddef>
#include <cstdint>

#include "accompaniment/PatternFiles.h"
#include "fuzz_library.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    varimel::test::ScratchFolder& folder = varimel::fuzz::libraryFolder(".stt");
    if (!folder.write(varimel::kStyleListName, data, size)) return 0;
    varimel::fuzz::check(varimel::test::readStyleLibrary(folder.path()), false);
    return 0;
}
