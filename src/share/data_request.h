// Answers the share sheet's data request with the files, text and link, and notices how the
// share ends. The handlers are agile: the platform may call them on any thread.
#pragma once

#include <eventtoken.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "share/com_ptr.h"
#include "share/winrt_abi.h"
#include "support/outcome.h"

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

// What the sheet tells of the end of a share: written by the handlers on the platform's threads,
// read by the share's own thread. Shared by the share and every handler, since a handler may
// still be called after the share has returned. No locks: the texts travel by atomic exchange.
class ShareEndState {
 public:
  ShareEndState() = default;
  ShareEndState(const ShareEndState&) = delete;
  ShareEndState& operator=(const ShareEndState&) = delete;

  // The first report of the end wins; `target` is visible before Finished() turns true.
  void Finish(ShareEnd end, std::wstring target) noexcept;
  void ChooseApplication(std::wstring name) noexcept;
  bool Finished() const noexcept { return end_.load() != NotYet; }
  // Ended, unless the sheet reported completion or cancellation; with the target and the app
  // name it gave. Takes the texts: call it once, after the share.
  ShareOutcome TakeOutcome() noexcept;

 private:
  // Owns the latest text put into it; Take hands it over.
  class TextSlot {
   public:
    TextSlot() = default;
    TextSlot(const TextSlot&) = delete;
    TextSlot& operator=(const TextSlot&) = delete;
    ~TextSlot() { delete text_.exchange(nullptr); }
    void Put(std::wstring text) noexcept;
    std::wstring Take() noexcept;

   private:
    std::atomic<std::wstring*> text_{nullptr};
  };

  static constexpr int NotYet = -1;
  std::atomic<bool> claimed_{false};
  std::atomic<int> end_{NotYet};
  TextSlot target_;
  TextSlot app_;
};

// What HandleDataRequest fills: references to the share state ShareFile owns, which must
// outlive the DataRequested subscription. An empty text or webLink is not given to the sheet.
struct DataRequestBinding {
  const std::wstring& title;
  const std::wstring& text;
  const ComPtr<abi::IUriRuntimeClass>& webLink;
  const std::vector<ComPtr<abi::IStorageFile>>& storageFiles;
  ComPtr<abi::IDataPackage>& dataPackage;
  EventRegistration& shareCompletedRegistration;
  const std::shared_ptr<ShareEndState>& shareEnd;
  EventRegistration& shareCanceledRegistration;
  std::atomic<bool>& dataRequested;
  // The first failure of any request; S_OK while none failed.
  std::atomic<HRESULT>& handlerFailure;
  const std::function<void()>& onReady;
};

// Titles the request's package, puts in the text, the web link and the files (read-only, in
// order), subscribes to the package's end-of-share events, sets dataRequested and calls onReady.
// A failure stops it where it happened: dataRequested stays false, onReady is not called, and
// its code goes to handlerFailure unless an earlier one is there. The platform is told of none:
// it always hears success.
void HandleDataRequest(const DataRequestBinding& binding, abi::IDataRequestedEventArgs* args) noexcept;

// The DataRequested delegate bound to `binding`; raises on failure.
ComPtr<abi::IDataRequestedHandler> MakeDataRequestHandler(const DataRequestBinding& binding);

// The TargetApplicationChosen delegate, keeping the chosen application's name in `shareEnd`.
ComPtr<abi::ITargetApplicationChosenHandler> MakeTargetChosenHandler(std::shared_ptr<ShareEndState> shareEnd);

// The last component of a path, "\" and "/" both separating; empty when the path ends in a
// separator or is only a root (drive, device or network prefix).
std::wstring_view FileNameComponent(std::wstring_view path) noexcept;

// The sheet's title when the host gave none: the file's name for one file, "N files" for more.
std::wstring DefaultSheetTitle(const std::vector<std::wstring>& paths);

}  // namespace quibshare
