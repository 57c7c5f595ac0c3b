// Opens a StorageFile for a path while the calling window thread keeps pumping messages.
// Main thread of the worker, inside its single-threaded apartment.
#pragma once

#include <chrono>
#include <string>

#include "share/com_ptr.h"
#include "share/winrt_abi.h"

namespace quibshare {

inline constexpr std::chrono::nanoseconds FileAcquisitionDeadline = std::chrono::seconds(30);
inline constexpr DWORD FileAcquisitionPollMs = 50;

// Starts StorageFile.GetFileFromPathAsync and polls it between message waits of at most 50 ms.
// Raises HResultError: 0x800705B4 when still running at the deadline, E_ABORT on WM_QUIT (which
// is posted again), the platform's code otherwise; the operation is cancelled first where it
// may still run. Returns an empty reference only when the operation yields no file.
ComPtr<abi::IStorageFile> AcquireStorageFile(
    const std::wstring& path, std::chrono::nanoseconds deadline = FileAcquisitionDeadline);

}  // namespace quibshare
