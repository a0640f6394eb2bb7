// CreateFlow: what Create Accompaniment does with the status of a harmonisation — go on, ask
// whether the piece is in the relative minor, warn, or stop with a message and the previous
// harmony put back.
#pragma once

#include <string>

#include "engine/Status.h"
#include "ui/model/Msg_list.h"

namespace varimel::model {

enum class CreateAction {
    GoOn,         // the chords are made
    AskMinorKey,  // major or its relative minor: the user decides, then harmonise again
    Stop,         // no chords: show the message, put the previous harmony back
};

struct CreateStep {
    CreateAction action = CreateAction::Stop;
    // The box to show: an entry of the message table, or (entry null) an error text.
    const MessageEntry* message = nullptr;
    std::string errorText;
    // The key is no longer recognised but taken from the file (the user is asked to choose).
    bool autoKeyOff = false;
};

// `afterQuestion`: the harmonisation that followed the user's answer about the minor key; it is
// judged like the first, except that asking again would loop.
CreateStep createStep(StatusCode status, bool afterQuestion = false);

}  // namespace varimel::model
