// Every input that once crashed, hung or over-allocated a reader is kept in
// tests/data/regressions/<reader>/ and read again here, through the very path its fuzz target
// takes (tests/support/reader_paths.h). Each read must end with one of the program's answers.
// Below them, the damage those inputs stood for, built from real files so it reads as what broke.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Mas_file.h"
#include "engine/Wchordmaster.h"
#include "settings/HarmonyOptions.h"
#include "settings/RegFile.h"
#include "support/melody.h"
#include "support/reader_paths.h"
#include "support/smf_bytes.h"

namespace varimel {
namespace {

namespace fs = std::filesystem;
using test::ReadOutcome;
namespace smf = test::smf;

std::vector<std::uint8_t> fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string samplePath(const char* name) {
    return std::string(VARIMEL_SAMPLES_DIR) + "/" + name;
}

// The compiled library of the build, when it has been built: lists then name real files.
void copyLibraryFiles(const char* kind, const char* extension, test::ScratchFolder& folder) {
    std::error_code ec;
    for (const auto& entry :
         fs::directory_iterator(fs::path(VARIMEL_BINARY_DIR) / "data" / kind, ec)) {
        if (entry.path().extension() != extension) continue;
        const std::vector<std::uint8_t> bytes = fileBytes(entry.path());
        folder.write(entry.path().filename().string(), bytes.data(), bytes.size());
    }
}

// The pieces the accompaniment readers render over: 4/4, 3/4 with a pick-up, 6/8, a meter change.
const std::vector<Composition*>& pieces() {
    static std::vector<std::unique_ptr<ChordMaster>> masters;
    static std::vector<Composition*> compositions;
    if (masters.empty()) {
        for (const char* name :
             {"twinkle.mid", "greensleeves.mid", "silent_night.mid", "good_morning_to_all.mid"}) {
            if (auto master = test::harmonisedPiece(samplePath(name))) {
                compositions.push_back(master->composition());
                masters.push_back(std::move(master));
            }
        }
    }
    return compositions;
}

ReadOutcome readAs(const std::string& reader, const fs::path& file) {
    const std::vector<std::uint8_t> bytes = fileBytes(file);
    if (reader == "midi_file") return test::readMelodyFile(file.string());
    if (reader == "midi_reader") return test::readMelodyFileOnly(file.string());
    if (reader == "project_file") return test::readProjectFile(file.string());
    if (reader == "registry_file") {
        test::ScratchFile copy(".reg");  // the settings store may write; the kept input stays
        copy.write(bytes);
        return test::readRegistryFile(copy.path());
    }
    if (reader == "style_list" || reader == "arrangement_list") {
        const bool styles = reader == "style_list";
        test::ScratchFolder folder;
        copyLibraryFiles(styles ? "styles" : "arrangements", styles ? ".stt" : ".art", folder);
        folder.write(styles ? "styles.lst" : "arangs.lst", bytes.data(), bytes.size());
        return styles ? test::readStyleLibrary(folder.path())
                      : test::readArrangementLibrary(folder.path());
    }
    if (reader == "style_file") return test::readStyleFile(bytes, pieces());
    if (reader == "arrangement_file") return test::readArrangementFile(bytes, pieces());
    ReadOutcome unknown;
    unknown.broken = "no reader is called " + reader;
    return unknown;
}

struct RegressionInput {
    std::string reader;  // the folder: the fuzz target's name without "fuzz_"
    fs::path file;
};

std::vector<RegressionInput> regressionInputs() {
    std::vector<RegressionInput> inputs;
    std::error_code ec;
    const fs::path root = fs::path(VARIMEL_TEST_DATA_DIR) / "regressions";
    for (const auto& folder : fs::directory_iterator(root, ec)) {
        if (!folder.is_directory()) continue;
        for (const auto& file : fs::directory_iterator(folder.path(), ec)) {
            if (file.is_regular_file() && file.path().filename().string().front() != '.') {
                inputs.push_back({folder.path().filename().string(), file.path()});
            }
        }
    }
    std::sort(inputs.begin(), inputs.end(),
              [](const auto& a, const auto& b) { return a.file < b.file; });
    return inputs;
}

class RegressionInputs : public ::testing::TestWithParam<RegressionInput> {};

TEST_P(RegressionInputs, ReadEndsWithAnAnswerAndKeepsItsPromises) {
    const RegressionInput& input = GetParam();
    const ReadOutcome outcome = readAs(input.reader, input.file);
    if (input.reader == "midi_file" || input.reader == "midi_reader" ||
        input.reader == "project_file") {
        EXPECT_TRUE(test::isKnownStatus(outcome.status)) << outcome.status;
    }
    EXPECT_EQ(outcome.broken, "");
}

std::string caseName(const ::testing::TestParamInfo<RegressionInput>& info) {
    std::string name = info.param.reader + "_" + info.param.file.stem().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Kept, RegressionInputs, ::testing::ValuesIn(regressionInputs()), caseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RegressionInputs);

// --- The damage behind the kept inputs ------------------------------------------------------

// A harmonised sample as its project file's bytes.
std::vector<std::uint8_t> sampleProject(const char* name) {
    ChordMaster master(samplePath(name));
    EXPECT_EQ(master.loadMidi(), status::kOk);
    EXPECT_EQ(master.harmonise(defaultOptions), status::kOk);
    return ProjectWriter::encode(*master.composition(), defaultOptions);
}

// Offset of the first record of a chunk that starts with a 32-bit count.
size_t firstRecordOf(const std::vector<std::uint8_t>& bytes, const char* id) {
    const auto at = std::search(bytes.begin(), bytes.end(), id, id + 4);
    EXPECT_NE(at, bytes.end()) << id;
    return static_cast<size_t>(at - bytes.begin()) + 8;
}

StatusCode openProject(const std::vector<std::uint8_t>& bytes) {
    test::ScratchFile file(".vml");
    EXPECT_TRUE(file.write(bytes));
    ChordMaster master(file.path());
    HarmonyOptions options = defaultOptions;
    return master.loadProject(options);
}

TEST(DamagedProject, AnUndamagedProjectOpens) {
    EXPECT_EQ(openProject(sampleProject("twinkle.mid")), status::kOk);
}

TEST(DamagedProject, BarsThatAreNotWholeBeatsAreNoDamage) {
    // 4/8 at three ticks a quarter: a beat of one tick, a bar of six, so positions reach beat 5.
    // Such a melody loads, and its project must open again.
    smf::Bytes body = smf::meta(0, 0x58, {4, 3, 24, 8});
    static const int kKeys[] = {60, 62, 64, 65, 67, 69, 71, 72};
    for (int i = 0; i < 64; ++i) {
        body = smf::cat(
            {body, smf::noteOn(0, 0, kKeys[i % 8], 100), smf::noteOff(1, 0, kKeys[i % 8])});
    }
    test::TempMidiFile file(smf::cat(
        {smf::headerChunk(0, 1, 3), smf::trackChunk(smf::cat({body, smf::endOfTrack()}))}));
    ChordMaster master(file.pathString());
    ASSERT_EQ(master.loadMidi(), status::kOk);
    ASSERT_EQ(master.harmonise(defaultOptions), status::kOk);
    EXPECT_EQ(openProject(ProjectWriter::encode(*master.composition(), defaultOptions)),
              status::kOk);
}

TEST(DamagedProject, NotesOutOfTimeOrderAreRefused) {
    std::vector<std::uint8_t> bytes = sampleProject("twinkle.mid");
    // The first note's bar moves behind every other note.
    bytes[firstRecordOf(bytes, "MNts") + 4] = 0x20;
    EXPECT_EQ(openProject(bytes), status::kUnreadableFile);
}

TEST(DamagedProject, ANoteOnABeatTheMeterDoesNotHaveIsRefused) {
    std::vector<std::uint8_t> bytes = sampleProject("twinkle.mid");  // 4/4: beats 0..3
    bytes[firstRecordOf(bytes, "MNts") + 6] = 4;
    EXPECT_EQ(openProject(bytes), status::kUnreadableFile);
}

TEST(DamagedProject, AMeterWhoseLengthsDisagreeWithItIsRefused) {
    std::vector<std::uint8_t> bytes = sampleProject("twinkle.mid");
    // TTel: word count, 9 words, then the first segment's ticksPerBar.
    const size_t segment = firstRecordOf(bytes, "TTel") + 9 * 4;
    bytes[segment + 8] ^= 0x01;
    EXPECT_EQ(openProject(bytes), status::kUnreadableFile);
}

TEST(DamagedProject, AShortestNoteLongerThanAnyDurationIsRefused) {
    // The analysis quantises the stored shortest note; a billion ticks overflowed it.
    std::vector<std::uint8_t> bytes = sampleProject("twinkle.mid");
    const size_t shortestNote = firstRecordOf(bytes, "TTel") + 2 * 4;
    bytes[shortestNote + 3] = 0x40;
    EXPECT_EQ(openProject(bytes), status::kUnreadableFile);
}

TEST(DamagedProject, AChordOutsideTheVocabularyIsRefused) {
    std::vector<std::uint8_t> bytes = sampleProject("twinkle.mid");
    const size_t entry = firstRecordOf(bytes, "AChr");
    bytes[entry] = 7;      // type 7: there are five
    bytes[entry + 1] = 0;  // key 0
    EXPECT_EQ(openProject(bytes), status::kUnreadableFile);
}

TEST(DamagedProject, AnAbsurdChordSelectionFactorHarmonisesWithoutOverflow) {
    // The options of a project (or the registry) reach the harmonizer as they are.
    for (const float factor : {1.6e31f, -1.6e31f, std::numeric_limits<float>::quiet_NaN(),
                               std::numeric_limits<float>::infinity()}) {
        HarmonyOptions options = defaultOptions;
        options.kDSFilter = factor;
        ChordMaster master(samplePath("twinkle.mid"));
        ASSERT_EQ(master.loadMidi(), status::kOk);
        EXPECT_TRUE(test::isKnownStatus(master.harmonise(options))) << factor;
        EXPECT_EQ(master.composition()->chordTrack.size(), 12u) << factor;
    }
}

// --- Damaged registry texts -----------------------------------------------------------------

TEST(DamagedRegistryText, ACutOffSequenceBeforeTheEndLosesNoFollowingByte) {
    // A text with a line break is saved as UTF-16; a sequence cut off near its end used to
    // swallow the bytes after its lead, so each save shortened the text a little more.
    RegDocument document = *RegDocument::parse("Windows Registry Editor Version 5.00\n");
    const std::string damaged = std::string("two\nlines\xE2") + "c";
    ASSERT_TRUE(document.setValue(RegistryRoot::LocalMachine, "\\software\\Test", "Text",
                                  RegistryValue::fromString(damaged)));
    const std::string once = document.toText();
    const std::optional<RegDocument> reread = RegDocument::parse(once);
    ASSERT_TRUE(reread.has_value());
    const RegistryValue* value =
        reread->findValue(RegistryRoot::LocalMachine, "\\software\\Test", "Text");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->text(),
              "two\nlines\xEF\xBF\xBD"
              "c");  // U+FFFD, then the c
    EXPECT_EQ(reread->toText(), once);
}

}  // namespace
}  // namespace varimel
