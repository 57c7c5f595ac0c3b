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

// The operations started so far, with those seen running. Nothing waits for a cancelled
// operation; a failure to cancel is raised instead.
class Operations {
 public:
  void Start(const ComPtr<abi::IStorageFileStatics>& statics, const std::wstring& path) {
    Operation operation;
    ThrowIfFailedOrEmpty(statics->GetFileFromPathAsync(MakeHString(path).Get(), operation.Put()), operation);
    operations_.push_back(std::move(operation));
    running_.push_back(true);
  }

  // Reads the status of those not yet seen finished; true while any still runs. When a read
  // fails, the others still running are cancelled before the failure is raised: that one's
  // state is unknown, theirs is not.
  bool AnyRunning() {
    bool any = false;
    for (std::size_t i = 0; i < operations_.size(); ++i) {
      if (running_[i]) {
        try {
          running_[i] = ReadStatus(operations_[i]) == abi::AsyncStatus::Started;
        } catch (...) {
          running_[i] = false;
          CancelRunning();
          throw;
        }
      }
      any = any || running_[i];
    }
    return any;
  }

  void CancelRunning() {
    for (std::size_t i = 0; i < operations_.size(); ++i) {
      if (!running_[i]) continue;
      ComPtr<abi::IAsyncInfo> info;
      ThrowIfFailedOrEmpty(operations_[i].As(info), info);
      ThrowIfFailed(info->Cancel());
      running_[i] = false;
    }
  }

  std::vector<ComPtr<abi::IStorageFile>> Results() const {
    std::vector<ComPtr<abi::IStorageFile>> files(operations_.size());
    for (std::size_t i = 0; i < operations_.size(); ++i) ThrowIfFailed(operations_[i]->GetResults(files[i].Put()));
    return files;
  }

 private:
  std::vector<Operation> operations_;
  std::vector<bool> running_;
};

}  // namespace

std::vector<ComPtr<abi::IStorageFile>> AcquireStorageFiles(const std::vector<std::wstring>& paths,
                                                           std::chrono::nanoseconds deadline) {
  const ComPtr<abi::IStorageFileStatics> statics =
      GetActivationFactory<abi::IStorageFileStatics>(L"Windows.Storage.StorageFile");
  Operations operations;
  try {
    for (const std::wstring& path : paths) operations.Start(statics, path);
  } catch (...) {
    // Those already started must not run on unseen.
    operations.CancelRunning();
    throw;
  }

  const auto end = std::chrono::steady_clock::now() + deadline;
  // The status comes before the clock: an operation seen finished is taken even when late.
  while (operations.AnyRunning()) {
    if (std::chrono::steady_clock::now() >= end) {
      operations.CancelRunning();
      ThrowHResult(ShareTimeoutCode);
    }
    if (WaitForMessages(FileAcquisitionPollMs) == WAIT_FAILED) {
      const DWORD error = GetLastError();
      operations.CancelRunning();
      ThrowHResult(HResultFromWin32(error));
    }
    if (const std::optional<MSG> quit = DrainMessages(true)) {
      operations.CancelRunning();
      // The quit request belongs to the thread's loop further out: hand it back.
      PostQuitMessage(static_cast<int>(quit->wParam));
      ThrowHResult(E_ABORT);
    }
  }
  return operations.Results();
}

}  // namespace quibshare
