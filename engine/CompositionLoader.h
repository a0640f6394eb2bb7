// CompositionLoader: the program's own sink of the MIDI file reader. It reads all tracks in
// time order and fills a Composition: notes into the note tracks, meter into the meter map,
// tempo, key, SMPTE and channel messages into the event lists.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "alg/midi/midi_rw.h"
#include "engine/Apperr.h"
#include "engine/Limits.h"

namespace varimel {

class CompositionLoader : public MergedMidiReader {
  public:
    // Limits that keep a hostile or broken file from costing minutes or gigabytes: positions
    // store the bar in 16 bits, and no real melody comes near any of these numbers.
    static constexpr int64_t kMaxBars = limits::kMaxBars;
    static constexpr int32_t kMaxNotes = limits::kMaxNotes;
    static constexpr int32_t kMaxEvents = limits::kMaxEvents;
    static constexpr int64_t kMaxFileSize = static_cast<int64_t>(limits::kMaxMidiFileSize);

    explicit CompositionLoader(const std::string& fileName);
    // The file's bytes, already read by the caller (at most kMaxFileSize of them).
    explicit CompositionLoader(std::vector<uint8_t> bytes);

    // Answers -1 without an open file, else 0.
    int attach(Composition& composition);
    // Reads the file; afterwards status() is 0 or 101. A file beyond the limits is refused
    // (refusal() says which) as soon as that is known; a file above kMaxFileSize is not read.
    int run() override;

    StatusCode status() const { return status_; }
    StatusCode multiChannel() const { return multiChannel_; }
    int melodyChannel() const { return melodyChannel_; }
    uint16_t noteChannels() const { return noteChannels_; }
    int32_t openNoteCount() const { return openNotes_; }
    // Why the load was refused when the reader itself had nothing to say.
    const std::string& refusal() const { return refusal_; }

  protected:
    int readHeader() override;
    void onSmpteOffset(int frameRateCode, int hours, int minutes, int seconds, int frames,
                       int subframes) override;
    void onTimeSignature(int numerator, int denominator, int clocksPerClick,
                         int thirtySecondsPerQuarter) override;
    void onTempo(long microsecondsPerQuarter) override;
    void onKeySignature(int sharpsFlats, int minor) override;
    void onProgramChange(int channel, int program) override;
    void onController(int channel, int controller, int value) override;
    void onNoteOn(int channel, int key, int velocity) override;
    void onNoteOff(int channel, int key, int velocity) override;
    void onPitchBend(int channel, int value) override;
    void onPolyPressure(int channel, int key, int pressure) override;
    void onChannelPressure(int channel, int pressure) override;

  private:
    // A sounding note: where it is stored, when it began, and the next sounding note of its key
    // and channel (-1 none); a free record holds the next free one there.
    struct PendingNote {
        int32_t index;
        int32_t startTick;
        int32_t next;
    };
    // The sounding notes of one key and channel, oldest first, as a chain through pending_. One
    // chain per key keeps a note-off from searching every sounding note, which a file of many
    // unended notes would turn into minutes.
    struct PendingQueue {
        int32_t head = -1;
        int32_t tail = -1;
    };

    // Positions the current event; false (and the load refused) when it lies beyond the limits.
    // Events arrive in time order, most of them in the beat of the one before.
    bool locateCurrentEvent(bool endsANote = false) {
        const int64_t now = currentTick();
        if (now >= beatStart_ && now < beatEnd_) {
            position_.tick = static_cast<uint16_t>(now - beatStart_);
            return true;
        }
        return locateInAnotherBeat(now, endsANote);
    }
    bool locateInAnotherBeat(int64_t now, bool endsANote);
    // After the meter changes, the remembered bar may no longer be one.
    void forgetBar();
    void refuse(const std::string& why);
    void storeEvent(bool inChannelList, uint8_t kind, int32_t value, int32_t data = 0);

    Composition* composition_ = nullptr;
    // The queues of each channel by key, set up when the channel's first note arrives: a melody
    // uses one channel of sixteen.
    std::array<std::vector<PendingQueue>, 16> queuesOfChannel_;
    PendingQueue& queueOf(int channel, int key) {
        std::vector<PendingQueue>& queues = queuesOfChannel_[static_cast<size_t>(channel)];
        if (queues.empty()) queues.resize(128);
        return queues[static_cast<size_t>(key)];
    }
    // The records of the sounding notes, and the first free one (-1 none): ended notes leave
    // their records for the next ones, so the pool grows only with the notes sounding at once.
    std::vector<PendingNote> pending_;
    int32_t freePending_ = -1;
    int32_t openNotes_ = 0;
    int melodyChannel_ = -1;
    StatusCode status_ = status::kOk;
    StatusCode multiChannel_ = 0;
    uint16_t noteChannels_ = 0;
    SongPosition position_;
    int32_t currentBar_ = 0;
    // The bar of the last located event: [barStart_, barEnd_) in ticks, and its beat length;
    // and its beat, [beatStart_, beatEnd_).
    int64_t barStart_ = 0;
    int64_t barEnd_ = 0;
    uint32_t barBeat_ = 1;
    int64_t beatStart_ = 0;
    int64_t beatEnd_ = 0;
    // The first bar after it in another meter.
    int64_t nextMeterChange_ = 0;
    int32_t storedNotes_ = 0;
    int32_t storedEvents_ = 0;
    std::string refusal_;
};

}  // namespace varimel
