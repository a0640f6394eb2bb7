#include "ui/model/DocumentFlow.h"

#include "ui/model/InstrumentNames.h"

namespace varimel::model {

namespace {

// The extension of a file name, dot included, or "" (a dot in a folder name does not count).
std::string extensionOf(const std::string& path) {
    const std::string name = fileNameOnly(path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string withoutExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

LoadStatusAnswer failure(std::string text) {
    LoadStatusAnswer answer;
    answer.action = LoadStatusAnswer::Action::Fail;
    answer.kind = text.empty() ? MessageKind::None : MessageKind::Error;
    answer.text = std::move(text);
    return answer;
}

}  // namespace

std::string fileNameOnly(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

LoadStatusAnswer answerLoadStatus(int status, const std::string& fileName) {
    LoadStatusAnswer answer;
    switch (status) {
        case 92:
            answer.action = LoadStatusAnswer::Action::Continue;
            answer.kind = msg::msgKeyUnknownOpen.kind;
            answer.text = std::string(msg::msgKeyUnknownOpen.text);
            answer.keyUnrecognised = true;
            return answer;
        case 89:
            answer.action = LoadStatusAnswer::Action::ChooseChannel;
            return answer;
        case 90:
            return failure(std::string(msg::msgNotMonophonic.text));
        case 91:
            return failure(std::string(msg::msgTooShort.text));
        case 93:
            return failure(std::string(msg::msgTooLow.text));
        default:
            return failure(std::string(msg::msgCantOpenFile.text) + fileName + " \n\r" +
                           std::to_string(status));
    }
}

LoadStatusAnswer unresolvedChannelAnswer(const std::string& fileName, bool userCancelled) {
    if (userCancelled) return failure({});
    return failure(std::string(msg::msgCantOpenFile.text) + fileName + " \n\r89");
}

std::vector<std::string> channelCandidateLines(const std::vector<ChannelCandidate>& candidates,
                                               const InstrumentNames& names) {
    std::vector<std::string> lines;
    lines.reserve(candidates.size());
    for (const ChannelCandidate& candidate : candidates) {
        std::string line = std::to_string(candidate.channel);
        if (candidate.program >= 0) {
            line += " - " + names.programName(candidate.program);
        } else {
            line += " - Channel";
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

SavePlan planSave(SaveMode mode, bool needsProjectName, bool changed,
                  const std::string& documentFileName) {
    SavePlan plan;
    plan.go = (mode == SaveMode::SaveAs || mode == SaveMode::Export) ? true : changed;
    plan.ask = mode == SaveMode::CloseQuestion && plan.go;
    plan.workName = documentFileName;
    if (mode != SaveMode::Save || needsProjectName) {
        plan.showDialog = true;
        plan.filter = mode == SaveMode::Export ? kExportFilter : kProjectFilter;
        plan.proposedName = withoutExtension(fileNameOnly(documentFileName));
    } else {
        // Save of a document that came from a project: back to its own file.
        plan.workName = withoutExtension(documentFileName) + ".vml";
    }
    return plan;
}

std::string withDefaultExtension(const std::string& name, SaveMode mode) {
    if (!extensionOf(name).empty()) return name;
    return name + (mode == SaveMode::Export ? ".mid" : ".vml");
}

std::string saveQuestion(const std::string& workName) {
    return std::string(msg::msgSaveChanges.text) + workName + "?";
}

std::string cantSaveText(const std::string& fileName, const std::string& reason) {
    return std::string(msg::msgCantSave.text) + fileName + "\n\r" + reason;
}

}  // namespace varimel::model
