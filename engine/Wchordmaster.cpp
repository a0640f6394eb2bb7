#include "engine/Wchordmaster.h"

#include <new>
#include <vector>

#include "engine/ByteIO.h"
#include "engine/CompositionLoader.h"
#include "engine/DraftFour.h"
#include "engine/Harmonizer.h"
#include "engine/KeyFinder.h"
#include "engine/Mas_file.h"

namespace varimel {

ChordMaster::ChordMaster(std::string fileName, std::string secondName)
    : fileName_(std::move(fileName)), secondName_(std::move(secondName)) {
    dictionary_.reset();
    dictionary_.makeCurrent();
    composeNames();
}

ChordMaster::~ChordMaster() = default;

StatusCode ChordMaster::composeNames() {
    reportName_ = fileName_ + "_.rep";
    const std::string suffix = ".mid";  // exact case: "song.MID" keeps its extension
    if (fileName_.size() >= suffix.size() &&
        fileName_.compare(fileName_.size() - suffix.size(), suffix.size(), suffix) == 0) {
        exportName_ = fileName_.substr(0, fileName_.size() - suffix.size()) + "_vmel.mid";
    } else {
        exportName_ = fileName_ + "_vmel.mid";
    }
    return status;
}

void ChordMaster::provideContent(std::vector<uint8_t> bytes) {
    content_ = std::move(bytes);
    haveContent_ = true;
}

StatusCode ChordMaster::loadMidi() {
    return loadMidiFrom(fileName_);
}

StatusCode ChordMaster::refuseLoad(const std::string& reason) {
    composition_.reset();
    noteChannels_ = 0;
    readerMessage_ = reason;
    return status = status::kUnreadableFile;
}

StatusCode ChordMaster::loadMidiFrom(const std::string& midiFile) {
    status = status::kUnreadableFile;
    readerMessage_.clear();
    noteChannels_ = 0;
    try {
        composition_ = std::make_unique<Composition>();
    } catch (const std::bad_alloc&) {
        composition_.reset();
        return status;
    }

    std::vector<uint8_t> bytes;
    if (haveContent_ && midiFile == fileName_) {
        bytes = std::move(content_);
    } else {
        // One open and one read; a file the reader must refuse (too large, a folder, missing)
        // goes to it by name, so that it says why.
        readWholeFile(midiFile, CompositionLoader::kMaxFileSize, bytes);
    }
    haveContent_ = false;
    content_.clear();
    CompositionLoader loader =
        bytes.empty() ? CompositionLoader(midiFile) : CompositionLoader(std::move(bytes));
    if (loader.attach(*composition_) != 0 || loader.run() != 1) {
        readerMessage_ = loader.messageText();
        return status;
    }
    readerMessage_ = loader.messageText();
    sourceValue = static_cast<uint32_t>(loader.fileSize());
    noteChannels_ = loader.noteChannels();
    if (loader.multiChannel() != 0) {
        status = loader.multiChannel();
        return status;
    }

    // A file without notes has no melody channel; its empty channel 0 fails the check below.
    melodyChannel = static_cast<int16_t>(loader.melodyChannel() < 0 ? 0 : loader.melodyChannel());
    NoteTracks& notes = composition_->noteTracks();
    if (notes.melodyCheck(melodyChannel)) {
        status = analyse(1);
        return status;
    }
    switch (notes.status()) {
        case status::kNotMonophonic:
        case status::kTooLow:
            status = notes.status();
            break;
        default: {
            // Too few notes or pitch classes: the document is still analysed so that it is
            // complete (the user may set the key by hand); the warning status stays.
            const StatusCode analysed = analyse(1);
            status = analysed != status::kOk ? analysed : status::kTooLittleMaterial;
            break;
        }
    }
    return status;
}

StatusCode ChordMaster::loadProject(HarmonyOptions& options) {
    status = status::kUnreadableFile;
    readerMessage_.clear();
    try {
        composition_ = std::make_unique<Composition>();
    } catch (const std::bad_alloc&) {
        composition_.reset();
        return status;
    }
    ProjectReader reader(fileName_, *composition_, options);
    if (!reader.read()) return status;
    sourceValue = kProjectSourceValue;
    return analyse(2);
}

StatusCode ChordMaster::analyse(int mode) {
    if (!composition_) return status = status::kUnreadableFile;
    if (mode == 2) melodyChannel = 0;
    status = composition_->analyseMelody(melodyChannel, mode == 1);
    if (status == status::kOk) {
        composition_->setStateFlags(0, false);
        if (mode == 2 && composition_->hasChordTrack()) {
            composition_->noteTracks().allocateList(1, 100);
        }
    }
    return status;
}

StatusCode ChordMaster::harmonise(const HarmonyOptions& options, ChordMethod method) {
    if (!composition_) {
        status = loadMidi();
        if (status != status::kOk) return status;
    }
    Composition& c = *composition_;
    c.clearDerived();

    if (method == ChordMethod::kDraftFour) {
        // Draft IV decides its key itself and fills the slots in one go.
        status = runDraftFour(c, options);
        key = c.keys.empty() ? kNoKey : c.keys.front().key;
        dictionary_.reset();
        if (isValidKey(key)) dictionary_.selectKey(key);
        if (status == status::kOk) c.buildChordTrack();
        finish();
        return status;
    }

    // Key phase.
    status = status::kOutOfMemory;
    const KeyResult found = findKey(c, options);
    key = found.key;
    status = found.status;

    // Harmony phase.
    if (status == status::kOk || status == status::kManyKeys) {
        dictionary_.reset();
        if (!c.keys.empty()) dictionary_.selectKey(c.keys.front().key);
        Harmonizer harmonizer(c, dictionary_, options);
        if (!harmonizer.prepare()) {
            status = status::kOutOfMemory;
        } else {
            harmonizer.run();
            c.buildChordTrack();
        }
    }

    finish();
    return status;
}

void ChordMaster::finish() {
    Composition& c = *composition_;
    // The file's key signature follows the key harmonised in.
    if (!c.keys.empty()) {
        if (TrackEvent* signature = c.findEvent(event_kind::kKeySignature, 0, false)) {
            const KeySignature written = keyToSignature(c.keys.front().key);
            signature->value = packEventValue(written.sharpsFlats, written.minor);
        }
    }
    c.comment = kHarmonyComment;
}

void ChordMaster::storeChannelSettings() {
    if (!composition_ || !composition_->channelSettings) return;
    Composition& c = *composition_;
    const ChannelSettings& settings = *c.channelSettings;
    std::vector<int> channels{0};
    if (c.accompanimentParts & (accompaniment_part::kBlockChords | accompaniment_part::kStyle)) {
        channels.push_back(1);
    }
    if (c.accompanimentParts & accompaniment_part::kArrangement) {
        for (int channel : {2, 3, 9}) channels.push_back(channel);
    }
    c.channelEvents.setGrowthStep(10);
    auto store = [&c](uint8_t kind, int32_t value, auto matches) {
        for (int32_t i = 0; i < c.channelEvents.count(); ++i) {
            TrackEvent& event = c.channelEvents[i];
            if (event.kind == kind && matches(event)) {
                event.value = value;
                return;
            }
        }
        c.channelEvents.append({kind, value, 0, SongPosition{}});
    };
    for (int channel : channels) {
        const size_t ch = static_cast<size_t>(channel);
        // Only the volume controller itself: other controllers of the channel keep their values.
        store(static_cast<uint8_t>(event_kind::kController | channel),
              packEventValue(7, settings.volume[ch]),
              [](const TrackEvent& event) { return event.firstByte() == 7; });
        if (channel != 9) {
            store(static_cast<uint8_t>(event_kind::kProgramChange | channel),
                  packEventValue(settings.program[ch]), [](const TrackEvent&) { return true; });
        }
    }
}

}  // namespace varimel
