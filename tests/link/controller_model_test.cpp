#include "tools/simulator/controller_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace taktor::sim {
namespace {

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

std::string Joined(const std::vector<ReplyChunk>& chunks) {
    std::string all;
    for (const ReplyChunk& chunk : chunks) {
        all += chunk.bytes;
    }
    return all;
}

TEST(ControllerModel, AssemblesFramesFromPiecesAndLogsThem) {
    ControllerModel model;
    const Clock::time_point t0 = Clock::now();
    const std::vector<std::uint8_t> head(kDefaultFrame.begin(), kDefaultFrame.begin() + 7);
    const std::vector<std::uint8_t> tail(kDefaultFrame.begin() + 7, kDefaultFrame.end());
    EXPECT_TRUE(Feed(model, head, t0).empty());
    EXPECT_EQ(model.PartialBytes(), 7u);
    const std::vector<ReceivedFrame> frames = Feed(model, tail, t0 + milliseconds(40));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].checksumOk);
    EXPECT_EQ(frames[0].checksum, 260);
    EXPECT_EQ(frames[0].durations[0], 60);
    EXPECT_EQ(frames[0].durations[7], 5);
    EXPECT_EQ(FormatFrame(frames[0]),
              "frame=3C 00 05 00 3C 00 05 00 3C 00 05 00 3C 00 05 00 04 01 "
              "durations=60,5,60,5,60,5,60,5 checksum=ok");
    EXPECT_EQ(model.PartialBytes(), 0u);
}

TEST(ControllerModel, SeveralFramesInOneChunk) {
    ControllerModel model;
    std::vector<std::uint8_t> bytes = FrameOf(2000, 16000);
    const std::vector<std::uint8_t> second = FrameOf(10000, 14464);  // the sum wraps
    bytes.insert(bytes.end(), second.begin(), second.end());
    bytes.push_back(0x01);
    const std::vector<ReceivedFrame> frames = Feed(model, bytes, Clock::now());
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frames[0].checksumOk);
    EXPECT_EQ(frames[0].bytes[16], 0x80);
    EXPECT_EQ(frames[0].bytes[17], 0x3E);
    EXPECT_TRUE(frames[1].checksumOk);
    EXPECT_EQ(model.PartialBytes(), 1u);
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
    EXPECT_EQ(model.PartialBytes(), 0u);

    // Without a gap, bytes keep adding up: the frame boundary shifts and the checksum fails.
    EXPECT_TRUE(Feed(model, {1, 2, 3}, t0 + milliseconds(200)).empty());
    const std::vector<ReceivedFrame> shifted = Feed(model, kDefaultFrame, t0 + milliseconds(230));
    ASSERT_EQ(shifted.size(), 1u);
    EXPECT_FALSE(shifted[0].checksumOk);
    EXPECT_EQ(model.PartialBytes(), 3u);
}

TEST(ControllerModel, BadChecksumIsRecordedAndNotAnswered) {
    ControllerModel model;
    const std::vector<ReceivedFrame> frames = Feed(model, FrameOf(60, 61), Clock::now());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_FALSE(frames[0].checksumOk);
    EXPECT_EQ(frames[0].checksum, 61);
    EXPECT_TRUE(model.Reply(frames[0]).empty());
    EXPECT_NE(FormatFrame(frames[0]).find("checksum=bad"), std::string::npos);
}

TEST(ControllerModel, ConfirmFromCountsGoodFramesSinceTheBehaviourWasSet) {
    ControllerModel model(*ParseBehaviour("confirm-from=3"));
    const ReceivedFrame good = Feed(model, kDefaultFrame, Clock::now()).at(0);
    const ReceivedFrame bad = Feed(model, FrameOf(1, 1), Clock::now()).at(0);
    EXPECT_TRUE(model.Reply(good).empty());
    EXPECT_TRUE(model.Reply(bad).empty());
    EXPECT_TRUE(model.Reply(good).empty());
    EXPECT_EQ(Joined(model.Reply(good)), "on#\r");
    EXPECT_EQ(Joined(model.Reply(good)), "on#\r");

    // The same behaviour again keeps the count; another one starts it afresh.
    model.SetBehaviour(*ParseBehaviour("confirm-from=3"));
    EXPECT_EQ(Joined(model.Reply(good)), "on#\r");
    model.SetBehaviour(*ParseBehaviour("confirm-from=2"));
    EXPECT_TRUE(model.Reply(good).empty());
    EXPECT_EQ(Joined(model.Reply(good)), "on#\r");
}

TEST(ControllerModel, NoiseHoldsNoTokenWhereItMustNot) {
    ControllerModel model(*ParseBehaviour("flood"));
    const ReceivedFrame frame = Feed(model, kDefaultFrame, Clock::now()).at(0);
    const std::string flood = Joined(model.Reply(frame));
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

TEST(ParseBehaviour, NamesAndArguments) {
    for (const char* name :
         {"confirm", "silent", "mcu-damaged", "ext-damaged", "both-damaged", "wrong-case", "no-cr",
          "split", "late=400", "confirm-from=4", "flood", "stray", "off", "zero-byte",
          "confirmed-mcu-damaged", "hangup-on-frame", "hangup-after=2", "hangup-mid-reply"}) {
        const std::optional<Behaviour> behaviour = ParseBehaviour(name);
        ASSERT_TRUE(behaviour) << name;
        EXPECT_EQ(BehaviourName(*behaviour), name);
    }
    for (const char* bad :
         {"", "Confirm", "confirm-from", "confirm-from=0", "confirm-from=x", "late=", "late=-5",
          "confirm=1", "unknown", "silent ", "hangup-after", "hangup=1"}) {
        EXPECT_FALSE(ParseBehaviour(bad)) << bad;
    }
    EXPECT_EQ(ParseBehaviour("late", 250)->lateMs, 250);
    EXPECT_NE(DescribeBehaviours().find("confirm-from"), std::string::npos);
}

}  // namespace
}  // namespace taktor::sim
