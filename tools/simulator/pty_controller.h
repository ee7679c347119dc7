// The simulated controller on a line: serves a new pseudo-terminal (or a given serial device) on
// a background thread, answering every frame as its ControllerModel says.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/simulator/controller_model.h"

namespace taktor::sim {

struct PtyOptions {
    Behaviour behaviour;
    // Carries both directions at the pace of the line, about 1.04 ms per byte at 9600 baud, 8N1:
    // a byte counts as received, and is written to the configurator's side, when its last bit
    // would have crossed the wire.
    bool paced = false;
    // Made a symbolic link to the slave (replacing what is there) and removed on stop.
    std::string linkPath;
    // Serve this terminal device instead of a new pseudo-terminal.
    std::string devicePath;
    // Called on the serving thread for every frame, before its reply is chosen: SetBehaviour
    // from here decides that reply.
    std::function<void(const ReceivedFrame&)> onFrame;
    // Called on the serving thread with the size of every incomplete frame that is dropped.
    std::function<void(std::size_t)> onDiscarded;
    // Called on the serving thread whenever the line has been hung up.
    std::function<void()> onHangUp;
    // Makes each pseudo-terminal the controlling terminal of the caller's session, which must
    // lead a session of its own and ignore SIGHUP. Otherwise another program that opens the
    // slave without O_NOCTTY while leading a session (Wine's server does) takes it as its own
    // controlling terminal, and receives a SIGHUP when the line hangs up.
    bool claimTerminal = false;
};

class PtyController {
public:
    // Opens the line and starts serving it; throws std::system_error when it cannot.
    explicit PtyController(PtyOptions options = PtyOptions());
    ~PtyController() { Stop(); }
    PtyController(const PtyController&) = delete;
    PtyController& operator=(const PtyController&) = delete;

    // The path that the configurator opens: the pseudo-terminal's slave, or the device served.
    // A new pseudo-terminal after each PlugIn; empty while hung up.
    std::string SlavePath() const;

    void SetBehaviour(const Behaviour& behaviour);
    Behaviour CurrentBehaviour() const;

    // Every frame received so far, in order.
    std::vector<ReceivedFrame> Frames() const;
    bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;
    // Bytes received that never became part of a frame.
    std::size_t DiscardedBytes() const;

    // Writes raw bytes to the line now, for instance to leave stale input waiting.
    void Send(const std::string& bytes);
    // Waits until every reply and every Send has been written to the line.
    bool WaitForOutput(std::chrono::milliseconds timeout) const;

    // Stops and restarts the output of the configurator's side, so that its writes block: a line
    // that cannot send. False when serving a device rather than a pseudo-terminal.
    bool SuspendLine() { return FlowLine(false); }
    bool ResumeLine() { return FlowLine(true); }

    // The cable pulled: the pseudo-terminal goes (the configurator's side sees a hang-up), the
    // link is removed and output still queued is dropped. PlugIn serves a new pseudo-terminal
    // under the same link: the cable plugged in again. Both false when serving a device; also
    // applied by the hang-up behaviours.
    bool HangUp() { return RequestLine(false); }
    bool PlugIn() { return RequestLine(true); }
    bool PluggedIn() const { return !SlavePath().empty(); }

    // Stops serving, closes the line and removes the link. Also done by the destructor.
    void Stop();

private:
    struct Output {
        std::string bytes;
        bool hangUp = false;  // the line goes down once the bytes are written
    };
    using Lock = std::unique_lock<std::mutex>;

    void Serve();
    // Opens the pseudo-terminal (or the device) and makes the link; throws std::system_error.
    void OpenLine();
    void CloseLine();
    void HangUpLine(Lock& lock);  // CloseLine, then onHangUp
    bool RequestLine(bool plugged);
    void ApplyLineRequest(Lock& lock);
    bool FlowLine(bool on);
    // Reads what the line holds into the inbox, each byte with the time it has crossed the wire.
    void Receive(Clock::time_point now);
    // Hands the model the bytes that have crossed the wire by now, and queues their replies.
    void Deliver(Clock::time_point now, Lock& lock);
    void Queue(Clock::time_point due, std::string bytes, bool hangUp = false);
    bool Flush(Clock::time_point now, Lock& lock);  // false when the line would block
    // When the serving thread has something to do next; max when only a wake or the line can
    // give it something.
    Clock::time_point NextWake(bool writable) const;
    void Wake();

    const PtyOptions options_;
    std::thread thread_;

    // All that follows is guarded by mutex_. The serving thread holds it except while it waits
    // for the line and while it calls the options' callbacks: other threads change the state
    // here, and wake it when it has something new to do.
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    int wakeFd_ = -1;  // an eventfd that ends the serving thread's wait
    bool stopping_ = false;
    ControllerModel model_;  // the behaviour, held here only
    std::vector<ReceivedFrame> frames_;
    std::string slavePath_;  // empty while hung up
    int lineFd_ = -1;        // the master, or the served device; -1 while hung up
    int slaveFd_ = -1;       // held open so that the master never sees a hang-up
    // The line asked for, plugged in or hung up, and the requests made and carried out: a
    // requester waits until its own is carried out, not only taken up.
    bool plugRequested_ = true;
    std::uint64_t linesRequested_ = 0;
    std::uint64_t linesApplied_ = 0;
    std::multimap<Clock::time_point, Output> output_;  // written in order of due time
    // Bytes read from the line that have not yet crossed the wire, with the time each does.
    std::deque<std::pair<Clock::time_point, std::uint8_t>> inbox_;
    // When each direction of a paced line is free again.
    Clock::time_point inFree_{};
    Clock::time_point outFree_{};
};

}  // namespace taktor::sim
