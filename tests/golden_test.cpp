// Golden results: the whole `harmonise --json` result of every sample melody in every harmony
// draft, compared field by field with the files in tests/data/golden/. When a change of result
// is intended, tools/update_golden writes the files anew and the commit shows the differences.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli_harmonise.h"
#include "support/samples.h"

using namespace varimel;
using namespace varimel::cli;
using namespace varimel::test;
using nlohmann::ordered_json;

namespace {

constexpr int kDrafts[] = {kDraftI, kDraftII, kDraftIII, kDraftIV};
constexpr const char* kDraftNames[] = {"", "I", "II", "III", "IV"};
constexpr size_t kMostDifferencesShown = 25;

std::filesystem::path goldenDir() {
    return std::filesystem::path(VARIMEL_TEST_DATA_DIR) / "golden";
}

std::filesystem::path goldenFile(const std::filesystem::path& sample, int draft) {
    return goldenDir() / (sample.stem().string() + ".draft-" + kDraftNames[draft] + ".json");
}

// Every leaf where the two values differ, named by its path ("bars[3].chordName").
void collectDifferences(const ordered_json& expected, const ordered_json& actual,
                        const std::string& path, std::vector<std::string>& out) {
    const std::string here = path.empty() ? "(whole result)" : path;
    if (expected.is_object() && actual.is_object()) {
        for (const auto& item : expected.items()) {
            const std::string child = path.empty() ? item.key() : path + "." + item.key();
            if (!actual.contains(item.key())) {
                out.push_back(child + ": missing (expected " + item.value().dump() + ")");
            } else {
                collectDifferences(item.value(), actual.at(item.key()), child, out);
            }
        }
        for (const auto& item : actual.items()) {
            if (!expected.contains(item.key())) {
                const std::string child = path.empty() ? item.key() : path + "." + item.key();
                out.push_back(child + ": not in the golden file (got " + item.value().dump() + ")");
            }
        }
        return;
    }
    if (expected.is_array() && actual.is_array()) {
        const size_t common = std::min(expected.size(), actual.size());
        for (size_t i = 0; i < common; ++i) {
            collectDifferences(expected[i], actual[i], path + "[" + std::to_string(i) + "]", out);
        }
        if (expected.size() != actual.size()) {
            out.push_back(here + ": " + std::to_string(expected.size()) + " items expected, got " +
                          std::to_string(actual.size()));
        }
        return;
    }
    if (expected != actual) {
        out.push_back(here + ": expected " + expected.dump() + ", got " + actual.dump());
    }
}

struct GoldenCase {
    std::filesystem::path sample;
    int draft = kDraftI;
};

void PrintTo(const GoldenCase& c, std::ostream* out) {
    *out << c.sample.filename().string() << ", Draft " << kDraftNames[c.draft];
}

std::vector<GoldenCase> goldenCases() {
    std::vector<GoldenCase> cases;
    for (const std::filesystem::path& sample : sampleMelodyPaths()) {
        for (const int draft : kDrafts) cases.push_back({sample, draft});
    }
    return cases;
}

}  // namespace

class Golden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, HarmoniseResultMatchesTheGoldenFile) {
    const GoldenCase& c = GetParam();
    const std::filesystem::path golden = goldenFile(c.sample, c.draft);
    std::ifstream in(golden);
    ASSERT_TRUE(in) << "no golden result " << golden << "; run tools/update_golden";
    const ordered_json expected = ordered_json::parse(in, nullptr, false);
    ASSERT_FALSE(expected.is_discarded()) << golden << " is not JSON";

    HarmoniseRequest request;
    request.draft = c.draft;
    const HarmoniseOutcome outcome = harmoniseFile(c.sample.string(), request);
    const ordered_json actual = outcomeJson(outcome);

    std::vector<std::string> differences;
    collectDifferences(expected, actual, "", differences);
    std::ostringstream report;
    for (size_t i = 0; i < differences.size() && i < kMostDifferencesShown; ++i) {
        report << "\n  " << differences[i];
    }
    if (differences.size() > kMostDifferencesShown) {
        report << "\n  ... and " << differences.size() - kMostDifferencesShown << " more";
    }
    EXPECT_TRUE(differences.empty())
        << golden.filename().string() << " differs in " << differences.size()
        << " field(s):" << report.str()
        << "\nIf the change is intended, run tools/update_golden and review the diff.";
}

INSTANTIATE_TEST_SUITE_P(Samples, Golden, ::testing::ValuesIn(goldenCases()),
                         [](const ::testing::TestParamInfo<GoldenCase>& info) {
                             return info.param.sample.stem().string() + "_draft" +
                                    kDraftNames[info.param.draft];
                         });

TEST(GoldenFiles, EveryGoldenFileBelongsToASampleAndADraft) {
    std::vector<std::filesystem::path> expected;
    for (const GoldenCase& c : goldenCases()) expected.push_back(goldenFile(c.sample, c.draft));
    for (const auto& entry : std::filesystem::directory_iterator(goldenDir())) {
        if (entry.path().extension() != ".json") continue;
        EXPECT_NE(std::find(expected.begin(), expected.end(), entry.path()), expected.end())
            << entry.path().filename().string()
            << " has no sample melody; run tools/update_golden to remove it";
    }
}
