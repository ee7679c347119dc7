// For tests only: a look inside the controller link, and hooks into its workers.
#pragma once

#include <utility>

#include "common/text.h"
#include "link/controller_link.h"

namespace taktor {

class LinkTestAccess {
public:
    // A function that every writer runs just before its frame goes out, or every reader before
    // its first poll, on the worker's own thread, given its attempt's reader stop flag and stop
    // signal; empty for none. Lets a test stand in for a worker that the system holds up.
    using WorkerHook = ControllerLink::WorkerHook;
    static void SetWriterStartHook(ControllerLink& link, WorkerHook hook) {
        link.writerStartHook_ = std::move(hook);
    }
    static void SetReaderStartHook(ControllerLink& link, WorkerHook hook) {
        link.readerStartHook_ = std::move(hook);
    }

    // The text of the last reply (DeviceReply), as the last reader that ended by itself left it.
    static Text DeviceReply(const ControllerLink& link) { return link.DeviceReply; }

    // 1 when the last attempt's reader had to be told to stop: it had not found the reply's
    // terminator within its first wait.
    static int ReaderStopFlag(const ControllerLink& link) { return link.ReaderStopFlag; }
};

}  // namespace taktor
