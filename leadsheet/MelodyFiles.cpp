#include "leadsheet/MelodyFiles.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "alg/midi/midi_rw.h"
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

// A private folder (mode 0700) in the temporary folder for the files of one conversion,
// removed with everything in it when the object goes, on every way out.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::error_code error;
        fs::path base = fs::temp_directory_path(error);
        if (error) base = ".";
        std::string pattern = (base / "varimel-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ScratchFolder() {
        if (path_.empty()) return;
        std::error_code error;
        fs::remove_all(path_, error);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    bool ok() const { return !path_.empty(); }
    std::string file(const std::string& name) const { return (fs::path(path_) / name).string(); }

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

// Writes the melody as a MIDI file in a private folder and loads it into the master.
StatusCode loadImported(ChordMaster& master, const ImportedMelody& melody) {
    ScratchFolder folder;
    if (!folder.ok()) return master.refuseLoad("cannot make a temporary folder");
    std::string problem;
    const std::string midi = folder.file("melody.mid");
    if (!writeMelodyMidi(melody, midi, problem)) return master.refuseLoad(problem);
    return master.loadMidiFrom(midi);
}

StatusCode loadMusicXml(ChordMaster& master, bool compressed, const MusicXmlChoice& choice,
                        std::vector<std::string>& warnings, MelodyInfo& info) {
    std::vector<uint8_t> bytes;
    std::string problem;
    if (!readMelodyBytes(master.fileName(), bytes, problem)) return master.refuseLoad(problem);
    std::string text;
    if (compressed) {
        if (!readMxlScore(bytes, limits::kMaxMidiFileSize, text, problem, warnings))
            return master.refuseLoad(problem);
    } else {
        text.assign(bytes.begin(), bytes.end());
    }
    ImportedMelody melody;
    if (!readMusicXml(text, choice, melody, problem)) return master.refuseLoad(problem);
    warnings.insert(warnings.end(), melody.warnings.begin(), melody.warnings.end());
    info.title = melody.title;
    info.composer = melody.composer;
    info.repeats = melody.repeats;
    return loadImported(master, melody);
}

// How a run of the converter ended.
struct ProgramRun {
    enum class End { kExited, kNotFound, kNotStarted, kSignalled, kTimedOut } end = End::kExited;
    int code = 0;  // the exit status, the signal, or the reason it could not start (errno)
};

// Runs a program with arguments (no shell), its output going to `log`, for at most `seconds`:
// a run that takes longer is killed.
ProgramRun runProgram(const std::vector<std::string>& arguments, const std::string& log,
                      int seconds) {
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
    ProgramRun run;
    if (started != 0) {
        run.end = started == ENOENT ? ProgramRun::End::kNotFound : ProgramRun::End::kNotStarted;
        run.code = started;
        return run;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int result = 0;
    while (true) {
        const pid_t done = waitpid(child, &result, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) {
            run.end = ProgramRun::End::kNotStarted;
            run.code = errno;
            return run;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child, SIGKILL);
            while (waitpid(child, &result, 0) < 0 && errno == EINTR) {
            }
            run.end = ProgramRun::End::kTimedOut;
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFSIGNALED(result)) {
        run.end = ProgramRun::End::kSignalled;
        run.code = WTERMSIG(result);
    } else {
        run.code = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    }
    return run;
}

// What the converter said about the tune: its first error, else its last meaningful line.
std::string converterMessage(const std::string& log) {
    std::ifstream in(log);
    std::string line, last;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find("Error") != std::string::npos) return line;
        if (!line.empty() && line.find(kAbcConverter) == std::string::npos &&
            line.rfind("writing MIDI file", 0) != 0)
            last = line;
    }
    return last;
}

// The converter's MIDI file read back into a melody, so that its pick-up can be moved and
// its chords reduced. abc2midi strikes every note one tick after its time (so that the note
// before ends first); the melody gets that tick back.
class ConvertedTune : public MidiFileReader {
  public:
    ConvertedTune(const std::string& fileName, ImportedMelody& melody)
        : MidiFileReader(fileName, kModeWholeFile), melody_(melody) {}

    void onHeader(int, int, int division) override {
        if (division > 0) melody_.ticksPerQuarter = division;
    }
    void onTimeSignature(int numerator, int denominator, int, int) override {
        melody_.meters.push_back({currentTick(), numerator, denominator});
    }
    void onKeySignature(int sharpsFlats, int minor) override {
        melody_.keys.push_back({currentTick(), sharpsFlats, minor});
    }
    void onTempo(long microseconds) override {
        melody_.tempos.push_back({currentTick(), static_cast<int32_t>(microseconds)});
    }
    void onNoteOn(int ch, int key, int velocity) override {
        if (velocity == 0) return onNoteOff(ch, key, 0);
        sounding_[static_cast<size_t>(ch * 128 + key)] = currentTick();
    }
    void onNoteOff(int ch, int key, int) override {
        int64_t& start = sounding_[static_cast<size_t>(ch * 128 + key)];
        if (start < 0) return;
        const int64_t struck = start > 0 ? start - 1 : 0;
        if (melody_.notes.size() < static_cast<size_t>(limits::kMaxNotes))
            melody_.notes.push_back({struck, currentTick() - struck, key, ch});
        start = -1;
    }

  private:
    ImportedMelody& melody_;
    std::vector<int64_t> sounding_ = std::vector<int64_t>(16 * 128, -1);
};

std::string signalName(int signal) {
    const char* name = ::strsignal(signal);
    return name ? name : "signal " + std::to_string(signal);
}

StatusCode loadAbc(ChordMaster& master, const MelodySource& source,
                   std::vector<std::string>& warnings, MelodyInfo& info) {
    std::vector<uint8_t> bytes;
    std::string problem;
    if (!readMelodyBytes(master.fileName(), bytes, problem)) return master.refuseLoad(problem);
    const std::vector<AbcTune> tunes = abcTunes(master.fileName());
    if (tunes.empty()) return master.refuseLoad("the file holds no ABC tune (no X: line)");
    int tune = source.tune;
    if (tune == 0) {
        tune = tunes.front().number;
        if (tunes.size() > 1)
            warnings.push_back("the file holds " + std::to_string(tunes.size()) +
                               " tunes; the first (X:" + std::to_string(tune) + ") was opened");
    } else if (std::none_of(tunes.begin(), tunes.end(),
                            [tune](const AbcTune& t) { return t.number == tune; })) {
        return master.refuseLoad("the file has no tune X:" + std::to_string(tune));
    }
    for (const AbcTune& t : tunes) {
        if (t.number != tune) continue;
        info.title = t.title;
        info.composer = t.composer;
        break;
    }
    ScratchFolder folder;
    if (!folder.ok()) return master.refuseLoad("cannot make a temporary folder");
    const std::string midi = folder.file("tune.mid");
    const std::string log = folder.file("abc2midi.log");
    // Chord symbols would become a second channel, grace notes would take time from their
    // notes, and dynamics would hide the converter's bar accents; the melody alone is wanted.
    const ProgramRun run =
        runProgram({kAbcConverter, fs::absolute(master.fileName()).string(), std::to_string(tune),
                    "-o", midi, "-NGUI", "-NGRA", "-NFNP", "-quiet"},
                   log, source.converterSeconds);
    const std::string converter = kAbcConverter;
    switch (run.end) {
        case ProgramRun::End::kNotFound:
            return master.refuseLoad("ABC tunes are opened through " + converter +
                                     ", which is not installed (Debian package " + kAbcPackage +
                                     ")");
        case ProgramRun::End::kNotStarted:
            return master.refuseLoad(converter +
                                     " could not be started: " + std::strerror(run.code));
        case ProgramRun::End::kSignalled:
            return master.refuseLoad(converter + " crashed on the tune (" + signalName(run.code) +
                                     ")");
        case ProgramRun::End::kTimedOut:
            return master.refuseLoad(converter + " did not finish within " +
                                     std::to_string(source.converterSeconds) +
                                     " s and was stopped");
        case ProgramRun::End::kExited:
            break;
    }
    const std::string why = converterMessage(log);
    std::error_code error;
    if (run.code != 0 || !fs::exists(midi, error))
        return master.refuseLoad(converter + " could not convert the tune" +
                                 (why.empty() ? "" : ": " + why));

    ImportedMelody melody;
    ConvertedTune reader(midi, melody);
    if (!reader.run() || melody.notes.empty())
        return master.refuseLoad(converter + " wrote no melody for the tune" +
                                 (why.empty() ? "" : ": " + why));
    std::stable_sort(melody.notes.begin(), melody.notes.end(),
                     [](const auto& a, const auto& b) { return a.start < b.start; });
    // The converter strikes a chord's notes a few ticks apart; notes of one channel that sound
    // together are a chord, and its top note is the melody.
    std::vector<ImportedMelody::Note> kept;
    std::vector<size_t> lastOfChannel(16, SIZE_MAX);
    bool chords = false;
    for (const auto& note : melody.notes) {
        const size_t channel = static_cast<size_t>(note.channel & 15);
        const size_t previous = lastOfChannel[channel];
        if (previous != SIZE_MAX && note.start < kept[previous].start + kept[previous].duration) {
            ImportedMelody::Note& chord = kept[previous];
            const int64_t end = std::max(chord.start + chord.duration, note.start + note.duration);
            chord.key = std::max(chord.key, note.key);
            chord.duration = end - chord.start;
            chords = true;
            continue;
        }
        lastOfChannel[channel] = kept.size();
        kept.push_back(note);
    }
    melody.notes = std::move(kept);
    if (chords) warnings.push_back("chords in the melody were reduced to their top note");
    // The converter starts the tune on a bar line; a pick-up moves to the end of its bar.
    const AbcOpening opening = abcOpening(std::string(bytes.begin(), bytes.end()), tune);
    if (opening.known && opening.pickUp.n > 0) {
        const int64_t quarter = melody.ticksPerQuarter;
        const int64_t bar = opening.bar.n * 4 * quarter / opening.bar.d;
        const int64_t pickUp = opening.pickUp.n * 4 * quarter / opening.pickUp.d;
        if (pickUp < bar) {
            const int64_t shift = bar - pickUp;
            for (auto& note : melody.notes) note.start += shift;
            for (auto& meter : melody.meters)
                if (meter.tick > 0) meter.tick += shift;
            for (auto& key : melody.keys)
                if (key.tick > 0) key.tick += shift;
            for (auto& tempo : melody.tempos)
                if (tempo.tick > 0) tempo.tick += shift;
        }
    } else if (!opening.known) {
        warnings.push_back(
            "the notes before the first bar line could not be measured; a "
            "pick-up may shift the bars");
    }
    return loadImported(master, melody);
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
    MelodyInfo info;
    return loadMelodyFile(master, source, warnings, info);
}

StatusCode loadMelodyFile(ChordMaster& master, const MelodySource& source,
                          std::vector<std::string>& warnings, MelodyInfo& info) {
    info = MelodyInfo{};
    switch (melodyFormatOf(master.fileName())) {
        case MelodyFormat::kMusicXml:
            return loadMusicXml(master, false, source.musicXml, warnings, info);
        case MelodyFormat::kCompressedMusicXml:
            return loadMusicXml(master, true, source.musicXml, warnings, info);
        case MelodyFormat::kAbc:
            return loadAbc(master, source, warnings, info);
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
                tunes.push_back({std::stoi(line.substr(2)), {}, {}});
            } catch (const std::exception&) {
            }
        } else if (line.size() >= 2 && (line[0] == 'T' || line[0] == 'C') && line[1] == ':' &&
                   !tunes.empty()) {
            std::string& field = line[0] == 'T' ? tunes.back().title : tunes.back().composer;
            if (!field.empty()) continue;
            field = line.substr(2);
            while (!field.empty() && field.front() == ' ') field.erase(0, 1);
            while (!field.empty() && field.back() == ' ') field.pop_back();
        }
    }
    return tunes;
}

}  // namespace varimel
