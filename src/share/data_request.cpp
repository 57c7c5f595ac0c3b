// Data request and share-end handlers. Called by the platform on any thread.
#include "share/data_request.h"

#include <new>

#include "share/com_object.h"
#include "share/hresult_error.h"
#include "share/hstring.h"

namespace quibshare {

namespace {

// Reads the target the sheet reports; none when it gives none or cannot say.
std::wstring ShareTargetOf(abi::IShareCompletedEventArgs* args) {
  if (args == nullptr) return {};
  ComPtr<abi::IShareTargetInfo> target;
  if (FAILED(args->get_ShareTarget(target.Put())) || !target) return {};
  UniqueHString id;
  if (FAILED(target->get_AppUserModelId(id.Put()))) return {};
  return std::wstring(HStringText(id.Get()));
}

// Reports the end of the share when the sheet says the share completed or was canceled. Holds
// its own share of the state: it may be called after ShareFile has returned.
class ShareFinishedHandler final
    : public ComObject<abi::IShareCompletedHandler, abi::IShareCanceledHandler> {
 public:
  explicit ShareFinishedHandler(std::shared_ptr<ShareEndState> shareEnd) : shareEnd_(std::move(shareEnd)) {}

  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataPackage*, abi::IShareCompletedEventArgs* args) noexcept override {
    std::wstring target;
    try {
      target = ShareTargetOf(args);
    } catch (...) {
      // The share completed all the same; only its target is unknown.
    }
    shareEnd_->Finish(ShareEnd::Completed, std::move(target));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataPackage*, IInspectable*) noexcept override {
    shareEnd_->Finish(ShareEnd::Canceled, {});
    return S_OK;
  }

 private:
  std::shared_ptr<ShareEndState> shareEnd_;
};

class TargetChosenHandler final : public ComObject<abi::ITargetApplicationChosenHandler> {
 public:
  explicit TargetChosenHandler(std::shared_ptr<ShareEndState> shareEnd) : shareEnd_(std::move(shareEnd)) {}

  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataTransferManager*, abi::ITargetApplicationChosenEventArgs* args) noexcept override {
    UniqueHString name;
    if (args == nullptr || FAILED(args->get_ApplicationName(name.Put()))) return S_OK;
    try {
      shareEnd_->ChooseApplication(std::wstring(HStringText(name.Get())));
    } catch (...) {
      // Too little memory for the name: the outcome goes without it.
    }
    return S_OK;
  }

 private:
  std::shared_ptr<ShareEndState> shareEnd_;
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
                                         const std::shared_ptr<ShareEndState>& shareEnd,
                                         EventRegistration::Event event) {
  ComPtr<abi::IWeakReferenceSource> source;
  ThrowIfFailedOrEmpty(package.As(source), source);
  ComPtr<abi::IWeakReference> weak;
  ThrowIfFailedOrEmpty(source->GetWeakReference(weak.Put()), weak);
  const auto handler = ComPtr<ShareFinishedHandler>::Attach(new ShareFinishedHandler(shareEnd));
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
    ThrowIfFailed(properties->put_Title(MakeHString(binding.title).Get()));
    if (!binding.text.empty()) ThrowIfFailed(package->SetText(MakeHString(binding.text).Get()));
    if (binding.webLink) {
      ComPtr<abi::IDataPackage2> links;
      ThrowIfFailedOrEmpty(package.As(links), links);
      ThrowIfFailed(links->SetWebLink(binding.webLink.Get()));
    }

    auto items = std::make_shared<StorageItems>();
    for (const ComPtr<abi::IStorageFile>& file : binding.storageFiles) {
      ComPtr<abi::IStorageItem> item;
      ThrowIfFailedOrEmpty(file.As(item), item);
      items->push_back(std::move(item));
    }
    const auto list = ComPtr<StorageItemList>::Attach(new StorageItemList(std::move(items)));
    ThrowIfFailed(package->SetStorageItemsReadOnly(list.Get()));
    binding.dataPackage = package;

    binding.shareCompletedRegistration = SubscribeShareFinished(
        package, binding.shareEnd, EventRegistration::Event::ShareCompleted);
    binding.shareCanceledRegistration = SubscribeShareFinished(
        package, binding.shareEnd, EventRegistration::Event::ShareCanceled);
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

ComPtr<abi::ITargetApplicationChosenHandler> MakeTargetChosenHandler(std::shared_ptr<ShareEndState> shareEnd) {
  return ComPtr<abi::ITargetApplicationChosenHandler>::Attach(new TargetChosenHandler(std::move(shareEnd)));
}

std::wstring DefaultSheetTitle(const std::vector<std::wstring>& paths) {
  if (paths.size() == 1) return std::wstring(FileNameComponent(paths.front()));
  return std::to_wstring(paths.size()) + L" files";
}

void ShareEndState::TextSlot::Put(std::wstring text) noexcept {
  std::wstring* owned = nullptr;
  try {
    owned = new std::wstring(std::move(text));
  } catch (...) {
    return;  // out of memory: the text stays unknown
  }
  delete text_.exchange(owned);
}

std::wstring ShareEndState::TextSlot::Take() noexcept {
  const std::unique_ptr<std::wstring> owned(text_.exchange(nullptr));
  return owned ? std::move(*owned) : std::wstring();
}

void ShareEndState::Finish(ShareEnd end, std::wstring target) noexcept {
  if (claimed_.exchange(true)) return;
  target_.Put(std::move(target));
  end_.store(static_cast<int>(end));
}

void ShareEndState::ChooseApplication(std::wstring name) noexcept { app_.Put(std::move(name)); }

ShareOutcome ShareEndState::TakeOutcome() noexcept {
  ShareOutcome outcome;
  const int end = end_.load();
  if (end != NotYet) outcome.end = static_cast<ShareEnd>(end);
  outcome.target = target_.Take();
  outcome.app = app_.Take();
  return outcome;
}

}  // namespace quibshare
