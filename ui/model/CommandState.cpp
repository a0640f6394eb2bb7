#include "ui/model/CommandState.h"

#include <array>

namespace varimel::model {

namespace {

using enum ControlAction;

constexpr std::array<std::string_view, 31> kDocumentControls{
    "mnAcc",      "mnHarm",   "mnFClose",  "b_CreateAcc", "b_StyleAcc", "tb_Instr", "imgSAM",
    "l_Beat",     "l_Style",  "l_Arng",    "tb_Arng",     "mnAPArran",  "tb_Opt",   "mnFSave",
    "mnFSaveAs",  "tb_Save",  "mnFExport", "tb_Export",   "tb_Close",   "b_Play",   "b_Stop",
    "b_Back",     "b_Forw",   "b_Mark",    "b_Play2",     "me_From",    "me_To",    "trb_VMel",
    "chb_MelOff", "trb_VChr", "chb_ChrOff"};

// Commands that need chords: printing, and the lead sheet.
constexpr std::array<std::string_view, 5> kPrintControls{"tb_PrintPr", "tb_Print", "mnFPrint",
                                                         "mnFPrintPrev", "mnFLeadSheet"};

void add(std::vector<ControlStep>& steps, std::initializer_list<std::string_view> names,
         ControlAction action) {
    for (std::string_view name : names) steps.push_back({name, action});
}

void addChanged(std::vector<ControlStep>& steps) {
    add(steps, {"mnFSave", "tb_Save"}, Enable);
}

}  // namespace

std::vector<std::string_view> documentControls() {
    return {kDocumentControls.begin(), kDocumentControls.end()};
}

std::vector<std::string_view> printControls() {
    return {kPrintControls.begin(), kPrintControls.end()};
}

std::vector<ControlStep> documentControlSteps(bool enable) {
    std::vector<ControlStep> steps;
    for (std::string_view name : kDocumentControls) {
        steps.push_back({name, enable ? Enable : Disable});
        if (name == "imgSAM") steps.push_back({name, enable ? Show : Hide});
    }
    if (!enable)
        for (std::string_view name : kPrintControls) steps.push_back({name, Disable});
    return steps;
}

std::vector<ControlStep> commandStateSteps(int mode) {
    std::vector<ControlStep> steps;
    switch (mode) {
        case command_mode::kNoDocument:
            return documentControlSteps(false);
        case command_mode::kOpened:
            steps = documentControlSteps(true);
            add(steps,
                {"mnAStyle", "b_StyleAcc", "tb_Arng", "l_Beat", "l_Style", "l_Arng", "mnAPArran"},
                Disable);
            add(steps, {"imgSAM"}, Hide);
            add(steps, {"tb_Close"}, Release);
            return steps;
        case command_mode::kSaved:
            add(steps, {"mnFSave", "tb_Save"}, Disable);
            return steps;
        case command_mode::kClosed:
            steps = documentControlSteps(false);
            steps.push_back({{}, LightsOff});
            add(steps, {"tb_Arng"}, Release);
            steps.push_back({{}, ClearArrangementCheck});
            steps.push_back({{}, ClearArrangementApplied});
            add(steps, {"chb_MelOff", "chb_ChrOff"}, Release);
            add(steps, {"trb_VMel", "trb_VChr"}, Disable);
            steps.push_back({{}, KeyToAuto});
            steps.push_back({{}, ClearMeter});
            steps.push_back({{}, ClearTempo});
            return steps;
        case command_mode::kChanged:
            addChanged(steps);
            return steps;
        case command_mode::kAccompaniment:
            add(steps, {"b_StyleAcc", "mnAStyle", "tb_Arng"}, Enable);
            add(steps, {"imgSAM"}, Show);
            add(steps,
                {"l_Beat", "l_Style", "l_Arng", "mnAPArran", "tb_PrintPr", "tb_Print", "mnFPrint",
                 "mnFPrintPrev", "mnFLeadSheet"},
                Enable);
            addChanged(steps);
            return steps;
        default:
            return steps;
    }
}

}  // namespace varimel::model
