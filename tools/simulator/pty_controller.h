// The simulated controller on a line: serves a new pseudo-terminal (or a given serial device) on
// a background thread, answering every frame as its ControllerModel says.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
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
    // Sends the replies at the pace of the line, about 1.04 ms per byte at 9600 baud, 8N1.
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
};

class PtyController {
public:
    // Opens the line and starts serving it; throws std::system_error when it cannot.
    explicit PtyController(PtyOptions options = PtyOptions());
    ~PtyController();
    PtyController(const PtyController&) = delete;
    PtyController& operator=(const PtyController&) = delete;

    // The path that the configurator opens: the pseudo-terminal's slave, or the device served.
    const std::string& SlavePath() const { return slavePath_; }

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

    // Stops serving, closes the line and removes the link. Also done by the destructor.
    void Stop();

private:
    struct Output {
        Clock::time_point due;
        std::string bytes;
    };

    void Serve();
    void ApplyPendingBehaviour(Clock::time_point now);
    void Receive(Clock::time_point now);
    // counted: already in queuedBytes_ (bytes from Send).
    void Queue(Clock::time_point due, std::string bytes, bool counted = false);
    bool Flush(Clock::time_point now);  // false when the line would block
    std::optional<Clock::time_point> NextWake() const;
    void Wake();

    PtyOptions options_;
    std::string slavePath_;
    int lineFd_ = -1;   // the master, or the served device
    int slaveFd_ = -1;  // held open so that the master never sees a hang-up
    int wakeFds_[2] = {-1, -1};
    bool linked_ = false;

    ControllerModel model_;                      // serving thread only
    std::vector<Output> output_;                 // serving thread only, in order of due time
    std::optional<Clock::time_point> staleDue_;  // serving thread only
    Clock::time_point lineFree_{};               // serving thread only, for pacing

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
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
