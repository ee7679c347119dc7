#include "app/event_loop.h"
#include "app/event_queue.h"
#include "app/window_ids.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace taktor {
namespace {

UiEvent Tick(int window = kMainWindowId, int timer = kValidationTimerId) {
    return UiEvent{TimerEvent, window, 0, timer, 0};
}
UiEvent Press(int type = kButtonPressed) {
    return UiEvent{ControlEvent, kMainWindowId, kWriteButtonId, 0, type};
}
UiEvent Close(int window = kMainWindowId) {
    return UiEvent{CloseEvent, window, 0, 0, 0};
}

TEST(EventQueue, MergesAnEventEqualToTheNewestWaiting) {
    EventQueue queue;
    for (int i = 0; i < 20; ++i) {
        queue.Post(Tick());
    }
    EXPECT_EQ(queue.Size(), 1u);
    queue.Post(Press());
    queue.Post(Tick());  // not equal to the newest (the press): queued
    queue.Post(Tick(kMainWindowId, 2));
    queue.Post(Tick(kWaitWindowId));
    EXPECT_EQ(queue.Size(), 5u);

    UiEvent e;
    ASSERT_TRUE(queue.Take(e));
    EXPECT_EQ(e, Tick());
    ASSERT_TRUE(queue.Take(e));
    EXPECT_EQ(e, Press());
    // Once the first tick was taken, a new tick is queued again behind the others.
    queue.Post(Tick());
    EXPECT_EQ(queue.Size(), 4u);
}

TEST(EventQueue, DifferentTypesOrControlsAreNotMerged) {
    EventQueue queue;
    queue.Post(UiEvent{ControlEvent, kMainWindowId, 2, 0, kFieldFocusGained});
    queue.Post(UiEvent{ControlEvent, kMainWindowId, 2, 0, kFieldFocusLost});
    queue.Post(UiEvent{ControlEvent, kMainWindowId, 3, 0, kFieldFocusLost});
    queue.Post(UiEvent{ControlEvent, kMainWindowId, 3, 0, kFieldFocusLost});
    EXPECT_EQ(queue.Size(), 3u);
}

TEST(EventQueue, DropWindowRemovesOnlyThatWindowsEvents) {
    EventQueue queue;
    queue.Post(Tick());
    queue.Post(Close(kWaitWindowId));
    queue.Post(Press());
    queue.Post(Close(kWaitWindowId));
    queue.DropWindow(kWaitWindowId);
    UiEvent e;
    ASSERT_TRUE(queue.Take(e));
    EXPECT_EQ(e, Tick());
    ASSERT_TRUE(queue.Take(e));
    EXPECT_EQ(e, Press());
    EXPECT_FALSE(queue.Take(e));
}

class ScriptedSource : public EventSource {
public:
    explicit ScriptedSource(std::vector<UiEvent> events) : events_(std::move(events)) {}
    bool WaitForEvent(UiEvent& event) override {
        if (next_ == events_.size()) {
            return false;
        }
        event = events_[next_++];
        return true;
    }

private:
    std::vector<UiEvent> events_;
    size_t next_ = 0;
};

class RecordingActions : public EventLoopActions {
public:
    explicit RecordingActions(ValidationState& state) : state_(state) {}
    std::vector<std::string> log;
    void OnValidationTick() override {
        log.push_back("validate " + std::to_string(state_.BlinkPhase));
        state_.BlinkPhase = -state_.BlinkPhase;
    }
    void OnWriteButton(int type) override { log.push_back("write " + std::to_string(type)); }
    void OnCloseRequest() override { log.push_back("exit"); }

private:
    ValidationState& state_;
};

TEST(RunEventLoop, ReactsOnlyToTheThreeEventsOfMainWindow) {
    ScriptedSource source({
        Tick(),
        Tick(kMainWindowId, 7),                                 // another timer
        Tick(kWaitWindowId),                                    // another window
        UiEvent{ControlEvent, kMainWindowId, kBannerId, 0, 0},  // banner click
        UiEvent{ControlEvent, kMainWindowId, 2, 0, 0x300},      // field change
        Press(),
        Press(5),
        UiEvent{ControlEvent, kWaitWindowId, kWriteButtonId, 0, 0},
        Close(kWaitWindowId),
        Close(),
        UiEvent{12345, kMainWindowId, 0, 0, 0},
        Tick(),
    });
    ValidationState state;
    RecordingActions actions(state);
    RunEventLoop(source, state, actions);
    EXPECT_EQ(actions.log, (std::vector<std::string>{"validate 1", "write 0", "write 5", "exit",
                                                     "validate -1"}));
}

}  // namespace
}  // namespace taktor
