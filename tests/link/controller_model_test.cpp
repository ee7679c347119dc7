#include "tools/simulator/controller_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace taktor::sim {
namespace {

using namespace std::string_literals;
using std::chrono::milliseconds;

const std::vector<std::uint8_t> kDefaultFrame = {0x3C, 0x00, 0x05, 0x00, 0x3C, 0x00,
                                                 0x05, 0x00, 0x3C, 0x00, 0x05, 0x00,
                                                 0x3C, 0x00, 0x05, 0x00, 0x04, 0x01};

std::vector<std::uint8_t> FrameOf(std::uint16_t duration, std::uint16_t checksum) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 8; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(duration & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(duration >> 8));
    }
    bytes.push_back(static_cast<std::uint8_t>(checksum & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(checksum >> 8));
    return bytes;
}

std::vector<ReceivedFrame> Feed(ControllerModel& model, const std::vector<std::uint8_t>& bytes,
                                Clock::time_point at) {
    return model.Receive(bytes.data(), bytes.size(), at);
}

// "0:on# 30:\r", a chunk's delay and bytes; "!" marks the line going down after them.
std::string Shape(const std::vector<ReplyChunk>& chunks) {
    std::string shape;
    for (const ReplyChunk& chunk : chunks) {
        shape += (shape.empty() ? "" : " ") + std::to_string(chunk.delay.count()) + ":" +
                 chunk.bytes + (chunk.hangUp ? "!" : "");
    }
    return shape;
}

TEST(ControllerModel, AssemblesFramesFromPiecesAndLogsThem) {
    ControllerModel model;
    const Clock::time_point t0 = Clock::now();
    const std::vector<std::uint8_t> head(kDefaultFrame.begin(), kDefaultFrame.begin() + 7);
    const std::vector<std::uint8_t> tail(kDefaultFrame.begin() + 7, kDefaultFrame.end());
    EXPECT_TRUE(Feed(model, head, t0).empty());
    const std::vector<ReceivedFrame> frames = Feed(model, tail, t0 + milliseconds(40));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(FormatFrame(frames[0]),
              "frame=3C 00 05 00 3C 00 05 00 3C 00 05 00 3C 00 05 00 04 01 "
              "durations=60,5,60,5,60,5,60,5 checksum=ok");

    // Several frames in one read; the sum wraps; a wrong sum is logged and not answered.
    std::vector<std::uint8_t> bytes = FrameOf(10000, 14464);
    const std::vector<std::uint8_t> bad = FrameOf(60, 61);
    bytes.insert(bytes.end(), bad.begin(), bad.end());
    bytes.push_back(0x01);
    const std::vector<ReceivedFrame> two = Feed(model, bytes, t0 + milliseconds(80));
    ASSERT_EQ(two.size(), 2u);
    EXPECT_TRUE(two[0].checksumOk);
    EXPECT_EQ(two[0].durations[7], 10000);
    EXPECT_EQ(two[1].checksum, 61);
    EXPECT_NE(FormatFrame(two[1]).find("checksum=bad"), std::string::npos);
    EXPECT_TRUE(model.Reply(two[1]).empty());
}

TEST(ControllerModel, SilenceDropsAPartialFrame) {
    ControllerModel model;
    const Clock::time_point t0 = Clock::now();
    EXPECT_TRUE(Feed(model, {1, 2, 3, 4, 5}, t0).empty());
    // After the gap the stray bytes are gone and the next frame is read from its first byte.
    const std::vector<ReceivedFrame> frames = Feed(model, kDefaultFrame, t0 + milliseconds(60));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].checksumOk);
    EXPECT_EQ(model.DiscardedBytes(), 5u);

    // Without a gap, bytes keep adding up: the frame boundary shifts and the checksum fails.
    EXPECT_TRUE(Feed(model, {1, 2, 3}, t0 + milliseconds(200)).empty());
    const std::vector<ReceivedFrame> shifted = Feed(model, kDefaultFrame, t0 + milliseconds(230));
    ASSERT_EQ(shifted.size(), 1u);
    EXPECT_FALSE(shifted[0].checksumOk);
    Feed(model, {1}, t0 + milliseconds(300));
    EXPECT_EQ(model.DiscardedBytes(), 5u + 3u);
}

TEST(ReplyTo, EachBehaviourAnswersAsNamed) {
    const struct {
        const char* behaviour;
        int nth;  // the good frame answered, counted from 1 since the behaviour was set
        std::string reply;
    } cases[] = {
        {"confirm", 1, "0:on#\r"},
        {"silent", 1, ""},
        {"mcu-damaged", 1, "0:os#\r"},
        {"ext-damaged", 1, "0:ol#\r"},
        {"both-damaged", 1, "0:os#ol#\r"},
        {"wrong-case", 1, "0:ON#\r"},
        {"no-cr", 1, "0:on#"},
        {"split", 1, "0:on# 30:\r"},
        {"late=250", 1, "250:on#\r"},
        {"confirm-from=3", 2, ""},
        {"confirm-from=3", 3, "0:on#\r"},
        {"confirm-from=3", 9, "0:on#\r"},
        {"stray", 1, "0:of#\r"},
        {"off", 1, "0:of#\r"},
        {"zero-byte", 1, "0:on\0#\r"s},
        {"confirmed-mcu-damaged", 1, "0:on#os#\r"},
        {"hangup-on-frame", 1, "0:!"},
        {"hangup-after=2", 1, "0:on#\r"},
        {"hangup-after=2", 2, "0:on#\r 100:!"},
        {"hangup-after=2", 3, "0:on#\r"},
        {"hangup-mid-reply", 1, "0:on 100:!"},
    };
    for (const auto& c : cases) {
        const std::optional<Behaviour> behaviour = ParseBehaviour(c.behaviour);
        ASSERT_TRUE(behaviour) << c.behaviour;
        EXPECT_EQ(BehaviourName(*behaviour), c.behaviour);
        EXPECT_EQ(Shape(ReplyTo(*behaviour, c.nth)), c.reply) << c.behaviour;
    }
}

TEST(ControllerModel, CountsGoodFramesSinceTheBehaviourWasSet) {
    ControllerModel model;
    const Clock::time_point t0 = Clock::now();
    model.SetBehaviour(*ParseBehaviour("confirm-from=2"), t0);
    const ReceivedFrame good = Feed(model, kDefaultFrame, t0).at(0);
    const ReceivedFrame bad = Feed(model, FrameOf(1, 1), t0).at(0);
    EXPECT_EQ(Shape(model.Reply(bad)), "");
    EXPECT_EQ(Shape(model.Reply(good)), "");
    EXPECT_EQ(Shape(model.Reply(good)), "0:on#\r");

    // The same behaviour again keeps the count; another one starts it afresh.
    model.SetBehaviour(*ParseBehaviour("confirm-from=2"), t0);
    EXPECT_EQ(Shape(model.Reply(good)), "0:on#\r");
    model.SetBehaviour(*ParseBehaviour("confirm-from=3"), t0);
    EXPECT_EQ(Shape(model.Reply(good)), "");
}

TEST(ControllerModel, StrayLeavesAStaleLineAtOnceAndAfterQuiet) {
    ControllerModel model;
    const Clock::time_point t0 = Clock::now();
    const std::string stale = StaleLine();
    model.SetBehaviour(*ParseBehaviour("stray"), t0);
    EXPECT_EQ(model.TakeStaleLine(t0), stale);
    EXPECT_EQ(model.TakeStaleLine(t0 + milliseconds(5000)), "");

    // After a frame, good or bad, once a second has passed without input.
    model.Reply(Feed(model, FrameOf(1, 1), t0).at(0));
    EXPECT_EQ(model.StaleLineDue(), t0 + milliseconds(1000));
    Feed(model, {1}, t0 + milliseconds(600));
    EXPECT_EQ(model.TakeStaleLine(t0 + milliseconds(1500)), "");
    EXPECT_EQ(model.TakeStaleLine(t0 + milliseconds(1600)), stale);

    model.Reply(Feed(model, kDefaultFrame, t0 + milliseconds(2000)).at(0));
    model.SetBehaviour(*ParseBehaviour("off"), t0 + milliseconds(2100));
    EXPECT_FALSE(model.StaleLineDue());
}

TEST(ControllerModel, NoiseHoldsNoTokenWhereItMustNot) {
    EXPECT_EQ(BehaviourName(*ParseBehaviour("flood")), "flood");
    const std::string flood = ReplyTo(*ParseBehaviour("flood"), 1).at(0).bytes;
    EXPECT_GE(flood.size(), 1000u);
    EXPECT_EQ(flood.find_first_of(std::string("#\r\0\x11\x13", 5)), std::string::npos);

    // The stale line is more than a 201-byte read takes, and what such a read leaves behind
    // still holds a complete confirmation.
    const std::string stale = StaleLine();
    EXPECT_GE(stale.size(), 240u);
    EXPECT_LE(stale.size(), 260u);
    EXPECT_EQ(stale.find("#\r"), stale.size() - 2);
    EXPECT_EQ(stale.substr(201).find("on#\r"), stale.size() - 201 - 4);
    EXPECT_EQ(stale.substr(0, stale.size() - 4).find_first_of("#\r"), std::string::npos);
}

// The names that parse are those of the reply table above, and "flood".
TEST(ParseBehaviour, RefusesWhatIsNotAName) {
    for (const char* bad :
         {"", "Confirm", "confirm-from", "confirm-from=0", "confirm-from=x", "late=", "late=-5",
          "confirm=1", "unknown", "silent ", "hangup-after", "hangup=1"}) {
        EXPECT_FALSE(ParseBehaviour(bad)) << bad;
    }
    EXPECT_EQ(ParseBehaviour("late", 250), ParseBehaviour("late=250"));
    EXPECT_NE(DescribeBehaviours().find("confirm-from"), std::string::npos);
}

}  // namespace
}  // namespace taktor::sim
