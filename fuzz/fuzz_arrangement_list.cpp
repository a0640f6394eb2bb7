// "arangs.lst" loaded as the arrangement library, beside the compiled arrangement files; every
// automatic choice is selected, which reads the file it names.
#include <cstddef>
#include <cstdint>

#include "accompaniment/PatternFiles.h"
#include "fuzz_library.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    varimel::test::ScratchFolder& folder = varimel::fuzz::libraryFolder(".art");
    if (!folder.write(varimel::kArrangementListName, data, size)) return 0;
    varimel::fuzz::check(varimel::test::readArrangementLibrary(folder.path()), false);
    return 0;
}
