// The Windows share sheet behind ISharePlatform: apartment, owner window, DataTransferManager,
// the file, and the two waits. Main thread of the worker.
#include "worker/windows_share_platform.h"

#include <roapi.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

#include "handoff/handoff_channel.h"
#include "share/activation.h"
#include "share/data_request.h"
#include "share/hresult_error.h"
#include "support/unique_resource.h"
#include "worker/file_acquisition.h"
#include "worker/message_pump.h"
#include "worker/share_outcome.h"

namespace quibshare {

namespace {

constexpr wchar_t DataTransferManagerClass[] =
    L"Windows.ApplicationModel.DataTransfer.DataTransferManager";
constexpr std::chrono::nanoseconds DataRequestDeadline = std::chrono::seconds(30);
constexpr DWORD AwaitRequestPollMs = 50;
constexpr DWORD SharingPollMs = 25;

// Leaves the apartment on the way out, unless the thread already had another one.
class ApartmentScope {
 public:
  ApartmentScope() : result_(RoInitialize(RO_INIT_SINGLETHREADED)) {}
  ~ApartmentScope() {
    if (SUCCEEDED(result_)) RoUninitialize();
  }
  ApartmentScope(const ApartmentScope&) = delete;
  ApartmentScope& operator=(const ApartmentScope&) = delete;
  HRESULT Result() const { return result_; }

 private:
  HRESULT result_;
};

// The DataRequested subscription: removed first on every way out of ShareFile, before the
// share state its handler refers to.
class DataRequestedRegistration {
 public:
  DataRequestedRegistration(ComPtr<abi::IDataTransferManager> manager, EventRegistrationToken token)
      : manager_(std::move(manager)), token_(token) {}
  DataRequestedRegistration(const DataRequestedRegistration&) = delete;
  DataRequestedRegistration& operator=(const DataRequestedRegistration&) = delete;
  ~DataRequestedRegistration() {
    if (manager_) manager_->remove_DataRequested(token_);
  }

 private:
  ComPtr<abi::IDataTransferManager> manager_;
  EventRegistrationToken token_{};
};

// A shown but practically invisible tool popup the sheet is shown for. The broker knows it by
// its class and title, and does not take it for the share UI.
UniqueWindow CreateOwnerWindow() {
  UniqueWindow window(CreateWindowExW(WS_EX_TOOLWINDOW, OwnerWindowClass, OwnerWindowTitle, WS_POPUP,
                                      0, 0, 1, 1, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  if (window) {
    ShowWindow(window.Get(), SW_SHOW);
    UpdateWindow(window.Get());
    SetForegroundWindow(window.Get());
  }
  return window;
}

ComPtr<abi::IDataTransferManagerInterop> GetShareInterop() {
  try {
    return GetActivationFactory<abi::IDataTransferManagerInterop>(DataTransferManagerClass);
  } catch (const HResultError&) {
    return nullptr;
  }
}

// Until the sheet has the file, a request failed, or the deadline passed. A request served
// counts even when another failed: once the sheet has the file, it has it.
// WM_QUIT is dispatched like any message here: only the end of the share may stop on it.
ShareResult AwaitDataRequest(const std::atomic<bool>& dataRequested, const std::atomic<HRESULT>& handlerFailure) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (dataRequested.load()) return ShareResult::Shared();
    if (const HRESULT failure = handlerFailure.load(); FAILED(failure)) return ShareResult::DataRequestFailed(failure);
    if (std::chrono::steady_clock::now() - start > DataRequestDeadline) return ShareResult::PlatformFailed(ShareTimeoutCode);
    WaitForMessages(AwaitRequestPollMs);
    DrainMessages(false);
  }
}

// Until the sheet reports the end, its window goes, WM_QUIT comes, or `bound` has passed: after
// "Copy link" the sheet reports nothing at all.
void AwaitShareEnd(const std::atomic<bool>& shareFinished, HWND window, std::chrono::milliseconds bound) {
  const auto end = std::chrono::steady_clock::now() + bound;
  while (!shareFinished.load() && IsWindow(window) && std::chrono::steady_clock::now() < end) {
    WaitForMessages(SharingPollMs);
    if (DrainMessages(true)) return;
  }
}

}  // namespace

ShareResult WindowsSharePlatform::ShareFile(const std::wstring& path, std::function<void()> onReady) {
  const auto failed = ShareResult::PlatformFailed;
  const ApartmentScope apartment;
  if (FAILED(apartment.Result()) && apartment.Result() != RPC_E_CHANGED_MODE) return failed(apartment.Result());

  const UniqueWindow window = CreateOwnerWindow();
  if (!window) return failed(HResultFromWin32(GetLastError()));

  const ComPtr<abi::IDataTransferManagerInterop> interop = GetShareInterop();
  if (!interop) return failed(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
  ComPtr<abi::IDataTransferManager> manager;
  const HRESULT got = interop->GetForWindow(window.Get(), abi::IDataTransferManager::Iid, manager.PutVoid());
  if (FAILED(got)) return failed(got);
  // A manager reported but not given would otherwise pass for a share that happened.
  if (!manager) return failed(E_FAIL);

  ComPtr<abi::IStorageFile> storageFile;
  try {
    storageFile = AcquireStorageFile(path);
  } catch (const HResultError& error) {
    return failed(error.Code());
  }
  if (!storageFile) return failed(E_FAIL);

  // Declared in the order that makes destruction follow the required clean-up.
  const auto shareFinished = std::make_shared<std::atomic<bool>>(false);
  std::atomic<bool> dataRequested{false};
  std::atomic<HRESULT> handlerFailure{S_OK};
  ComPtr<abi::IDataPackage> dataPackage;
  EventRegistration shareCompletedRegistration;
  EventRegistration shareCanceledRegistration;
  const DataRequestBinding binding{path, storageFile, dataPackage, shareCompletedRegistration,
                                   shareFinished, shareCanceledRegistration, dataRequested, handlerFailure,
                                   onReady};
  std::optional<DataRequestedRegistration> dataRequestedRegistration;
  try {
    const ComPtr<abi::IDataRequestedHandler> handler = MakeDataRequestHandler(binding);
    EventRegistrationToken token{};
    ThrowIfFailed(manager->add_DataRequested(handler.Get(), &token));
    dataRequestedRegistration.emplace(manager, token);
  } catch (const HResultError& error) {
    return failed(error.Code());
  }

  // The sheet may ask for the data inside Show and Show still fail afterwards: the sheet then
  // has the file, and the share goes on.
  const HRESULT shown = interop->ShowShareUIForWindow(window.Get());
  if (FAILED(shown) && !dataRequested.load()) {
    const HRESULT failure = handlerFailure.load();
    return FAILED(failure) ? ShareResult::DataRequestFailed(failure) : failed(shown);
  }
  if (const ShareResult requested = AwaitDataRequest(dataRequested, handlerFailure);
      requested.failure != ShareResult::Failure::None) {
    return requested;
  }
  AwaitShareEnd(*shareFinished, window.Get(), sharingBound_);
  return ShareResult::Shared();
}

}  // namespace quibshare
