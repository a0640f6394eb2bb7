#include "accompaniment/Tarangsmaster.h"

#include "engine/ByteIO.h"

namespace varimel {

namespace {

constexpr int kSlowBelowBpm = 95;
constexpr int kFastAboveBpm = 139;

}  // namespace

ArrangementLibrary::ArrangementLibrary(std::string directory) : directory_(std::move(directory)) {}

bool ArrangementLibrary::loadList() {
    if (listLoaded_) return true;
    std::vector<uint8_t> bytes;
    ArrangementList list;
    if (!readWholeFile(joinPath(directory_, kArrangementListName), kMaxLibraryFileSize, bytes) ||
        !parseArrangementList(bytes, list)) {
        list_ = ArrangementList{};
        return false;
    }
    list_ = std::move(list);
    listLoaded_ = true;
    return true;
}

void ArrangementLibrary::setMeter(int numerator, int denominator) {
    meterNum_ = numerator;
    meterDen_ = denominator;
}

int ArrangementLibrary::tempoClass(int bpm) const {
    if (meterNum_ != 4 || meterDen_ != 4) return tempo_class::kAny;
    if (bpm < kSlowBelowBpm) return tempo_class::kSlow;
    if (bpm > kFastAboveBpm) return tempo_class::kFast;
    return tempo_class::kMedium;
}

ArrangementId ArrangementLibrary::autoChoose(int bpm) const {
    const int tempo = tempoClass(bpm);
    const int key = currentMeterKey();
    for (int g = 0; g < groupCount(); ++g) {
        const ArrangementGroup& group = list_.groups[static_cast<size_t>(g)];
        if (group.key != key || group.entries.empty()) continue;
        const int firstMask = group.entries.front().tempoMask;
        if (firstMask == tempo_class::kAny || firstMask == 0) return makeArrangementId(g, 0);
        for (size_t e = 0; e < group.entries.size(); ++e) {
            if ((group.entries[e].tempoMask & tempo) != 0) {
                return makeArrangementId(g, static_cast<int>(e));
            }
        }
    }
    return autoId();
}

const ArrangementEntry* ArrangementLibrary::entry(ArrangementId id) const {
    if (id < 0) return nullptr;
    const int group = arrangementGroupOf(id);
    const size_t index = static_cast<size_t>(arrangementEntryOf(id));
    if (group >= groupCount()) return nullptr;
    const auto& entries = list_.groups[static_cast<size_t>(group)].entries;
    return index < entries.size() ? &entries[index] : nullptr;
}

ArrangementId ArrangementLibrary::findByName(std::string_view name) const {
    for (int g = 0; g < groupCount(); ++g) {
        const auto& entries = list_.groups[static_cast<size_t>(g)].entries;
        for (size_t e = 0; e < entries.size(); ++e) {
            if (entries[e].name == name) return makeArrangementId(g, static_cast<int>(e));
        }
    }
    return kNoArrangement;
}

ArrangementId ArrangementLibrary::select(ArrangementId id) {
    if (id == loadedId_ && id != kNoArrangement) return id;
    if (id < 0) {
        current_ = nullptr;
        loadedId_ = kNoArrangement;
        return kNoArrangement;
    }
    if (arrangementGroupOf(id) >= groupCount()) {
        current_ = nullptr;
        loadedId_ = kNoArrangement;
        return id;
    }
    for (const auto& [readId, read] : readSinceReset_) {
        if (readId == id) {
            current_ = read;
            loadedId_ = id;
            return id;
        }
    }
    const ArrangementEntry* chosen = entry(id);
    auto arrangement = std::make_unique<Arrangement>();
    std::vector<uint8_t> bytes;
    const bool ok = chosen &&
                    readWholeFile(joinPath(directory_, chosen->name + kArrangementExtension),
                                  kMaxLibraryFileSize, bytes) &&
                    parseArrangement(bytes, *arrangement);
    if (!ok) {
        current_ = nullptr;
        loadedId_ = kNoArrangement;
        if (reportError_) reportError_(kCannotLoadArrangementMessage);
        return kNoArrangement;
    }
    current_ = arrangement.get();
    readSinceReset_.emplace_back(id, current_);
    kept_.push_back(std::move(arrangement));
    loadedId_ = id;
    return id;
}

const ArrangementPart* ArrangementLibrary::currentPart0() const {
    return current_ && !current_->parts.empty() ? &current_->parts.front() : nullptr;
}

void ArrangementLibrary::reset() {
    choiceMade = false;
    noArrangement = true;
    chosenId = kNoArrangement;
    loadedId_ = kNoArrangement;
    current_ = nullptr;
    readSinceReset_.clear();
    list_ = ArrangementList{};
    listLoaded_ = false;
}

}  // namespace varimel
