// Every sample melody, and a project made from each, damaged the ways files get damaged: cut
// short, bits flipped, lengths and counts made absurd, pieces of another file spliced in. Each
// damaged copy is opened the whole way the program opens it, and each load must end with one of
// the program's statuses. The damage is drawn from a fixed seed per file, so a failure names a
// copy that can be made again.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Mas_file.h"
#include "engine/Wchordmaster.h"
#include "settings/HarmonyOptions.h"
#include "support/reader_paths.h"
#include "support/samples.h"

namespace varimel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr int kCopiesPerFile = 200;

Bytes fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The sample as the project file Save would write after harmonising it.
Bytes projectOf(const fs::path& melody) {
    ChordMaster master(melody.string());
    const StatusCode loaded = master.loadMidi();
    if (loaded == status::kOk) master.harmonise(defaultOptions);
    if (master.composition() == nullptr) return {};
    master.composition()->accompanimentParts = accompaniment_part::kBlockChords;
    return ProjectWriter::encode(*master.composition(), defaultOptions);
}

// Where the chunks of a file begin: the length (MIDI) or count (project) follows each id.
std::vector<size_t> chunkStarts(const Bytes& bytes, const std::vector<std::string_view>& ids) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
        for (const std::string_view id : ids) {
            if (std::equal(id.begin(), id.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i))) {
                starts.push_back(i);
            }
        }
    }
    return starts;
}

class Damage {
  public:
    Damage(const Bytes& original, const Bytes& donor, std::vector<size_t> chunks,
           std::uint32_t seed)
        : original_(original), donor_(donor), chunks_(std::move(chunks)), random_(seed) {}

    // One damaged copy; `what` says how it was damaged.
    Bytes next(std::string& what) {
        Bytes copy = original_;
        switch (pick(5)) {
            case 0: {
                const size_t keep = pick(copy.size());
                copy.resize(keep);
                what = "cut to " + std::to_string(keep) + " bytes";
                break;
            }
            case 1: {
                const size_t flips = 1 + pick(8);
                for (size_t i = 0; i < flips && !copy.empty(); ++i) {
                    copy[pick(copy.size())] ^= static_cast<std::uint8_t>(1u << pick(8));
                }
                what = std::to_string(flips) + " bits flipped";
                break;
            }
            case 2: {
                // A length or count: right after a chunk id, or anywhere.
                static constexpr std::array<std::uint32_t, 7> kAbsurd = {
                    0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 0, 1, 0x00FFFFFF, 0x10000};
                const std::uint32_t value = kAbsurd[pick(kAbsurd.size())];
                size_t at = chunks_.empty() || pick(4) == 0 ? pick(copy.size())
                                                            : chunks_[pick(chunks_.size())] + 4;
                at = std::min(at, copy.size() >= 4 ? copy.size() - 4 : 0);
                for (size_t i = 0; i < 4 && at + i < copy.size(); ++i) {
                    copy[at + i] = static_cast<std::uint8_t>(value >> (8 * (pick(2) ? i : 3 - i)));
                }
                what = "value " + std::to_string(value) + " written at " + std::to_string(at);
                break;
            }
            case 3: {
                // A piece of another file, or of this one, put in somewhere.
                const Bytes& from = pick(2) ? donor_ : original_;
                const size_t begin = pick(from.size());
                const size_t length = std::min(from.size() - begin, 1 + pick(256));
                const size_t at = pick(copy.size() + 1);
                copy.insert(copy.begin() + static_cast<std::ptrdiff_t>(at),
                            from.begin() + static_cast<std::ptrdiff_t>(begin),
                            from.begin() + static_cast<std::ptrdiff_t>(begin + length));
                what = std::to_string(length) + " bytes spliced in at " + std::to_string(at);
                break;
            }
            default: {
                // A whole chunk doubled, or lost.
                if (chunks_.size() < 2) {
                    what = "unchanged";
                    break;
                }
                const size_t which = pick(chunks_.size() - 1);
                const auto begin = copy.begin() + static_cast<std::ptrdiff_t>(chunks_[which]);
                const auto end = copy.begin() + static_cast<std::ptrdiff_t>(chunks_[which + 1]);
                if (pick(2)) {
                    const Bytes chunk(begin, end);
                    copy.insert(end, chunk.begin(), chunk.end());
                    what = "chunk " + std::to_string(which) + " doubled";
                } else {
                    copy.erase(begin, end);
                    what = "chunk " + std::to_string(which) + " lost";
                }
                break;
            }
        }
        return copy;
    }

  private:
    size_t pick(size_t below) {
        return below == 0 ? 0 : std::uniform_int_distribution<size_t>(0, below - 1)(random_);
    }

    const Bytes& original_;
    const Bytes& donor_;
    std::vector<size_t> chunks_;
    std::mt19937 random_;
};

// Damage that every copy survives, or that no copy survives, would test little: some copies
// must still open and some must be refused.
struct Tally {
    int refused = 0;
    int opened = 0;
    void add(StatusCode code) { ++(code == status::kUnreadableFile ? refused : opened); }
    void expectBothKinds() const {
        EXPECT_GT(refused, 0);
        EXPECT_GT(opened, 0);
    }
};

class DamagedSample : public ::testing::TestWithParam<fs::path> {
  protected:
    // The next sample in the list lends its bytes for splicing.
    fs::path donorFile() const {
        const std::vector<fs::path> all = varimel::test::sampleMelodyPaths();
        const auto at = std::find(all.begin(), all.end(), GetParam());
        return at + 1 == all.end() ? all.front() : *(at + 1);
    }
    std::uint32_t seed() const {
        return static_cast<std::uint32_t>(std::hash<std::string>{}(GetParam().filename().string()));
    }
};

TEST_P(DamagedSample, EveryDamagedMelodyLoadsToAStatus) {
    const Bytes original = fileBytes(GetParam());
    const Bytes donor = fileBytes(donorFile());
    ASSERT_FALSE(original.empty());
    Damage damage(original, donor, chunkStarts(original, {"MThd", "MTrk"}), seed());
    test::ScratchFile file(".mid");
    Tally tally;
    for (int copy = 0; copy < kCopiesPerFile; ++copy) {
        std::string what;
        ASSERT_TRUE(file.write(damage.next(what)));
        const test::ReadOutcome outcome = test::readMelodyFile(file.path());
        ASSERT_TRUE(test::isKnownStatus(outcome.status))
            << "copy " << copy << ": " << what << " gave " << outcome.status;
        ASSERT_EQ(outcome.broken, "") << "copy " << copy << ": " << what;
        tally.add(outcome.status);
    }
    tally.expectBothKinds();
}

TEST_P(DamagedSample, EveryDamagedProjectLoadsToAStatus) {
    const Bytes original = projectOf(GetParam());
    const Bytes donor = projectOf(donorFile());
    ASSERT_FALSE(original.empty());
    Damage damage(original, donor,
                  chunkStarts(original, {"VVml", "POpt", "GPar", "TPar", "MNts", "AChr", "RChr",
                                         "TTel", "ArId", "FEnd"}),
                  seed());
    test::ScratchFile file(".vml");
    Tally tally;
    for (int copy = 0; copy < kCopiesPerFile; ++copy) {
        std::string what;
        ASSERT_TRUE(file.write(damage.next(what)));
        const test::ReadOutcome outcome = test::readProjectFile(file.path());
        ASSERT_TRUE(test::isKnownStatus(outcome.status))
            << "copy " << copy << ": " << what << " gave " << outcome.status;
        ASSERT_EQ(outcome.broken, "") << "copy " << copy << ": " << what;
        tally.add(outcome.status);
    }
    tally.expectBothKinds();
}

TEST_P(DamagedSample, TheUndamagedProjectOpens) {
    // The damage above starts from a project that opens, or it would prove nothing.
    test::ScratchFile file(".vml");
    ASSERT_TRUE(file.write(projectOf(GetParam())));
    ChordMaster master(file.path());
    HarmonyOptions options = defaultOptions;
    const StatusCode opened = master.loadProject(options);
    EXPECT_NE(opened, status::kUnreadableFile);
}

std::string sampleName(const ::testing::TestParamInfo<fs::path>& info) {
    return info.param.stem().string();
}

INSTANTIATE_TEST_SUITE_P(Samples, DamagedSample,
                         ::testing::ValuesIn(varimel::test::sampleMelodyPaths()), sampleName);

}  // namespace
}  // namespace varimel
