// How long the main thread waits in a write command, and the bound those waits give.
//
// A USB-serial driver may stop answering: a cable pulled at the wrong moment, a driver that
// ignores cancellation. So whatever may block in a driver (opening and configuring the port, the
// two workers of each attempt, closing the port) runs on a thread of its own that holds its own
// reference to the device. The main thread waits for such a thread within one of the fixed limits
// below and walks away when the limit runs out; the thread marks its port as held until it
// returns (link/controller_link.h). No limit depends on what an earlier wait took.
//
// The bound of one write command, from the press of the button to its result message, leaving
// out the run of the port-listing tool (which the configurator waits for without limit) and the
// time the user takes over damage questions:
//
//   kOpenWait + kStopWait                                   opening and configuring the port
//   + kMostAttempts x (kSettleWait + 3 x kWorkerWait + kStopWait)        the attempts
//   + kCloseWait                                            closing the port
//   = 400 + 100 + 6 x (100 + 900 + 100) + 200 ms = 7.3 s.
//
// Each is a wait with a time-out, so the real figure exceeds this only by what the scheduler adds
// to each wake-up.
#pragma once

#include <chrono>

namespace taktor {

// A write command gives up after this many failed attempts.
constexpr int kMostAttempts = 6;

// Each of an attempt's three waits: for the reader; for the reader once more, after its stop
// flag was set; for the writer.
constexpr std::chrono::milliseconds kWorkerWait{300};

// For opening and configuring the port. An open still running then is cancelled.
constexpr std::chrono::milliseconds kOpenWait{400};

// For a thread whose operation was cancelled (an open, or an attempt's workers) to return from
// the driver.
constexpr std::chrono::milliseconds kStopWait{100};

// An attempt's time for a thread of an earlier attempt that is still inside the port's driver;
// while one is, nothing more goes to the port.
constexpr std::chrono::milliseconds kSettleWait{100};

// For closing the port.
constexpr std::chrono::milliseconds kCloseWait{200};

constexpr std::chrono::milliseconds kAttemptBound = kSettleWait + 3 * kWorkerWait + kStopWait;
constexpr std::chrono::milliseconds kWriteCommandBound =
    kOpenWait + kStopWait + kMostAttempts * kAttemptBound + kCloseWait;
static_assert(kWriteCommandBound == std::chrono::milliseconds(7300),
              "the bound stated above must be the sum of its parts");

// A write on the port gives up after this much per byte, and this much more once: 1,810 ms for
// the 18-byte frame, longer than the attempt waits for its writer.
constexpr std::chrono::milliseconds kWriteTimeoutPerByte{100};
constexpr std::chrono::milliseconds kWriteTimeoutExtra{10};
static_assert(18 * kWriteTimeoutPerByte + kWriteTimeoutExtra > kWorkerWait,
              "a writer that cannot send is stopped by the attempt, not by its own time-out");

}  // namespace taktor
