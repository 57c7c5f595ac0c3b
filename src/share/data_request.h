// Answers the share sheet's data request with the one file, and notices the end of the share.
// The handlers are agile: the platform may call them on any thread.
#pragma once

#include <eventtoken.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "share/com_ptr.h"
#include "share/winrt_abi.h"

namespace quibshare {

// A subscription to a DataPackage event that removes itself, holding only a weak reference so
// that it never keeps the package alive. Revoking one whose package is gone does nothing.
class EventRegistration {
 public:
  enum class Event { ShareCompleted, ShareCanceled };

  EventRegistration() noexcept = default;
  EventRegistration(Event event, ComPtr<abi::IWeakReference> package,
                    EventRegistrationToken token) noexcept;
  EventRegistration(EventRegistration&& other) noexcept;
  // Takes the new subscription over first, then revokes the old one.
  EventRegistration& operator=(EventRegistration&& other) noexcept;
  ~EventRegistration() { Revoke(); }

  void Revoke() noexcept;
  explicit operator bool() const noexcept { return static_cast<bool>(package_); }

 private:
  Event event_ = Event::ShareCompleted;
  ComPtr<abi::IWeakReference> package_;
  EventRegistrationToken token_{};
};

// What HandleDataRequest fills: references to the share state ShareFile owns, which must
// outlive the DataRequested subscription.
struct DataRequestBinding {
  const std::wstring& path;
  const ComPtr<abi::IStorageFile>& storageFile;
  ComPtr<abi::IDataPackage>& dataPackage;
  EventRegistration& shareCompletedRegistration;
  const std::shared_ptr<std::atomic<bool>>& shareFinished;
  EventRegistration& shareCanceledRegistration;
  std::atomic<bool>& dataRequested;
  // The first failure of any request; S_OK while none failed.
  std::atomic<HRESULT>& handlerFailure;
  const std::function<void()>& onReady;
};

// Puts the file into the request's package under its file name, subscribes to the package's
// end-of-share events, sets dataRequested and calls onReady. A failure stops it where it happened:
// dataRequested stays false, onReady is not called, and its code goes to handlerFailure unless
// an earlier one is there. The platform is told of none: it always hears success.
void HandleDataRequest(const DataRequestBinding& binding, abi::IDataRequestedEventArgs* args) noexcept;

// The DataRequested delegate bound to `binding`; raises on failure.
ComPtr<abi::IDataRequestedHandler> MakeDataRequestHandler(const DataRequestBinding& binding);

// The last component of a path, "\" and "/" both separating; empty when the path ends in a
// separator or is only a root (drive, device or network prefix).
std::wstring_view FileNameComponent(std::wstring_view path) noexcept;

}  // namespace quibshare
