// The program's ways of reading a file from outside, each run the whole way the program runs it:
// a melody is loaded, checked, analysed and harmonised; a project is loaded, harmonised and
// saved again; a registry file is read as at start-up. The fuzz targets, the regression inputs
// and the mutation test all go through these, so a crash found by one is replayed by the others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace varimel {
class ChordMaster;
class Composition;
}  // namespace varimel

namespace varimel::test {

// How one read ended. `status` is the program's StatusCode for melodies and projects, and
// 0 (read) or 101 (refused) for the other files.
struct ReadOutcome {
    std::int32_t status = 0;
    std::string message;  // the reader's own text for a refusal, when it has one
    std::string broken;   // set when the read broke a promise of the program (a finding)
};

// The StatusCodes a load may answer; anything else means a load ended in an undefined state.
bool isKnownStatus(std::int32_t status);

// A MIDI file as File > Open takes it: load, melody check and analysis; after status 89 the
// first channel that carried notes is taken as the melody, as the user would choose it; an
// opened document (status 0 or 92) is then harmonised.
ReadOutcome readMelodyFile(const std::string& path);
// A MIDI file opened up to the document, without harmonising: load, melody check and analysis
// (with the first note channel after status 89), then the bare sequential reader through its
// window with the option bits taken from the file's last two bytes.
ReadOutcome readMelodyFileOnly(const std::string& path);
// A project file as File > Open takes it, then harmonised and encoded again as Save would.
ReadOutcome readProjectFile(const std::string& path);
// A registry file as the main window reads it at start.
ReadOutcome readRegistryFile(const std::string& path);

// A harmonised piece for the accompaniment readers to render over.
std::unique_ptr<ChordMaster> harmonisedPiece(const std::string& midiPath);

// A style library folder (its "styles.lst" and the style files it names) as the main window
// loads it, then asked for the automatic choice in the common meters.
ReadOutcome readStyleLibrary(const std::string& folder);
// A style file as the library reads it, previewed as the style dialog plays it and rendered over
// each piece.
ReadOutcome readStyleFile(const std::vector<std::uint8_t>& bytes,
                          const std::vector<Composition*>& pieces);
// An arrangement library folder ("arangs.lst"); each automatic choice is then selected, which
// reads the arrangement file it names.
ReadOutcome readArrangementLibrary(const std::string& folder);
// An arrangement file as the library reads it, rendered over each piece with its part plan.
ReadOutcome readArrangementFile(const std::vector<std::uint8_t>& bytes,
                                const std::vector<Composition*>& pieces);

// Writes bytes to a file and removes it again, for readers that only take a file name. Lives in
// /dev/shm when there is one, so that millions of fuzz runs do not touch the disk.
class ScratchFile {
  public:
    explicit ScratchFile(std::string_view extension);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // False when the bytes could not be written.
    bool write(const std::uint8_t* data, std::size_t size);
    bool write(const std::vector<std::uint8_t>& bytes) { return write(bytes.data(), bytes.size()); }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// A folder for a library's files, removed with everything in it.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool write(const std::string& name, const std::uint8_t* data, std::size_t size);
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace varimel::test
