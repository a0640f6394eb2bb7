// ChordMaster: drives the engine for one open file — loads it into a Composition, checks and
// analyses the melody, and reports the outcome as a StatusCode for the windows to turn into
// messages.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/Apperr.h"
#include "engine/Status.h"
#include "settings/HarmonyOptions.h"

namespace varimel {

class ChordMaster {
  public:
    // Source value recorded after loading a project file instead of a MIDI file size.
    static constexpr uint32_t kProjectSourceValue = 0x10000;

    ChordMaster(std::string fileName, std::string secondName = {});
    ~ChordMaster();
    ChordMaster(const ChordMaster&) = delete;
    ChordMaster& operator=(const ChordMaster&) = delete;

    StatusCode composeNames();
    StatusCode loadMidi();
    // Reads a project file into a new composition; the harmony options stored in it replace
    // `options` (the program's current options).
    StatusCode loadProject(HarmonyOptions& options = currentOptions);
    StatusCode analyse(int mode);
    // Writes the played channels' programs and volumes into the composition's channel events,
    // so that a saved project or an exported file carries them.
    void storeChannelSettings();

    Composition* composition() { return composition_.get(); }
    const Composition* composition() const { return composition_.get(); }
    const std::string& fileName() const { return fileName_; }
    const std::string& reportName() const { return reportName_; }
    const std::string& exportName() const { return exportName_; }

    KeyIndex key = kNoKey;
    StatusCode status = status::kOk;
    int16_t melodyChannel = -1;
    uint32_t sourceValue = 0;

    // What the loader saw, for callers that explain a failed load.
    const std::string& readerMessage() const { return readerMessage_; }
    // Channels that carried notes (bit n = channel n), to offer the choice after status 89.
    uint16_t noteChannels() const { return noteChannels_; }

  private:
    std::string fileName_;
    std::string secondName_;
    std::string reportName_;
    std::string exportName_;
    std::unique_ptr<Composition> composition_;
    std::string readerMessage_;
    uint16_t noteChannels_ = 0;
};

}  // namespace varimel
