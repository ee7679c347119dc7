// How long a write may take: every time constant of a write command, and the bound they give.
//
// A USB-serial driver may stop answering (a cable pulled at the wrong moment, a driver that
// ignores cancellation), so the main thread never waits for an operation of the port itself:
// whatever may hang in a driver runs on a Worker (common/worker.h), and the main thread waits
// for it only as long as this header allows. What has not ended then is abandoned, never killed.
//
// The bound of one write command, from the press of the button to its result message, leaving
// out the run of the port-listing tool and the time the user takes over damage questions:
//
//   kMostAttempts attempts of at most kSettleAllowance + kDrainAllowance + 3 x kWorkerWait each,
//   plus one kGracePeriod per command:  6 x (100 + 50 + 3 x 300) ms + 1000 ms = 7.3 s nominal.
//
// Every wait of the main thread in a write is one of these. Each is a wait with a time-out, so
// the real figure exceeds the nominal one only by what the scheduler adds to each wake-up. The
// faults that link_bench models come nowhere near it: on two cores kept busy by two other
// processes, the slowest (a write that hangs in the driver) took 2.11 s from the press to the
// message, since once a worker is left inside a driver the later attempts end after their
// settle allowance.
#pragma once

#include <chrono>

namespace taktor {

// A write command gives up after this many failed attempts.
constexpr int kMostAttempts = 6;

// Each of an attempt's three waits: for the reader; for the reader once more, after its stop
// flag was set; for the writer.
constexpr std::chrono::milliseconds kWorkerWait{300};

// An attempt's own time for workers of earlier attempts that are still inside this port's
// driver, and then for dropping the input that waits, before its frame goes out. Without them an
// attempt after a slow cancellation, once the grace period is spent, would have no time at all.
constexpr std::chrono::milliseconds kSettleAllowance{100};
constexpr std::chrono::milliseconds kDrainAllowance{50};

// Once per write command, for everything else that may hang in a driver: opening and
// configuring the port, closing it, and workers whose operations were cancelled.
constexpr std::chrono::milliseconds kGracePeriod{1000};

constexpr std::chrono::milliseconds kAttemptBound =
    kSettleAllowance + kDrainAllowance + 3 * kWorkerWait;
constexpr std::chrono::milliseconds kWriteCommandBound =
    kMostAttempts * kAttemptBound + kGracePeriod;
static_assert(kWriteCommandBound == std::chrono::milliseconds(7300),
              "the bound stated above must be the sum of its parts");

// A write on the port gives up after this much per byte, and this much more once: 1,810 ms for
// the 18-byte frame, longer than the attempt waits for its writer.
constexpr std::chrono::milliseconds kWriteTimeoutPerByte{100};
constexpr std::chrono::milliseconds kWriteTimeoutExtra{10};
static_assert(18 * kWriteTimeoutPerByte + kWriteTimeoutExtra > kWorkerWait,
              "a writer that cannot send is stopped by the attempt, not by its own time-out");

}  // namespace taktor
