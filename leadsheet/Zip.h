// Zip: reads the score out of a compressed MusicXML file (.mxl), a zip archive whose
// META-INF/container.xml names the score. Stored and deflated entries are read; nothing
// unpacks beyond the size limit, so a crafted archive cannot blow up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varimel {

// The named entry of a zip archive, unpacked; false with `problem` set when it is missing,
// damaged, in an unsupported method or larger than `limit`.
bool readZipEntry(const std::vector<uint8_t>& archive, const std::string& name, size_t limit,
                  std::string& content, std::string& problem);

// The names of the archive's entries, in directory order; false for a damaged archive.
bool zipEntryNames(const std::vector<uint8_t>& archive, std::vector<std::string>& names,
                   std::string& problem);

// The score of an .mxl file: the first root file of META-INF/container.xml, or without one the
// first .musicxml or .xml entry outside META-INF.
bool readMxlScore(const std::vector<uint8_t>& archive, size_t limit, std::string& score,
                  std::string& problem);

// Raw deflate data (RFC 1951) unpacked; false when damaged or larger than `limit`.
bool inflate(const uint8_t* data, size_t size, size_t limit, std::string& out);

}  // namespace varimel
