#include "engine/CompositionLoader.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>
#include <vector>

namespace varimel {

namespace {
constexpr int32_t kLongestStoredDuration = 65535;  // durations are 16-bit; longer ones saturate
constexpr int kSmpteDivisionBit = 0x8000;

// The whole file is read into memory at construction; one above the limit is only opened, so
// that refusing it costs nothing.
int readModeFor(const std::string& fileName) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(fileName, ec);
    return !ec && size > limits::kMaxMidiFileSize ? MidiFileBuffer::kModeWindow
                                                  : MidiFileBuffer::kModeWholeFile;
}

std::string megabytes(int64_t bytes) {
    return std::to_string(bytes / (1024 * 1024)) + " MB";
}

}  // namespace

CompositionLoader::CompositionLoader(const std::string& fileName)
    : MergedMidiReader(fileName, readModeFor(fileName)) {
    // Controllers arrive undivided through onController; the percentages read are not shown.
    setOptions(0x01, 0x00);
    setProgressReports(false);
}

CompositionLoader::CompositionLoader(std::vector<uint8_t> bytes)
    : MergedMidiReader(std::move(bytes)) {
    setOptions(0x01, 0x00);
    setProgressReports(false);
}

int CompositionLoader::attach(Composition& composition) {
    status_ = status::kOk;
    multiChannel_ = 0;
    melodyChannel_ = -1;
    noteChannels_ = 0;
    currentBar_ = 0;
    forgetBar();
    storedNotes_ = 0;
    storedEvents_ = 0;
    openNotes_ = 0;
    for (auto& queues : queuesOfChannel_) queues.clear();
    pending_.clear();
    freePending_ = -1;
    if (!isOpen()) return -1;
    composition_ = &composition;
    return 0;
}

int CompositionLoader::run() {
    if (!composition_) {
        status_ = status::kUnreadableFile;
        return 0;
    }
    if (fileSize() > kMaxFileSize) {
        refuse("the file is larger than " + megabytes(kMaxFileSize));
        status_ = status::kUnreadableFile;
        return 0;
    }
    const int ok = MergedMidiReader::run();
    if (ok != 1 || !refusal_.empty()) status_ = status::kUnreadableFile;
    composition_->meterMap().barCount = currentBar_;
    return status_ == status::kOk ? 1 : 0;
}

void CompositionLoader::refuse(const std::string& why) {
    if (refusal_.empty()) refusal_ = why;
    error(why.c_str());
    stopReading(true);
}

int CompositionLoader::readHeader() {
    if (MergedMidiReader::readHeader() != 1) return 0;
    if (!composition_) return 1;
    const int ticksPerQuarter = division();
    // A division with the top bit set counts SMPTE frames and subframes instead of beats, so the
    // file has no bars to harmonise in.
    if ((ticksPerQuarter & kSmpteDivisionBit) != 0) {
        refuse(
            "SMPTE time division is not supported; save the file with a metrical division (ticks "
            "per quarter note)");
        return 0;
    }
    // A division of 0 has no time at all.
    if (ticksPerQuarter <= 0) {
        refuse("unsupported time division " + std::to_string(ticksPerQuarter));
        return 0;
    }
    Composition& c = *composition_;
    c.fileFormat = static_cast<uint8_t>(format());
    c.trackCount = static_cast<uint16_t>(trackCount());
    c.ticksPerQuarter = static_cast<int16_t>(ticksPerQuarter);
    MeterMap& meter = c.meterMap();
    meter.setTicksPerQuarter(ticksPerQuarter);
    meter.shortestNote = meter.sixteenth = ticksPerQuarter * 4 / 16;
    // A file without a time signature is in 4/4; a signature at tick 0 takes this segment's
    // place.
    meter.clearSegments();
    meter.addSegment(0, 4, 4);
    forgetBar();
    return 1;
}

bool CompositionLoader::locateInAnotherBeat(int64_t now, bool endsANote) {
    // Most of the rest lie in the bar of the event before, or in the next bar of the same
    // meter: those bars are stepped to, and only a tick elsewhere asks the meter map. Within the
    // bar the beat steps on from the last one.
    const int64_t barLength = barEnd_ - barStart_;
    if (now >= barEnd_ && barLength > 0 && now - barEnd_ < barLength &&
        currentBar_ + 1 < std::min<int64_t>(nextMeterChange_, kMaxBars) &&
        barEnd_ + barLength <= int64_t{std::numeric_limits<int32_t>::max()} + 1) {
        ++currentBar_;
        position_.bar = static_cast<uint16_t>(currentBar_);
        barStart_ = barEnd_;
        barEnd_ += barLength;
        beatStart_ = 0;
        beatEnd_ = 0;
    }
    if (now >= barStart_ && now < barEnd_) {
        uint32_t beat = 0;
        if (now >= beatEnd_ && beatEnd_ > barStart_) {
            beat = position_.beat + 1u;
            beatStart_ = beatEnd_;
            while (now >= beatStart_ + barBeat_) {
                beatStart_ += barBeat_;
                ++beat;
            }
        } else {
            beat = static_cast<uint32_t>(now - barStart_) / barBeat_;
            beatStart_ = barStart_ + int64_t{beat} * barBeat_;
        }
        beatEnd_ = std::min(beatStart_ + barBeat_, barEnd_);
        position_.beat = static_cast<uint8_t>(beat);
        position_.tick = static_cast<uint16_t>(now - beatStart_);
        return true;
    }
    const MeterMap& meter = composition_->meterMap();
    const int64_t bar = meter.barOfTick(now);
    // The last note of the longest melody ends on the bar line after the last bar.
    const bool atClosingBarLine = endsANote && bar == kMaxBars &&
                                  meter.positionOfTick(static_cast<int32_t>(currentTick())) ==
                                      SongPosition{static_cast<uint16_t>(kMaxBars), 0, 0};
    if (bar >= kMaxBars && !atClosingBarLine) {
        refuse("the melody is longer than " + std::to_string(kMaxBars) + " bars");
        return false;
    }
    position_ = meter.positionOfTick(static_cast<int32_t>(currentTick()));
    currentBar_ = position_.bar;
    forgetBar();
    const MeterSegment* segment = meter.segmentOfBar(currentBar_);
    if (segment != nullptr && bar < kMaxBars && now >= 0) {
        const int64_t start =
            now - (int64_t{position_.beat} * std::max(segment->ticksPerBeat, 1) + position_.tick);
        const int64_t end = start + std::max(segment->ticksPerBar, 1);
        // Beyond 32 bits positionOfTick wraps, which the remembered bar would not repeat.
        if (end <= int64_t{std::numeric_limits<int32_t>::max()} + 1) {
            barStart_ = start;
            barEnd_ = end;
            barBeat_ = static_cast<uint32_t>(std::max(segment->ticksPerBeat, 1));
            nextMeterChange_ = meter.nextMeterChange(currentBar_);
        }
    }
    return true;
}

void CompositionLoader::forgetBar() {
    barStart_ = 0;
    barEnd_ = 0;
    nextMeterChange_ = 0;
    beatStart_ = 0;
    beatEnd_ = 0;
}

void CompositionLoader::storeEvent(bool inChannelList, uint8_t kind, int32_t value, int32_t data) {
    if (++storedEvents_ > kMaxEvents) {
        refuse("the file holds more than " + std::to_string(kMaxEvents) + " events besides notes");
        return;
    }
    TrackEvent event;
    event.kind = kind;
    event.value = value;
    event.data = data;
    event.position = position_;
    (inChannelList ? composition_->channelEvents : composition_->conductorEvents).append(event);
}

void CompositionLoader::onSmpteOffset(int /*frameRateCode*/, int hours, int minutes, int seconds,
                                      int frames, int subframes) {
    if (!composition_ || !locateCurrentEvent()) return;
    storeEvent(false, event_kind::kSmpteOffset, packEventValue(hours, minutes, seconds, frames),
               packEventValue(subframes));
}

void CompositionLoader::onTimeSignature(int numerator, int denominator, int clocksPerClick,
                                        int thirtySecondsPerQuarter) {
    if (!composition_ || !locateCurrentEvent()) return;
    MeterMap& meter = composition_->meterMap();
    // A meter without beats, or with beats shorter than a tick, cannot place a single note.
    const bool usable = numerator > 0 && numerator <= 255 && denominator > 0 &&
                        denominator <= 128 && meter.ticksPerQuarter * 4 / denominator > 0;
    if (!usable) {
        warning("time signature without a usable meter ignored");
        return;
    }
    // A signature on the first tick of a bar starts its meter there; one inside a bar, at the
    // next bar line.
    const bool onBarLine = position_.beat == 0 && position_.tick == 0;
    const int32_t startBar = onBarLine ? currentBar_ : currentBar_ + 1;
    // A second signature for the same bar (the first one replaces the default 4/4) takes the
    // place of the segment there, which it would govern anyway.
    if (!meter.segments().empty() && meter.segments().back().startBar == startBar) {
        std::vector<MeterSegment> segments = meter.segments();
        segments.pop_back();
        meter.setSegments(std::move(segments));
    }
    meter.addSegment(startBar, numerator, denominator);
    forgetBar();
    composition_->meterFromFile = true;
    storeEvent(false, event_kind::kTimeSignature,
               packEventValue(numerator, denominator, clocksPerClick, thirtySecondsPerQuarter));
}

void CompositionLoader::onTempo(long microsecondsPerQuarter) {
    if (!composition_ || !locateCurrentEvent()) return;
    storeEvent(false, event_kind::kTempo, static_cast<int32_t>(microsecondsPerQuarter));
}

void CompositionLoader::onKeySignature(int sharpsFlats, int minor) {
    if (!composition_ || !locateCurrentEvent()) return;
    storeEvent(false, event_kind::kKeySignature, packEventValue(sharpsFlats, minor));
    if (composition_->fileKey < 0) {
        composition_->fileKey = composition_->currentKey =
            static_cast<int8_t>(signatureToKey(sharpsFlats, minor));
    }
}

void CompositionLoader::onProgramChange(int channel, int program) {
    if (!composition_ || !locateCurrentEvent()) return;
    storeEvent(true, static_cast<uint8_t>(event_kind::kProgramChange | channel),
               packEventValue(program & 0x7F));
}

void CompositionLoader::onController(int channel, int controller, int value) {
    if (!composition_ || !locateCurrentEvent()) return;
    storeEvent(true, static_cast<uint8_t>(event_kind::kController | channel),
               packEventValue(controller & 0x7F, value & 0x7F));
}

void CompositionLoader::onPolyPressure(int channel, int key, int pressure) {
    if (!composition_ || !locateCurrentEvent()) return;
    storeEvent(true, static_cast<uint8_t>(event_kind::kPolyPressure | channel),
               packEventValue(key & 0x7F, pressure & 0x7F));
}

void CompositionLoader::onChannelPressure(int channel, int pressure) {
    if (!composition_ || !locateCurrentEvent()) return;
    storeEvent(true, static_cast<uint8_t>(event_kind::kChannelPressure | channel),
               packEventValue(pressure & 0x7F));
}

void CompositionLoader::onPitchBend(int /*channel*/, int /*value*/) {
    // Pitch bends do not belong to the melody's harmony and are not kept.
}

void CompositionLoader::onNoteOn(int channel, int key, int velocity) {
    if (!composition_ || fatal()) return;
    // Note numbers above 127 only occur in damaged files; such a note could not be played.
    if (key < 0 || key > 127) return;
    if (!locateCurrentEvent()) return;
    if (++storedNotes_ > kMaxNotes) {
        refuse("the file holds more than " + std::to_string(kMaxNotes) + " notes");
        return;
    }
    if (melodyChannel_ < 0) melodyChannel_ = channel;
    if (channel != melodyChannel_) multiChannel_ = status::kSeveralChannels;
    noteChannels_ |= static_cast<uint16_t>(1u << channel);

    NoteTracks& notes = composition_->noteTracks();
    if (notes.count(channel) == 0) {
        // A note takes six bytes of the file at the very least (on and off, each with its
        // delta) and in most files more than eight: room for one per eight bytes spares the
        // list most of its regrowing as the notes come. A large file full of other events must
        // not make a small melody hold megabytes, so beyond a long melody's count it grows.
        constexpr int64_t kLongMelody = 1 << 16;
        notes.reserveStorage(channel, static_cast<int32_t>(std::min(fileSize() / 8, kLongMelody)));
    }
    try {
        int32_t record = freePending_;
        if (record >= 0) {
            freePending_ = pending_[static_cast<size_t>(record)].next;
        } else {
            pending_.emplace_back();
            record = static_cast<int32_t>(pending_.size() - 1);
        }
        pending_[static_cast<size_t>(record)] = {notes.count(channel),
                                                 static_cast<int32_t>(currentTick()), -1};
        PendingQueue& queue = queueOf(channel, key);
        (queue.tail >= 0 ? pending_[static_cast<size_t>(queue.tail)].next : queue.head) = record;
        queue.tail = record;
        ++openNotes_;
    } catch (const std::bad_alloc&) {
        refuse("out of memory");
        return;
    }
    notes.addNote(static_cast<uint8_t>(key), static_cast<uint8_t>(channel),
                  static_cast<uint16_t>(std::min(velocity, 127) << 8), position_, 0,
                  static_cast<uint8_t>(key % 12));
}

void CompositionLoader::onNoteOff(int channel, int key, int velocity) {
    if (!composition_ || !locateCurrentEvent(true)) return;
    NoteTracks& notes = composition_->noteTracks();
    const int32_t tick = static_cast<int32_t>(currentTick());
    // The oldest sounding note of that key ends first.
    std::vector<PendingQueue>& queues = queuesOfChannel_[static_cast<size_t>(channel & 0x0F)];
    PendingQueue* queue =
        key >= 0 && key < 128 && !queues.empty() ? &queues[static_cast<size_t>(key)] : nullptr;
    if (queue != nullptr && queue->head >= 0) {
        const int32_t record = queue->head;
        const PendingNote found = pending_[static_cast<size_t>(record)];
        queue->head = found.next;
        if (queue->head < 0) queue->tail = -1;
        pending_[static_cast<size_t>(record)].next = freePending_;
        freePending_ = record;
        --openNotes_;
        if (NoteRecord* note = notes.mutableNote(found.index, channel)) {
            const int32_t length = std::clamp(tick - found.startTick, 0, kLongestStoredDuration);
            note->duration = static_cast<uint16_t>(length);
            note->velocity = static_cast<uint16_t>(note->velocity | (velocity & 0x7F));
            MeterMap& meter = composition_->meterMap();
            meter.shortestNote = std::min(meter.shortestNote, length);
        }
    }
    notes.raiseEndTick(tick);
}

}  // namespace varimel
