#include "accompaniment/DocumentOpening.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "accompaniment/PartPlan.h"
#include "accompaniment/Tarangsmaster.h"
#include "accompaniment/Tstylemaster.h"

namespace varimel {

namespace {

constexpr int kVolumeController = 7;
// A Set Tempo meta event holds microseconds per quarter note in three bytes (Standard MIDI
// Files 1.0, meta event FF 51 03).
constexpr int64_t kMaxTempoEventValue = 0xFFFFFF;

std::string lowerExtension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::vector<int> channelsOf(uint16_t mask) {
    std::vector<int> channels;
    for (int channel = 0; channel < ChannelSettings::kChannels; ++channel) {
        if (mask & (1u << channel)) channels.push_back(channel);
    }
    return channels;
}

void tell(const DocumentReporter& report, const std::string& text) {
    if (report) report(text);
}

}  // namespace

DocumentKind documentKindByExtension(const std::string& path) {
    const std::string extension = lowerExtension(path);
    if (extension == ".mid" || extension == ".midi") return DocumentKind::kMidi;
    if (extension == ".vml") return DocumentKind::kProject;
    return DocumentKind::kNone;
}

bool documentUsable(StatusCode status) {
    return status == status::kOk || status == status::kTooLittleMaterial;
}

StatusCode openDocument(OpenedDocument& document, const OpeningRequest& request) {
    document.kind = request.kind;
    document.options =
        request.kind == DocumentKind::kProject ? defaultOptions : request.melodyOptions;
    document.channels.reset();
    document.setup = AccompanimentSetup{};
    document.setup.styles = request.styles;
    document.setup.arrangements = request.arrangements;
    document.setup.channels = &document.channels;
    document.keyRecognised = true;
    resetForDocument(document.setup);

    document.master = std::make_unique<ChordMaster>(request.path);
    ChordMaster& master = *document.master;
    StatusCode status = request.kind == DocumentKind::kProject
                            ? master.loadProject(document.options)
                            : (request.loadMelody ? request.loadMelody(master) : master.loadMidi());
    if (status == status::kSeveralChannels && request.chooseMelodyChannel) {
        const std::vector<int> candidates = channelsOf(master.noteChannels());
        const int chosen = candidates.empty() ? -1 : request.chooseMelodyChannel(candidates);
        if (std::find(candidates.begin(), candidates.end(), chosen) != candidates.end()) {
            master.melodyChannel = static_cast<int16_t>(chosen);
            status = master.analyse(1);
        }
    }
    document.loadStatus = status;
    if (!documentUsable(status) || master.composition() == nullptr) return status;

    Composition& composition = *master.composition();
    composition.channelSettings = &document.channels;
    if (status == status::kTooLittleMaterial) {
        document.keyRecognised = false;
        document.options.AutoKey = false;
    }
    showDocumentSettings(document, request.savedVolumes);
    composition.setStateFlags(0, false);
    if (request.kind == DocumentKind::kProject) {
        if (composition.hasChordTrack()) restoreProjectAccompaniment(document, request.report);
    } else {
        composition.setStateFlags(state_flag::kMelodyLoaded, true);
    }
    return status;
}

void showDocumentSettings(OpenedDocument& document,
                          const std::array<uint8_t, ChannelSettings::kChannels>& savedVolumes) {
    Composition* composition = document.composition();
    if (composition == nullptr) return;
    ChannelSettings& channels = document.channels;
    if (document.kind == DocumentKind::kMidi) {
        if (savedVolumes[0] != 0) {
            std::copy(savedVolumes.begin() + 1, savedVolumes.end(), channels.volume.begin() + 1);
        }
    } else {
        document.setup.stylePatchSet =
            (composition->accompanimentParts & accompaniment_part::kStyle) != 0;
        document.setup.arrangementPatchesSet =
            (composition->accompanimentParts & accompaniment_part::kArrangement) != 0;
        for (int channel = 0; channel < ChannelSettings::kChannels; ++channel) {
            const auto kind = static_cast<uint8_t>(event_kind::kController | channel);
            if (composition->findEvent(kind, kVolumeController, true) != nullptr) {
                channels.volume[static_cast<size_t>(channel)] =
                    static_cast<uint8_t>(composition->eventValue(kind, kVolumeController) & 0x7F);
            }
        }
    }
    for (int channel = 0; channel < ChannelSettings::kChannels; ++channel) {
        const auto kind = static_cast<uint8_t>(event_kind::kProgramChange | channel);
        if (composition->findEvent(kind, 0, true) != nullptr) {
            channels.program[static_cast<size_t>(channel)] =
                static_cast<uint8_t>(composition->eventValue(kind, 0) & 0x7F);
        }
    }
    // The part plan reads the tempo, so it is set before any chord track is built. A tempo
    // event of 0 would divide by zero in every beats-per-minute computation: the default plays.
    const int32_t tempo = composition->eventValue(event_kind::kTempo, 0);
    composition->tempo = tempo > 0 ? tempo : Composition::kDefaultTempo;
}

void restoreProjectAccompaniment(OpenedDocument& document, const DocumentReporter& report) {
    Composition* composition = document.composition();
    if (composition == nullptr || !composition->hasChordTrack()) return;
    const auto cap =
        static_cast<uint8_t>(std::clamp<int>(document.options.MaxNumCustomChords, 0, 255));
    for (HarmonySlot& slot : composition->slots) slot.extraCount = std::min(slot.extraCount, cap);
    buildPartPlan(*composition);

    // Choosing the style and the arrangement turns their parts on; the parts the project was
    // saved with are what it plays again (a project saved in the block-chord mode keeps it).
    const uint32_t storedParts = composition->accompanimentParts;
    uint32_t parts = 0;
    if (chooseStyle(document.setup, *composition)) {
        parts |= accompaniment_part::kStyle;
    } else {
        tell(report, noStyleForMeterMessage(*composition));
    }
    if (composition->arrangementId >= 0) {
        parts |= accompaniment_part::kArrangement;
        chooseArrangement(document.setup, *composition, composition->arrangementId);
    }
    composition->accompanimentParts = storedParts != 0 ? storedParts : parts;
    setAccompanimentMode(document.setup, *composition, composition->accompanimentParts,
                         ModeChange::kAdd);
    composition->setStateFlags(0, false);
}

void finishHarmonising(OpenedDocument& document, const DocumentReporter& report) {
    Composition* composition = document.composition();
    if (composition == nullptr || !composition->hasChordTrack()) return;
    if (!createAccompanimentParts(document.setup, *composition, document.options.DefAccPatch)) {
        tell(report, noStyleForMeterMessage(*composition));
    }
}

void setFileKey(Composition& composition, KeyIndex key, HarmonyOptions& options) {
    options.AutoKey = false;
    const KeySignature signature = keyToSignature(key);
    composition.setEvent(event_kind::kKeySignature, 0,
                         packEventValue(signature.sharpsFlats, signature.minor), 0, false, 0);
}

HarmonySnapshot takeHarmonySnapshot(ChordMaster& master) {
    HarmonySnapshot snapshot;
    snapshot.masterKey = master.key;
    const Composition* composition = master.composition();
    if (composition == nullptr) return snapshot;
    snapshot.keys = composition->keys;
    if (composition->keyStatistics) {
        snapshot.keyStatistics =
            std::make_unique<std::array<int32_t, 240>>(*composition->keyStatistics);
    }
    snapshot.comment = composition->comment;
    snapshot.slots = composition->slots;
    snapshot.chordTrack = composition->chordTrack;
    snapshot.partPlan = composition->partPlan;
    if (const TrackEvent* signature = composition->findEvent(event_kind::kKeySignature, 0, false)) {
        snapshot.keySignature = signature->value;
        snapshot.hasKeySignature = true;
    }
    return snapshot;
}

void restoreHarmony(ChordMaster& master, HarmonySnapshot snapshot) {
    Composition* composition = master.composition();
    if (composition == nullptr) return;
    master.key = snapshot.masterKey;
    composition->keys = std::move(snapshot.keys);
    composition->keyStatistics = std::move(snapshot.keyStatistics);
    composition->comment = std::move(snapshot.comment);
    composition->slots = std::move(snapshot.slots);
    composition->chordTrack = std::move(snapshot.chordTrack);
    composition->partPlan = std::move(snapshot.partPlan);
    if (TrackEvent* signature = composition->findEvent(event_kind::kKeySignature, 0, false)) {
        if (snapshot.hasKeySignature) {
            signature->value = snapshot.keySignature;
        } else {
            // The failed run wrote the signature; the piece had none.
            EventList& list = composition->conductorEvents;
            for (int32_t i = 0; i < list.count(); ++i) {
                if (&list[i] == signature) {
                    list.remove(i);
                    break;
                }
            }
        }
    }
    // Chord names and candidates read the dictionary of the key the chords were made in.
    master.dictionary().reset();
    if (!composition->keys.empty()) master.dictionary().selectKey(composition->keys.front().key);
}

void keepChosenStyle(Composition& composition, const HarmonySnapshot& before) {
    if (before.chordTrack.empty() || !composition.hasChordTrack()) return;
    const StyleId chosen = before.chordTrack.front().extra;
    if (chosen >= 0) composition.chordTrack.front().extra = chosen;
}

void storeTempo(Composition& composition) {
    const int32_t tempo = composition.tempo;
    const int32_t stored = composition.eventValue(event_kind::kTempo, 0);
    // An unchanged tempo leaves the events, and so the file, exactly as they were read.
    if (tempo <= 0 || tempo == stored) return;
    bool first = true;
    for (int32_t i = 0; i < composition.conductorEvents.count(); ++i) {
        TrackEvent& event = composition.conductorEvents[i];
        if (event.kind != event_kind::kTempo) continue;
        // The first tempo event is the piece's tempo; later changes keep their ratio to it.
        const int64_t scaled =
            first ? tempo : std::llround(static_cast<double>(event.value) * tempo / stored);
        event.value = static_cast<int32_t>(std::clamp<int64_t>(scaled, 1, kMaxTempoEventValue));
        first = false;
    }
    if (first) composition.setEvent(event_kind::kTempo, 0, tempo, 0, false, 0);
}

void storeDocumentSettings(OpenedDocument& document) {
    Composition* composition = document.composition();
    if (!document.master || !composition) return;
    document.master->storeChannelSettings();
    storeTempo(*composition);
}

std::string oneLine(const std::string& text) {
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || text[i] == '\r') {
            if (!line.empty() && line.back() != ' ') line += ' ';
            continue;
        }
        if (text[i] == ' ' && (line.empty() || line.back() == ' ')) continue;
        line += text[i];
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

}  // namespace varimel
