// One transfer attempt: the parameter frame out, the controller's reply in, and what it means.
#include "link/transfer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "link/controller_link.h"
#include "link/reply.h"
#include "link/write_timing.h"

namespace taktor {

// What the workers of one attempt share with the main thread. Each attempt has its own, held by
// all of them: a worker that wakes late can only ever touch its own attempt's device, reply and
// stop signal.
struct ControllerLink::Attempt {
    explicit Attempt(Entry entry) : device(std::move(entry.device)), path(std::move(entry.path)) {}

    const std::shared_ptr<SerialDevice> device;
    const Text path;

    // Ends every port operation of this attempt, also those that start only later.
    StopSignal stop;

    // Set to 1 by the main thread when the reader has had its time; each poll must see the
    // latest store. It starts at 0 with the attempt, so a reader that starts late still sees a
    // stop that came before it.
    std::atomic<int> ReaderStopFlag{0};

    // The reply as this attempt's reader collects it; the main thread takes it as DeviceReply
    // only once the reader has ended by itself.
    Text reply;

    // Set by the writer once it has dropped the input that waited, before its frame goes out.
    std::mutex drainLock;
    std::condition_variable drainDone;
    bool drained = false;

    bool WaitDrained(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(drainLock);
        return drainDone.wait_for(lock, timeout, [this] { return drained; });
    }
};

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

void AskAboutDamage(const Text& text, MessageDialog& messages, TransferResult& result) {
    const int answer = messages.ShowMessage(kDamageTitle, text, kErrorQuestion);
    if (answer == kAnswerYes) {
        result = TransferResult::Unconfirmed;
    } else if (answer == kAnswerNo) {
        result = TransferResult::Aborted;
    }
}

}  // namespace

void ControllerLink::FrameWriter(Attempt& attempt, const ParameterFrame& bytes) {
    attempt.device->Write(bytes.data(), kFrameBytes, attempt.stop);
}

void ControllerLink::ReplyReader(Attempt& attempt) {
    ReplyCollector reply(attempt.reply);  // empties the reply
    std::vector<std::uint8_t> buffer(kReceiveBufferSize);
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

void ControllerLink::StopWorkers(Attempt& attempt, std::initializer_list<Worker*> workers) {
    attempt.stop.Set();
    for (Worker* worker : workers) {
        if (!WaitWithGrace(*worker, std::chrono::milliseconds(0))) {
            leftovers_.push_back({std::move(*worker), attempt.device, attempt.path});
        }
    }
}

void ControllerLink::DrainInput(Attempt& attempt) {
    std::vector<std::uint8_t> buffer(kReceiveBufferSize);
    for (int read = 0; read < kMaxDrainReads; ++read) {
        const std::int32_t waiting = attempt.device->QueuedInput(attempt.stop);
        if (waiting <= 0 || attempt.stop.IsSet()) {
            break;
        }
        attempt.device->Read(buffer.data(), std::min(waiting, kReceiveBufferSize), attempt.stop);
    }
    {
        std::lock_guard<std::mutex> guard(attempt.drainLock);
        attempt.drained = true;
    }
    attempt.drainDone.notify_all();
}

TransferResult ControllerLink::TransferAttempt(const PhaseDurations& durations,
                                               MessageDialog& messages) {
    FrameStorage = FrameWordsOf(durations);
    Entry entry = EntryOf(kControllerChannel);
    if (!entry.device) {
        return TransferResult::Aborted;
    }
    // Workers of earlier attempts still inside this device, then the input that waits, each
    // within an allowance of the attempt's own and what is left of the grace period.
    if (!Settle(entry.device, Clock::now() + kSettleAllowance)) {
        return TransferResult::Stalled;  // nothing more goes into a device a driver holds up
    }
    const auto attempt = std::make_shared<Attempt>(std::move(entry));
    if (!attempt->stop.Ready()) {
        return TransferResult::Unconfirmed;  // nothing was sent
    }

    // The writer drops the input that waits (a status query may hang in a broken driver, so
    // not on this thread), then sends the frame; the reader starts once the input is dropped.
    const ParameterFrame bytes = WireBytes(FrameStorage);
    Worker writer;
    Worker reader;
    if (!writer.Start([attempt, bytes, hook = writerStartHook_] {
            DrainInput(*attempt);
            if (hook) {
                hook(attempt->ReaderStopFlag, attempt->stop);
            }
            FrameWriter(*attempt, bytes);
        })) {
        return TransferResult::Unconfirmed;  // nothing was sent
    }
    if (!WaitWithGrace(
            [&](std::chrono::milliseconds timeout) { return attempt->WaitDrained(timeout); },
            kDrainAllowance)) {
        StopWorkers(*attempt, {&writer});
        return TransferResult::Stalled;
    }
    if (!reader.Start([attempt, hook = readerStartHook_] {
            if (hook) {
                hook(attempt->ReaderStopFlag, attempt->stop);
            }
            ReplyReader(*attempt);
        })) {
        // Without a reader there is no reply to judge; the last one must not stand in for it.
        StopWorkers(*attempt, {&writer});
        return TransferResult::Unconfirmed;
    }

    if (!reader.WaitFor(kWorkerWait)) {
        attempt->ReaderStopFlag.store(1);
        ReaderStopFlag = 1;
        if (!reader.WaitFor(kWorkerWait)) {
            // The reader hangs inside the driver. Its writer is stopped with it, so that no
            // write is left in progress.
            StopWorkers(*attempt, {&reader, &writer});
            return TransferResult::Stalled;
        }
    } else {
        ReaderStopFlag = 0;
    }
    if (!writer.WaitFor(kWorkerWait)) {
        StopWorkers(*attempt, {&writer});
        return TransferResult::Stalled;
    }

    DeviceReply = std::move(attempt->reply);
    const ReplyTokens tokens = ReadReplyTokens(DeviceReply);
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
