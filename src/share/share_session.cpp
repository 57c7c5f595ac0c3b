// The share session: the package it fills and the subscriptions it owns. Served on any thread.
#include "share/share_session.h"

#include <algorithm>
#include <new>

#include "share/com_object.h"
#include "share/hresult_error.h"
#include "share/hstring.h"
#include "share/share_handlers.h"

namespace quibshare {

namespace {

using StorageItems = std::vector<ComPtr<abi::IStorageItem>>;

// The list SetStorageItems iterates, and its iterator; both share the items.
class StorageItemIterator final : public ComObject<abi::IIteratorStorageItem> {
 public:
  explicit StorageItemIterator(std::shared_ptr<const StorageItems> items) : items_(std::move(items)) {}

  HRESULT STDMETHODCALLTYPE get_Current(abi::IStorageItem** current) noexcept override {
    *current = nullptr;
    const std::size_t at = next_.load();
    if (at >= items_->size()) return static_cast<HRESULT>(0x8000000B);  // E_BOUNDS
    *current = ComPtr<abi::IStorageItem>((*items_)[at]).Detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_HasCurrent(boolean* hasCurrent) noexcept override {
    *hasCurrent = next_.load() < items_->size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE MoveNext(boolean* hasCurrent) noexcept override {
    std::size_t at = next_.load();
    if (at < items_->size()) at = ++next_;
    *hasCurrent = at < items_->size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMany(UINT32 capacity, abi::IStorageItem** items, UINT32* actual) noexcept override {
    *actual = 0;
    for (std::size_t at = next_.load(); *actual < capacity && at < items_->size(); at = ++next_) {
      items[(*actual)++] = ComPtr<abi::IStorageItem>((*items_)[at]).Detach();
    }
    return S_OK;
  }

 private:
  std::shared_ptr<const StorageItems> items_;
  std::atomic<std::size_t> next_{0};
};

class StorageItemList final : public ComObject<abi::IIterableStorageItem> {
 public:
  explicit StorageItemList(std::shared_ptr<const StorageItems> items) : items_(std::move(items)) {}

  HRESULT STDMETHODCALLTYPE First(abi::IIteratorStorageItem** first) noexcept override {
    *first = nullptr;
    try {
      *first = new StorageItemIterator(items_);
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

 private:
  std::shared_ptr<const StorageItems> items_;
};

// Subscribes a new end-of-share handler to one of the package's end-of-share events.
EventRegistration SubscribeShareFinished(const ComPtr<abi::IDataPackage>& package,
                                         std::shared_ptr<ShareSession> session,
                                         EventRegistration::Event event) {
  ComPtr<abi::IWeakReferenceSource> source;
  ThrowIfFailedOrEmpty(package.As(source), source);
  ComPtr<abi::IWeakReference> weak;
  ThrowIfFailedOrEmpty(source->GetWeakReference(weak.Put()), weak);
  EventRegistrationToken token{};
  if (event == EventRegistration::Event::ShareCompleted) {
    ComPtr<abi::IDataPackage3> events;
    ThrowIfFailedOrEmpty(package.As(events), events);
    ThrowIfFailed(events->add_ShareCompleted(MakeShareCompletedHandler(std::move(session)).Get(), &token));
  } else {
    ComPtr<abi::IDataPackage4> events;
    ThrowIfFailedOrEmpty(package.As(events), events);
    ThrowIfFailed(events->add_ShareCanceled(MakeShareCanceledHandler(std::move(session)).Get(), &token));
  }
  return EventRegistration(event, std::move(weak), token);
}

// The package a request carries, titled and filled with the payload.
ComPtr<abi::IDataPackage> FillPackage(abi::IDataRequestedEventArgs* args, const ShareSession::Payload& payload) {
  if (args == nullptr) ThrowHResult(E_POINTER);
  ComPtr<abi::IDataRequest> request;
  ThrowIfFailedOrEmpty(args->get_Request(request.Put()), request);
  ComPtr<abi::IDataPackage> package;
  ThrowIfFailedOrEmpty(request->get_Data(package.Put()), package);
  ComPtr<abi::IDataPackagePropertySet> properties;
  ThrowIfFailedOrEmpty(package->get_Properties(properties.Put()), properties);
  ThrowIfFailed(properties->put_Title(MakeHString(payload.title).Get()));
  if (!payload.text.empty()) ThrowIfFailed(package->SetText(MakeHString(payload.text).Get()));
  if (payload.webLink) {
    ComPtr<abi::IDataPackage2> links;
    ThrowIfFailedOrEmpty(package.As(links), links);
    ThrowIfFailed(links->SetWebLink(payload.webLink.Get()));
  }
  // Storage items advertised on a share without files make the sheet offer nothing to share.
  if (payload.storageFiles.empty()) return package;
  auto items = std::make_shared<StorageItems>();
  for (const ComPtr<abi::IStorageFile>& file : payload.storageFiles) {
    ComPtr<abi::IStorageItem> item;
    ThrowIfFailedOrEmpty(file.As(item), item);
    items->push_back(std::move(item));
  }
  const auto list = ComPtr<StorageItemList>::Attach(new StorageItemList(std::move(items)));
  ThrowIfFailed(package->SetStorageItemsReadOnly(list.Get()));
  return package;
}

HRESULT CodeOfCurrentException() noexcept {
  try {
    throw;
  } catch (const HResultError& error) {
    return error.Code();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace

EventRegistration::EventRegistration(Event event, ComPtr<abi::IWeakReference> package,
                                     EventRegistrationToken token) noexcept
    : event_(event), package_(std::move(package)), token_(token) {}

EventRegistration::EventRegistration(EventRegistration&& other) noexcept
    : event_(other.event_), package_(std::move(other.package_)), token_(other.token_) {}

EventRegistration& EventRegistration::operator=(EventRegistration&& other) noexcept {
  if (this == &other) return *this;
  EventRegistration old(std::move(*this));
  event_ = other.event_;
  package_ = std::move(other.package_);
  token_ = other.token_;
  return *this;  // `old` revokes the previous subscription here
}

void EventRegistration::Revoke() noexcept {
  const ComPtr<abi::IWeakReference> package = std::move(package_);
  if (!package) return;
  if (event_ == Event::ShareCompleted) {
    ComPtr<abi::IDataPackage3> events;
    if (SUCCEEDED(package->Resolve(abi::IDataPackage3::Iid, reinterpret_cast<IInspectable**>(events.Put()))) && events) {
      events->remove_ShareCompleted(token_);
    }
  } else {
    ComPtr<abi::IDataPackage4> events;
    if (SUCCEEDED(package->Resolve(abi::IDataPackage4::Iid, reinterpret_cast<IInspectable**>(events.Put()))) && events) {
      events->remove_ShareCanceled(token_);
    }
  }
}

ManagerSubscription& ManagerSubscription::operator=(ManagerSubscription&& other) noexcept {
  if (this == &other) return *this;
  Revoke();
  manager_ = std::move(other.manager_);
  remove_ = other.remove_;
  token_ = other.token_;
  return *this;
}

void ManagerSubscription::Revoke() noexcept {
  const ComPtr<abi::IDataTransferManager> manager = std::move(manager_);
  if (manager) (manager.Get()->*remove_)(token_);
}

ShareSession::ShareSession(Payload payload, std::function<void()> onReady)
    : payload_(std::move(payload)), onReady_(std::move(onReady)) {}

HRESULT ShareSession::Subscribe(const ComPtr<abi::IDataTransferManager>& manager) noexcept {
  try {
    const ComPtr<abi::IDataRequestedHandler> requested = MakeDataRequestHandler(shared_from_this());
    const ComPtr<abi::ITargetApplicationChosenHandler> chosen = MakeTargetChosenHandler(shared_from_this());
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return E_UNEXPECTED;
    EventRegistrationToken token{};
    ThrowIfFailed(manager->add_DataRequested(requested.Get(), &token));
    dataRequestedSubscription_ = ManagerSubscription(manager, &abi::IDataTransferManager::remove_DataRequested, token);
    if (SUCCEEDED(manager->add_TargetApplicationChosen(chosen.Get(), &token))) {
      targetChosenSubscription_ =
          ManagerSubscription(manager, &abi::IDataTransferManager::remove_TargetApplicationChosen, token);
    }
    return S_OK;
  } catch (...) {
    return CodeOfCurrentException();
  }
}

void ShareSession::Serve(abi::IDataRequestedEventArgs* args) noexcept {
  // The sheet only learns that the data did not come; the share's wait reports the code at once.
  HRESULT failure = S_OK;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    try {
      package_ = FillPackage(args, payload_);
      shareCompleted_ = SubscribeShareFinished(package_, shared_from_this(), EventRegistration::Event::ShareCompleted);
      shareCanceled_ = SubscribeShareFinished(package_, shared_from_this(), EventRegistration::Event::ShareCanceled);
      dataRequested_.exchange(true);
    } catch (...) {
      failure = CodeOfCurrentException();
    }
  }
  if (SUCCEEDED(failure)) {
    SignalReady();
    return;
  }
  HRESULT none = S_OK;
  handlerFailure_.compare_exchange_strong(none, failure);
}

void ShareSession::SignalReady() noexcept {
  const std::lock_guard<std::mutex> lock(readyMutex_);
  if (onReady_) onReady_();
}

void ShareSession::Close() noexcept {
  ManagerSubscription targetChosen;
  ManagerSubscription dataRequested;
  EventRegistration shareCanceled;
  EventRegistration shareCompleted;
  ComPtr<abi::IDataPackage> package;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    targetChosen = std::move(targetChosenSubscription_);
    dataRequested = std::move(dataRequestedSubscription_);
    shareCanceled = std::move(shareCanceled_);
    shareCompleted = std::move(shareCompleted_);
    package = std::move(package_);
  }
  // Outside the lock: a platform that waits for a running handler as it removes it must not
  // wait for this thread. The order is the declared one, reversed.
  targetChosen.Revoke();
  dataRequested.Revoke();
  shareCanceled.Revoke();
  shareCompleted.Revoke();
  package.Reset();
  std::function<void()> onReady;
  {
    const std::lock_guard<std::mutex> lock(readyMutex_);
    onReady = std::move(onReady_);
    onReady_ = nullptr;
  }
}

ComPtr<abi::IDataPackage> ShareSession::Package() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return package_;
}

bool ShareSession::Subscribed(EventRegistration::Event event) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<bool>(event == EventRegistration::Event::ShareCompleted ? shareCompleted_ : shareCanceled_);
}

}  // namespace quibshare
