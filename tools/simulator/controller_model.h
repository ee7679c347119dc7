// The controller's side of the serial protocol, without any I/O: frames are assembled from the
// bytes received, checked, and answered according to the behaviour chosen for the simulator.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace taktor::sim {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kFrameSize = 18;

// How the simulated controller answers a frame with a good checksum.
enum class ReplyKind {
    Confirm,      // "on#" CR
    Silent,       // nothing
    McuDamaged,   // "os#" CR
    ExtDamaged,   // "ol#" CR
    BothDamaged,  // "os#ol#" CR
    WrongCase,    // "ON#" CR
    NoCr,         // "on#" and no terminator
    Split,        // "on#", then CR in a second write a little later
    Late,         // "on#" CR after a delay
    ConfirmFrom,  // silent for the first frames, then "on#" CR
    Flood,        // about 1,000 bytes of noise without a token or terminator
    Stray,        // "of#" CR, and a stale line ending in "on#" CR left waiting for the next one
    Off,          // "of#" CR
    ZeroByte,     // "on" NUL "#" CR
    ConfirmedMcuDamaged,  // "on#os#" CR
    // The cable pulled: the line goes down, and the simulator serves nothing until plugged in.
    HangUp,          // as soon as a frame arrives, before any reply
    HangUpAfter,     // right after confirming the Nth frame
    HangUpMidReply,  // "on", then the line goes down before the rest
};

struct Behaviour {
    ReplyKind kind = ReplyKind::Confirm;
    // ConfirmFrom: the first good frame (counted from 1) that is confirmed; HangUpAfter: the
    // frame after whose confirmation the line goes down; Late: the delay in milliseconds.
    int value = 0;

    bool operator==(const Behaviour& other) const {
        return kind == other.kind && value == other.value;
    }
};

// Names as given on the command line and in the control file: "confirm", "late", "late=250",
// "confirm-from=3", "hangup-after=2", ... A plain "late" takes defaultLateMs.
std::optional<Behaviour> ParseBehaviour(std::string_view name, int defaultLateMs = 400);
std::string BehaviourName(const Behaviour& behaviour);
// One line per behaviour name with what it does, for the program's help text.
std::string DescribeBehaviours();

struct ReceivedFrame {
    std::array<std::uint8_t, kFrameSize> bytes{};
    std::array<std::uint16_t, 8> durations{};
    std::uint16_t checksum = 0;  // as received
    bool checksumOk = false;
};

// "frame=3C 00 ... durations=60,5,... checksum=ok", the line the simulator logs per frame.
std::string FormatFrame(const ReceivedFrame& frame);

// One write of the reply, due the given time after the frame was received; with hangUp the line
// goes down once the bytes are written.
struct ReplyChunk {
    std::chrono::milliseconds delay{0};
    std::string bytes;
    bool hangUp = false;
};

// The reply under a behaviour to the nth frame with a good checksum since it was set.
std::vector<ReplyChunk> ReplyTo(const Behaviour& behaviour, int nth);

// About 250 bytes of noise ending in a stale "on#" CR, as a line left over from an earlier
// exchange would hold.
std::string StaleLine();

// The one holder of the simulator's behaviour, with the frame count and the stale line that
// depend on it.
class ControllerModel {
public:
    // A partial frame followed by a longer silence than this is dropped, so that stray bytes do
    // not shift every later frame.
    static constexpr std::chrono::milliseconds kFrameGap{50};
    // Under Stray, a stale line is left once the configurator has been quiet this long after a
    // frame.
    static constexpr std::chrono::milliseconds kQuietBeforeStale{1000};

    // A different behaviour restarts the count of frames that ConfirmFrom and HangUpAfter use;
    // becoming Stray makes a stale line due at once, leaving it forgets the one to come.
    void SetBehaviour(const Behaviour& behaviour, Clock::time_point now);
    const Behaviour& CurrentBehaviour() const { return behaviour_; }

    // Takes bytes received at the given time; returns the frames they completed, in order.
    // Bytes received before a stale line is due put it off.
    std::vector<ReceivedFrame> Receive(const std::uint8_t* data, std::size_t count,
                                       Clock::time_point now);

    // The reply to a frame just received under the current behaviour; none for a frame with a
    // bad checksum.
    std::vector<ReplyChunk> Reply(const ReceivedFrame& frame);

    // When a stale line is next due, if one is to come.
    std::optional<Clock::time_point> StaleLineDue() const { return staleDue_; }
    // The stale line if it is due by now, else nothing; once taken, the next is due only after
    // another frame.
    std::string TakeStaleLine(Clock::time_point now);

    std::size_t DiscardedBytes() const { return discarded_; }

private:
    Behaviour behaviour_;
    int goodFrames_ = 0;  // frames with a good checksum since the behaviour was set
    std::optional<Clock::time_point> staleDue_;
    std::array<std::uint8_t, kFrameSize> partial_{};
    std::size_t partialSize_ = 0;
    Clock::time_point lastByte_{};
    std::size_t discarded_ = 0;
};

}  // namespace taktor::sim
