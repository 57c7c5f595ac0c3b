// Opens StorageFiles for paths while the calling window thread keeps pumping messages.
// Main thread of the worker, inside its single-threaded apartment.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "share/com_ptr.h"
#include "share/winrt_abi.h"

namespace quibshare {

inline constexpr std::chrono::nanoseconds FileAcquisitionDeadline = std::chrono::seconds(30);
inline constexpr DWORD FileAcquisitionPollMs = 50;

// Starts StorageFile.GetFileFromPathAsync for every path at once and polls them between message
// waits of at most 50 ms, all under the one deadline. Raises HResultError: 0x800705B4 when one is
// still running at the deadline, E_ABORT on WM_QUIT (which is posted again), the platform's code
// otherwise (the first failing path's, in order); operations that may still run are cancelled
// first. Returns the files in the order of the paths; an entry is empty only when its operation
// yielded no file.
std::vector<ComPtr<abi::IStorageFile>> AcquireStorageFiles(
    const std::vector<std::wstring>& paths, std::chrono::nanoseconds deadline = FileAcquisitionDeadline);

}  // namespace quibshare
