// Data request and share-end handlers. Called by the platform on any thread.
#include "share/data_request.h"

#include <new>

#include "share/com_object.h"
#include "share/hresult_error.h"
#include "share/hstring.h"

namespace quibshare {

namespace {

// Sets the shared flag when the sheet reports the share completed or canceled. Holds its own
// share of the flag: it may be called after ShareFile has returned.
class ShareFinishedHandler final
    : public ComObject<abi::IShareCompletedHandler, abi::IShareCanceledHandler> {
 public:
  explicit ShareFinishedHandler(std::shared_ptr<std::atomic<bool>> shareFinished)
      : shareFinished_(std::move(shareFinished)) {}

  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataPackage*, abi::IShareCompletedEventArgs*) noexcept override {
    shareFinished_->exchange(true);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataPackage*, IInspectable*) noexcept override {
    shareFinished_->exchange(true);
    return S_OK;
  }

 private:
  std::shared_ptr<std::atomic<bool>> shareFinished_;
};

class DataRequestHandler final : public ComObject<abi::IDataRequestedHandler> {
 public:
  explicit DataRequestHandler(const DataRequestBinding& binding) : binding_(binding) {}

  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataTransferManager*, abi::IDataRequestedEventArgs* args) noexcept override {
    HandleDataRequest(binding_, args);
    return S_OK;
  }

 private:
  DataRequestBinding binding_;
};

// The one-item list SetStorageItems iterates, and its iterator.
class StorageItemIterator final : public ComObject<abi::IIteratorStorageItem> {
 public:
  explicit StorageItemIterator(ComPtr<abi::IStorageItem> item) : item_(std::move(item)) {}

  HRESULT STDMETHODCALLTYPE get_Current(abi::IStorageItem** current) noexcept override {
    *current = nullptr;
    if (done_) return static_cast<HRESULT>(0x8000000B);  // E_BOUNDS
    *current = ComPtr<abi::IStorageItem>(item_).Detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_HasCurrent(boolean* hasCurrent) noexcept override {
    *hasCurrent = !done_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE MoveNext(boolean* hasCurrent) noexcept override {
    done_ = true;
    *hasCurrent = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMany(UINT32 capacity, abi::IStorageItem** items, UINT32* actual) noexcept override {
    *actual = 0;
    if (capacity > 0 && !done_) {
      items[0] = ComPtr<abi::IStorageItem>(item_).Detach();
      *actual = 1;
      done_ = true;
    }
    return S_OK;
  }

 private:
  ComPtr<abi::IStorageItem> item_;
  std::atomic<bool> done_{false};
};

class StorageItemList final : public ComObject<abi::IIterableStorageItem> {
 public:
  explicit StorageItemList(ComPtr<abi::IStorageItem> item) : item_(std::move(item)) {}

  HRESULT STDMETHODCALLTYPE First(abi::IIteratorStorageItem** first) noexcept override {
    *first = nullptr;
    try {
      *first = new StorageItemIterator(item_);
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

 private:
  ComPtr<abi::IStorageItem> item_;
};

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::size_t RootNameLength(std::wstring_view path) {
  const auto at = [path](std::size_t i) { return i < path.size() ? path[i] : L'\0'; };
  const wchar_t letter = static_cast<wchar_t>(at(0) | 0x20);
  if (letter >= L'a' && letter <= L'z' && at(1) == L':') return 2;
  // "\\?\", "\\.\" and "\??\", each followed by exactly one separator.
  const bool device = IsSeparator(at(0)) && ((IsSeparator(at(1)) && (at(2) == L'?' || at(2) == L'.')) ||
                                             (at(1) == L'?' && at(2) == L'?'));
  if (device && IsSeparator(at(3)) && !IsSeparator(at(4))) return 4;
  // "\\server", up to the next separator.
  if (IsSeparator(at(0)) && IsSeparator(at(1)) && at(2) != L'\0' && !IsSeparator(at(2))) {
    std::size_t end = 2;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    return end;
  }
  return 0;
}

// Subscribes a new ShareFinishedHandler to one of the package's end-of-share events.
EventRegistration SubscribeShareFinished(const ComPtr<abi::IDataPackage>& package,
                                         const std::shared_ptr<std::atomic<bool>>& shareFinished,
                                         EventRegistration::Event event) {
  ComPtr<abi::IWeakReferenceSource> source;
  ThrowIfFailedOrEmpty(package.As(source), source);
  ComPtr<abi::IWeakReference> weak;
  ThrowIfFailedOrEmpty(source->GetWeakReference(weak.Put()), weak);
  const auto handler = ComPtr<ShareFinishedHandler>::Attach(new ShareFinishedHandler(shareFinished));
  EventRegistrationToken token{};
  if (event == EventRegistration::Event::ShareCompleted) {
    ComPtr<abi::IDataPackage3> events;
    ThrowIfFailedOrEmpty(package.As(events), events);
    ThrowIfFailed(events->add_ShareCompleted(handler.Get(), &token));
  } else {
    ComPtr<abi::IDataPackage4> events;
    ThrowIfFailedOrEmpty(package.As(events), events);
    ThrowIfFailed(events->add_ShareCanceled(handler.Get(), &token));
  }
  return EventRegistration(event, std::move(weak), token);
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

std::wstring_view FileNameComponent(std::wstring_view path) noexcept {
  const std::size_t root = RootNameLength(path);
  std::size_t start = root;
  for (std::size_t i = root; i < path.size(); ++i) {
    if (IsSeparator(path[i])) start = i + 1;
  }
  return path.substr(start);
}

void HandleDataRequest(const DataRequestBinding& binding, abi::IDataRequestedEventArgs* args) noexcept {
  // The sheet only learns that the data did not come; ShareFile's wait reports the code at once.
  HRESULT failure = S_OK;
  try {
    if (args == nullptr) ThrowHResult(E_POINTER);
    ComPtr<abi::IDataRequest> request;
    ThrowIfFailedOrEmpty(args->get_Request(request.Put()), request);
    ComPtr<abi::IDataPackage> package;
    ThrowIfFailedOrEmpty(request->get_Data(package.Put()), package);
    ComPtr<abi::IDataPackagePropertySet> properties;
    ThrowIfFailedOrEmpty(package->get_Properties(properties.Put()), properties);
    ThrowIfFailed(properties->put_Title(MakeHString(FileNameComponent(binding.path)).Get()));

    ComPtr<abi::IStorageItem> item;
    ThrowIfFailedOrEmpty(binding.storageFile.As(item), item);
    const auto items = ComPtr<StorageItemList>::Attach(new StorageItemList(std::move(item)));
    ThrowIfFailed(package->SetStorageItemsReadOnly(items.Get()));
    binding.dataPackage = package;

    binding.shareCompletedRegistration = SubscribeShareFinished(
        package, binding.shareFinished, EventRegistration::Event::ShareCompleted);
    binding.shareCanceledRegistration = SubscribeShareFinished(
        package, binding.shareFinished, EventRegistration::Event::ShareCanceled);
    binding.dataRequested.exchange(true);
    if (binding.onReady) binding.onReady();
    return;
  } catch (const HResultError& error) {
    failure = error.Code();
  } catch (const std::bad_alloc&) {
    failure = E_OUTOFMEMORY;
  } catch (...) {
    failure = E_UNEXPECTED;
  }
  HRESULT none = S_OK;
  binding.handlerFailure.compare_exchange_strong(none, failure);
}

ComPtr<abi::IDataRequestedHandler> MakeDataRequestHandler(const DataRequestBinding& binding) {
  return ComPtr<abi::IDataRequestedHandler>::Attach(new DataRequestHandler(binding));
}

}  // namespace quibshare
