#include "engine/ChordDictionary.h"

#include <atomic>
#include <cstddef>
#include <string_view>

#include "engine/Tonality.h"

namespace varimel {
namespace {

constexpr int kDegreeShift = 16;
constexpr ChordDescriptor kMinorChordBit = 0x100;
constexpr ChordDescriptor kTypeMask = ChordDictionary::kTypeMask;

// The entries are kept in the harmonist's shorthand - degree, M (chord on a major key) or m
// (on a minor key), type - so that each row reads as the progression it stands for: "1M0 5M1
// 1M0" is tonic, dominant seventh, tonic. Degrees 8..14 are the altered I..VII.
constexpr DictionaryEntry parseEntry(std::string_view text) {
    DictionaryEntry entry;
    std::size_t i = 0;
    while (i < text.size()) {
        if (entry.count == entry.places.size()) throw "an entry holds at most four chords";
        int degree = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            degree = degree * 10 + (text[i++] - '0');
        }
        if (degree < 1 || degree > 14 || i + 2 > text.size()) throw "degree 1..14 expected";
        const char mode = text[i++];
        if (mode != 'M' && mode != 'm') throw "mode M or m expected";
        const int type = text[i++] - '0';
        if (type < 0 || type >= kChordTypeCount) throw "chord type 0..4 expected";
        entry.places[entry.count++] =
            degree << kDegreeShift | (mode == 'm' ? kMinorChordBit : 0) | type;
        if (i < text.size() && text[i++] != ' ') throw "chords are separated by one blank";
    }
    if (entry.count < 3) throw "an entry holds at least three chords";
    return entry;
}

template <std::size_t N>
constexpr std::array<DictionaryEntry, N> parseTable(const std::string_view (&rows)[N]) {
    std::array<DictionaryEntry, N> table{};
    for (std::size_t i = 0; i < N; ++i) table[i] = parseEntry(rows[i]);
    return table;
}

// clang-format off
constexpr std::string_view kMajorRows[] = {
    "1M0 5M1 1M0", "1M0 4M0 1M0", "1M0 4M0 5M1 1M0", "1M0 5M0 4M0 1M0", "1M0 2m1 5M1 1M0",  // 0..4
    "1M0 2M1 5M1 1M0", "1M0 2m3 5M1 1M0", "1M0 2m1 8M1 1M0", "1M0 2M1 8M1 1M0", "1M0 2M1 2m1 5M1",  // 5..9
    "1M0 1m4 2m1 5M1", "1M0 8m4 2m1 5M1", "1M0 8m4 2m1 9m4", "1M0 2m1 9m4 3m1", "1M0 9M3 2m1 5M1",  // 10..14
    "1M0 9M1 2m1 5M1", "1M0 9M1 2M1 8M1", "1M0 6m1 2m1 5M1", "1M0 6M1 2m1 5M1", "1M0 6m1 2M1 5M1",  // 15..19
    "1M0 6M1 2M1 5M1", "1M0 6m1 12m1 5m1", "1M0 6M1 12M1 5M1", "1M0 3M1 6M1 2M1", "1M0 3m1 6m1 2m1",  // 20..24
    "1M0 3M1 6m1 2M1", "1M0 3m1 6M1 2m1", "1M0 3m1 4M0 5M1", "1M0 3m1 9m1 2m1", "1M0 3M1 9M1 2M1",  // 25..29
    "1M0 7M1 3M1 6M1", "1M0 7M1 3M1 13M1", "1M0 7m3 3m1 6m1", "1M0 7m3 3M1 6m0", "1M0 7m3 13M1 6M1",  // 30..34
    "1M0 1M1 4M0", "1M0 5m0 1M1 4M0", "1M0 13M0 1M1 4M0", "1M0 2m1 3m1 4M0", "1M0 6m1 1M1 4M0",  // 35..39
    "4M0 4m0 1M0", "4M0 11m4 1M0", "4M0 2m1 5M1 1M0", "4M0 2M1 5M1 1M0", "4M0 2M1 2m1 5M1",  // 40..44
    "4M0 5M1 3m1 6m0", "4M0 7m3 3M1 6m0", "4M0 2m0 3M1 6m0", "4M0 13M0 2M1 5M1", "4M0 3M1 6M1 2M1",  // 45..49
    "4M0 3m1 6m1 2m0", "5M1 4M0 3m1 2m1", "5M1 1M1 4M0 11m4", "5M1 1M1 4M0 4m0", "5M1 5m0 1M1 4M0",  // 50..54
    "5M1 3m1 6M1 2m1", "5M1 3m1 6m1 2m1", "5M1 3M1 6m1 2m1", "5M1 12m4 6m1 2m1", "5M1 6m1 7m3 1M0",  // 55..59
};

constexpr std::string_view kMinorRows[] = {
    "1m0 5M1 1m0", "1m0 4m0 1m0", "1m0 4m0 5M1 1m0", "1m0 5m0 1m0", "1m0 2m3 5M1 1m0",  // 0..4
    "1m0 2M1 5M1 1m0", "1m0 8m4 2M1 5M1", "1m0 1M1 4m0 5M1", "1m0 8m4 4m0 5M1", "1m0 7m0 1M1 4m0",  // 5..9
    "1m0 5m3 1M1 4m0", "1m0 4m0 7M1 3M0", "1m0 7M1 3M0 6M0", "1m0 3M1 6M0 8M0", "1m0 6M0 8M1 5M1",  // 10..14
    "1m0 8M0 1m0", "8M0 3M1 6M0 5M1", "8M0 4m0 5M1 1m0", "8M0 6M0 5M1 1m0", "8M0 7m0 3M1 6M0",  // 15..19
    "8M0 2m3 5M1 1m0", "8M0 2M1 5M1 1m0", "8M0 5m0 1m0", "3M0 4m0 5M1 1m0", "3M0 4M1 7M0 5M1",  // 20..24
    "3M0 6M0 5M1 1m0", "3M0 6M0 8M0", "3M0 8M0 1m0 5M1", "3M0 2m3 5M1 1m0", "3M0 2M1 5M1 1m0",  // 25..29
    "3M0 2M1 8M1 1m0", "3M0 1M1 4m0 5M1", "4m0 6M0 5M1 1m0", "4m0 2M1 5M1 1m0", "4m0 8M0 5M1 1m0",  // 30..34
    "4m0 2m3 5M1 1m0", "4M1 7M0 6M0 5M1", "4M1 2M1 5M1 1m0", "5M1 6M0 7M1 3M0", "5M1 1M1 4M1 7M0",  // 35..39
    "5M1 1M1 4m0 7M0", "5M1 7m0 1M1 4m0", "5M1 5m3 1M1 4m0", "6M0 1M1 4m0 5M1", "6M0 3M0 2M1 5M1",  // 40..44
    "6M0 7M1 3M0 5M1", "6M0 4m0 5M1 1m0", "6M0 2m3 5M1 1m0", "6M0 2M1 5M1 1m0", "7M0 2M1 5M1 1m0",  // 45..49
    "7M0 3M0 5M1 1m0", "7M0 6M0 5M1 1m0", "7M0 3M1 6M0 5M1", "7m0 3M1 6M0 5M1",  // 50..53
};
// clang-format on

constexpr auto kMajorTable = parseTable(kMajorRows);
constexpr auto kMinorTable = parseTable(kMinorRows);
static_assert(kMajorTable.size() == 60 && kMinorTable.size() == 54);

// The place (1..count) of the descriptor in the entry, searching from lastPosition down.
int placeIn(const DictionaryEntry& e, ChordDescriptor descriptor, int lastPosition) {
    if (lastPosition < 0 || lastPosition > e.count) lastPosition = e.count;
    const ChordDescriptor mask =
        (descriptor & kTypeMask) == ChordDictionary::kAnyType ? ~kTypeMask : ~0;
    for (int place = lastPosition; place >= 1; --place) {
        if ((e.places[static_cast<std::size_t>(place - 1)] & mask) == (descriptor & mask)) {
            return place;
        }
    }
    return 0;
}

// The harmonizer asks whether one chord may follow another many times per bar; the answers
// for every pair of chords of a table are worked out once, from the same search.
constexpr int kDegrees = 14;
constexpr int kShapes = kDegrees * 2;  // degree and mode
constexpr int kCodes = kShapes * kChordTypeCount;

int shapeOf(ChordDescriptor descriptor) {
    const int degree = descriptor >> kDegreeShift;
    if (degree < 1 || degree > kDegrees) return -1;
    return (degree - 1) * 2 + ((descriptor & kMinorChordBit) ? 1 : 0);
}

// -1 for a descriptor outside the tables' vocabulary, which the plain search answers.
int codeOf(ChordDescriptor descriptor) {
    const int type = descriptor & static_cast<int>(kTypeMask);
    const int shape = shapeOf(descriptor);
    if (shape < 0 || type >= kChordTypeCount) return -1;
    return shape * kChordTypeCount + type;
}

EntryMatch findIn(std::span<const DictionaryEntry> table, ChordDescriptor descriptor,
                  int fromEntry) {
    for (int entry = fromEntry < 0 ? 0 : fromEntry; entry < static_cast<int>(table.size());
         ++entry) {
        if (const int place = placeIn(table[static_cast<std::size_t>(entry)], descriptor, -1);
            place > 0) {
            return {entry, place};
        }
    }
    return {};
}

int followIn(std::span<const DictionaryEntry> table, ChordDescriptor candidate,
             ChordDescriptor previous) {
    for (EntryMatch match = findIn(table, candidate, 0); match.entry >= 0;
         match = findIn(table, candidate, match.entry + 1)) {
        if (placeIn(table[static_cast<std::size_t>(match.entry)], previous, match.place) > 0) {
            return match.entry;
        }
    }
    return -1;
}

}  // namespace

struct DictionaryAnswers {
    std::array<std::array<int8_t, kCodes>, kCodes> follow{};  // [candidate][previous]
    std::array<bool, kShapes> known{};
    // The same answers as the search in followIn, entry by entry: a pair's answer is the first
    // entry where the previous chord stands at or before the candidate's last place.
    explicit DictionaryAnswers(std::span<const DictionaryEntry> table) {
        for (auto& row : follow) row.fill(-1);
        for (std::size_t entry = 0; entry < table.size(); ++entry) {
            const DictionaryEntry& e = table[entry];
            for (int place = 1; place <= e.count; ++place) {
                const ChordDescriptor candidate = e.places[static_cast<std::size_t>(place - 1)];
                const int candidateCode = codeOf(candidate);
                known[static_cast<std::size_t>(shapeOf(candidate))] = true;
                // Its last place in the entry is what the search finds.
                if (placeIn(e, candidate, -1) != place) continue;
                for (int earlier = 1; earlier <= place; ++earlier) {
                    const int previousCode =
                        codeOf(e.places[static_cast<std::size_t>(earlier - 1)]);
                    int8_t& answer = follow[static_cast<std::size_t>(candidateCode)]
                                           [static_cast<std::size_t>(previousCode)];
                    if (answer < 0) answer = static_cast<int8_t>(entry);
                }
            }
        }
    }
};

namespace {

// Degrees of every pitch class in every key, as descriptor() numbers them.
struct Degrees {
    std::array<std::array<int8_t, 12>, kKeyCount> of{};
    Degrees() {
        for (KeyIndex key = 0; key < kKeyCount; ++key) {
            for (int pc = 0; pc < 12; ++pc) {
                int degree = degreeOf(pc, key);
                if (degree < 0) degree = 7 - degree;  // altered I..VII become 8..14
                of[static_cast<std::size_t>(key)][static_cast<std::size_t>(pc)] =
                    static_cast<int8_t>(degree);
            }
        }
    }
};

const DictionaryAnswers& answersFor(bool minor) {
    static const DictionaryAnswers major(kMajorTable);
    static const DictionaryAnswers minorAnswers(kMinorTable);
    return minor ? minorAnswers : major;
}

const Degrees& degrees() {
    static const Degrees table;
    return table;
}

// Atomic, so that chord masters made on several threads (a batch run) never race on it.
std::atomic<ChordDictionary*> currentDictionary{nullptr};

}  // namespace

ChordDictionary::~ChordDictionary() {
    // The chord master that made this dictionary current may be gone before a newer one
    // exists; nobody must look chords up through a dead dictionary.
    ChordDictionary* self = this;
    currentDictionary.compare_exchange_strong(self, nullptr);
}

void ChordDictionary::reset() {
    key_ = kNoKey;
    table_ = {};
    answers_ = nullptr;
    keyDescriptors_ = describedWithoutKey();
}

const std::array<ChordDescriptor, kKeyCount>& ChordDictionary::describedWithoutKey() {
    // What describe() answers without a key, worked out once: every chord master starts so.
    static const std::array<ChordDescriptor, kKeyCount> described = [] {
        std::array<ChordDescriptor, kKeyCount> each{};
        for (KeyIndex k = 0; k < kKeyCount; ++k) {
            each[static_cast<std::size_t>(k)] = isMinorKey(k) ? kMinorChordBit : 0;
        }
        return each;
    }();
    return described;
}

void ChordDictionary::describeKeys() {
    for (KeyIndex k = 0; k < kKeyCount; ++k)
        keyDescriptors_[static_cast<std::size_t>(k)] = describe(k, 0);
}

void ChordDictionary::selectKey(KeyIndex key) {
    if (!isValidKey(key)) {
        reset();
        return;
    }
    key_ = key;
    table_ = isMinorKey(key) ? minorTable() : majorTable();
    answers_ = &answersFor(isMinorKey(key));
    describeKeys();
}

ChordDescriptor ChordDictionary::describe(KeyIndex chordKey, int type) const {
    const int pc = tonicOf(chordKey);
    const int degree =
        isValidKey(key_) && pc >= 0 && pc < 12
            ? degrees().of[static_cast<std::size_t>(key_)][static_cast<std::size_t>(pc)]
            : 0;
    return degree << kDegreeShift | (isMinorKey(chordKey) ? kMinorChordBit : 0) |
           (type & kTypeMask);
}

int ChordDictionary::entryPosition(int entry, ChordDescriptor descriptor, int lastPosition) const {
    if (entry < 0 || entry >= static_cast<int>(table_.size())) return 0;
    return placeIn(table_[static_cast<std::size_t>(entry)], descriptor, lastPosition);
}

EntryMatch ChordDictionary::findEntry(ChordDescriptor descriptor, int fromEntry) const {
    return findIn(table_, descriptor, fromEntry);
}

bool ChordDictionary::isKnownChordKey(KeyIndex chordKey) const {
    const ChordDescriptor any = descriptor(chordKey, kAnyType);
    const int shape = shapeOf(any);
    if (answers_ == nullptr || shape < 0) return findEntry(any).entry >= 0;
    return answers_->known[static_cast<std::size_t>(shape)];
}

int ChordDictionary::canFollow(KeyIndex chordKey, int type, KeyIndex previousKey,
                               int previousType) const {
    const ChordDescriptor candidate = descriptor(chordKey, type);
    const ChordDescriptor previous = descriptor(previousKey, previousType);
    const int candidateCode = codeOf(candidate);
    const int previousCode = codeOf(previous);
    if (answers_ == nullptr || candidateCode < 0 || previousCode < 0) {
        return followIn(table_, candidate, previous);
    }
    return answers_
        ->follow[static_cast<std::size_t>(candidateCode)][static_cast<std::size_t>(previousCode)];
}

std::span<const DictionaryEntry> ChordDictionary::majorTable() {
    return kMajorTable;
}
std::span<const DictionaryEntry> ChordDictionary::minorTable() {
    return kMinorTable;
}

ChordDictionary* ChordDictionary::current() {
    return currentDictionary.load();
}
void ChordDictionary::makeCurrent() {
    currentDictionary = this;
}

}  // namespace varimel
