#include "engine/Midi_tnotes.h"

#include <algorithm>
#include <bit>
#include <new>

#include "engine/Limits.h"

namespace varimel {

namespace {
const std::vector<NoteRecord> kNoNotes;
}

NoteTracks::NoteTracks(int32_t capacity) {
    if (capacity > 0) allocateList(0, capacity);
    clear();
}

void NoteTracks::clear() {
    flag = 0;
    status_ = kStatusOk;
    for (int list = 0; list < kListCount; ++list) {
        lists_[list].notes.clear();
        lists_[list].readIndex = 0;
        if (list > 0) {
            lists_[list].capacity = 0;
            lists_[list].notes.shrink_to_fit();
        }
    }
}

bool NoteTracks::reserveStorage(int list, int32_t notes) {
    if (!validList(list)) return false;
    auto& storage = lists_[list].notes;
    try {
        storage.reserve(storage.size() + static_cast<size_t>(std::max(notes, 0)));
        return true;
    } catch (const std::bad_alloc&) {
        return false;  // the list grows note by note instead
    }
}

bool NoteTracks::allocateList(int list, int32_t capacity) {
    if (!validList(list)) return false;
    try {
        std::vector<NoteRecord> fresh;
        fresh.reserve(static_cast<size_t>(std::max(capacity, 0)));
        lists_[list].notes = std::move(fresh);
        lists_[list].capacity = std::max(capacity, 0);
        lists_[list].readIndex = 0;
        return true;
    } catch (const std::bad_alloc&) {
        status_ = kStatusOutOfMemory;
        return false;
    }
}

void NoteTracks::emptyList(int list) {
    if (!validList(list)) return;
    lists_[list].notes.clear();
    lists_[list].readIndex = 0;
}

void NoteTracks::freeList(int list) {
    if (!validList(list)) return;
    lists_[list] = List{};
}

bool NoteTracks::append(const NoteRecord& note) {
    NoteRecord* added = newNote(note.list);
    if (added == nullptr) return false;
    *added = note;
    return noteAdded(*added);
}

void NoteTracks::removeNote(int32_t index, int list) {
    if (!validIndex(index, list)) return;
    auto& notes = lists_[list].notes;
    notes.erase(notes.begin() + index);
}

int32_t NoteTracks::capacity(int list) const {
    return validList(list) ? lists_[list].capacity : 0;
}

const std::vector<NoteRecord>& NoteTracks::notes(int list) const {
    return validList(list) ? lists_[list].notes : kNoNotes;
}

const NoteRecord* NoteTracks::note(int32_t index, int list) const {
    return validIndex(index, list) ? &lists_[list].notes[static_cast<size_t>(index)] : nullptr;
}

const NoteRecord* NoteTracks::noteInBar(int32_t index, int32_t bar, int list) const {
    const NoteRecord* found = note(index, list);
    return found && found->position.bar == bar ? found : nullptr;
}

int NoteTracks::pitchClassOf(int32_t index, int32_t bar, int list) const {
    const NoteRecord* found = note(index, list);
    if (!found) return -1;
    if (bar != -1 && found->position.bar != bar) return -1;
    return found->pitchClass;
}

int32_t NoteTracks::startTick(int32_t index, int list) const {
    const NoteRecord* found = note(index, list);
    return found ? meterMap_.tickOfPosition(found->position) : -1;
}

int32_t NoteTracks::endTick(int32_t index, int list, int mode) const {
    const NoteRecord* found = note(index, list);
    if (found) return meterMap_.tickOfPosition(found->position) + found->duration;
    return mode == 2 ? meterMap_.tickOfBar(meterMap_.barCount) : -1;
}

int32_t NoteTracks::restBetween(int32_t a, int32_t b, int list) const {
    const int32_t end = endTick(a, list, 0);
    const int32_t next =
        note(b, list) ? startTick(b, list) : meterMap_.tickOfBar(meterMap_.barCount);
    return next - end;
}

int32_t NoteTracks::hasDurationOrOtherKey(int32_t index, int list, int key) const {
    const NoteRecord* found = note(index, list);
    if (!found) return 0;
    if (key < 0) return found->duration;
    return (found->duration != 0 || found->key != key) ? 1 : 0;
}

int32_t NoteTracks::firstIndexInBar(int32_t bar, int list, bool scanForward) const {
    const int32_t total = count(list);
    if (list == 0 && barIndex_) {
        const auto& index = *barIndex_;
        for (int64_t b = std::max(bar, 0); b < static_cast<int64_t>(index.size()); ++b) {
            if (index[static_cast<size_t>(b)] != -1) return index[static_cast<size_t>(b)];
            if (!scanForward) break;
        }
        return total - 1;
    }
    const auto& notes = this->notes(list);
    for (int32_t i = 0; i < total; ++i) {
        if (notes[static_cast<size_t>(i)].position.bar >= bar) return i;
    }
    return total;
}

int32_t NoteTracks::indexAtTick(int32_t tick, int list) const {
    const SongPosition position = meterMap_.positionOfTick(tick);
    int32_t index = std::max(firstIndexInBar(position.bar, list, true), 0);
    const int32_t total = count(list);
    while (index < total && startTick(index, list) < tick) ++index;
    return index;
}

int32_t NoteTracks::indexAtPosition(const SongPosition& position, int list) const {
    return indexAtTick(meterMap_.tickOfPosition(position), list);
}

const NoteRecord* NoteTracks::noteAtTick(int32_t tick, int list, int32_t& index) const {
    if (tick <= 0) {
        index = 0;
    } else if (tick < endTick_) {
        index = indexAtTick(tick, list);
    } else {
        index = count(list);
    }
    return note(index, list);
}

int NoteTracks::distinctPitchClasses(int32_t set) const {
    const uint32_t bits = set <= 0 ? pitchClassSet_ : static_cast<uint32_t>(set);
    return std::popcount(bits & 0xFFFu);
}

int32_t NoteTracks::upbeat(int list) {
    if (upbeat_ >= 0) return upbeat_;
    const NoteRecord* first = note(0, list);
    if (!first) {
        upbeat_ = 0;
        return upbeat_;
    }
    const int32_t offset =
        meterMap_.tickOfPosition(first->position) - meterMap_.tickOfBar(first->position.bar);
    upbeat_ = offset < meterMap_.ticksPerWhole / 8 ? 0 : offset;
    return upbeat_;
}

bool NoteTracks::melodyCheck(int list) {
    status_ = kStatusOk;
    if (!validList(list)) {
        status_ = kStatusTooLittleMaterial;
        return false;
    }
    auto& notes = lists_[list].notes;
    const int32_t threshold = std::max(meterMap_.ticksPerQuarter / 32 - 1, 1);

    uint32_t pitchClasses = 0;
    std::array<int32_t, 16> octaveCounts{};
    int32_t bestCount = 0;
    int bestOctave = 0;
    auto countNote = [&](const NoteRecord& n) {
        pitchClasses |= 1u << (n.pitchClass & 0x0F);
        const int octave = std::min(n.key / 12, 15);  // keys above 127 only come from bad files
        if (++octaveCounts[static_cast<size_t>(octave)] > bestCount) {
            bestCount = octaveCounts[static_cast<size_t>(octave)];
            bestOctave = octave;
        }
    };

    // One pass: doubled notes (same start, same key) count as one, the longer standing for both,
    // and the list is closed up (erasing each double would be quadratic); each note kept is
    // compared with the one kept before it, which a later double of either could not change.
    size_t kept = 0;
    bool chord = false;
    int run = 0;
    PositionTicks tickOf(meterMap_);
    int32_t previousStart = notes.empty() ? 0 : tickOf(notes[0].position);
    for (size_t i = 1; i < notes.size(); ++i) {
        NoteRecord& before = notes[kept];
        const NoteRecord& current = notes[i];
        if (current.position == before.position && current.key == before.key) {
            before.duration = std::max(before.duration, current.duration);
            continue;
        }
        if (++kept != i) notes[kept] = current;
        if (chord) continue;
        const NoteRecord& note = notes[kept];
        const int32_t start = tickOf(note.position);
        const int32_t d = start - previousStart;
        previousStart = start;
        if (d >= threshold || note.key == notes[kept - 1].key) {
            run = 0;
        } else if (run == 1) {
            chord = true;  // three notes struck together
            continue;
        } else {
            run = 1;
        }
        countNote(note);
    }
    if (!notes.empty()) notes.resize(kept + 1);

    if (notes.size() < 7) {
        status_ = kStatusTooLittleMaterial;
        return false;
    }
    if (chord) {
        status_ = kStatusNotMonophonic;
        return false;
    }
    countNote(notes[0]);

    if (std::popcount(pitchClasses & 0xFFFu) < 5) {
        status_ = kStatusTooLittleMaterial;
        return false;
    }
    if (bestOctave <= 3) {
        status_ = kStatusTooLow;
        return false;
    }
    return true;
}

void NoteTracks::finaliseMelody(int list) {
    barCount_ = 0;
    pitchClassSet_ = 0;
    upbeat_ = -1;  // the melody may change here, so the cached upbeat goes with it
    if (validList(list) && list != 0) {
        emptyList(0);
        const std::vector<NoteRecord> source = lists_[list].notes;
        for (NoteRecord n : source) {
            n.list = 0;
            append(n);
        }
    }

    const auto& melody = lists_[0].notes;
    // Gathered in a local: the notes' bytes may alias the member, which would be stored each time.
    unsigned pitchClasses = 0;
    for (const NoteRecord& n : melody) {
        if (n.pitchClass < 16) pitchClasses |= 1u << n.pitchClass;
    }
    pitchClassSet_ = static_cast<uint16_t>(pitchClasses);
    barCount_ = melody.empty() ? 0 : melody.back().position.bar + 1;

    endTick_ = 0;
    const int32_t total = count(0);
    for (int32_t i = std::max(total - 4, 0); i < total; ++i) {
        endTick_ = std::max(endTick_, endTick(i, 0, 0));
    }
    firstBar_ = melody.empty() ? 0 : melody.front().position.bar;
    secondEndTick_ = endTick_;
    distinctCount_ = static_cast<uint8_t>(distinctPitchClasses(0));

    for (int other = 1; other < kListCount; ++other) freeList(other);
}

}  // namespace varimel
