// The command line as a user runs it: the program is started as a process and its exit status,
// output and the files around it are checked.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/samples.h"

namespace {

namespace fs = std::filesystem;
using varimel::test::TempDir;

struct CliResult {
    int exitCode = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// Runs varimel-cli with `arguments` in `folder`, with the build tree's settings.
CliResult cli(const fs::path& folder, const std::string& arguments,
              const std::string& registry = VARIMEL_BINARY_DIR "/etc/varimel/registry.reg") {
    const fs::path errFile = folder / ".stderr";
    const std::string command =
        "cd " + quoted(folder.string()) + " && VARIMEL_REGISTRY=" + quoted(registry) + " " +
        quoted(VARIMEL_CLI) + " " + arguments + " 2>" + quoted(errFile.string());
    CliResult run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    std::array<char, 4096> buffer{};
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        run.out.append(buffer.data(), got);
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = contents(errFile);
    fs::remove(errFile);
    return run;
}

class CliRun : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(VARIMEL_SAMPLES_DIR "/twinkle.mid", dir / "c.mid");
        original = contents(dir / "c.mid");
    }
    TempDir dir;
    std::string original;
};

TEST_F(CliRun, AnOutputOnTheInputIsRefusedAndNothingIsWritten) {
    fs::create_symlink("c.mid", dir / "link.mid");
    for (const std::string arguments :
         {"harmonise c.mid --wav c.mid", "save c.mid -o c.mid", "export c.mid -o link.mid",
          "harmonise c.mid --export c.mid", "harmonise c.mid -o new.vml --export ./new.vml",
          "render c.mid --wav ./c.mid"}) {
        const CliResult run = cli(dir.path(), arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments << "\n" << run.err;
        EXPECT_NE(run.err.find("nothing written"), std::string::npos) << arguments << run.err;
        EXPECT_EQ(contents(dir / "c.mid"), original) << arguments;
        EXPECT_FALSE(fs::exists(dir / "new.vml")) << arguments;
    }
    EXPECT_TRUE(fs::is_symlink(dir / "link.mid"));
}

TEST_F(CliRun, AWriteFailureNamesTheFileAndTheReason) {
    const CliResult run = cli(dir.path(), "export c.mid -o nodir/x.mid");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot write nodir/x.mid: No such file or directory"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find(".tmp"), std::string::npos) << run.err;
}

TEST_F(CliRun, ExportAndSaveWriteToStandardOutputWithADash) {
    CliResult run = cli(dir.path(), "export c.mid -o -");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, 4), "MThd");
    run = cli(dir.path(), "save c.mid -o -");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, 4), "VVml");
}

TEST_F(CliRun, TheLeadSheetJoinsTheSameFileCheckAndWritesOnlyXmlToStandardOutput) {
    CliResult run = cli(dir.path(), "harmonise c.mid --musicxml -");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind("<?xml", 0), 0u) << run.out.substr(0, 200);
    EXPECT_EQ(run.out.find("</score-partwise>"), run.out.size() - 18);
    EXPECT_NE(run.err.find("Key"), std::string::npos) << "the chart goes to standard error";

    run = cli(dir.path(), "harmonise c.mid --musicxml score.musicxml");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string score = contents(dir / "score.musicxml");
    for (const std::string arguments : {"harmonise score.musicxml --musicxml score.musicxml",
                                        "harmonise c.mid --export x.mid --musicxml x.mid",
                                        "harmonise c.mid --musicxml ./c.mid"}) {
        run = cli(dir.path(), arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments << "\n" << run.err;
        EXPECT_NE(run.err.find("nothing written"), std::string::npos) << arguments;
    }
    EXPECT_EQ(contents(dir / "score.musicxml"), score);
    EXPECT_EQ(contents(dir / "c.mid"), original);
    EXPECT_FALSE(fs::exists(dir / "x.mid"));

    // The title and composer come from the tune itself, the file name only without them.
    if (std::system("abc2midi -ver > /dev/null 2>&1") != 0) return;
    std::ofstream(dir / "t.abc") << "X:1\nT:The Tune\nC:Someone\nM:4/4\nL:1/4\nK:G\n"
                                    "G A B c|d e d c|B A G A|B c d2|G A B c|d2 G2|]\n";
    run = cli(dir.path(), "harmonise t.abc --musicxml -");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("<work-title>The Tune</work-title>"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(">Someone</creator>"), std::string::npos);
}

TEST_F(CliRun, FilesAreRecognisedByTheirContent) {
    CliResult run = cli(dir.path(), "save c.mid -o x.txt");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = cli(dir.path(), "info x.txt");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("x.txt is a project file"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("Format:"), std::string::npos) << run.out;

    fs::copy_file(dir / "c.mid", dir / "melody.vml");
    run = cli(dir.path(), "info melody.vml");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("melody.vml is a MIDI file"), std::string::npos) << run.err;
}

TEST_F(CliRun, SettingsResetKeepsThePathsAndTheSoundFont) {
    const fs::path registry = dir / "registry.reg";
    fs::copy_file(VARIMEL_BINARY_DIR "/etc/varimel/registry.reg", registry);
    const std::string before = contents(registry);
    const CliResult library = cli(dir.path(), "library", registry.string());
    ASSERT_EQ(library.exitCode, 0) << library.err;

    const CliResult reset = cli(dir.path(), "settings --reset", registry.string());
    ASSERT_EQ(reset.exitCode, 0) << reset.err;
    for (const char* name : {"\"StlPath\"", "\"ArnPath\"", "\"InstallPath\"", "\"SoundFont\""}) {
        const size_t at = before.find(name);
        if (at == std::string::npos) continue;
        const std::string line = before.substr(at, before.find('\n', at) - at);
        EXPECT_NE(contents(registry).find(line), std::string::npos) << line;
    }
    const CliResult after = cli(dir.path(), "library", registry.string());
    EXPECT_EQ(after.exitCode, 0) << after.err;
    EXPECT_EQ(after.out, library.out);
}

TEST_F(CliRun, AMissingArrangementLibraryIsReportedOnStandardError) {
    std::string settings = contents(VARIMEL_BINARY_DIR "/etc/varimel/registry.reg");
    const size_t at = settings.find("\"ArnPath\"=");
    ASSERT_NE(at, std::string::npos);
    fs::create_directories(dir / "empty");
    settings.replace(at, settings.find('\n', at) - at,
                     "\"ArnPath\"=\"" + (dir / "empty").string() + "/\"");
    std::ofstream(dir / "registry.reg") << settings;
    const CliResult run =
        cli(dir.path(), "harmonise c.mid --parts style+arrange", (dir / "registry.reg").string());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("Can't load Arrangements library! Please run setup program and "
                           "install Arrangements library."),
              std::string::npos)
        << run.err;
}

TEST_F(CliRun, UnknownOrUnfittingChoicesAreErrorsThatSayWhatFits) {
    CliResult run = cli(dir.path(), "harmonise c.mid --style NoSuchStyle -o c.vml");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("unknown style 'NoSuchStyle'; the styles are: "), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("PnWaltz34"), std::string::npos) << run.err;
    run = cli(dir.path(), "harmonise c.mid --parts arrange --arrangement nothing -o c.vml");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("the arrangements are: "), std::string::npos) << run.err;
    // The melody is in 4/4; a waltz style, named in any case, does not fit.
    run = cli(dir.path(), "harmonise c.mid --style pnwaltz34 -o c.vml");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("PnWaltz34 is for 3/4, the melody is in 4/4"), std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(dir / "c.vml"));
    // What was applied, in any case of the name.
    run = cli(dir.path(), "harmonise c.mid --style pnblock44 --json");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\"styleName\":\"PnBlock44\""), std::string::npos) << run.out;
}

TEST_F(CliRun, SeveralMelodyChannelsAreResolvedWithChannel) {
    fs::copy_file(VARIMEL_SAMPLES_DIR "/jingle_bells.mid", dir / "two.mid");
    CliResult run = cli(dir.path(), "harmonise two.mid");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("melodies on channels 0, 1: choose one with --channel N"),
              std::string::npos)
        << run.err;
    run = cli(dir.path(), "harmonise two.mid --channel 0 --json");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\"status\":0"), std::string::npos) << run.out;
    run = cli(dir.path(), "export two.mid --channel 1 -o one.mid");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    run = cli(dir.path(), "info one.mid");
    EXPECT_NE(run.out.find("Status:                0 (success)"), std::string::npos) << run.out;
}

TEST_F(CliRun, LoadFailuresSayWhy) {
    fs::create_directories(dir / "folder.mid");
    std::ofstream(dir / "cut.mid", std::ios::binary) << original.substr(0, 30);
    const std::pair<const char*, const char*> cases[] = {
        {"missing.mid", "no such file"},
        {"folder.mid", "it is a folder, not a file"},
        {"cut.mid", "track 1 runs 52 bytes past the end of the file"},
    };
    for (const auto& [file, reason] : cases) {
        const CliResult info = cli(dir.path(), std::string("info ") + file);
        EXPECT_EQ(info.exitCode, 1) << file;
        EXPECT_EQ(info.out,
                  std::string("File:                  ") + file +
                      "\nStatus:                101 (the file cannot be read): " + reason + "\n");
        const CliResult harmonise = cli(dir.path(), std::string("harmonise ") + file);
        EXPECT_EQ(harmonise.exitCode, 1) << file;
        EXPECT_NE(harmonise.err.find(reason), std::string::npos) << harmonise.err;
    }
}

TEST_F(CliRun, RangesOutsideThePieceAreErrorsNamingTheBarCount) {
    CliResult run = cli(dir.path(), "render c.mid --wav x.wav --from 40");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("--from 40 is beyond the end: the piece has 12 bars\n"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(dir / "x.wav"));
    run = cli(dir.path(), "harmonise c.mid --jobs 0");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("--jobs must be a whole number from 1 to 1024"), std::string::npos)
        << run.err;
    run = cli(dir.path(), "harmonise c.mid --jobs 99999999999999999999999999999");
    EXPECT_NE(run.err.find("--jobs must be a whole number from 1 to 1024"), std::string::npos)
        << run.err;
}

TEST_F(CliRun, ABatchWritesIntoItsOutDirAndNamesItsFailures) {
    fs::create_directories(dir / "in");
    fs::copy_file(dir / "c.mid", dir / "in" / "first.mid");
    fs::copy_file(VARIMEL_SAMPLES_DIR "/jingle_bells.mid", dir / "in" / "second.mid");
    CliResult run = cli(dir.path(), "harmonise --batch in --export");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("need --out-dir DIR"), std::string::npos) << run.err;

    fs::create_directories(dir / "out");
    run = cli(dir.path(), "harmonise --batch in --export -o --out-dir out --jsonl -");
    EXPECT_EQ(run.exitCode, 1) << "a file failed";
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2);
    EXPECT_NE(run.err.find("1 failed: in/second.mid (status 89)"), std::string::npos) << run.err;
    EXPECT_EQ(contents(dir / "out" / "first.mid").substr(0, 4), "MThd");
    EXPECT_EQ(contents(dir / "out" / "first.vml").substr(0, 4), "VVml");
    EXPECT_FALSE(fs::exists(dir / "out" / "second.mid"));

    // A list on standard input, so that batches compose with xargs and pipes.
    std::ofstream(dir / "list") << "c.mid\n\nin/first.mid\n";
    run = cli(dir.path(), "harmonise --files-from - --jsonl results.jsonl < list");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string lines = contents(dir / "results.jsonl");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
}

// Lines come in file order whatever finishes first, and a file whose name is not UTF-8
// neither stops the batch nor loses the other files' lines.
TEST_F(CliRun, ABatchOnSeveralThreadsWritesEveryLineInFileOrder) {
    fs::create_directories(dir / "in");
    std::vector<std::string> names;
    std::vector<int> statuses;
    for (int i = 0; i < 12; ++i) {
        statuses.push_back(i % 3 == 2 ? 89 : 0);
        names.push_back("tune" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".mid");
        // Every third melody has two voices and fails with status 89.
        fs::copy_file(
            i % 3 == 2 ? fs::path(VARIMEL_SAMPLES_DIR "/jingle_bells.mid") : dir / "c.mid",
            dir / "in" / names.back());
    }
    fs::copy_file(dir / "c.mid", dir / "in" / "z\xe9.mid");  // Latin-1, not UTF-8
    CliResult run = cli(dir.path(), "harmonise --batch in --jobs 4 --jsonl -");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    for (size_t i = 0; i < names.size(); ++i) {
        ASSERT_TRUE(std::getline(lines, line)) << names[i];
        const auto json = nlohmann::json::parse(line);
        EXPECT_EQ(json["file"], names[i]);
        EXPECT_EQ(json["status"], statuses[i]) << line;
    }
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(nlohmann::json::parse(line)["file"], "z\xef\xbf\xbd.mid");  // U+FFFD
    EXPECT_FALSE(std::getline(lines, line));
    EXPECT_NE(run.err.find("13 files:  status 0: 9  status 89: 4"), std::string::npos) << run.err;
}

}  // namespace
