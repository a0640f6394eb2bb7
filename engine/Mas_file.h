// The project file (".vml"): a harmonised composition as a sequence of chunks from "VVml" to
// "FEnd", so that it can be reopened without reading and analysing a MIDI file again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Apperr.h"
#include "engine/Limits.h"
#include "settings/HarmonyOptions.h"

namespace varimel {

class ByteReader;

class ProjectReader {
  public:
    // Project files are small (14 bytes a note); anything bigger is not one of ours.
    static constexpr size_t kMaxFileSize = limits::kMaxProjectFileSize;

    ProjectReader(std::string fileName, Composition& composition, HarmonyOptions& options);

    // True when the file ended with "FEnd" and holds a composition the program can work on
    // (a meter that places its notes, notes in time order, known chords, within the limits of
    // engine/Limits.h). The options are replaced as soon as a "POpt" chunk is read.
    bool read();

  private:
    int32_t readOptions(ByteReader& in);
    int32_t readEvents(ByteReader& in, EventList& list);
    int32_t readNotes(ByteReader& in);
    int32_t readChordTrack(ByteReader& in);
    int32_t readSlots(ByteReader& in);
    int32_t readMeterAndKeys(ByteReader& in);
    int32_t skipSection(ByteReader& in);
    bool readArrangement(ByteReader& in);

    std::string fileName_;
    Composition& composition_;
    HarmonyOptions& options_;
    int32_t version_ = -1;
};

class ProjectWriter {
  public:
    static constexpr int32_t kVersion = 1;

    // The file's bytes: "VVml", "POpt", "GPar" and "TPar" when not empty, "MNts", "AChr" and
    // "RChr" when there is a chord track, "TTel", "ArId", "FEnd".
    static std::vector<uint8_t> encode(const Composition& composition,
                                       const HarmonyOptions& options);
    // Writes through a temporary file; on failure the previous file stays and `error` says why.
    static bool write(const std::string& fileName, const Composition& composition,
                      const HarmonyOptions& options, std::string& error);
};

}  // namespace varimel
