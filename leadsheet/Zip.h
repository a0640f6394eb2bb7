// Zip: reads the score out of a compressed MusicXML file (.mxl), a zip archive whose
// META-INF/container.xml names the score. The archive is read by libzip, which checks every
// entry's CRC; encrypted entries are refused, and nothing unpacks beyond the size limit, so a
// crafted archive cannot blow up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varimel {

// The named entry of a zip archive, unpacked; false with `problem` set when it is missing,
// damaged, encrypted, packed in a way libzip does not read or larger than `limit`.
bool readZipEntry(const std::vector<uint8_t>& archive, const std::string& name, size_t limit,
                  std::string& content, std::string& problem);

// The names of the archive's entries, in directory order; false for a damaged archive.
bool zipEntryNames(const std::vector<uint8_t>& archive, std::vector<std::string>& names,
                   std::string& problem);

// The score of an .mxl file: the first root file of META-INF/container.xml, or without a
// readable one the first .musicxml or .xml entry outside META-INF. `warnings` receives why a
// container that is there was not used.
bool readMxlScore(const std::vector<uint8_t>& archive, size_t limit, std::string& score,
                  std::string& problem, std::vector<std::string>& warnings);

}  // namespace varimel
