// The message waits of the worker's window thread: block briefly for input, then dispatch
// everything queued. Main thread of the worker.
#pragma once

#include <windows.h>

#include <optional>

namespace quibshare {

// MsgWaitForMultipleObjects with no handles, waking on any input; returns its result.
DWORD WaitForMessages(DWORD timeoutMs);

// Translates and dispatches queued messages until none is left. With `stopAtQuit`, a WM_QUIT
// taken from the queue ends the drain and is returned undispatched; otherwise it is dispatched
// like any other message.
std::optional<MSG> DrainMessages(bool stopAtQuit);

}  // namespace quibshare
