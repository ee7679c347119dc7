// One transfer attempt: the parameter frame out, the controller's reply in, and what it means.
#include "link/controller_link.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "link/reply.h"
#include "link/write_timing.h"

namespace taktor {

namespace {

// More reads than a real line could fill while the drain runs: the drain ends even against a
// peer that never stops sending.
constexpr int kMaxDrainReads = 64;

const Text kDamageTitle = u"Внимание!";
const Text kMcuDamageText =
    u"Повреждена EEPROM микроконтроллера\n"
    u"Для повтора операции нажмите “ДА”\n"
    u"Для разрыва связи нажмите “НЕТ”\n";
const Text kExternalDamageText =
    u"Повреждена EEPROM внешняя\n"
    u"Для повтора операции нажмите “ДА”\n"
    u"Для разрыва связи нажмите “НЕТ”\n";

// The state one attempt shares with its two workers, under the names the design gives it. Each
// attempt has its own, held by all of them: a worker that wakes late can only ever touch its own
// attempt's device, frame, reply and stop.
struct Attempt {
    Attempt(std::shared_ptr<SerialDevice> port, const PhaseDurations& durations)
        : device(std::move(port)), FrameStorage(ParameterFrameOf(durations)) {}

    const std::shared_ptr<SerialDevice> device;
    // The frame in wire order, written before the workers start; read by FrameWriter only.
    const ParameterFrame FrameStorage;
    // Written by ReplyReader while it runs; read by the main thread once the reader has ended
    // by itself.
    Text DeviceReply;
    // Set to 1 by the main thread when the reader has had its time; each poll must see the
    // latest store. It starts at 0 with the attempt and the reader never clears it, so a reader
    // that starts late still sees a stop that came before it.
    std::atomic<int> ReaderStopFlag{0};
    // Ends every port operation of this attempt, also those that start only later.
    StopSignal stop;

    // Set, under lock, once the writer has dropped the input that waited before the frame, or
    // once the attempt is stopped: what the reader waits for.
    std::mutex lock;
    std::condition_variable changed;
    bool drained = false;
};

// Drops the input that waited, then writes the frame. The status query may hang in a broken
// driver, which is why the drain is done here and not on the main thread; the reader starts its
// polls once it is done, while the frame is on its way.
void FrameWriter(Attempt& attempt) {
    std::vector<std::uint8_t> buffer(kReceiveBufferSize);
    for (int read = 0; read < kMaxDrainReads; ++read) {
        const std::int32_t waiting = attempt.device->QueuedInput(attempt.stop);
        if (waiting <= 0) {
            break;
        }
        attempt.device->Read(buffer.data(), std::min(waiting, kReceiveBufferSize), attempt.stop);
    }
    {
        std::lock_guard<std::mutex> guard(attempt.lock);
        attempt.drained = true;
    }
    attempt.changed.notify_all();
    attempt.device->Write(attempt.FrameStorage.data(), kFrameBytes, attempt.stop);
}

// Collects the reply, once the input that waited is gone, until its terminator or the stop flag.
void ReplyReader(Attempt& attempt) {
    {
        std::unique_lock<std::mutex> lock(attempt.lock);
        attempt.changed.wait(lock, [&] { return attempt.drained || attempt.stop.IsSet(); });
    }
    std::vector<std::uint8_t> buffer(kReceiveBufferSize);
    ReplyCollector reply(attempt.DeviceReply);  // empties the reply
    for (;;) {
        const std::int32_t waiting = attempt.device->QueuedInput(attempt.stop);
        if (waiting > 0) {
            const std::int32_t got = attempt.device->Read(
                buffer.data(), std::min(waiting, kReceiveBufferSize), attempt.stop);
            reply.Add(buffer.data(), got);
        }
        if (reply.Complete() || attempt.ReaderStopFlag.load() == 1 || attempt.stop.IsSet()) {
            break;
        }
    }
}

// Ends the attempt's operations and waits for its workers within kStopWait; one that has not
// returned by then is walked away from.
void StopWorkers(Attempt& attempt, std::initializer_list<Worker*> workers) {
    attempt.stop.Set();
    {
        std::lock_guard<std::mutex> guard(attempt.lock);  // the reader tests the stop under it
    }
    attempt.changed.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    for (Worker* worker : workers) {
        worker->WaitUntil(deadline);
    }
}

void AskAboutDamage(const Text& text, MessageDialog& messages, TransferResult& result) {
    const int answer = messages.ShowMessage(kDamageTitle, text, kErrorQuestion);
    if (answer == kAnswerYes) {
        result = TransferResult::Unconfirmed;
    } else if (answer == kAnswerNo) {
        result = TransferResult::Aborted;
    }
}

}  // namespace

TransferResult ControllerLink::TransferAttempt(const PhaseDurations& durations,
                                               MessageDialog& messages) {
    const Entry entry = EntryOf(ControllerChannel);
    if (!entry.device) {
        return TransferResult::Aborted;
    }
    // A thread of an earlier attempt still inside this port's driver: nothing more goes to the
    // port until it has returned.
    if (!PortFree(entry.path, kSettleWait)) {
        return TransferResult::Stalled;
    }
    const auto attempt = std::make_shared<Attempt>(entry.device, durations);
    Worker writer;
    Worker reader;
    if (!attempt->stop.Ready() ||
        !StartOnPort(writer, entry.path, [attempt] { FrameWriter(*attempt); })) {
        return TransferResult::Unconfirmed;  // nothing was sent
    }
    if (!StartOnPort(reader, entry.path, [attempt] { ReplyReader(*attempt); })) {
        // Without a reader there is no reply to judge.
        StopWorkers(*attempt, {&writer});
        return TransferResult::Unconfirmed;
    }

    if (!reader.WaitFor(kWorkerWait)) {
        attempt->ReaderStopFlag.store(1);
        if (!reader.WaitFor(kWorkerWait)) {
            // The reader hangs inside the driver. Its writer is stopped with it, so that no
            // write is left in progress.
            StopWorkers(*attempt, {&reader, &writer});
            return TransferResult::Stalled;
        }
    }
    if (!writer.WaitFor(kWorkerWait)) {
        StopWorkers(*attempt, {&writer});
        return TransferResult::Stalled;
    }

    const ReplyTokens tokens = ReadReplyTokens(attempt->DeviceReply);
    TransferResult result =
        tokens.confirmed ? TransferResult::Confirmed : TransferResult::Unconfirmed;
    if (tokens.mcuDamaged) {
        AskAboutDamage(kMcuDamageText, messages, result);
    }
    if (tokens.externalDamaged) {
        AskAboutDamage(kExternalDamageText, messages, result);
    }
    return result;
}

}  // namespace taktor
