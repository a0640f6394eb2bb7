#include "ui/model/CreateFlow.h"

namespace varimel::model {

CreateStep createStep(StatusCode status, bool afterQuestion) {
    CreateStep step;
    switch (status) {
        case status::kOk:
            step.action = CreateAction::GoOn;
            return step;
        case status::kManyKeys:
            step.action = CreateAction::GoOn;
            step.message = &msg::msgManyKeys;
            return step;
        case status::kKeyNotRecognised:
            step.message = &msg::msgKeyUnknownCreate;
            step.autoKeyOff = true;
            return step;
        case status::kMajorOrRelativeMinor:
            if (!afterQuestion) {
                step.action = CreateAction::AskMinorKey;
                step.message = &msg::msgApplyMinorKey;
                return step;
            }
            break;
        default:
            break;
    }
    step.errorText = formatText(text::kErrorNumber, static_cast<long long>(status));
    return step;
}

}  // namespace varimel::model
