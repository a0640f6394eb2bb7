// DocumentFlow: the rules of opening, saving and closing a document that touch no control —
// what a load status means to the user, which name a save goes to and the lines of the
// melody-channel choice. (Which files open, and how, is the document opening's business.)
#pragma once

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
LoadStatusAnswer answerLoadStatus(int status, const std::string& fileName);
// The report after status 89 could not be resolved: with no candidate channel the user learns
// why; after the user's own Cancel nothing more is said.
LoadStatusAnswer unresolvedChannelAnswer(const std::string& fileName, bool userCancelled);

// The lines of the melody-channel choice: "<channel> - <instrument of its first program
// change>", or "<channel> - Channel" when the channel has none. Channels count from 0.
struct ChannelCandidate {
    int channel = 0;
    int program = -1;  // -1: no program change on the channel
};
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
