// StorageFile acquisition by polling, on the worker's main thread.
#include "worker/file_acquisition.h"

#include "share/activation.h"
#include "share/hresult_error.h"
#include "share/hstring.h"
#include "worker/share_outcome.h"

namespace quibshare {

namespace {

// Older SDK headers leave touch and pointer input out of QS_ALLINPUT.
static_assert(QS_ALLINPUT == 0x1CFF);

using Operation = ComPtr<abi::IAsyncOperationStorageFile>;

abi::AsyncStatus ReadStatus(const Operation& operation) {
  ComPtr<abi::IAsyncInfo> info;
  ThrowIfFailed(operation.As(info));
  abi::AsyncStatus status = abi::AsyncStatus::Started;
  ThrowIfFailed(info->get_Status(&status));
  return status;
}

// Nothing waits for a cancelled operation; a failure to cancel is raised instead.
void Cancel(const Operation& operation) {
  ComPtr<abi::IAsyncInfo> info;
  ThrowIfFailed(operation.As(info));
  ThrowIfFailed(info->Cancel());
}

}  // namespace

ComPtr<abi::IStorageFile> AcquireStorageFile(const std::wstring& path,
                                             std::chrono::nanoseconds deadline) {
  const ComPtr<abi::IStorageFileStatics> statics =
      GetActivationFactory<abi::IStorageFileStatics>(L"Windows.Storage.StorageFile");
  Operation operation;
  ThrowIfFailed(statics->GetFileFromPathAsync(MakeHString(path).Get(), operation.Put()));

  const auto end = std::chrono::steady_clock::now() + deadline;
  // The status comes before the clock: an operation seen finished is taken even when late.
  while (ReadStatus(operation) == abi::AsyncStatus::Started) {
    if (std::chrono::steady_clock::now() >= end) {
      Cancel(operation);
      ThrowHResult(ShareTimeoutCode);
    }
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, FileAcquisitionPollMs, QS_ALLINPUT) ==
        WAIT_FAILED) {
      const DWORD error = GetLastError();
      Cancel(operation);
      ThrowHResult(HResultFromWin32(error));
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        Cancel(operation);
        // The quit request belongs to the thread's loop further out: hand it back.
        PostQuitMessage(static_cast<int>(message.wParam));
        ThrowHResult(E_ABORT);
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  ComPtr<abi::IStorageFile> file;
  ThrowIfFailed(operation->GetResults(file.Put()));
  return file;
}

}  // namespace quibshare
