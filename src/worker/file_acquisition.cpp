// StorageFile acquisition by polling, on the worker's main thread.
#include "worker/file_acquisition.h"

#include "share/activation.h"
#include "share/hresult_error.h"
#include "share/hstring.h"
#include "worker/message_pump.h"
#include "worker/share_outcome.h"

namespace quibshare {

namespace {

using Operation = ComPtr<abi::IAsyncOperationStorageFile>;

abi::AsyncStatus ReadStatus(const Operation& operation) {
  ComPtr<abi::IAsyncInfo> info;
  ThrowIfFailedOrEmpty(operation.As(info), info);
  abi::AsyncStatus status = abi::AsyncStatus::Started;
  ThrowIfFailed(info->get_Status(&status));
  return status;
}

// Nothing waits for a cancelled operation; a failure to cancel is raised instead.
void Cancel(const Operation& operation) {
  ComPtr<abi::IAsyncInfo> info;
  ThrowIfFailedOrEmpty(operation.As(info), info);
  ThrowIfFailed(info->Cancel());
}

}  // namespace

ComPtr<abi::IStorageFile> AcquireStorageFile(const std::wstring& path,
                                             std::chrono::nanoseconds deadline) {
  const ComPtr<abi::IStorageFileStatics> statics =
      GetActivationFactory<abi::IStorageFileStatics>(L"Windows.Storage.StorageFile");
  Operation operation;
  ThrowIfFailedOrEmpty(statics->GetFileFromPathAsync(MakeHString(path).Get(), operation.Put()), operation);

  const auto end = std::chrono::steady_clock::now() + deadline;
  // The status comes before the clock: an operation seen finished is taken even when late.
  while (ReadStatus(operation) == abi::AsyncStatus::Started) {
    if (std::chrono::steady_clock::now() >= end) {
      Cancel(operation);
      ThrowHResult(ShareTimeoutCode);
    }
    if (WaitForMessages(FileAcquisitionPollMs) == WAIT_FAILED) {
      const DWORD error = GetLastError();
      Cancel(operation);
      ThrowHResult(HResultFromWin32(error));
    }
    if (const std::optional<MSG> quit = DrainMessages(true)) {
      Cancel(operation);
      // The quit request belongs to the thread's loop further out: hand it back.
      PostQuitMessage(static_cast<int>(quit->wParam));
      ThrowHResult(E_ABORT);
    }
  }
  ComPtr<abi::IStorageFile> file;
  ThrowIfFailed(operation->GetResults(file.Put()));
  return file;
}

}  // namespace quibshare
