// DocumentFlow: the rules of opening, saving and closing a document that touch no control —
// what a load status means to the user, which name a save goes to and the lines of the
// melody-channel choice. (Which files open, and how, is the document opening's business.)
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/model/Msg_list.h"

namespace varimel::model {

class InstrumentNames;

// What the window does with a load status other than 0.
struct LoadStatusAnswer {
    enum class Action { Continue, ChooseChannel, Fail };
    Action action = Action::Fail;
    MessageKind kind = MessageKind::None;  // the box to show, None for no box
    std::string text;                      // its text
    bool keyUnrecognised = false;          // 92: AutoKey goes off for this document
};
// The refusal of a MIDI file read without an error (`status` not 101) that holds no melody: no
// notes at all, or notes on the General MIDI drum channel (10) only. Empty when it has one.
std::string noMelodyText(std::uint16_t noteChannels, int status, const std::string& fileName);

// `reason` is the reader's account of an unreadable file, shown instead of the status number.
LoadStatusAnswer answerLoadStatus(int status, const std::string& fileName,
                                  const std::string& reason = {});
// The report after status 89 could not be resolved: with no candidate channel the user learns
// why; after the user's own Cancel nothing more is said.
LoadStatusAnswer unresolvedChannelAnswer(const std::string& fileName, bool userCancelled);

// The lines of the melody-channel choice: "<channel> - <instrument of its first program
// change>", or "<channel> - Channel" when the channel has none. Channels count from 0.
struct ChannelCandidate {
    int channel = 0;
    int program = -1;       // -1: no program change on the channel
    std::string trackName;  // of the first track whose notes use the channel; may be empty
};
// The name of the first track with notes on each of the 16 channels, read from a MIDI file;
// empty names where there is none (or the file cannot be read).
std::array<std::string, 16> trackNamesOfChannels(const std::string& midiFile);
std::vector<std::string> channelCandidateLines(const std::vector<ChannelCandidate>& candidates,
                                               const InstrumentNames& names);

// Save modes of saveDocument.
enum class SaveMode : int8_t { CloseQuestion = -1, Save = 0, SaveAs = 1, Export = 2 };

struct SavePlan {
    bool ask = false;         // ask " Save changes to <name>?" first (Yes/No/Cancel)
    bool go = false;          // there is something to write (before the question's answer)
    bool showDialog = false;  // run the save dialog with `filter`, proposing `proposedName`
    std::string filter;
    std::string proposedName;  // the work name without folder and extension
    std::string workName;      // the target when no dialog runs
};
SavePlan planSave(SaveMode mode, bool needsProjectName, bool changed,
                  const std::string& documentFileName);
// The name a save writes to once the user chose `name`: ".mid" (export) or ".vml" appended
// when it has no extension.
std::string withDefaultExtension(const std::string& name, SaveMode mode);
// " Save changes to <name>?"
std::string saveQuestion(const std::string& workName);
// "Can't save file <name>\n\r<reason>"
std::string cantSaveText(const std::string& fileName, const std::string& reason);

// Dialog filters, in the "caption|pattern|caption|pattern" form.
inline constexpr const char* kOpenFilter =
    "Midi Files (*.mid)|*.mid|Varimel Project files (*.vml)|*.vml";
inline constexpr const char* kProjectFilter = "Varimel Project files (*.vml)|*.vml";
inline constexpr const char* kExportFilter = "Midi Files (*.mid)|*.mid";

// A file name without its folder.
std::string fileNameOnly(const std::string& path);

}  // namespace varimel::model
