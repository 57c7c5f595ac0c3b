// The Windows share sheet behind ISharePlatform: apartment, owner window, DataTransferManager,
// the files, and the two waits. Main thread of the worker.
#include "worker/windows_share_platform.h"

#include <roapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "handoff/handoff_channel.h"
#include "share/activation.h"
#include "share/data_request.h"
#include "share/hresult_error.h"
#include "share/hstring.h"
#include "support/unique_resource.h"
#include "worker/file_acquisition.h"
#include "worker/message_pump.h"
#include "worker/share_outcome.h"

namespace quibshare {

namespace {

constexpr wchar_t DataTransferManagerClass[] =
    L"Windows.ApplicationModel.DataTransfer.DataTransferManager";
constexpr wchar_t UriClass[] = L"Windows.Foundation.Uri";
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

// A subscription to one of the manager's events (DataRequested, TargetApplicationChosen):
// removed first on every way out of ShareFile, before the share state its handler refers to.
class ManagerSubscription {
 public:
  using Remove = HRESULT (STDMETHODCALLTYPE abi::IDataTransferManager::*)(EventRegistrationToken);
  ManagerSubscription(ComPtr<abi::IDataTransferManager> manager, Remove remove, EventRegistrationToken token)
      : manager_(std::move(manager)), remove_(remove), token_(token) {}
  ManagerSubscription(const ManagerSubscription&) = delete;
  ManagerSubscription& operator=(const ManagerSubscription&) = delete;
  ~ManagerSubscription() {
    if (manager_) (manager_.Get()->*remove_)(token_);
  }

 private:
  ComPtr<abi::IDataTransferManager> manager_;
  Remove remove_;
  EventRegistrationToken token_{};
};

// Where the owner window goes: the centre of the host's rectangle, so that the sheet opens over
// the host and on its monitor; without one, the primary screen's corner.
POINT OwnerWindowPosition(const std::optional<Anchor>& anchor) {
  if (!anchor) return {0, 0};
  const auto centre = [](std::int32_t start, std::int32_t length) {
    const std::int64_t middle = std::int64_t{start} + length / 2;
    return static_cast<LONG>(std::clamp<std::int64_t>(middle, std::numeric_limits<std::int32_t>::min(),
                                                      std::numeric_limits<std::int32_t>::max()));
  };
  return {centre(anchor->x, anchor->width), centre(anchor->y, anchor->height)};
}

// A shown but practically invisible tool popup the sheet is shown for. The broker knows it by
// its class and does not take it for the share UI.
UniqueWindow CreateOwnerWindow(const std::optional<Anchor>& anchor) {
  const POINT at = OwnerWindowPosition(anchor);
  UniqueWindow window(CreateWindowExW(WS_EX_TOOLWINDOW, OwnerWindowClass, OwnerWindowTitle, WS_POPUP,
                                      at.x, at.y, 1, 1, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
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

// The factory of the platform's Uri class, which the web link must be; raises when it has none.
ComPtr<abi::IUriRuntimeClassFactory> GetUriFactory() {
  return GetActivationFactory<abi::IUriRuntimeClassFactory>(UriClass);
}

// Until the sheet has the files (nothing to report), a request failed, or the deadline passed.
// A request served counts even when another failed: once the sheet has the files, it has them.
// WM_QUIT is dispatched like any message here: only the end of the share may stop on it.
std::optional<ShareResult> AwaitDataRequest(const std::atomic<bool>& dataRequested,
                                            const std::atomic<HRESULT>& handlerFailure) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (dataRequested.load()) return std::nullopt;
    if (const HRESULT failure = handlerFailure.load(); FAILED(failure)) return ShareResult::DataRequestFailed(failure);
    if (std::chrono::steady_clock::now() - start > DataRequestDeadline) return ShareResult::PlatformFailed(ShareTimeoutCode);
    WaitForMessages(AwaitRequestPollMs);
    DrainMessages(false);
  }
}

// Until the sheet reports the end, its window goes, WM_QUIT comes, or `bound` has passed: after
// "Copy link" the sheet reports nothing at all.
void AwaitShareEnd(const ShareEndState& shareEnd, HWND window, std::chrono::milliseconds bound) {
  const auto end = std::chrono::steady_clock::now() + bound;
  while (!shareEnd.Finished() && IsWindow(window) && std::chrono::steady_clock::now() < end) {
    WaitForMessages(SharingPollMs);
    if (DrainMessages(true)) return;
  }
}

}  // namespace

ShareResult WindowsSharePlatform::ShareFile(const ShareContent& content, std::function<void()> onReady) {
  const auto failed = ShareResult::PlatformFailed;
  const ApartmentScope apartment;
  if (FAILED(apartment.Result()) && apartment.Result() != RPC_E_CHANGED_MODE) return failed(apartment.Result());

  const UniqueWindow window = CreateOwnerWindow(content.anchor);
  if (!window) return failed(HResultFromWin32(GetLastError()));

  const ComPtr<abi::IDataTransferManagerInterop> interop = GetShareInterop();
  if (!interop) return failed(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
  ComPtr<abi::IDataTransferManager> manager;
  const HRESULT got = interop->GetForWindow(window.Get(), abi::IDataTransferManager::Iid, manager.PutVoid());
  if (FAILED(got)) return failed(got);
  // A manager reported but not given would otherwise pass for a share that happened.
  if (!manager) return failed(E_FAIL);

  // Made before Show: a link the platform will not take is the host's mistake, told as such.
  ComPtr<abi::IUriRuntimeClass> webLink;
  if (!content.url.empty()) {
    HRESULT made = S_OK;
    try {
      made = GetUriFactory()->CreateUri(MakeHString(content.url).Get(), webLink.Put());
    } catch (const HResultError& error) {
      return failed(error.Code());
    }
    if (FAILED(made) || !webLink) return ShareResult::WebLinkRejected(FAILED(made) ? made : E_POINTER);
  }

  std::vector<ComPtr<abi::IStorageFile>> storageFiles;
  try {
    storageFiles = AcquireStorageFiles(content.paths);
  } catch (const HResultError& error) {
    return failed(error.Code());
  }
  for (const ComPtr<abi::IStorageFile>& file : storageFiles) {
    if (!file) return failed(E_FAIL);
  }

  // Declared in the order that makes destruction follow the required clean-up.
  const std::wstring title = content.title.empty() ? DefaultSheetTitle(content.paths) : content.title;
  const auto shareEnd = std::make_shared<ShareEndState>();
  std::atomic<bool> dataRequested{false};
  std::atomic<HRESULT> handlerFailure{S_OK};
  ComPtr<abi::IDataPackage> dataPackage;
  EventRegistration shareCompletedRegistration;
  EventRegistration shareCanceledRegistration;
  const DataRequestBinding binding{title,          content.text,  webLink,
                                   storageFiles,   dataPackage,   shareCompletedRegistration,
                                   shareEnd,       shareCanceledRegistration,
                                   dataRequested,  handlerFailure, onReady};
  std::optional<ManagerSubscription> dataRequestedRegistration;
  std::optional<ManagerSubscription> targetChosenRegistration;
  try {
    const ComPtr<abi::IDataRequestedHandler> handler = MakeDataRequestHandler(binding);
    EventRegistrationToken token{};
    ThrowIfFailed(manager->add_DataRequested(handler.Get(), &token));
    dataRequestedRegistration.emplace(manager, &abi::IDataTransferManager::remove_DataRequested, token);
    // Only tells the outcome which app was chosen: a sheet that will not say shares all the same.
    const ComPtr<abi::ITargetApplicationChosenHandler> chosen = MakeTargetChosenHandler(shareEnd);
    if (SUCCEEDED(manager->add_TargetApplicationChosen(chosen.Get(), &token))) {
      targetChosenRegistration.emplace(manager, &abi::IDataTransferManager::remove_TargetApplicationChosen, token);
    }
  } catch (const HResultError& error) {
    return failed(error.Code());
  }

  // The sheet may ask for the data inside Show and Show still fail afterwards: the sheet then
  // has the files, and the share goes on.
  const HRESULT shown = interop->ShowShareUIForWindow(window.Get());
  if (FAILED(shown) && !dataRequested.load()) {
    const HRESULT failure = handlerFailure.load();
    return FAILED(failure) ? ShareResult::DataRequestFailed(failure) : failed(shown);
  }
  if (std::optional<ShareResult> failure = AwaitDataRequest(dataRequested, handlerFailure)) return *failure;
  AwaitShareEnd(*shareEnd, window.Get(), sharingBound_);
  return ShareResult::Shared(shareEnd->TakeOutcome());
}

}  // namespace quibshare
