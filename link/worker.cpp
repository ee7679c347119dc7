#include "link/worker.h"

#include <algorithm>
#include <utility>

namespace taktor {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

milliseconds graceLeft = kGracePeriod;

}  // namespace

void StartGracePeriod() {
    graceLeft = kGracePeriod;
}

bool WaitWithGrace(Worker& worker, milliseconds nominal) {
    if (worker.WaitFor(nominal)) {
        return true;
    }
    const auto start = Clock::now();
    const bool ended = worker.WaitFor(graceLeft);
    const auto used = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    graceLeft = std::max(milliseconds(0), graceLeft - used);
    return ended;
}

bool RunWithGrace(std::function<void()> body) {
    Worker worker;
    return worker.Start(std::move(body)) && WaitWithGrace(worker);
}

}  // namespace taktor
