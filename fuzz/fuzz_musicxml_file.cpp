// A MusicXML score (or, when it starts like a zip archive, a compressed .mxl) opened as File >
// Open takes it; a usable melody is harmonised and written as a lead sheet, which must be
// well-formed XML again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/Wchordmaster.h"
#include "fuzz_support.h"
#include "leadsheet/LeadSheet.h"
#include "leadsheet/MelodyFiles.h"
#include "leadsheet/Xml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static varimel::test::ScratchFile score(".musicxml");
    static varimel::test::ScratchFile archive(".mxl");
    const bool zip = size >= 2 && data[0] == 'P' && data[1] == 'K';
    varimel::test::ScratchFile& file = zip ? archive : score;
    if (!file.write(data, size)) return 0;
    varimel::ChordMaster master(file.path());
    std::vector<std::string> warnings;
    const varimel::StatusCode status = varimel::loadMelodyFile(master, {}, warnings);
    if (!varimel::test::isKnownStatus(status)) {
        std::fprintf(stderr, "unknown status %d\n", status);
        std::abort();
    }
    if ((status == 0 || status == 92) && master.composition()) {
        master.harmonise();
        varimel::LeadSheetOptions options;
        options.accompaniment = true;
        const std::string text = varimel::musicXmlLeadSheet(*master.composition(), options);
        varimel::xml::Element root;
        std::string error;
        if (!varimel::xml::parse(text, root, error)) {
            std::fprintf(stderr, "lead sheet not well-formed: %s\n", error.c_str());
            std::abort();
        }
    }
    return 0;
}
