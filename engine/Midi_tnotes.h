// NoteTracks: the notes of a composition in 16 lists, one per MIDI channel (list 0 is the
// melody once finalised), with the questions the engine asks about the melody.
#pragma once

#include <array>
#include <cstdint>
#include <new>
#include <vector>

#include "engine/Limits.h"
#include "engine/Wctpu.h"

namespace varimel {

// One note, 14 bytes in project files (see Mas_file for the byte layout).
struct NoteRecord {
    uint8_t key = 0;        // MIDI note number
    uint8_t list = 0;       // the note list (MIDI channel) holding it
    uint16_t velocity = 0;  // note-on velocity << 8 | release velocity
    SongPosition position;
    uint16_t duration = 0;   // ticks
    uint8_t pitchClass = 0;  // key mod 12 as read; renderers store the chord tone here

    friend bool operator==(const NoteRecord&, const NoteRecord&) = default;
};

class NoteTracks {
  public:
    static constexpr int kListCount = 16;
    static constexpr int kGrowthStep = 10;

    // What a failed melody check means; the value is the status the loader reports.
    static constexpr int32_t kStatusOk = 0;
    static constexpr int32_t kStatusOutOfMemory = 1;
    static constexpr int32_t kStatusNotMonophonic = 90;
    static constexpr int32_t kStatusTooLittleMaterial = 92;
    static constexpr int32_t kStatusTooLow = 93;

    explicit NoteTracks(int32_t capacity = 0);

    MeterMap& meterMap() { return meterMap_; }
    const MeterMap& meterMap() const { return meterMap_; }

    void clear();
    bool allocateList(int list, int32_t capacity);
    // Room for `notes` more records in the list's storage, leaving its capacity as it is: a
    // loader that can guess the count spares the list its regrowing. False when out of memory.
    bool reserveStorage(int list, int32_t notes);
    void emptyList(int list);
    void freeList(int list);
    bool append(const NoteRecord& note);
    bool addNote(uint8_t key, uint8_t list, uint16_t velocity, SongPosition position,
                 uint16_t duration, uint8_t pitchClass) {
        // Filled where it is stored: a record built aside and copied in stalls on every note.
        NoteRecord* note = newNote(list);
        if (note == nullptr) return false;
        note->key = key;
        note->list = list;
        note->velocity = velocity;
        note->position = position;
        note->duration = duration;
        note->pitchClass = pitchClass;
        return noteAdded(*note);
    }
    void removeNote(int32_t index, int list);

    int32_t count(int list) const {
        return validList(list) ? static_cast<int32_t>(lists_[list].notes.size()) : 0;
    }
    int32_t capacity(int list) const;
    const std::vector<NoteRecord>& notes(int list) const;
    // Direct access for the loader, which fixes a note's duration when its note-off arrives.
    NoteRecord* mutableNote(int32_t index, int list) {
        return validIndex(index, list) ? &lists_[list].notes[static_cast<size_t>(index)] : nullptr;
    }

    const NoteRecord* note(int32_t index, int list) const;
    const NoteRecord* noteInBar(int32_t index, int32_t bar, int list) const;
    int pitchClassOf(int32_t index, int32_t bar, int list) const;
    int32_t startTick(int32_t index, int list) const;
    int32_t endTick(int32_t index, int list, int mode) const;
    int32_t restBetween(int32_t a, int32_t b, int list) const;
    int32_t hasDurationOrOtherKey(int32_t index, int list, int key) const;
    int32_t firstIndexInBar(int32_t bar, int list, bool scanForward) const;
    int32_t indexAtTick(int32_t tick, int list) const;
    int32_t indexAtPosition(const SongPosition& position, int list) const;
    const NoteRecord* noteAtTick(int32_t tick, int list, int32_t& index) const;
    int distinctPitchClasses(int32_t set = 0) const;
    int32_t upbeat(int list);

    bool melodyCheck(int list);
    void finaliseMelody(int list);

    // Melody summary.
    int32_t status() const { return status_; }
    int32_t melodyEndTick() const { return endTick_; }
    int32_t secondEndTick() const { return secondEndTick_; }
    void raiseEndTick(int32_t tick) { endTick_ = tick > endTick_ ? tick : endTick_; }
    void setEndTick(int32_t tick) { endTick_ = tick; }
    uint16_t pitchClassSet() const { return pitchClassSet_; }
    int32_t barCount() const { return barCount_; }
    int32_t firstBar() const { return firstBar_; }
    int32_t cachedUpbeat() const { return upbeat_; }
    uint8_t distinctCount() const { return distinctCount_; }
    // Project files store the melody summary; reading one puts it back as it was saved.
    void restoreSummary(uint16_t pitchClassSet, uint8_t distinctCount, int32_t upbeat) {
        pitchClassSet_ = pitchClassSet;
        distinctCount_ = distinctCount;
        upbeat_ = upbeat;
    }
    void setBarCount(int32_t bars) { barCount_ = bars; }
    void setFirstBar(int32_t bar) { firstBar_ = bar; }
    uint8_t flag = 0;

    // The composition owns the first-note-of-bar index; the tracks only read it.
    void setBarIndex(const std::vector<int32_t>* barIndex) { barIndex_ = barIndex; }
    const std::vector<int32_t>* barIndex() const { return barIndex_; }

  private:
    struct List {
        std::vector<NoteRecord> notes;
        int32_t capacity = 0;
        int32_t readIndex = 0;
    };
    bool validList(int list) const { return list >= 0 && list < kListCount; }
    // A new default record at the end of the list, or nullptr when the list is full or the
    // memory runs out.
    NoteRecord* newNote(int list) {
        if (!validList(list)) return nullptr;
        List& target = lists_[list];
        // No list holds more notes than a file may bring; only an absurd pattern rendered over a
        // long piece would get here, and it stops at the limit instead of filling the memory.
        if (static_cast<int32_t>(target.notes.size()) >= limits::kMaxNotes) return nullptr;
        try {
            // The list's capacity grows by a fixed step, as it always has; the storage below it
            // grows geometrically, since reserving each step exactly would copy the whole list
            // every ten notes and make loading a long melody quadratic.
            const bool full = static_cast<int32_t>(target.notes.size()) >= target.capacity;
            target.notes.emplace_back();
            if (full) target.capacity += kGrowthStep;
        } catch (const std::bad_alloc&) {
            status_ = kStatusOutOfMemory;
            return nullptr;
        }
        return &target.notes.back();
    }
    // Updates the melody summary for a note just stored; the answer is append's.
    bool noteAdded(const NoteRecord& note) {
        if (note.list == 0) {
            if (note.pitchClass < 16) {
                pitchClassSet_ |= static_cast<uint16_t>(1u << note.pitchClass);
            }
            barCount_ = note.position.bar + 1;
        }
        return status_ == kStatusOk;
    }
    bool validIndex(int32_t index, int list) const {
        return validList(list) && index >= 0 &&
               index < static_cast<int32_t>(lists_[list].notes.size());
    }

    MeterMap meterMap_;
    std::array<List, kListCount> lists_;
    int32_t endTick_ = 0;
    int32_t secondEndTick_ = 0;
    int32_t status_ = 0;
    uint16_t pitchClassSet_ = 0;
    uint8_t distinctCount_ = 0;
    int32_t upbeat_ = -1;
    const std::vector<int32_t>* barIndex_ = nullptr;
    int32_t barCount_ = 0;
    int32_t firstBar_ = 0;
};

}  // namespace varimel
