// CommandState: which of the main window's commands and controls are available with no
// document, an open document, a saved or changed one and one with an accompaniment, as an
// ordered list of steps the window applies to its controls by name.
#pragma once

#include <string_view>
#include <vector>

namespace varimel::model {

namespace command_mode {
inline constexpr int kNoDocument = 0;
inline constexpr int kOpened = 1;
inline constexpr int kSaved = 2;
inline constexpr int kClosed = 3;
inline constexpr int kChanged = 4;
inline constexpr int kAccompaniment = 5;
}  // namespace command_mode

enum class ControlAction {
    Enable,
    Disable,
    Show,
    Hide,
    Release,  // a toggle button goes up
    // Steps that are not about one control.
    LightsOff,                // the three mode lights drawn off
    ClearArrangementCheck,    // the style dialog's "Enable Arrangement"
    ClearArrangementApplied,  // the arrangement dialog's mark of an applied arrangement
    KeyToAuto,                // cb_Key shows item 0
    ClearMeter,               // l_Meter shows the empty text
    ClearTempo,               // the tempo field and bar as they start, without a document
};

struct ControlStep {
    std::string_view control;  // empty for the steps that are not about one control
    ControlAction action;
    bool operator==(const ControlStep&) const = default;
};

// Enables (or disables) the document's controls; imgSAM is shown or hidden with them. The
// print controls are only ever disabled here.
std::vector<ControlStep> documentControlSteps(bool enable);
// The steps of one mode 0..5; none for another number.
std::vector<ControlStep> commandStateSteps(int mode);

// The controls documentControlSteps touches, in their order.
std::vector<std::string_view> documentControls();
std::vector<std::string_view> printControls();

}  // namespace varimel::model
