// The UI worker's run: validate again, share once, map the result. Main thread of the worker.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "support/input.h"
#include "support/outcome.h"
#include "worker/share_platform.h"

namespace quibshare {

// `arguments` is the host's request as the worker received it (program, then `--input <path>`
// and the options). `onReady` is handed to the platform, or destroyed uncalled when the input is
// rejected. An empty `onFailure` sends failure texts straight to standard error. `onOutcome`, when
// given, hears how a share that did not fail ended. Returns the worker's exit code.
std::uint32_t RunUiWorker(const ArgumentList& arguments, ISharePlatform& platform,
                          std::function<void()> onReady,
                          const std::function<void(const std::wstring&)>& onFailure,
                          const std::function<void(const ShareOutcome&)>& onOutcome = nullptr);

}  // namespace quibshare
