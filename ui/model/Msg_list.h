// Msg_list: every text the program shows the user in a message box, under one entry name, with
// the kind of box and its buttons; plus the texts the main window builds itself.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace varimel::model {

// The kind selects the box's icon and title: error ("Error", critical icon), warning
// ("Warning"), confirmation ("Confirm", question icon), plain (no icon, the application
// title), information (information icon, the application title).
enum class MessageKind { None, Error, Warning, Confirmation, Plain, Information };
enum class MessageButtons { None, Ok, YesNoCancel };

struct MessageEntry {
    std::string_view name;
    std::string_view text;
    MessageKind kind = MessageKind::None;
    MessageButtons buttons = MessageButtons::None;
};

// Line breaks inside the texts are the two characters line feed and carriage return, in that
// order; leading and trailing blanks belong to the texts.
namespace msg {
extern const MessageEntry msgRunSetup;
extern const MessageEntry msgApplicationError;
extern const MessageEntry msgSaveChanges;
extern const MessageEntry msgCantOpenFile;
extern const MessageEntry msgKeyUnknownCreate;
extern const MessageEntry msgApplyMinorKey;
extern const MessageEntry msgManyKeys;
extern const MessageEntry msgKeyUnknownOpen;
extern const MessageEntry msgTooShort;
extern const MessageEntry msgNotMonophonic;
extern const MessageEntry msgTooLow;
extern const MessageEntry msgCantApplyStyle;
extern const MessageEntry msgCantPlayStyle;
extern const MessageEntry msgStyleHint;
extern const MessageEntry msgCreatedBy;
extern const MessageEntry msgMuteStyle;
extern const MessageEntry msgPlayStyle;
extern const MessageEntry msgNoStyleForMeter;
extern const MessageEntry msgNoStylesLibrary;
extern const MessageEntry msgNoArrangementsLibrary;
extern const MessageEntry msgCantSave;
}  // namespace msg

// The whole table in its order (the new entries last).
std::span<const MessageEntry> messageTable();
// The entry of a name, or null.
const MessageEntry* findMessage(std::string_view name);

// Texts the main window builds itself.
namespace text {
inline constexpr std::string_view kVisit = "Visit %s.";
inline constexpr std::string_view kManually = "Manualy  .....";
inline constexpr std::string_view kCompositionInfo = "Composition info";
inline constexpr std::string_view kCompositionTitle = "Composition title:";
inline constexpr std::string_view kAuthorName = "Author name:";
inline constexpr std::string_view kErrorNumber = "Error %d";
inline constexpr std::string_view kHelpHint = "For Help, press F1";
}  // namespace text

// Fills the one "%s" of a text.
std::string formatText(std::string_view format, std::string_view argument);
// Fills the one "%d" of a text.
std::string formatText(std::string_view format, long long number);

// The form a box shows: each "\n\r" (and any lone "\r") becomes one line break.
std::string displayText(std::string_view text);

}  // namespace varimel::model
