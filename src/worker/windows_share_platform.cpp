// The Windows share sheet behind ISharePlatform: apartment, owner window, DataTransferManager,
// the payload, the share session, and the two waits. Main thread of the worker.
#include "worker/windows_share_platform.h"

#include <roapi.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "handoff/handoff_channel.h"
#include "share/activation.h"
#include "share/share_session.h"
#include "share/sheet_title.h"
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

// The share service for the owner window: its interop interface and the window's manager.
struct ShareService {
  ComPtr<abi::IDataTransferManagerInterop> interop;
  ComPtr<abi::IDataTransferManager> manager;
};

HRESULT FindShareService(HWND window, ShareService& service) {
  if (FAILED(GetActivationFactory(DataTransferManagerClass, abi::IDataTransferManagerInterop::Iid,
                                  service.interop.PutVoid()))) {
    return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
  }
  const HRESULT got = service.interop->GetForWindow(window, abi::IDataTransferManager::Iid, service.manager.PutVoid());
  if (FAILED(got)) return got;
  // A manager reported but not given would otherwise pass for a share that happened.
  return service.manager ? S_OK : E_FAIL;
}

// What the sheet will be given: the web link made before Show (a link the platform will not
// take is the host's mistake, told as such), the files when there are any (nothing about
// files runs without them), and the title. Nothing when it is all there.
std::optional<ShareResult> PreparePayload(const ShareContent& content, ShareSession::Payload& payload) {
  try {
    if (!content.url.empty()) {
      const HRESULT made = GetActivationFactory<abi::IUriRuntimeClassFactory>(UriClass)->CreateUri(
          MakeHString(content.url).Get(), payload.webLink.Put());
      if (FAILED(made) || !payload.webLink) return ShareResult::WebLinkRejected(FAILED(made) ? made : E_POINTER);
    }
    if (!content.paths.empty()) payload.storageFiles = AcquireStorageFiles(content.paths);
    for (const ComPtr<abi::IStorageFile>& file : payload.storageFiles) {
      if (!file) return ShareResult::PlatformFailed(E_FAIL);
    }
    payload.title = SheetTitle(content.title, content.paths, payload.webLink.Get(), content.text);
    payload.text = content.text;
  } catch (const HResultError& error) {
    return ShareResult::PlatformFailed(error.Code());
  }
  return std::nullopt;
}

// Closes the session on every way out of ShareFile: the platform may hold its handlers longer.
class OpenSession {
 public:
  explicit OpenSession(std::shared_ptr<ShareSession> session) : session_(std::move(session)) {}
  OpenSession(const OpenSession&) = delete;
  OpenSession& operator=(const OpenSession&) = delete;
  ~OpenSession() { session_->Close(); }
  ShareSession* operator->() const { return session_.get(); }
  ShareSession& operator*() const { return *session_; }

 private:
  std::shared_ptr<ShareSession> session_;
};

// The sheet may ask for the data inside Show and Show still fail afterwards: the sheet then
// has the files, and the share goes on.
std::optional<ShareResult> ShowSheet(const ShareService& service, HWND window, const ShareSession& session) {
  const HRESULT shown = service.interop->ShowShareUIForWindow(window);
  if (SUCCEEDED(shown) || session.DataRequested()) return std::nullopt;
  const HRESULT failure = session.HandlerFailure();
  return FAILED(failure) ? ShareResult::DataRequestFailed(failure) : ShareResult::PlatformFailed(shown);
}

// Until the sheet has the files (nothing to report), a request failed, or the deadline passed.
// A request served counts even when another failed: once the sheet has the files, it has them.
// WM_QUIT is dispatched like any message here: only the end of the share may stop on it.
std::optional<ShareResult> AwaitDataRequest(const ShareSession& session) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (session.DataRequested()) return std::nullopt;
    if (const HRESULT failure = session.HandlerFailure(); FAILED(failure)) return ShareResult::DataRequestFailed(failure);
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
  ShareService service;
  if (const HRESULT found = FindShareService(window.Get(), service); FAILED(found)) return failed(found);
  ShareSession::Payload payload;
  if (std::optional<ShareResult> refused = PreparePayload(content, payload)) return *refused;

  const OpenSession session(std::make_shared<ShareSession>(std::move(payload), std::move(onReady)));
  if (const HRESULT subscribed = session->Subscribe(service.manager); FAILED(subscribed)) return failed(subscribed);
  if (std::optional<ShareResult> failure = ShowSheet(service, window.Get(), *session)) return *failure;
  if (std::optional<ShareResult> failure = AwaitDataRequest(*session)) return *failure;
  AwaitShareEnd(session->End(), window.Get(), sharingBound_);
  return ShareResult::Shared(session->End().TakeOutcome());
}

}  // namespace quibshare
