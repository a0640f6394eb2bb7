// Writing a file never destroys one: links are followed, FIFOs and devices are written into,
// failures name the user's file and the system's reason, and one run's outputs never land on its
// inputs or on each other.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

#include "engine/SafeWrite.h"
#include "support/samples.h"

namespace varimel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

size_t entriesIn(const fs::path& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

TEST(SafeWrite, ALinkStaysALinkAndItsTargetIsReplacedInItsOwnFolder) {
    TempDir dir;
    fs::create_directories(dir / "real");
    put(dir / "real" / "song.vml", "old");
    // A relative link, read from the link's folder, through a second link.
    fs::create_symlink("real/song.vml", dir / "first");
    fs::create_symlink("first", dir / "second");
    std::string error;
    ASSERT_TRUE(writeFileAtomically(dir / "second", "new", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "second"));
    EXPECT_TRUE(fs::is_symlink(dir / "first"));
    EXPECT_EQ(contents(dir / "real" / "song.vml"), "new");
    EXPECT_EQ(entriesIn(dir / "real"), 1u);

    // A link whose target does not exist yet makes that target.
    fs::create_symlink("real/later.mid", dir / "dangling");
    ASSERT_TRUE(writeFileAtomically(dir / "dangling", "made", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
    EXPECT_EQ(contents(dir / "real" / "later.mid"), "made");
}

TEST(SafeWrite, AFifoIsWrittenIntoAndStaysAFifo) {
    TempDir dir;
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto reader = std::async(std::launch::async, [&] { return contents(fifo); });
    std::string error;
    EXPECT_TRUE(writeFileAtomically(fifo, "through the pipe", &error)) << error;
    EXPECT_EQ(reader.get(), "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(SafeWrite, ADeviceIsWrittenIntoAndItsErrorNamed) {
    if (!fs::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const size_t before = entriesIn("/dev");
    std::string error;
    EXPECT_FALSE(writeFileAtomically("/dev/full", "bytes", &error));
    EXPECT_EQ(error, "cannot write /dev/full: No space left on device");
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_EQ(entriesIn("/dev"), before);
    EXPECT_TRUE(writeFileAtomically("/dev/null", "gone", &error)) << error;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST(SafeWrite, FailuresNameTheUsersFileAndTheReasonAndLeaveNothing) {
    TempDir dir;
    const fs::path missing = dir / "nodir" / "x.mid";
    std::string error;
    EXPECT_FALSE(writeFileAtomically(missing, "x", &error));
    EXPECT_EQ(error, "cannot write " + missing.string() + ": No such file or directory");

    EXPECT_FALSE(writeFileAtomically(dir.path(), "x", &error));
    EXPECT_EQ(error, "cannot write " + dir.path().string() + ": Is a directory");

    if (::geteuid() != 0) {  // root writes anywhere
        fs::create_directories(dir / "locked");
        fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(writeFileAtomically(dir / "locked" / "y.vml", "x", &error));
        EXPECT_EQ(error,
                  "cannot write " + (dir / "locked" / "y.vml").string() + ": Permission denied");
        fs::permissions(dir / "locked", fs::perms::owner_all);
    }
    EXPECT_EQ(entriesIn(dir.path()), ::geteuid() != 0 ? 1u : 0u);
}

// A batch defers the syncs of the files it creates to one at its end: the files are all there
// and whole, a file that replaced another still did so through the rename, and a folder that can
// no longer be synced is reported rather than passed over.
TEST(SafeWrite, DeferredSyncsLeaveWholeFilesAndReportAFolderThatCannotBeSynced) {
    TempDir dir;
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "gone");
    put(dir / "out" / "old.mid", "old");
    {
        DeferredSync sync;
        for (int i = 0; i < 20; ++i) {
            const fs::path file = dir / "out" / ("new" + std::to_string(i) + ".mid");
            ASSERT_TRUE(writeFileAtomically(file, std::string(1000 + i, 'x')));
        }
        ASSERT_TRUE(writeFileAtomically(dir / "out" / "old.mid", "replaced"));
        std::string error;
        EXPECT_TRUE(sync.finish(&error)) << error;
        EXPECT_TRUE(sync.finish());  // once is enough
    }
    EXPECT_EQ(entriesIn(dir / "out"), 21u);  // no temporary file left behind
    EXPECT_EQ(contents(dir / "out" / "new19.mid"), std::string(1019, 'x'));
    EXPECT_EQ(contents(dir / "out" / "old.mid"), "replaced");

    DeferredSync sync;
    ASSERT_TRUE(writeFileAtomically(dir / "gone" / "lost.mid", "data"));
    fs::remove_all(dir / "gone");
    std::string error;
    EXPECT_FALSE(sync.finish(&error));
    EXPECT_NE(error.find("gone"), std::string::npos) << error;
}

TEST(SafeWrite, StandardOutputIsADash) {
    testing::internal::CaptureStdout();
    std::string error;
    const bool written = writeFileAtomically("-", "to the terminal", &error);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "to the terminal");
    EXPECT_TRUE(written) << error;
}

TEST(SameFileConflict, AnOutputThatIsAnInputByAnyNameIsFound) {
    TempDir dir;
    const std::string input = (dir / "song.mid").string();
    put(input, "MThd");
    EXPECT_NE(sameFileConflict({input}, {input}), "");
    fs::create_symlink(input, dir / "link.mid");
    EXPECT_NE(sameFileConflict({input}, {(dir / "link.mid").string()}), "");
    fs::create_hard_link(input, dir / "hard.mid");
    EXPECT_NE(sameFileConflict({input}, {(dir / "hard.mid").string()}), "");
    fs::create_directories(dir / "sub");
    EXPECT_NE(sameFileConflict({input}, {(dir / "sub" / ".." / "song.mid").string()}), "");
    EXPECT_EQ(sameFileConflict({input}, {(dir / "song.vml").string(), "-"}), "");

    // Inputs known to exist (a folder's listing) are looked at only when an output exists too:
    // each spelling above is still found, and a missing input still meets its output when the
    // caller could not vouch for it.
    for (const char* name : {"song.mid", "link.mid", "hard.mid"}) {
        EXPECT_NE(sameFileConflict({input}, {(dir / name).string()}, true), "") << name;
    }
    EXPECT_EQ(sameFileConflict({input}, {(dir / "song.vml").string()}, true), "");
    const std::string missing = (dir / "missing.mid").string();
    EXPECT_NE(sameFileConflict({missing}, {missing}, false), "");
}

TEST(SameFileConflict, TwoOutputsOfOneRunMustDifferEvenBeforeTheyExist) {
    TempDir dir;
    const std::string first = (dir / "out.vml").string();
    const std::string second = (dir / "sub" / ".." / "out.vml").string();
    fs::create_directories(dir / "sub");
    fs::create_symlink("out.vml", dir / "alias.vml");
    EXPECT_NE(sameFileConflict({}, {first, second}), "");
    EXPECT_NE(sameFileConflict({}, {first, (dir / "alias.vml").string()}), "");
    EXPECT_NE(sameFileConflict({}, {"-", "-"}), "");
    EXPECT_NE(sameFileConflict({}, {"not-here.vml", "./not-here.vml"}), "");
    EXPECT_EQ(sameFileConflict({}, {first, (dir / "out.mid").string()}), "");
    EXPECT_FALSE(fs::exists(first));
}

// A batch checks every output against every input and every other output; with thousands of
// each that must take no longer than resolving each name once.
TEST(SameFileConflict, AThousandsOfFilesBatchIsCheckedInLinearTime) {
    TempDir dir;
    fs::create_directories(dir / "in");
    fs::create_directories(dir / "out");
    constexpr int kFiles = 2000;
    std::vector<std::string> inputs, outputs;
    for (int i = 0; i < kFiles; ++i) {
        const std::string stem = "tune" + std::to_string(i);
        inputs.push_back((dir / "in" / (stem + ".mid")).string());
        put(inputs.back(), "MThd");
        for (const char* extension : {".vml", ".mid", ".wav"})
            outputs.push_back((dir / "out" / (stem + extension)).string());
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sameFileConflict(inputs, outputs), "");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 3.0);  // every pair compared by name took minutes here

    // The first clash in output order is named, with the input it lands on.
    fs::create_symlink(inputs[1500], dir / "out" / "late.mid");
    outputs.push_back((dir / "out" / "late.mid").string());
    outputs.push_back((dir / "in" / "." / "tune7.mid").string());
    EXPECT_EQ(sameFileConflict(inputs, outputs),
              "the output " + outputs[3 * kFiles] + " is the input " + inputs[1500]);
    outputs.insert(outputs.begin() + 5, (dir / "out" / "." / "tune0.wav").string());
    EXPECT_EQ(sameFileConflict(inputs, outputs),
              "the outputs " + outputs[2] + " and " + outputs[5] + " are the same file");
}

}  // namespace
}  // namespace varimel
