// The bundled sample melodies: the committed .mid files are exactly what their melody texts
// give, every sample is a usable tune, and together they cover the cases the README promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "melodytext/melodytext.h"
#include "support/smf_walker.h"

namespace varimel::test {
namespace {

namespace fs = std::filesystem;
namespace mt = melodytext;

const fs::path kSamples = VARIMEL_SAMPLES_DIR;

std::vector<std::string> sampleNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(kSamples / "src"))
        if (entry.path().extension() == ".mel") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

SmfFile walkSample(const std::string& name) {
    const SmfWalk walk = walkSmf(readBytes(kSamples / (name + ".mid")));
    EXPECT_TRUE(walk.file.has_value()) << name << ".mid: " << walk.error;
    return walk.file.value_or(SmfFile{});
}

// What one sample is, read from its file rather than from its text.
struct Profile {
    std::set<int> channels;
    std::vector<std::pair<int, int>> meters;  // (numerator, denominator) in file order
    std::optional<std::pair<int, int>> key;   // (sharps or flats, minor)
    bool pickup = false;                      // first note after the start of its bar
    int mostNotesAtOnce = 0;
    int distinctPitchClasses = 0;
    int commonestOctave = 0;  // key / 12
    double shareBetweenC4AndC6 = 0;
    std::int64_t bars = 0;
    std::size_t notes = 0;
    std::set<int> statusBytes;
};

Profile profileOf(const SmfFile& file) {
    Profile profile;
    for (const SmfEvent& event : file.metas(0x58))
        profile.meters.emplace_back(event.data.at(0), 1 << event.data.at(1));
    const auto keys = file.metas(0x59);
    if (!keys.empty())
        profile.key = {static_cast<std::int8_t>(keys[0].data.at(0)), keys[0].data.at(1)};
    for (const SmfTrack& track : file.tracks)
        for (const SmfEvent& event : track.events)
            if (!event.isMeta()) profile.statusBytes.insert(event.status);

    const auto notes = file.notes();
    profile.notes = notes.size();
    std::set<int> pitchClasses;
    std::array<int, 11> octaves{};
    int inRange = 0;
    std::map<std::int64_t, int> startsAt;
    std::int64_t end = 0;
    for (const SmfNote& note : notes) {
        profile.channels.insert(note.channel);
        pitchClasses.insert(note.key % 12);
        ++octaves[static_cast<std::size_t>(note.key / 12)];
        if (note.key >= 60 && note.key <= 84) ++inRange;
        profile.mostNotesAtOnce = std::max(profile.mostNotesAtOnce, ++startsAt[note.startTick]);
        end = std::max(end, note.startTick + note.durationTicks);
    }
    profile.distinctPitchClasses = static_cast<int>(pitchClasses.size());
    profile.commonestOctave =
        static_cast<int>(std::max_element(octaves.begin(), octaves.end()) - octaves.begin());
    profile.shareBetweenC4AndC6 = notes.empty() ? 0 : double(inRange) / double(notes.size());

    // Walk the bars of the meter map (4/4 without any time signature) up to the last note.
    const auto meters = file.metas(0x58);
    std::int64_t barStart = 0;
    std::size_t next = 0;
    mt::TimeSignature meter{4, 4};
    const std::int64_t firstNote = notes.empty() ? 0 : notes.front().startTick;
    while (barStart < end) {
        while (next < meters.size() && meters[next].tick <= barStart)
            meter = {meters[next].data.at(0), 1 << meters[next++].data.at(1)};
        const std::int64_t length = mt::ticksPerBar(meter, file.division);
        if (firstNote >= barStart && firstNote < barStart + length)
            profile.pickup = profile.pickup || firstNote > barStart;
        barStart += length;
        ++profile.bars;
    }
    return profile;
}

class Sample : public ::testing::TestWithParam<std::string> {};

TEST_P(Sample, CommittedFileIsExactlyWhatItsMelodyTextGives) {
    const mt::ParseResult parsed = mt::parse(readText(kSamples / "src" / (GetParam() + ".mel")));
    ASSERT_TRUE(parsed.ok()) << parsed.errorText();
    const fs::path committed = kSamples / (GetParam() + ".mid");
    ASSERT_TRUE(fs::exists(committed))
        << committed << " is missing; build the target update-samples";
    EXPECT_TRUE(readBytes(committed) == mt::encodeSmf(parsed.melody))
        << committed << " differs from its melody text; build the target update-samples";
}

TEST_P(Sample, IsAFullTuneMostlyBetweenC4AndC6) {
    const Profile profile = profileOf(walkSample(GetParam()));
    EXPECT_GE(profile.bars, 8);
    EXPECT_GE(profile.notes, 7u);
    EXPECT_GE(profile.distinctPitchClasses, 5);
    EXPECT_GT(profile.commonestOctave, 3);
    EXPECT_GE(profile.shareBetweenC4AndC6, 0.75);
}

TEST_P(Sample, IsOneVoiceOnOneChannelUnlessThatIsWhatItShows) {
    const Profile profile = profileOf(walkSample(GetParam()));
    if (GetParam() == "jingle_bells") {
        EXPECT_EQ(profile.channels, (std::set<int>{0, 1}));
    } else {
        EXPECT_EQ(profile.channels.size(), 1u);
    }
    if (GetParam() == "london_bridge_chords") {
        EXPECT_GE(profile.mostNotesAtOnce, 3);
    } else {
        EXPECT_EQ(profile.mostNotesAtOnce, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(AllSamples, Sample, ::testing::ValuesIn(sampleNames()),
                         [](const auto& info) { return info.param; });

TEST(Samples, EveryMidiFileHasItsMelodyText) {
    const std::vector<std::string> names = sampleNames();
    EXPECT_GE(names.size(), 12u);
    for (const auto& entry : fs::directory_iterator(kSamples)) {
        if (entry.path().extension() != ".mid") continue;
        EXPECT_TRUE(std::binary_search(names.begin(), names.end(), entry.path().stem().string()))
            << entry.path() << " has no melody text in src/";
    }
}

TEST(Samples, CoverTheCasesTheReadmeLists) {
    std::map<std::string, Profile> profiles;
    for (const std::string& name : sampleNames()) profiles[name] = profileOf(walkSample(name));
    auto any = [&](auto predicate) {
        return std::any_of(profiles.begin(), profiles.end(),
                           [&](const auto& entry) { return predicate(entry.second); });
    };
    auto hasMeter = [&](int numerator, int denominator) {
        return any([&](const Profile& p) {
            return std::find(p.meters.begin(), p.meters.end(), std::pair{numerator, denominator}) !=
                   p.meters.end();
        });
    };
    EXPECT_TRUE(profiles.count("twinkle")) << "the README's main job plays twinkle.mid";
    EXPECT_TRUE(any([](const Profile& p) { return p.key && p.key->second == 0; }));
    EXPECT_TRUE(any([](const Profile& p) { return p.key && p.key->second == 1; }));
    EXPECT_TRUE(hasMeter(2, 4));
    EXPECT_TRUE(hasMeter(3, 4));
    EXPECT_TRUE(hasMeter(4, 4));
    EXPECT_TRUE(hasMeter(6, 8));
    EXPECT_TRUE(any([](const Profile& p) { return p.pickup; }));
    EXPECT_TRUE(any([](const Profile& p) { return !p.pickup; }));
    EXPECT_TRUE(any([](const Profile& p) { return p.meters.size() > 1; }));
    EXPECT_TRUE(any([](const Profile& p) { return p.meters.empty() && !p.key; }));
    EXPECT_TRUE(any([](const Profile& p) {
        return p.channels == std::set<int>{5} && p.statusBytes.count(0x95) == 1;
    }));
}

}  // namespace
}  // namespace varimel::test
