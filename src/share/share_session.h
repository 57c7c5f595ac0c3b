// The share session: answers the share sheet's data request with the files, text and link, and
// holds the subscriptions that tell how the share ends. Served on whichever thread the platform
// calls on.
#pragma once

#include <eventtoken.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "share/com_ptr.h"
#include "share/share_end_state.h"
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

// Removes one of the manager's subscriptions (DataRequested, TargetApplicationChosen) when it
// goes, as WIL's event revokers do. Holds the manager: it must outlive the subscription.
class ManagerSubscription {
 public:
  using Remove = HRESULT (STDMETHODCALLTYPE abi::IDataTransferManager::*)(EventRegistrationToken);
  ManagerSubscription() noexcept = default;
  ManagerSubscription(ComPtr<abi::IDataTransferManager> manager, Remove remove, EventRegistrationToken token) noexcept
      : manager_(std::move(manager)), remove_(remove), token_(token) {}
  ManagerSubscription(ManagerSubscription&& other) noexcept = default;
  ManagerSubscription& operator=(ManagerSubscription&& other) noexcept;
  ~ManagerSubscription() { Revoke(); }

  void Revoke() noexcept;

 private:
  ComPtr<abi::IDataTransferManager> manager_;
  Remove remove_ = nullptr;
  EventRegistrationToken token_{};
};

// One share, from the subscriptions to the end: what the sheet is given, the package it asked
// for, the subscriptions, the flags and the ready callback. Reference-counted: ShareFile and
// every handler the platform holds share it, as a handler may still be called after ShareFile
// has returned. Made, subscribed and closed on the worker's main thread; served on whichever
// thread the platform calls on.
class ShareSession : public std::enable_shared_from_this<ShareSession> {
 public:
  // What the sheet is given. An empty text or webLink is not given; without files the package
  // holds no storage items at all.
  struct Payload {
    std::wstring title;
    std::wstring text;
    ComPtr<abi::IUriRuntimeClass> webLink;
    std::vector<ComPtr<abi::IStorageFile>> storageFiles;
  };

  ShareSession(Payload payload, std::function<void()> onReady);
  ShareSession(const ShareSession&) = delete;
  ShareSession& operator=(const ShareSession&) = delete;

  // Subscribes to the manager's DataRequested, then to TargetApplicationChosen, which only
  // names the app chosen: a manager that refuses that one shares all the same.
  HRESULT Subscribe(const ComPtr<abi::IDataTransferManager>& manager) noexcept;

  // Answers one data request: titles the package, puts in the text, the web link and the files
  // (read-only, in order), subscribes to its end-of-share events, sets DataRequested and calls
  // onReady. A failure stops it where it happened, what was done staying done: onReady is not
  // called, and the code is kept unless an earlier one is. The platform always hears success.
  // A request after Close is not served.
  void Serve(abi::IDataRequestedEventArgs* args) noexcept;

  // On every way out of the share: removes the subscriptions, the manager's then the
  // package's, newest first; lets go of the package; destroys onReady, after a call of it on
  // another thread has returned. Calls the platform makes afterwards change nothing.
  void Close() noexcept;

  bool DataRequested() const noexcept { return dataRequested_.load(); }
  // The first failure of any request; S_OK while none failed.
  HRESULT HandlerFailure() const noexcept { return handlerFailure_.load(); }
  ShareEndState& End() noexcept { return end_; }
  // The package of the latest request served, and whether its end events are subscribed.
  ComPtr<abi::IDataPackage> Package() const;
  bool Subscribed(EventRegistration::Event event) const;

 private:
  void SignalReady() noexcept;

  const Payload payload_;
  std::atomic<bool> dataRequested_{false};
  std::atomic<HRESULT> handlerFailure_{S_OK};
  ShareEndState end_;

  // Held by Serve for the whole of a request, so that Close finds it either done or not begun.
  mutable std::mutex mutex_;
  bool closed_ = false;
  ComPtr<abi::IDataPackage> package_;
  EventRegistration shareCompleted_;
  EventRegistration shareCanceled_;
  ManagerSubscription dataRequestedSubscription_;
  ManagerSubscription targetChosenSubscription_;

  // Held while onReady runs, so that Close cannot destroy it under a caller on another thread.
  std::mutex readyMutex_;
  std::function<void()> onReady_;
};

}  // namespace quibshare
