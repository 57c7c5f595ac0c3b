// The UI worker's run: validate again, share once, map the result. Main thread of the worker.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "support/input.h"
#include "worker/share_platform.h"

namespace quibshare {

// `arguments` holds exactly {program, option, path}. `onReady` is handed to the platform, or
// destroyed uncalled when the input is rejected. An empty `onFailure` sends failure texts
// straight to standard error. Returns the worker's exit code.
std::uint32_t RunUiWorker(const ArgumentList& arguments, ISharePlatform& platform,
                          std::function<void()> onReady,
                          const std::function<void(const std::wstring&)>& onFailure);

}  // namespace quibshare
