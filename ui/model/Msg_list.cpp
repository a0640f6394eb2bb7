#include "ui/model/Msg_list.h"

#include <array>

#include "accompaniment/Tarangsmaster.h"
#include "accompaniment/Tstylemaster.h"

namespace varimel::model {

namespace msg {
constexpr auto Error = MessageKind::Error;
constexpr auto Warning = MessageKind::Warning;
constexpr auto Confirmation = MessageKind::Confirmation;
constexpr auto Ok = MessageButtons::Ok;
constexpr auto YesNoCancel = MessageButtons::YesNoCancel;

const MessageEntry msgRunSetup{"msgRunSetup", "Please run setup again", Error, Ok};
const MessageEntry msgApplicationError{"msgApplicationError", " Application Error "};
const MessageEntry msgSaveChanges{"msgSaveChanges", " Save changes to ", Confirmation, YesNoCancel};
const MessageEntry msgCantOpenFile{"msgCantOpenFile", "Can't open file ", Error, Ok};
const MessageEntry msgKeyUnknownCreate{
    "msgKeyUnknownCreate",
    "   Warning! \n\r Can not recognize key of the melody. \n\r Define its key yourself or load "
    "other tune.",
    Error, Ok};
const MessageEntry msgApplyMinorKey{"msgApplyMinorKey", "Do you want to apply a minor key?",
                                    Confirmation, YesNoCancel};
const MessageEntry msgManyKeys{"msgManyKeys",
                               " Warning!\n\r Maybe accompaniment will not be created "
                               "correctly.\n\r Probably there are many keys..\n\r Try it anyway.",
                               Warning, Ok};
const MessageEntry msgKeyUnknownOpen{
    "msgKeyUnknownOpen",
    "  Warning!\n\r Can not recognize key of the melody.\n\r Define its key yourself or load "
    "other tune.",
    Warning, Ok};
const MessageEntry msgTooShort{"msgTooShort",
                               "Submitted fragment is too short to find out its harmony "
                               "correctly.\n\r Load the most part of the melody",
                               Error, Ok};
const MessageEntry msgNotMonophonic{
    "msgNotMonophonic",
    "Please, submit only monophonic melody - \n\r using only one note sounding at a time.", Error,
    Ok};
const MessageEntry msgTooLow{"msgTooLow",
                             "The melody lies too low: most of its notes are below C4 (MIDI note "
                             "48).\n\r Transpose it up an octave and load it again.",
                             Error, Ok};
const MessageEntry msgCantApplyStyle{"msgCantApplyStyle", "   Can't apply selected style   "};
const MessageEntry msgCantPlayStyle{"msgCantPlayStyle", "   Can't play back the style   "};
const MessageEntry msgStyleHint{"msgStyleHint", " %s\n\r %d beats per bar\n\r Meter %d/%d"};
const MessageEntry msgCreatedBy{"msgCreatedBy",
                                "Accompaniment is created by means of the Varimel."};
const MessageEntry msgMuteStyle{"msgMuteStyle", "Click to mute the style"};
const MessageEntry msgPlayStyle{"msgPlayStyle", "Click to play the style"};
const MessageEntry msgNoStyleForMeter{"msgNoStyleForMeter", kNoStyleForMeterMessage, Warning, Ok};
const MessageEntry msgNoStylesLibrary{"msgNoStylesLibrary", kStylesLibraryMessage, Error, Ok};
const MessageEntry msgNoArrangementsLibrary{"msgNoArrangementsLibrary", kArrangementsLibraryMessage,
                                            Error, Ok};
const MessageEntry msgCantSave{"msgCantSave", "Can't save file ", Error, Ok};
}  // namespace msg

namespace {
const std::array<const MessageEntry*, 21> kTable{&msg::msgRunSetup,
                                                 &msg::msgApplicationError,
                                                 &msg::msgSaveChanges,
                                                 &msg::msgCantOpenFile,
                                                 &msg::msgKeyUnknownCreate,
                                                 &msg::msgApplyMinorKey,
                                                 &msg::msgManyKeys,
                                                 &msg::msgKeyUnknownOpen,
                                                 &msg::msgTooShort,
                                                 &msg::msgNotMonophonic,
                                                 &msg::msgCantApplyStyle,
                                                 &msg::msgCantPlayStyle,
                                                 &msg::msgStyleHint,
                                                 &msg::msgCreatedBy,
                                                 &msg::msgMuteStyle,
                                                 &msg::msgPlayStyle,
                                                 &msg::msgNoStyleForMeter,
                                                 &msg::msgNoStylesLibrary,
                                                 &msg::msgNoArrangementsLibrary,
                                                 &msg::msgTooLow,
                                                 &msg::msgCantSave};

std::array<MessageEntry, kTable.size()> copyTable() {
    std::array<MessageEntry, kTable.size()> entries;
    for (std::size_t i = 0; i < kTable.size(); ++i) entries[i] = *kTable[i];
    return entries;
}
}  // namespace

std::span<const MessageEntry> messageTable() {
    static const auto entries = copyTable();
    return entries;
}

const MessageEntry* findMessage(std::string_view name) {
    for (const MessageEntry* entry : kTable)
        if (entry->name == name) return entry;
    return nullptr;
}

std::string formatText(std::string_view format, std::string_view argument) {
    const auto at = format.find("%s");
    if (at == std::string_view::npos) return std::string(format);
    std::string result(format.substr(0, at));
    result += argument;
    result += format.substr(at + 2);
    return result;
}

std::string formatText(std::string_view format, long long number) {
    const auto at = format.find("%d");
    if (at == std::string_view::npos) return std::string(format);
    return std::string(format.substr(0, at)) + std::to_string(number) +
           std::string(format.substr(at + 2));
}

std::string displayText(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            result += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\r') ++i;
        } else if (c == '\r') {
            result += '\n';
        } else {
            result += c;
        }
    }
    return result;
}

}  // namespace varimel::model
