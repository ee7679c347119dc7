#include "link/transfer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "link/reply.h"
#include "link/serial_channel.h"
#include "link/testing/transfer_testing.h"
#include "link/worker.h"

namespace taktor {

namespace {

using std::chrono::milliseconds;

// What the workers of one attempt share with the main thread. Each attempt has its own, held by
// all of them through a shared pointer: a worker left inside the channel can never write into
// the reply of a later attempt, and what it holds is freed when it ends.
struct WorkerShared {
    // The reply as this reader collects it; the main thread takes it as DeviceReply only once
    // the reader has ended by itself.
    Text reply;

    // Set to 0 by the reader when it starts and to 1 by the main thread when the reader has had
    // its time; each poll must see the latest store.
    std::atomic<int> ReaderStopFlag{0};

    // Set by the main thread when the workers are stopped by force. Unlike ReaderStopFlag the
    // reader never clears it, so a reader that started too late to see the stop still ends, and
    // a worker that starts only after the stop does not touch the channel at all.
    std::atomic<bool> forcedStop{false};
};

// The attempt's process-wide state, main thread only. The workers get copies of what they need
// (the frame's bytes, their WorkerShared), never a reference into this.
struct AttemptState {
    // The frame of the current attempt: allocated at start-up, written before FrameWriter
    // starts with a copy of its bytes.
    std::unique_ptr<FrameWords> FrameStorage;

    // The reply of the last reader that ended by itself.
    Text DeviceReply;

    // Workers that did not end when stopped: they are still inside a channel operation that the
    // driver has not finished. No attempt uses the channel while one of them runs.
    std::vector<Worker> leftInChannel;

    // Runs in the reader thread before the reader itself (tests only).
    std::function<void()> ReaderStartHook;
};

AttemptState attempt;

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

void FrameWriter(const ParameterFrame& bytes, const WorkerShared& shared) {
    if (!shared.forcedStop.load() && IsChannelOpen(kControllerChannel)) {
        WriteChannel(kControllerChannel, bytes.data(), kFrameBytes);
    }
}

void ReplyReader(WorkerShared& shared) {
    ReplyCollector reply(shared.reply);  // empties the reply
    shared.ReaderStopFlag.store(0);
    std::vector<std::uint8_t> buffer(kReceiveBufferSize);
    while (!shared.forcedStop.load()) {
        const std::int32_t waiting = AvailableInput(kControllerChannel);
        if (waiting > 0) {
            const std::int32_t got = ReadChannel(kControllerChannel, buffer.data(),
                                                 std::min(waiting, kReceiveBufferSize));
            reply.Add(buffer.data(), got);
        }
        if (reply.Complete() || shared.ReaderStopFlag.load() == 1) {
            break;
        }
    }
}

// True while a worker of an earlier attempt is still inside the channel.
bool ChannelStuck() {
    auto& left = attempt.leftInChannel;
    left.erase(std::remove_if(left.begin(), left.end(),
                              [](const Worker& worker) { return !worker.Running(); }),
               left.end());
    return !left.empty();
}

// Stops the workers by force: they stop touching the channel, its operations are cancelled, and
// the main thread waits for them within the grace period. One that has not ended then is left
// inside the channel (link/worker.h).
void StopWorkers(WorkerShared& shared, std::initializer_list<Worker*> workers) {
    shared.forcedStop.store(true);
    CancelChannelIo(kControllerChannel);
    for (Worker* worker : workers) {
        if (!WaitWithGrace(*worker)) {
            attempt.leftInChannel.push_back(std::move(*worker));
        }
    }
}

// Drops whatever is waiting on the line, so that bytes left from an earlier exchange can never
// confirm this one. On a worker, since a status query may hang in a broken driver. False when
// the drain did not end.
bool DrainInput(const std::shared_ptr<WorkerShared>& shared) {
    Worker drainer;
    const bool started = drainer.Start([shared] {
        std::vector<std::uint8_t> buffer(kReceiveBufferSize);
        for (int read = 0; read < kMaxDrainReads && !shared->forcedStop.load(); ++read) {
            const std::int32_t waiting = AvailableInput(kControllerChannel);
            if (waiting <= 0) {
                break;
            }
            ReadChannel(kControllerChannel, buffer.data(), std::min(waiting, kReceiveBufferSize));
        }
    });
    if (started && WaitWithGrace(drainer)) {
        return true;
    }
    StopWorkers(*shared, {&drainer});
    return false;
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

void AllocateFrameStorage() {
    attempt.FrameStorage = std::make_unique<FrameWords>();
}

void ReleaseFrameStorage() {
    attempt.FrameStorage.reset();
}

void SetReaderStartHook(std::function<void()> hook) {
    attempt.ReaderStartHook = std::move(hook);
}

Text LastDeviceReply() {
    return attempt.DeviceReply;
}

TransferResult TransferAttempt(const PhaseDurations& durations, MessageDialog& messages) {
    if (!attempt.FrameStorage) {
        AllocateFrameStorage();
    }
    *attempt.FrameStorage = FrameWordsOf(durations);
    if (!IsChannelOpen(kControllerChannel)) {
        return TransferResult::Aborted;
    }
    if (ChannelStuck()) {
        return TransferResult::Stalled;  // nothing more goes into a channel a driver holds up
    }
    ResumeChannelIo(kControllerChannel);
    const auto shared = std::make_shared<WorkerShared>();
    if (!DrainInput(shared)) {
        return TransferResult::Stalled;
    }

    const ParameterFrame bytes = WireBytes(*attempt.FrameStorage);
    Worker writer;
    Worker reader;
    if (!writer.Start([bytes, shared] { FrameWriter(bytes, *shared); })) {
        return TransferResult::Unconfirmed;  // nothing was sent
    }
    if (!reader.Start([shared, hook = attempt.ReaderStartHook] {
            if (hook) {
                hook();
            }
            ReplyReader(*shared);
        })) {
        // Without a reader there is no reply to judge; the last one must not stand in for it.
        if (!writer.WaitFor(milliseconds(kWorkerWaitMs))) {
            StopWorkers(*shared, {&writer});
        }
        return TransferResult::Unconfirmed;
    }

    if (!reader.WaitFor(milliseconds(kWorkerWaitMs))) {
        shared->ReaderStopFlag.store(1);
        if (!reader.WaitFor(milliseconds(kWorkerWaitMs))) {
            // The reader hangs inside the channel, or started so late that it cleared the stop
            // flag after it was set. The forced stop reaches the one, the cancellation the
            // other; the writer is stopped with it, so that no write is left in progress.
            StopWorkers(*shared, {&reader, &writer});
            return TransferResult::Stalled;
        }
    }
    if (!writer.WaitFor(milliseconds(kWorkerWaitMs))) {
        StopWorkers(*shared, {&writer});
        return TransferResult::Stalled;
    }

    attempt.DeviceReply = std::move(shared->reply);
    const ReplyTokens tokens = ReadReplyTokens(attempt.DeviceReply);
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
