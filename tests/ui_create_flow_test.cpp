// What Create Accompaniment does with each status of a harmonisation.
#include <gtest/gtest.h>

#include "ui/model/CreateFlow.h"

namespace varimel::model {
namespace {

TEST(CreateFlow, EachStatusGoesOnAsksWarnsOrStops) {
    const CreateStep ok = createStep(status::kOk);
    EXPECT_EQ(ok.action, CreateAction::GoOn);
    EXPECT_EQ(ok.message, nullptr);

    const CreateStep many = createStep(status::kManyKeys);
    EXPECT_EQ(many.action, CreateAction::GoOn);
    EXPECT_EQ(many.message, &msg::msgManyKeys);

    const CreateStep ask = createStep(status::kMajorOrRelativeMinor);
    EXPECT_EQ(ask.action, CreateAction::AskMinorKey);
    EXPECT_EQ(ask.message, &msg::msgApplyMinorKey);
    EXPECT_EQ(msg::msgApplyMinorKey.buttons, MessageButtons::YesNoCancel);

    const CreateStep unknown = createStep(status::kKeyNotRecognised);
    EXPECT_EQ(unknown.action, CreateAction::Stop);
    EXPECT_EQ(unknown.message, &msg::msgKeyUnknownCreate);
    EXPECT_TRUE(unknown.autoKeyOff);

    const CreateStep failed = createStep(1);
    EXPECT_EQ(failed.action, CreateAction::Stop);
    EXPECT_EQ(failed.message, nullptr);
    EXPECT_EQ(failed.errorText, "Error 1");
    EXPECT_FALSE(failed.autoKeyOff);
}

TEST(CreateFlow, TheRunAfterTheAnswerIsJudgedLikeTheFirstButNeverAsksAgain) {
    EXPECT_EQ(createStep(status::kOk, true).action, CreateAction::GoOn);
    EXPECT_EQ(createStep(status::kManyKeys, true).message, &msg::msgManyKeys);
    EXPECT_EQ(createStep(status::kKeyNotRecognised, true).action, CreateAction::Stop);
    const CreateStep again = createStep(status::kMajorOrRelativeMinor, true);
    EXPECT_EQ(again.action, CreateAction::Stop);
    EXPECT_EQ(again.errorText, "Error 96");
}

}  // namespace
}  // namespace varimel::model
