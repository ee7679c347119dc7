// Work that may hang inside a driver, and how long the main thread waits for it.
//
// A USB-serial driver may stop answering: a cable pulled at the wrong moment, a driver that
// ignores cancellation. The main thread must never wait for one without limit, and no thread is
// ever killed (a killed thread may leave the heap lock or another lock held). So whatever may
// hang in a driver runs on a Worker, and the main thread waits for it only for a bounded time:
//
//   - the transfer attempt's three nominal waits of 300 ms (link/transfer.cpp);
//   - beyond those, every wait for work that may hang (the pre-drain of an attempt, a worker
//     whose operation was cancelled, opening, configuring and closing the port) is taken from
//     one grace period of kGracePeriod per write command, started by StartGracePeriod().
//
// A Worker that has not ended when its wait runs out is abandoned: it runs on until its
// operation returns. Everything it uses it owns through shared pointers (the device, its
// buffers, its reply), so that state is freed when the operation finally ends, and the port
// closes then. Until it does, the port stays taken and a new open of it fails.
//
// Hence the bound of a whole write command, from the press to the result message, leaving out
// the run of the port-listing tool and the time the user takes over damage questions: six
// attempts of at most 900 ms each, plus the grace period, 6.4 s.
#pragma once

#include <chrono>
#include <functional>

#include "common/worker.h"

namespace taktor {

constexpr std::chrono::milliseconds kGracePeriod{1000};

// Gives the main thread a new grace period of kGracePeriod. Called when a write command starts
// and at shutdown. The grace period belongs to the main thread only.
void StartGracePeriod();

// Waits up to nominal for the worker, then at most what is left of the grace period, which the
// extra wait uses up. True when the worker ended.
bool WaitWithGrace(Worker& worker,
                   std::chrono::milliseconds nominal = std::chrono::milliseconds(0));

// Runs body on a worker and waits for it within the grace period. True when it ended; a body
// still running is abandoned, so it must own everything it touches. False also when no worker
// could be started: the body is then dropped unrun.
bool RunWithGrace(std::function<void()> body);

}  // namespace taktor
