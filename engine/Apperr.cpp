#include "engine/Apperr.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <mutex>
#include <new>
#include <utility>

#include "accompaniment/PartPlan.h"

namespace varimel {

// --- EventList ------------------------------------------------------------------------------

EventList::EventList(int32_t capacity) {
    try {
        events_.reserve(static_cast<size_t>(std::max(capacity, 0)));
        capacity_ = std::max(capacity, 0);
    } catch (const std::bad_alloc&) {
        status = 1;
    }
}

bool EventList::insert(int32_t index, const TrackEvent& event) {
    index = std::clamp(index, 0, count());
    try {
        // The capacity grows by the fixed step; the storage geometrically, so that appending
        // many events does not copy the whole list at every step.
        const bool full = count() >= capacity_;
        events_.insert(events_.begin() + index, event);
        if (full) capacity_ += growthStep_;
    } catch (const std::bad_alloc&) {
        status = 1;
        return false;
    }
    status = 0;
    return true;
}

void EventList::remove(int32_t index) {
    if (index < 0 || index >= count()) return;
    events_.erase(events_.begin() + index);
}

// --- Key signatures -------------------------------------------------------------------------

KeySignature keyToSignature(KeyIndex key) {
    KeySignature signature;
    signature.minor = key >= 12 ? 1 : 0;
    const int k = ((key % 12) + 12) % 12;
    // Keys 0..2 ("Cis", "Fis", "H") are written with flats: five, six and seven.
    signature.sharpsFlats = k <= 2 ? -5 - k : k - 7;
    return signature;
}

KeyIndex signatureToKey(int sharpsFlats, int minor) {
    const int base = minor ? 12 : 0;
    if (sharpsFlats >= -4 && sharpsFlats <= 4) return base + sharpsFlats + 7;
    if (sharpsFlats >= 5 && sharpsFlats <= 7) return base + 7 - sharpsFlats;  // 5, 6, 7 -> 2, 1, 0
    if (sharpsFlats <= -5 && sharpsFlats >= -7) return base - 5 - sharpsFlats;  // -5.. -> 0, 1, 2
    return base + 7;  // not a signature: C major / a minor
}

// --- Composition ----------------------------------------------------------------------------

Composition::Composition()
    : notes(std::make_unique<NoteTracks>(kInitialNoteCapacity)),
      conductorEvents(5),
      channelEvents(5) {
    setAccompanimentParts(0);
}

Composition::~Composition() {
    clearDerived();
}

void Composition::clearDerived() {
    keyStatistics.reset();
    keys.clear();
    comment.clear();
    slots.clear();
    chordTrack.clear();
    partPlan.clear();
}

void Composition::setStateFlags(uint8_t mask, bool set) {
    if (mask == 0) {
        stateFlags = 0;
    } else if (set) {
        stateFlags |= mask;
    } else {
        stateFlags &= static_cast<uint8_t>(~mask);
    }
}

uint32_t Composition::setAccompanimentParts(uint32_t bits) {
    if (bits != accompanimentParts) {
        previousParts = accompanimentParts;
        accompanimentParts = bits;
    }
    return accompanimentParts;
}

const TrackEvent* Composition::findEvent(uint8_t kind, int32_t firstByte,
                                         bool inChannelList) const {
    for (const TrackEvent& event : list(inChannelList).events()) {
        if (event.kind == kind && (firstByte == 0 || event.firstByte() == firstByte)) return &event;
    }
    return nullptr;
}

TrackEvent* Composition::findEvent(uint8_t kind, int32_t firstByte, bool inChannelList) {
    return const_cast<TrackEvent*>(std::as_const(*this).findEvent(kind, firstByte, inChannelList));
}

void Composition::setEvent(uint8_t kind, int32_t firstByte, int32_t value, int32_t data,
                           bool inChannelList, int32_t tick) {
    if (TrackEvent* existing = findEvent(kind, firstByte, inChannelList)) {
        existing->value = value;
        existing->data = data;
        return;
    }
    TrackEvent event;
    event.kind = kind;
    event.value = value;
    event.data = data;
    event.position = meterMap().positionOfTick(tick);
    list(inChannelList).insert(0, event);
}

int32_t Composition::eventValue(uint8_t kind, int32_t arg, int* first, int* second) const {
    switch (kind) {
        case event_kind::kTempo: {
            const TrackEvent* event = findEvent(kind, 0, false);
            const int32_t microseconds = event && event->value > 0 ? event->value : kDefaultTempo;
            if (arg == 0) return microseconds;
            return static_cast<int32_t>(int64_t{arg} * 1000000 / microseconds);
        }
        case event_kind::kTimeSignature: {
            const TrackEvent* event = findEvent(kind, 0, false);
            const int numerator = event ? event->firstByte() : 4;
            const int denominator = event ? event->secondByte() : 4;
            if (first) *first = numerator;
            if (second) *second = denominator;
            return numerator;
        }
        case event_kind::kKeySignature: {
            const TrackEvent* event = findEvent(kind, 0, false);
            const int sharpsFlats = event ? static_cast<int8_t>(event->firstByte()) : 0;
            const int minor = event ? event->secondByte() : 0;
            if (first) *first = sharpsFlats;
            if (second) *second = minor;
            return signatureToKey(sharpsFlats, minor);
        }
        default: {
            const TrackEvent* event = findEvent(kind, arg, true);
            if (!event) return -1;
            return arg != 0 ? event->secondByte() : event->firstByte();
        }
    }
}

void Composition::retuneMelodyChannel(int channel, int newChannel) {
    for (int32_t i = channelEvents.count() - 1; i >= 0; --i) {
        TrackEvent& event = channelEvents[i];
        if ((event.kind & 0x0F) == channel) {
            event.kind = static_cast<uint8_t>((event.kind & 0xF0) | (newChannel & 0x0F));
        } else {
            channelEvents.remove(i);
        }
    }
}

void Composition::trimConductorEvents() {
    const int32_t end = notes->melodyEndTick();
    while (conductorEvents.count() > 0) {
        const TrackEvent& last = conductorEvents[conductorEvents.count() - 1];
        if (meterMap().tickOfPosition(last.position) < end) break;
        conductorEvents.remove(conductorEvents.count() - 1);
    }
}

StatusCode Composition::analyseMelody(int melodyRow, bool retune) {
    analysisStatus = status::kOk;
    notes->finaliseMelody(melodyRow);
    if (retune) {
        retuneMelodyChannel(melodyRow, 0);
        trimConductorEvents();
    }

    MeterMap& meter = meterMap();
    barCount = barCountAtAnalysis = meter.barCount = notes->barCount();

    meter.shortestNote = std::max(meter.shortestNote, meter.sixteenth / 4);
    meter.shortestNoteUnits = meter.quantiseDuration(meter.shortestNote);
    meter.gapTolerance =
        meter.shortestNote < meter.sixteenth / 2 ? meter.sixteenth / 2 : meter.sixteenth;

    notes->upbeat(0);

    if (meter.barCount < 3) return status::kTooShort;
    if (notes->distinctPitchClasses(0) < 5) analysisStatus = status::kTooLittleMaterial;

    notes->setBarIndex(nullptr);
    firstNoteOfBar.assign(static_cast<size_t>(barCount), -1);
    const auto& melody = notes->notes(0);
    // Octaves counted in two tables, even and odd notes, so that one count need not wait for
    // the one before; only the first note of a run in one bar can be its bar's first.
    std::array<std::array<int32_t, 16>, 2> octaveCounts{};
    size_t previousBar = SIZE_MAX;
    for (size_t i = 0; i < melody.size(); ++i) {
        const size_t bar = melody[i].position.bar;
        if (bar != previousBar) {
            if (bar < firstNoteOfBar.size() && firstNoteOfBar[bar] == -1) {
                firstNoteOfBar[bar] = static_cast<int32_t>(i);
            }
            previousBar = bar;
        }
        ++octaveCounts[i & 1][std::min<size_t>(melody[i].key / 12, 15)];
    }
    std::array<int32_t, 16> octaves{};
    for (size_t octave = 0; octave < octaves.size(); ++octave) {
        octaves[octave] = octaveCounts[0][octave] + octaveCounts[1][octave];
    }
    notes->setBarIndex(&firstNoteOfBar);

    size_t mostFrequent = 0;
    for (size_t octave = 1; octave < octaves.size(); ++octave) {
        if (octaves[octave] > octaves[mostFrequent]) mostFrequent = octave;
    }
    accompanimentOctave = static_cast<int8_t>(std::min(static_cast<int>(mostFrequent), 5) - 1);

    return analysisStatus;
}

void Composition::buildChordTrack() {
    try {
        chordTrack.assign(static_cast<size_t>(std::max(barCount, 0)), ChordTrackEntry{});
    } catch (const std::bad_alloc&) {
        chordTrack.clear();  // no chord track: nothing will be rendered
        return;
    }
    for (size_t i = 0; i < chordTrack.size() && i < slots.size(); ++i) {
        if (slots[i].mainCount >= 1) chordTrack[i].chord = slots[i].candidates[0];
    }
    for (int list : {1, 2, 3, 9}) notes->emptyList(list);
    buildPartPlan(*this);
}

// --- Error reporting -------------------------------------------------------------------------

namespace {

std::atomic<int> lastGeneralError{0};
std::atomic<int> lastMidiError{0};
std::mutex handlerMutex;

std::function<void(const std::string&)>& messageHandler() {
    static std::function<void(const std::string&)> handler = [](const std::string& text) {
        std::cerr << text << '\n';
    };
    return handler;
}

std::function<std::string(int)>& midiErrorText() {
    static std::function<std::string(int)> provider = [](int result) {
        return "MIDI output error " + std::to_string(result);
    };
    return provider;
}

// Error texts come from fixed-size buffers of 256 characters.
std::string limitText(std::string text) {
    if (text.size() > 255) text.resize(255);
    return text;
}

}  // namespace

LastError lastError() {
    return {lastGeneralError.load(), lastMidiError.load()};
}

void setMessageHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(handlerMutex);
    messageHandler() = std::move(handler);
}

void setMidiErrorTextProvider(std::function<std::string(int)> provider) {
    std::lock_guard lock(handlerMutex);
    midiErrorText() = std::move(provider);
}

void reportError(int code) {
    lastGeneralError = code;
    if (code == 0) return;
    std::lock_guard lock(handlerMutex);
    if (messageHandler()) messageHandler()("Error " + std::to_string(code));
}

void raiseSystemError(bool ok) {
    if (ok) return;
    const int systemError = errno;
    lastGeneralError = 1;
    throw AppError(limitText(std::strerror(systemError)));
}

void raiseMidiError(int result) {
    if (result == 0) return;
    lastGeneralError = 2;
    lastMidiError = result;
    std::string text;
    {
        std::lock_guard lock(handlerMutex);
        text = midiErrorText() ? midiErrorText()(result) : "";
    }
    throw AppError(limitText(text));
}

}  // namespace varimel
