// Data request and share-end handlers. Called by the platform on any thread.
#include "share/data_request.h"

#include <algorithm>
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

// Reports the end of the share when the sheet says the share completed or was canceled.
class ShareFinishedHandler final
    : public ComObject<abi::IShareCompletedHandler, abi::IShareCanceledHandler> {
 public:
  explicit ShareFinishedHandler(std::shared_ptr<ShareSession> session) : session_(std::move(session)) {}

  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataPackage*, abi::IShareCompletedEventArgs* args) noexcept override {
    std::wstring target;
    try {
      target = ShareTargetOf(args);
    } catch (...) {
      // The share completed all the same; only its target is unknown.
    }
    session_->End().Finish(ShareEnd::Completed, std::move(target));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataPackage*, IInspectable*) noexcept override {
    session_->End().Finish(ShareEnd::Canceled, {});
    return S_OK;
  }

 private:
  std::shared_ptr<ShareSession> session_;
};

class TargetChosenHandler final : public ComObject<abi::ITargetApplicationChosenHandler> {
 public:
  explicit TargetChosenHandler(std::shared_ptr<ShareSession> session) : session_(std::move(session)) {}

  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataTransferManager*, abi::ITargetApplicationChosenEventArgs* args) noexcept override {
    UniqueHString name;
    if (args == nullptr || FAILED(args->get_ApplicationName(name.Put()))) return S_OK;
    try {
      session_->End().ChooseApplication(std::wstring(HStringText(name.Get())));
    } catch (...) {
      // Too little memory for the name: the outcome goes without it.
    }
    return S_OK;
  }

 private:
  std::shared_ptr<ShareSession> session_;
};

class DataRequestHandler final : public ComObject<abi::IDataRequestedHandler> {
 public:
  explicit DataRequestHandler(std::shared_ptr<ShareSession> session) : session_(std::move(session)) {}

  HRESULT STDMETHODCALLTYPE Invoke(abi::IDataTransferManager*, abi::IDataRequestedEventArgs* args) noexcept override {
    session_->Serve(args);
    return S_OK;
  }

 private:
  std::shared_ptr<ShareSession> session_;
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
                                         std::shared_ptr<ShareSession> session,
                                         EventRegistration::Event event) {
  ComPtr<abi::IWeakReferenceSource> source;
  ThrowIfFailedOrEmpty(package.As(source), source);
  ComPtr<abi::IWeakReference> weak;
  ThrowIfFailedOrEmpty(source->GetWeakReference(weak.Put()), weak);
  const auto handler = ComPtr<ShareFinishedHandler>::Attach(new ShareFinishedHandler(std::move(session)));
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

std::wstring_view FileNameComponent(std::wstring_view path) noexcept {
  const std::size_t root = RootNameLength(path);
  std::size_t start = root;
  for (std::size_t i = root; i < path.size(); ++i) {
    if (IsSeparator(path[i])) start = i + 1;
  }
  return path.substr(start);
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

ComPtr<abi::IDataRequestedHandler> MakeDataRequestHandler(std::shared_ptr<ShareSession> session) {
  return ComPtr<abi::IDataRequestedHandler>::Attach(new DataRequestHandler(std::move(session)));
}

ComPtr<abi::ITargetApplicationChosenHandler> MakeTargetChosenHandler(std::shared_ptr<ShareSession> session) {
  return ComPtr<abi::ITargetApplicationChosenHandler>::Attach(new TargetChosenHandler(std::move(session)));
}

std::wstring DefaultSheetTitle(const std::vector<std::wstring>& paths) {
  if (paths.size() == 1) return std::wstring(FileNameComponent(paths.front()));
  return std::to_wstring(paths.size()) + L" files";
}

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\v' || c == L'\f'; }
bool IsLineBreak(wchar_t c) { return c == L'\r' || c == L'\n'; }

// The host the platform reads from the link; empty when it gives none.
std::wstring HostOf(abi::IUriRuntimeClass* webLink) {
  UniqueHString host;
  if (webLink == nullptr || FAILED(webLink->get_Host(host.Put()))) return {};
  return std::wstring(HStringText(host.Get()));
}

std::wstring FirstLineOf(std::wstring_view text) {
  while (!text.empty()) {
    std::size_t end = 0;
    while (end < text.size() && !IsLineBreak(text[end])) ++end;
    std::wstring_view line = text.substr(0, end);
    text.remove_prefix(end < text.size() ? end + 1 : end);
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    if (line.empty()) continue;
    std::size_t cut = std::min(line.size(), SheetTitleFromTextLength);
    // Half a surrogate pair would show as a replacement character.
    if (cut < line.size() && IS_HIGH_SURROGATE(line[cut - 1]) && IS_LOW_SURROGATE(line[cut])) --cut;
    return std::wstring(line.substr(0, cut));
  }
  return {};
}

}  // namespace

std::wstring SheetTitle(const std::wstring& title, const std::vector<std::wstring>& paths,
                        abi::IUriRuntimeClass* webLink, std::wstring_view text) {
  // An empty title makes the sheet refuse the share: every rule that gives nothing falls through.
  if (!title.empty()) return title;
  if (!paths.empty()) {
    if (std::wstring fileTitle = DefaultSheetTitle(paths); !fileTitle.empty()) return fileTitle;
  }
  if (std::wstring host = HostOf(webLink); !host.empty()) return host;
  if (std::wstring line = FirstLineOf(text); !line.empty()) return line;
  return L"Shared text";
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
