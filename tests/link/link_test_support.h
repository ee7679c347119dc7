// Shared pieces of the transfer-attempt and write-command tests: scripted answers to message
// boxes, and a port double whose driver the test holds up.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/message_dialog.h"
#include "link/controller_link.h"
#include "link/serial_device.h"

namespace taktor {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

inline Millis MillisSince(Clock::time_point start) {
    return std::chrono::duration_cast<Millis>(Clock::now() - start);
}

// Tries until what holds, for at most ten seconds: for what comes just after a driver lets go.
template <typename Until>
bool Eventually(Until until) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!until()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(Millis(10));
    }
    return true;
}

constexpr PhaseDurations kDefaultDurations = {60, 5, 60, 5, 60, 5, 60, 5};

// Every box shown, with the answers taken from a script (OK once the script has run out).
class ScriptedMessages : public MessageDialog {
public:
    struct Shown {
        Text title;
        Text text;
        unsigned flags;
    };

    explicit ScriptedMessages(std::deque<int> answers = {}) : answers_(std::move(answers)) {}

    int ShowMessage(const Text& title, const Text& text, unsigned flags) override {
        shown.push_back({title, text, flags});
        if (answers_.empty()) {
            return kAnswerOk;
        }
        const int answer = answers_.front();
        answers_.pop_front();
        return answer;
    }

    std::vector<Shown> shown;

private:
    std::deque<int> answers_;
};

inline const Text kDamageTitle = u"Внимание!";
inline const Text kMcuDamageText =
    u"Повреждена EEPROM микроконтроллера\nДля повтора операции нажмите “ДА”\n"
    u"Для разрыва связи нажмите “НЕТ”\n";
inline const Text kExternalDamageText =
    u"Повреждена EEPROM внешняя\nДля повтора операции нажмите “ДА”\n"
    u"Для разрыва связи нажмите “НЕТ”\n";

// Opens the controller channel on a device path with the controller's settings.
inline ChannelHandle OpenControllerOn(ControllerLink& link, const std::string& path) {
    const Text name = TextFromUtf8(path);
    return link.OpenChannel(ControllerChannel, &name, ControllerLineSettings);
}

// A port whose driver the test holds up. Its writes take a set time unless stopped; a stopped
// write may take a while more to return (a slow cancellation), after which the line can come
// back and answer every frame. Its status queries answer at once, or hang while a write is in
// progress until stopped (as one queued behind a write on a synchronous Windows handle does);
// the first query of a device can be held for a while. A deaf operation hangs, stopped or not,
// until the test lets it go: a driver that never completes a cancelled operation.
struct FakeLine {
    enum class Queries { Answer, HangWhileWriting, DeafWhileWriting, Deaf };

    std::mutex mutex;
    std::condition_variable changed;
    Queries queries = Queries::HangWhileWriting;
    bool deafWrites = false;
    bool letGo = false;  // ends every deaf operation
    Millis writeTime{1500};
    Millis stoppedWriteTime{0};  // how long a stopped write takes to return
    bool backAfterStop = false;  // after a stopped write the line sends at once and confirms
    std::string reply;           // the answer to each write that went through
    std::string input;           // received and not yet read
    Millis firstQueryHold{0};    // the first status query of a device waits this long
    int queriesAfterReply = 0;   // status queries made once a reply was written and read
    int stopped = 0;             // operations that ended because their attempt was stopped
    int writesStarted = 0;
    int writesFinished = 0;
    int deafInside = 0;   // deaf operations in progress
    bool closed = false;  // the device was destroyed: the port is closed

    void LetGo() {
        std::lock_guard<std::mutex> guard(mutex);
        letGo = true;
        changed.notify_all();
    }
    template <typename Read>
    auto Locked(Read read) {
        std::lock_guard<std::mutex> guard(mutex);
        return read(*this);
    }
    // Waits until what holds, for at most ten seconds.
    template <typename Until>
    bool WaitUntil(Until until) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return until(*this); });
    }
};

class FakeDevice : public SerialDevice {
public:
    explicit FakeDevice(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}
    ~FakeDevice() override {
        std::lock_guard<std::mutex> guard(line_->mutex);
        line_->closed = true;
        line_->changed.notify_all();
    }
    ChannelHandle Handle() const override { return 7; }

    std::int32_t QueuedInput(const StopSignal& stop) override {
        std::unique_lock<std::mutex> lock(line_->mutex);
        if (!queried_) {
            queried_ = true;
            line_->changed.wait_for(lock, line_->firstQueryHold, [] { return false; });
        }
        if (line_->writesFinished > 0 && line_->input.empty() && !line_->reply.empty()) {
            ++line_->queriesAfterReply;
        }
        const bool writing = line_->writesStarted != line_->writesFinished;
        const auto queries = line_->queries;
        if (queries == FakeLine::Queries::Deaf ||
            (writing && queries == FakeLine::Queries::DeafWhileWriting)) {
            Deaf(lock);
        } else if (writing && queries == FakeLine::Queries::HangWhileWriting) {
            Hang(lock, stop, std::chrono::seconds(30));
        }
        return stop.IsSet() ? 0 : static_cast<std::int32_t>(line_->input.size());
    }
    std::int32_t Read(void* buffer, std::int32_t length, const StopSignal&) override {
        std::lock_guard<std::mutex> guard(line_->mutex);
        const std::size_t count = std::min(line_->input.size(), static_cast<std::size_t>(length));
        line_->input.copy(static_cast<char*>(buffer), count);
        line_->input.erase(0, count);
        return static_cast<std::int32_t>(count);
    }
    std::int32_t Write(const void*, std::int32_t length, const StopSignal& stop) override {
        std::unique_lock<std::mutex> lock(line_->mutex);
        ++line_->writesStarted;
        if (line_->deafWrites) {
            Deaf(lock);
        } else {
            Hang(lock, stop, line_->writeTime);
        }
        const bool stopped = stop.IsSet();
        if (stopped) {
            line_->changed.wait_for(lock, line_->stoppedWriteTime, [] { return false; });
            if (line_->backAfterStop) {
                line_->writeTime = line_->stoppedWriteTime = Millis(0);
                line_->reply = "on#\r";
            }
        } else {
            line_->input += line_->reply;
        }
        ++line_->writesFinished;
        line_->changed.notify_all();
        return stopped ? 0 : length;
    }

private:
    // Waits for the time given or until the attempt is stopped.
    void Hang(std::unique_lock<std::mutex>& lock, const StopSignal& stop, Millis time) {
        const auto until = Clock::now() + time;
        while (!stop.IsSet() && Clock::now() < until) {
            line_->changed.wait_for(lock, Millis(1));
        }
        line_->stopped += stop.IsSet() ? 1 : 0;
    }
    // Waits until the test lets go, stopped or not; bounded, so that a fault shows as a failure
    // rather than a hung test.
    void Deaf(std::unique_lock<std::mutex>& lock) {
        ++line_->deafInside;
        line_->changed.notify_all();
        line_->changed.wait_for(lock, std::chrono::seconds(30), [this] { return line_->letGo; });
        --line_->deafInside;
    }

    std::shared_ptr<FakeLine> line_;
    bool queried_ = false;
};

// Opens FakeDevices on the line, refusing while the last one is still open, as a port opened
// without sharing does; every other path goes to the platform's backend.
inline SerialDeviceOpener FakeDevicesOn(const std::shared_ptr<FakeLine>& line,
                                        const Text& fakePath = u"\\\\.\\COM1") {
    line->closed = true;
    return [line, fakePath](const Text& path, const LineSettings& settings,
                            const StopSignal& stop) -> std::unique_ptr<SerialDevice> {
        if (path != fakePath) {
            return OpenSerialDevice(path, settings, stop);
        }
        std::lock_guard<std::mutex> guard(line->mutex);
        if (!line->closed) {
            return nullptr;
        }
        line->closed = false;
        return std::make_unique<FakeDevice>(line);
    };
}

}  // namespace taktor
