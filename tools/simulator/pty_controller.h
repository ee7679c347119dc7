// The simulated controller on a line: serves a new pseudo-terminal (or a given serial device) on
// a background thread, answering every frame as its ControllerModel says.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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
    ~PtyController();
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
    bool SuspendLine();
    bool ResumeLine();

    // The cable pulled: the pseudo-terminal goes (the configurator's side sees a hang-up), the
    // link is removed and output still queued is dropped. PlugIn serves a new pseudo-terminal
    // under the same link: the cable plugged in again. Both false when serving a device; also
    // applied by the hang-up behaviours.
    bool HangUp();
    bool PlugIn();
    bool PluggedIn() const;

    // Stops serving, closes the line and removes the link. Also done by the destructor.
    void Stop();

private:
    struct Output {
        Clock::time_point due;
        std::string bytes;
        bool hangUp = false;  // the line goes down once the bytes are written
    };

    void Serve();
    // Opens the pseudo-terminal (or the device) and makes the link. Serving thread or
    // constructor; throws std::system_error.
    void OpenLine();
    // Serving thread only.
    void CloseLine();
    void HangUpLine();  // CloseLine, then onHangUp
    void ApplyLineRequest();
    void DrainWake();
    bool RequestLine(bool plugged);
    void ApplyPendingBehaviour(Clock::time_point now);
    void Receive(Clock::time_point now);
    // Hands the model the bytes that have crossed the wire by now, and queues their replies.
    void Deliver(Clock::time_point now);
    // counted: already in queuedBytes_ (bytes from Send).
    void Queue(Clock::time_point due, std::string bytes, bool counted = false, bool hangUp = false);
    bool Flush(Clock::time_point now);  // false when the line would block
    std::optional<Clock::time_point> NextWake() const;
    void Wake();

    PtyOptions options_;
    int lineFd_ = -1;  // the master, or the served device; -1 while hung up; serving thread
    int wakeFds_[2] = {-1, -1};
    bool linked_ = false;  // serving thread

    ControllerModel model_;                      // serving thread only
    std::vector<Output> output_;                 // serving thread only, in order of due time
    std::optional<Clock::time_point> staleDue_;  // serving thread only
    Clock::time_point lineFree_{};               // serving thread only, for pacing
    // Bytes read from the line that have not yet crossed the wire, with the time each has;
    // serving thread only, for pacing.
    std::string inbox_;
    std::vector<Clock::time_point> inboxDue_;
    Clock::time_point lineInFree_{};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::string slavePath_;
    int slaveFd_ = -1;                 // held open so that the master never sees a hang-up
    std::optional<bool> lineRequest_;  // plugged in (true) or hung up (false), to be applied
    // Requests made and requests carried out: a requester waits until its own is carried out,
    // not only taken up.
    std::uint64_t linesRequested_ = 0;
    std::uint64_t linesApplied_ = 0;
    bool stopping_ = false;
    Behaviour behaviour_;
    std::optional<Behaviour> pendingBehaviour_;
    std::string pendingSend_;
    std::size_t queuedBytes_ = 0;
    std::vector<ReceivedFrame> frames_;
    std::size_t discarded_ = 0;

    std::thread thread_;
};

}  // namespace taktor::sim
