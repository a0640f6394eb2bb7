#include "ui/model/DocumentFlow.h"

#include "alg/midi/midi_rw.h"
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

LoadStatusAnswer answerLoadStatus(int status, const std::string& fileName,
                                  const std::string& reason) {
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
            // The reader's own words say what is wrong with the file; the number does not.
            return failure(std::string(msg::msgCantOpenFile.text) + fileName + " \n\r" +
                           (reason.empty() ? std::to_string(status) : reason));
    }
}

std::string noMelodyText(std::uint16_t noteChannels, int status, const std::string& fileName) {
    constexpr std::uint16_t kDrumChannel = 1u << 9;
    constexpr int kUnreadable = 101;
    if (status == kUnreadable) return {};
    const std::string head = std::string(msg::msgCantOpenFile.text) + fileName + " \n\r";
    if (noteChannels == 0)
        return head + "The file holds no notes: there is no melody to harmonise.";
    if (noteChannels == kDrumChannel) {
        return head + "All its notes are drums (MIDI channel 10): there is no melody to harmonise.";
    }
    return {};
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
        // Channels are counted from 1, as instruments and sequencers count them.
        std::string line = "Channel " + std::to_string(candidate.channel + 1);
        if (candidate.program >= 0) line += " - " + names.programName(candidate.program);
        if (!candidate.trackName.empty()) line += " - \"" + candidate.trackName + "\"";
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

namespace {

// Collects each track's name (text type 3) and the channels its notes use.
class TrackNameReader final : public MidiFileReader {
  public:
    explicit TrackNameReader(const std::string& file) : MidiFileReader(file, 0) {}
    std::array<std::string, 16> names;

  protected:
    void onTrackStart(int, std::int64_t, int) override {
        trackName_.clear();
        channels_ = 0;
    }
    void onTextEvent(int type, int length, const char*, const std::uint8_t* data) override {
        if (type == kTrackNameType && trackName_.empty() && data != nullptr && length > 0)
            trackName_.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    }
    void onNoteOn(int channel, int, int velocity) override {
        if (velocity > 0 && channel >= 0 && channel < 16) channels_ |= 1u << channel;
    }
    void onTrackEnd(int) override {
        for (size_t channel = 0; channel < names.size(); ++channel) {
            if ((channels_ >> channel & 1u) != 0 && names[channel].empty())
                names[channel] = trackName_;
        }
    }

  private:
    static constexpr int kTrackNameType = 3;
    std::string trackName_;
    std::uint32_t channels_ = 0;
};

}  // namespace

std::array<std::string, 16> trackNamesOfChannels(const std::string& midiFile) {
    TrackNameReader reader(midiFile);
    reader.run();
    return reader.names;
}

}  // namespace varimel::model
