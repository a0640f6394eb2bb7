#include "leadsheet/MelodyFiles.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "engine/ByteIO.h"
#include "engine/Limits.h"
#include "leadsheet/Zip.h"

extern char** environ;

namespace varimel {

namespace fs = std::filesystem;

namespace {

std::string lowerExtension(const std::string& path) {
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// A file in the temporary folder that is removed when the object goes.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string& suffix) {
        std::random_device entropy;
        std::error_code error;
        fs::path folder = fs::temp_directory_path(error);
        if (error) folder = ".";
        path_ = (folder /
                 ("varimel-" + std::to_string(entropy()) + std::to_string(::getpid()) + suffix))
                    .string();
    }
    ~TemporaryFile() {
        std::error_code error;
        fs::remove(path_, error);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Reads a melody file whole, within the size limit of MIDI files.
bool readMelodyBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& problem) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (!error && size > limits::kMaxMidiFileSize) {
        problem = "the file is larger than " +
                  std::to_string(limits::kMaxMidiFileSize / (1024 * 1024)) +
                  " MB, more than any melody needs";
        return false;
    }
    if (!readWholeFile(path, limits::kMaxMidiFileSize, bytes)) {
        problem = "the file cannot be read";
        return false;
    }
    return true;
}

StatusCode loadMusicXml(ChordMaster& master, bool compressed, const MusicXmlChoice& choice,
                        std::vector<std::string>& warnings) {
    std::vector<uint8_t> bytes;
    std::string problem;
    if (!readMelodyBytes(master.fileName(), bytes, problem)) return master.refuseLoad(problem);
    std::string text;
    if (compressed) {
        if (!readMxlScore(bytes, limits::kMaxMidiFileSize, text, problem))
            return master.refuseLoad(problem);
    } else {
        text.assign(bytes.begin(), bytes.end());
    }
    ImportedMelody melody;
    if (!readMusicXml(text, choice, melody, problem)) return master.refuseLoad(problem);
    warnings.insert(warnings.end(), melody.warnings.begin(), melody.warnings.end());
    TemporaryFile midi(".mid");
    if (!writeMelodyMidi(melody, midi.path(), problem)) return master.refuseLoad(problem);
    return master.loadMidiFrom(midi.path());
}

// Runs a program with arguments (no shell), its output going to `log`; its exit status, or -1
// when it could not be started.
int runProgram(const std::vector<std::string>& arguments, const std::string& log) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t child = 0;
    const int started = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return -1;
    int result = 0;
    while (waitpid(child, &result, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(result) ? WEXITSTATUS(result) : -1;
}

// The converter's last meaningful line, to say why it made nothing.
std::string lastLogLine(const std::string& log) {
    std::ifstream in(log);
    std::string line, last;
    while (std::getline(in, line))
        if (line.find("abc2midi") == std::string::npos && !line.empty()) last = line;
    return last;
}

StatusCode loadAbc(ChordMaster& master, int tune, std::vector<std::string>& warnings) {
    std::vector<uint8_t> bytes;
    std::string problem;
    if (!readMelodyBytes(master.fileName(), bytes, problem)) return master.refuseLoad(problem);
    const std::vector<AbcTune> tunes = abcTunes(master.fileName());
    if (tunes.empty()) return master.refuseLoad("the file holds no ABC tune (no X: line)");
    if (tune == 0) {
        tune = tunes.front().number;
        if (tunes.size() > 1)
            warnings.push_back("the file holds " + std::to_string(tunes.size()) +
                               " tunes; the first (X:" + std::to_string(tune) + ") was opened");
    } else if (std::none_of(tunes.begin(), tunes.end(),
                            [tune](const AbcTune& t) { return t.number == tune; })) {
        return master.refuseLoad("the file has no tune X:" + std::to_string(tune));
    }
    // The tune goes to the converter with its pick-up bar filled.
    TemporaryFile abc(".abc");
    {
        std::ofstream out(abc.path(), std::ios::binary);
        out << padAbcPickUp(std::string(bytes.begin(), bytes.end()), tune);
        if (!out) return master.refuseLoad("cannot write the temporary file " + abc.path());
    }
    TemporaryFile midi(".mid");
    TemporaryFile log(".log");
    // Chord symbols would become a second channel and grace notes would take time from their
    // notes; the melody alone is wanted.
    const int result = runProgram({kAbcConverter, abc.path(), std::to_string(tune), "-o",
                                   midi.path(), "-NGUI", "-NGRA", "-quiet"},
                                  log.path());
    if (result < 0)
        return master.refuseLoad(std::string("ABC tunes are opened through ") + kAbcConverter +
                                 ", which is not installed (Debian package " + kAbcPackage + ")");
    std::error_code error;
    if (!fs::exists(midi.path(), error)) {
        const std::string why = lastLogLine(log.path());
        return master.refuseLoad(std::string(kAbcConverter) + " could not convert the tune" +
                                 (why.empty() ? "" : ": " + why));
    }
    return master.loadMidiFrom(midi.path());
}

}  // namespace

MelodyFormat melodyFormatOf(const std::string& path) {
    const std::string extension = lowerExtension(path);
    if (extension == ".musicxml" || extension == ".xml") return MelodyFormat::kMusicXml;
    if (extension == ".mxl") return MelodyFormat::kCompressedMusicXml;
    if (extension == ".abc") return MelodyFormat::kAbc;
    return MelodyFormat::kMidi;
}

bool isMelodyFile(const std::string& path) {
    const std::string extension = lowerExtension(path);
    return extension == ".mid" || extension == ".midi" || extension == ".musicxml" ||
           extension == ".xml" || extension == ".mxl" || extension == ".abc";
}

const char* melodyFileFilter() {
    return "Melodies (*.mid *.midi *.musicxml *.xml *.mxl *.abc)";
}

StatusCode loadMelodyFile(ChordMaster& master, const MelodySource& source,
                          std::vector<std::string>& warnings) {
    switch (melodyFormatOf(master.fileName())) {
        case MelodyFormat::kMusicXml:
            return loadMusicXml(master, false, source.musicXml, warnings);
        case MelodyFormat::kCompressedMusicXml:
            return loadMusicXml(master, true, source.musicXml, warnings);
        case MelodyFormat::kAbc:
            return loadAbc(master, source.tune, warnings);
        case MelodyFormat::kMidi:
            break;
    }
    return master.loadMidi();
}

std::vector<AbcTune> abcTunes(const std::string& path) {
    std::vector<AbcTune> tunes;
    std::vector<uint8_t> bytes;
    std::string problem;
    if (!readMelodyBytes(path, bytes, problem)) return tunes;
    const std::string text(bytes.begin(), bytes.end());
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 2 && line[0] == 'X' && line[1] == ':') {
            try {
                tunes.push_back({std::stoi(line.substr(2)), {}});
            } catch (const std::exception&) {
            }
        } else if (line.size() >= 2 && line[0] == 'T' && line[1] == ':' && !tunes.empty() &&
                   tunes.back().title.empty()) {
            std::string title = line.substr(2);
            while (!title.empty() && title.front() == ' ') title.erase(0, 1);
            tunes.back().title = title;
        }
    }
    return tunes;
}

}  // namespace varimel
