// Simulated share sheet: the DataTransferManager class with its interop interface, and the
// request, package and events that follow ShowShareUIForWindow. What happens is chosen by
//   QUIBSHARE_SIM_REQUEST  after (default)    DataRequested raised as soon as the window's thread
//                                             pumps again after ShowShareUIForWindow returned
//                          inside             raised inside ShowShareUIForWindow
//                          inside-then-fail:HEX  raised inside, then Show returns HEX
//                          later              raised 100 ms later on the window's thread
//                          thread             raised from another thread
//                          twice              raised inside, and again 100 ms later
//                          never              never raised
//                          quit-then-later    WM_QUIT posted inside, DataRequested 300 ms later
//   QUIBSHARE_SIM_END      complete (default), cancel, destroy-window, quit, none (no end event,
//                          as after "Copy link"): 100 ms (or QUIBSHARE_SIM_END_AFTER ms) after
//                          the (last) request; window: the sheet shows itself then as a real
//                          window that ends the share only on Escape (see sim_sheet_window.cpp),
//                          window-deaf:TITLE the same, deaf to Escape in the share titled TITLE
//   QUIBSHARE_SIM_FAIL     getforwindow:HEX, getforwindow-empty, show:HEX, no-package4,
//                          empty-request, empty-data, empty-properties (success with nothing,
//                          recorded as "gave nothing <method>")
//   QUIBSHARE_SIM_TARGET   the AppUserModelId ShareCompleted reports (none when unset)
//   QUIBSHARE_SIM_APP      when set, TargetApplicationChosen is raised with this name before
//                          the end (whatever the end)
// Every call worth checking is appended to the record (see sim_platform.h); GetForWindow also
// records "process <id>" of the caller.
#include <winstring.h>

#include <cwchar>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "share/com_ptr.h"
#include "sim/sim_platform.h"

namespace quibshare::sim {

namespace {

// Whether QUIBSHARE_SIM_FAIL asks this getter to report success and give nothing.
bool GivesNothing(const wchar_t* scenario, const wchar_t* method) {
  if (Setting(L"QUIBSHARE_SIM_FAIL") != scenario) return false;
  Record(std::wstring(L"gave nothing ") + method);
  return true;
}

void Unexpected(int package, const wchar_t* method) {
  Record(L"unexpected " + std::to_wstring(package) + L" " + method);
}

class SimPropertySet final : public ComObject<abi::IDataPackagePropertySet> {
 public:
  explicit SimPropertySet(int package) : package_(package) {}
  HRESULT STDMETHODCALLTYPE put_Title(HSTRING value) noexcept override {
    Record(L"title " + std::to_wstring(package_) + L" " + Text(value));
    const std::lock_guard<std::mutex> lock(mutex_);
    title_ = Text(value);
    return S_OK;
  }
  // As Windows' own, the title given last.
  HRESULT STDMETHODCALLTYPE get_Title(HSTRING* value) noexcept override {
    const std::lock_guard<std::mutex> lock(mutex_);
    return WindowsCreateString(title_.data(), static_cast<UINT32>(title_.size()), value);
  }
  HRESULT STDMETHODCALLTYPE get_Description(HSTRING* value) noexcept override { *value = nullptr; return S_OK; }
  HRESULT STDMETHODCALLTYPE put_Description(HSTRING) noexcept override { return Refuse(L"put_Description"); }
  HRESULT STDMETHODCALLTYPE get_Thumbnail(IInspectable** value) noexcept override { *value = nullptr; return S_OK; }
  HRESULT STDMETHODCALLTYPE put_Thumbnail(IInspectable*) noexcept override { return Refuse(L"put_Thumbnail"); }
  HRESULT STDMETHODCALLTYPE get_FileTypes(IInspectable** value) noexcept override { *value = nullptr; return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ApplicationName(HSTRING* value) noexcept override { *value = nullptr; return S_OK; }
  HRESULT STDMETHODCALLTYPE put_ApplicationName(HSTRING) noexcept override { return Refuse(L"put_ApplicationName"); }
  HRESULT STDMETHODCALLTYPE get_ApplicationListingUri(IInspectable** value) noexcept override { *value = nullptr; return S_OK; }
  HRESULT STDMETHODCALLTYPE put_ApplicationListingUri(IInspectable*) noexcept override { return Refuse(L"put_ApplicationListingUri"); }

 private:
  HRESULT Refuse(const wchar_t* method) const {
    Unexpected(package_, method);
    return E_NOTIMPL;
  }
  int package_;
  std::mutex mutex_;
  std::wstring title_;
};

// The subscriptions one object of the simulated sheet keeps: one token count for all its events,
// and every add and remove recorded as "add|remove <event> <owner> <token>" ("remove-unknown" for
// a token it never gave).
class Subscriptions {
 public:
  explicit Subscriptions(int owner) : owner_(owner) {}

  HRESULT Add(const wchar_t* event, IUnknown* handler, EventRegistrationToken* token) {
    const std::lock_guard<std::mutex> lock(mutex_);
    token->value = ++lastToken_;
    handlers_[{event, token->value}] = ComPtr<IUnknown>::Copy(handler);
    Record(std::wstring(L"add ") + event + L" " + std::to_wstring(owner_) + L" " + std::to_wstring(token->value));
    return S_OK;
  }
  HRESULT Remove(const wchar_t* event, EventRegistrationToken token) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const bool known = handlers_.erase({event, token.value}) == 1;
    Record(std::wstring(known ? L"remove " : L"remove-unknown ") + event + L" " + std::to_wstring(owner_) + L" " +
           std::to_wstring(token.value));
    return S_OK;
  }
  // The handlers of `event`, which were added as Handler.
  template <typename Handler>
  std::vector<ComPtr<Handler>> Handlers(const wchar_t* event) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ComPtr<Handler>> handlers;
    for (const auto& [key, handler] : handlers_) {
      if (key.first == event) handlers.push_back(ComPtr<Handler>::Copy(static_cast<Handler*>(handler.Get())));
    }
    return handlers;
  }

 private:
  int owner_;
  std::mutex mutex_;
  INT64 lastToken_ = 0;
  std::map<std::pair<std::wstring, INT64>, ComPtr<IUnknown>> handlers_;
};

// Shared by a package and its weak references: resolving takes a strong reference only while
// the package is alive, under the same lock that its last release takes.
struct Lifetime {
  std::recursive_mutex mutex;
  ULONG references = 1;
  bool alive = true;
};

class SimDataPackage;

class SimWeakReference final : public ComObject<abi::IWeakReference> {
 public:
  SimWeakReference(std::shared_ptr<Lifetime> lifetime, SimDataPackage* package)
      : lifetime_(std::move(lifetime)), package_(package) {}
  HRESULT STDMETHODCALLTYPE Resolve(REFIID iid, IInspectable** object) noexcept override;

 private:
  std::shared_ptr<Lifetime> lifetime_;
  SimDataPackage* package_;
};

class SimShareTargetInfo final : public ComObject<abi::IShareTargetInfo> {
 public:
  explicit SimShareTargetInfo(std::wstring id) : id_(std::move(id)) {}
  HRESULT STDMETHODCALLTYPE get_AppUserModelId(HSTRING* value) noexcept override {
    return WindowsCreateString(id_.data(), static_cast<UINT32>(id_.size()), value);
  }
  HRESULT STDMETHODCALLTYPE get_ShareProvider(IInspectable** value) noexcept override {
    *value = nullptr;
    return S_OK;
  }

 private:
  std::wstring id_;
};

class SimShareCompletedEventArgs final : public ComObject<abi::IShareCompletedEventArgs> {
 public:
  HRESULT STDMETHODCALLTYPE get_ShareTarget(abi::IShareTargetInfo** value) noexcept override {
    const std::wstring target = Setting(L"QUIBSHARE_SIM_TARGET");
    *value = target.empty() ? nullptr : new SimShareTargetInfo(target);
    return S_OK;
  }
};

class SimTargetApplicationChosenEventArgs final : public ComObject<abi::ITargetApplicationChosenEventArgs> {
 public:
  explicit SimTargetApplicationChosenEventArgs(std::wstring name) : name_(std::move(name)) {}
  HRESULT STDMETHODCALLTYPE get_ApplicationName(HSTRING* value) noexcept override {
    return WindowsCreateString(name_.data(), static_cast<UINT32>(name_.size()), value);
  }

 private:
  std::wstring name_;
};

class SimDataPackage final : public ComObject<abi::IDataPackage, abi::IDataPackage2, abi::IDataPackage3,
                                              abi::IDataPackage4, abi::IWeakReferenceSource> {
 public:
  SimDataPackage(int number, bool withPackage4) : number_(number), withPackage4_(withPackage4) {}

  ULONG STDMETHODCALLTYPE AddRef() noexcept override {
    const std::lock_guard<std::recursive_mutex> lock(lifetime_->mutex);
    return ++lifetime_->references;
  }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    ULONG left = 0;
    {
      const std::lock_guard<std::recursive_mutex> lock(lifetime_->mutex);
      left = --lifetime_->references;
      if (left == 0) lifetime_->alive = false;
    }
    if (left == 0) delete this;
    return left;
  }
  // Called by a weak reference under the lifetime lock, while the package is alive.
  HRESULT ResolveLocked(REFIID iid, IInspectable** object) {
    return QueryInterface(iid, reinterpret_cast<void**>(object));
  }

  HRESULT STDMETHODCALLTYPE GetWeakReference(abi::IWeakReference** reference) noexcept override {
    *reference = new SimWeakReference(lifetime_, this);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Properties(abi::IDataPackagePropertySet** value) noexcept override {
    *value = GivesNothing(L"empty-properties", L"get_Properties") ? nullptr : ComPtr<SimPropertySet>(properties_).Detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetStorageItemsReadOnly(abi::IIterableStorageItem* items) noexcept override {
    Record(L"SetStorageItemsReadOnly " + std::to_wstring(number_) + Paths(items));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetStorageItems(abi::IIterableStorageItem* items, boolean readOnly) noexcept override {
    Record(L"SetStorageItems " + std::to_wstring(number_) + (readOnly ? L" readonly" : L" writable") + Paths(items));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_ShareCompleted(abi::IShareCompletedHandler* handler, EventRegistrationToken* token) noexcept override {
    return subscriptions_.Add(L"ShareCompleted", handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_ShareCompleted(EventRegistrationToken token) noexcept override {
    return subscriptions_.Remove(L"ShareCompleted", token);
  }
  HRESULT STDMETHODCALLTYPE add_ShareCanceled(abi::IShareCanceledHandler* handler, EventRegistrationToken* token) noexcept override {
    return subscriptions_.Add(L"ShareCanceled", handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_ShareCanceled(EventRegistrationToken token) noexcept override {
    return subscriptions_.Remove(L"ShareCanceled", token);
  }

  void RaiseShareCompleted() {
    Record(L"complete " + std::to_wstring(number_));
    const auto args = ComPtr<SimShareCompletedEventArgs>::Attach(new SimShareCompletedEventArgs);
    for (const auto& handler : subscriptions_.Handlers<abi::IShareCompletedHandler>(L"ShareCompleted")) {
      handler->Invoke(this, args.Get());
    }
  }
  void RaiseShareCanceled() {
    Record(L"cancel " + std::to_wstring(number_));
    for (const auto& handler : subscriptions_.Handlers<abi::IShareCanceledHandler>(L"ShareCanceled")) {
      handler->Invoke(this, nullptr);
    }
  }

  // Nothing else may be put into the package.
  HRESULT STDMETHODCALLTYPE GetView(IInspectable** view) noexcept override { *view = nullptr; return Refuse(L"GetView"); }
  HRESULT STDMETHODCALLTYPE get_RequestedOperation(UINT32* value) noexcept override { *value = 0; return Refuse(L"get_RequestedOperation"); }
  HRESULT STDMETHODCALLTYPE put_RequestedOperation(UINT32) noexcept override { return Refuse(L"put_RequestedOperation"); }
  HRESULT STDMETHODCALLTYPE add_OperationCompleted(IUnknown*, EventRegistrationToken*) noexcept override { return Refuse(L"add_OperationCompleted"); }
  HRESULT STDMETHODCALLTYPE remove_OperationCompleted(EventRegistrationToken) noexcept override { return Refuse(L"remove_OperationCompleted"); }
  HRESULT STDMETHODCALLTYPE add_Destroyed(IUnknown*, EventRegistrationToken*) noexcept override { return Refuse(L"add_Destroyed"); }
  HRESULT STDMETHODCALLTYPE remove_Destroyed(EventRegistrationToken) noexcept override { return Refuse(L"remove_Destroyed"); }
  HRESULT STDMETHODCALLTYPE SetData(HSTRING, IInspectable*) noexcept override { return Refuse(L"SetData"); }
  HRESULT STDMETHODCALLTYPE SetDataProvider(HSTRING, IUnknown*) noexcept override { return Refuse(L"SetDataProvider"); }
  HRESULT STDMETHODCALLTYPE SetText(HSTRING value) noexcept override {
    Record(L"text " + std::to_wstring(number_) + L" " + Text(value));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetWebLink(abi::IUriRuntimeClass* value) noexcept override {
    Record(L"weblink " + std::to_wstring(number_) + L" " + UriText(value));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetApplicationLink(abi::IUriRuntimeClass*) noexcept override { return Refuse(L"SetApplicationLink"); }
  HRESULT STDMETHODCALLTYPE SetUri(abi::IUriRuntimeClass*) noexcept override { return Refuse(L"SetUri"); }
  HRESULT STDMETHODCALLTYPE SetHtmlFormat(HSTRING) noexcept override { return Refuse(L"SetHtmlFormat"); }
  HRESULT STDMETHODCALLTYPE get_ResourceMap(IInspectable** value) noexcept override { *value = nullptr; return Refuse(L"get_ResourceMap"); }
  HRESULT STDMETHODCALLTYPE SetRtf(HSTRING) noexcept override { return Refuse(L"SetRtf"); }
  HRESULT STDMETHODCALLTYPE SetBitmap(IInspectable*) noexcept override { return Refuse(L"SetBitmap"); }

 protected:
  bool Answers(REFIID iid) const noexcept override { return withPackage4_ || iid != abi::IDataPackage4::Iid; }

 private:
  std::wstring Paths(abi::IIterableStorageItem* items) {
    std::wstring paths;
    ComPtr<abi::IIteratorStorageItem> iterator;
    if (items == nullptr || FAILED(items->First(iterator.Put()))) return L" <no list>";
    boolean hasCurrent = false;
    for (iterator->get_HasCurrent(&hasCurrent); hasCurrent; iterator->MoveNext(&hasCurrent)) {
      ComPtr<abi::IStorageItem> item;
      HSTRING path = nullptr;
      if (FAILED(iterator->get_Current(item.Put())) || FAILED(item->get_Path(&path))) return L" <bad item>";
      paths += L" " + Text(path);
      WindowsDeleteString(path);
    }
    return paths;
  }
  HRESULT Refuse(const wchar_t* method) const {
    Unexpected(number_, method);
    return E_NOTIMPL;
  }

  std::shared_ptr<Lifetime> lifetime_ = std::make_shared<Lifetime>();
  int number_;
  bool withPackage4_;
  ComPtr<SimPropertySet> properties_ = ComPtr<SimPropertySet>::Attach(new SimPropertySet(number_));
  Subscriptions subscriptions_{number_};
};

HRESULT SimWeakReference::Resolve(REFIID iid, IInspectable** object) noexcept {
  *object = nullptr;
  const std::lock_guard<std::recursive_mutex> lock(lifetime_->mutex);
  return lifetime_->alive ? package_->ResolveLocked(iid, object) : S_OK;
}

class SimDataRequest final : public ComObject<abi::IDataRequest> {
 public:
  explicit SimDataRequest(ComPtr<SimDataPackage> package) : package_(std::move(package)) {}
  HRESULT STDMETHODCALLTYPE get_Data(abi::IDataPackage** value) noexcept override {
    *value = GivesNothing(L"empty-data", L"get_Data") ? nullptr : ComPtr<SimDataPackage>(package_).Detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Data(abi::IDataPackage*) noexcept override { return Refuse(L"put_Data"); }
  HRESULT STDMETHODCALLTYPE get_Deadline(INT64* value) noexcept override { *value = 0; return Refuse(L"get_Deadline"); }
  HRESULT STDMETHODCALLTYPE FailWithDisplayText(HSTRING) noexcept override { return Refuse(L"FailWithDisplayText"); }
  HRESULT STDMETHODCALLTYPE GetDeferral(IInspectable** value) noexcept override { *value = nullptr; return Refuse(L"GetDeferral"); }

 private:
  HRESULT Refuse(const wchar_t* method) const {
    Unexpected(0, method);
    return E_NOTIMPL;
  }
  ComPtr<SimDataPackage> package_;
};

class SimDataRequestedEventArgs final : public ComObject<abi::IDataRequestedEventArgs> {
 public:
  explicit SimDataRequestedEventArgs(ComPtr<SimDataPackage> package)
      : request_(ComPtr<SimDataRequest>::Attach(new SimDataRequest(std::move(package)))) {}
  HRESULT STDMETHODCALLTYPE get_Request(abi::IDataRequest** value) noexcept override {
    *value = GivesNothing(L"empty-request", L"get_Request") ? nullptr : ComPtr<SimDataRequest>(request_).Detach();
    return S_OK;
  }

 private:
  ComPtr<SimDataRequest> request_;
};

class SimDataTransferManager final : public ComObject<abi::IDataTransferManager> {
 public:
  HRESULT STDMETHODCALLTYPE add_DataRequested(abi::IDataRequestedHandler* handler, EventRegistrationToken* token) noexcept override {
    return subscriptions_.Add(L"DataRequested", handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_DataRequested(EventRegistrationToken token) noexcept override {
    return subscriptions_.Remove(L"DataRequested", token);
  }
  HRESULT STDMETHODCALLTYPE add_TargetApplicationChosen(abi::ITargetApplicationChosenHandler* handler,
                                                        EventRegistrationToken* token) noexcept override {
    return subscriptions_.Add(L"TargetApplicationChosen", handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_TargetApplicationChosen(EventRegistrationToken token) noexcept override {
    return subscriptions_.Remove(L"TargetApplicationChosen", token);
  }

  void RaiseTargetApplicationChosen(const std::wstring& name) {
    Record(L"chosen " + name);
    const auto args = ComPtr<SimTargetApplicationChosenEventArgs>::Attach(new SimTargetApplicationChosenEventArgs(name));
    for (const auto& handler : subscriptions_.Handlers<abi::ITargetApplicationChosenHandler>(L"TargetApplicationChosen")) {
      handler->Invoke(this, args.Get());
    }
  }

  // Raises DataRequested with a new package numbered `number`; returns that package.
  ComPtr<SimDataPackage> RaiseDataRequested(int number) {
    const bool withPackage4 = !ScenarioIs(Setting(L"QUIBSHARE_SIM_FAIL"), L"no-package4");
    const auto package = ComPtr<SimDataPackage>::Attach(new SimDataPackage(number, withPackage4));
    const auto args = ComPtr<SimDataRequestedEventArgs>::Attach(new SimDataRequestedEventArgs(package));
    Record(L"request " + std::to_wstring(number));
    for (const auto& handler : subscriptions_.Handlers<abi::IDataRequestedHandler>(L"DataRequested")) {
      const HRESULT result = handler->Invoke(this, args.Get());
      LARGE_INTEGER now{};
      QueryPerformanceCounter(&now);
      Record(L"handled " + std::to_wstring(number) + L" " + Hex(result));
      // When the handler (and with it the worker's signal) was done, for the benchmarks.
      Record(L"clock handled " + std::to_wstring(now.QuadPart));
    }
    return package;
  }

 private:
  Subscriptions subscriptions_{0};
};

// One share at a time, as the real sheet shows one per window. Never destroyed: it may hold
// handlers whose code lives in the executable while the process unloads.
struct Sheet {
  std::mutex mutex;
  HWND owner = nullptr;
  ComPtr<SimDataTransferManager> manager;
  ComPtr<SimDataPackage> package;
  std::map<UINT_PTR, std::function<void()>> timers;
};

Sheet& CurrentSheet() {
  static Sheet* const sheet = new Sheet;
  return *sheet;
}

void CALLBACK RunTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  std::function<void()> action;
  {
    const std::lock_guard<std::mutex> lock(CurrentSheet().mutex);
    action = std::move(CurrentSheet().timers[id]);
    CurrentSheet().timers.erase(id);
  }
  if (action) action();
}

// Runs `action` on this (the window's) thread once it pumps messages again.
void After(UINT milliseconds, std::function<void()> action) {
  const UINT_PTR id = SetTimer(nullptr, 0, milliseconds, RunTimer);
  const std::lock_guard<std::mutex> lock(CurrentSheet().mutex);
  CurrentSheet().timers[id] = std::move(action);
}

constexpr UINT RunSoonMessage = WM_APP + 1;

// What Soon queued on this thread, run in order by its message-only window. Never destroyed:
// a thread_local object with a destructor in a DLL hangs this toolchain's process exit.
thread_local std::deque<std::function<void()>>* soonActions = nullptr;

LRESULT CALLBACK SoonWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != RunSoonMessage || soonActions == nullptr || soonActions->empty()) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  const std::function<void()> action = std::move(soonActions->front());
  soonActions->pop_front();
  action();
  return 0;
}

// Runs `action` on this (the window's) thread as soon as it pumps messages again: a message-only
// window of this thread's own carries it, as calls from the real sheet arrive by messages.
void Soon(std::function<void()> action) {
  thread_local HWND queue = nullptr;
  if (queue == nullptr) {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&SoonWindowProc), &self);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = SoonWindowProc;
    windowClass.hInstance = self;
    windowClass.lpszClassName = L"QuibShareSimSoon";
    RegisterClassExW(&windowClass);  // fails harmlessly once registered
    queue = CreateWindowExW(0, L"QuibShareSimSoon", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, self, nullptr);
    soonActions = new std::deque<std::function<void()>>;
  }
  soonActions->push_back(std::move(action));
  PostMessageW(queue, RunSoonMessage, 0, 0);
}

// QUIBSHARE_SIM_END_AFTER: milliseconds between the (last) request and the end; 100 unless set.
UINT EndDelayMs() {
  const std::wstring setting = Setting(L"QUIBSHARE_SIM_END_AFTER");
  return setting.empty() ? 100 : static_cast<UINT>(std::wcstoul(setting.c_str(), nullptr, 10));
}

void EndShare() {
  Sheet& sheet = CurrentSheet();
  const std::wstring app = Setting(L"QUIBSHARE_SIM_APP");
  if (!app.empty() && sheet.manager) sheet.manager->RaiseTargetApplicationChosen(app);
  const std::wstring end = Setting(L"QUIBSHARE_SIM_END");
  if (end.empty() || end == L"complete") {
    if (sheet.package) sheet.package->RaiseShareCompleted();
  } else if (end == L"cancel") {
    if (sheet.package) sheet.package->RaiseShareCanceled();
  } else if (end == L"destroy-window") {
    Record(L"destroy-window");
    DestroyWindow(sheet.owner);
  } else if (end == L"quit") {
    Record(L"quit");
    PostQuitMessage(0);
  } else if (end == L"window" || ScenarioIs(end, L"window-deaf")) {
    if (sheet.package) ShowSheetWindow(sheet.owner, sheet.package.Get());
  }
}

void Request(int number) {
  Sheet& sheet = CurrentSheet();
  sheet.package = sheet.manager->RaiseDataRequested(number);
}

void RecordWindow(HWND window) {
  wchar_t title[256] = {};
  wchar_t windowClass[256] = {};
  GetWindowTextW(window, title, 256);
  GetClassNameW(window, windowClass, 256);
  RECT bounds{};
  GetWindowRect(window, &bounds);
  Record(std::wstring(L"window ") + title + L" class=" + windowClass +
         L" visible=" + std::to_wstring(IsWindowVisible(window) ? 1 : 0) +
         L" owned=" + std::to_wstring(GetWindow(window, GW_OWNER) != nullptr ? 1 : 0) +
         L" at=" + std::to_wstring(bounds.left) + L"," + std::to_wstring(bounds.top) +
         L" size=" + std::to_wstring(bounds.right - bounds.left) + L"x" + std::to_wstring(bounds.bottom - bounds.top) +
         L" exstyle=" + Hex(static_cast<HRESULT>(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW)) +
         L" style=" + Hex(static_cast<HRESULT>(GetWindowLongW(window, GWL_STYLE) & (WS_POPUP | WS_CHILD))));
}

class SimDataTransferManagerFactory final : public ComObject<ActivationFactory, abi::IDataTransferManagerInterop> {
 public:
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) noexcept override {
    *instance = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetForWindow(HWND window, REFIID iid, void** manager) noexcept override {
    *manager = nullptr;
    RecordWindow(window);
    Record(L"process " + std::to_wstring(GetCurrentProcessId()));
    const std::wstring fail = Setting(L"QUIBSHARE_SIM_FAIL");
    if (ScenarioIs(fail, L"getforwindow")) return ScenarioCode(fail);
    if (fail == L"getforwindow-empty") return S_OK;
    if (iid != abi::IDataTransferManager::Iid) return E_NOINTERFACE;
    Sheet& sheet = CurrentSheet();
    sheet.owner = window;
    sheet.package = nullptr;
    sheet.manager = ComPtr<SimDataTransferManager>::Attach(new SimDataTransferManager);
    *manager = static_cast<abi::IDataTransferManager*>(ComPtr<SimDataTransferManager>(sheet.manager).Detach());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ShowShareUIForWindow(HWND window) noexcept override {
    Record(L"show");
    const std::wstring fail = Setting(L"QUIBSHARE_SIM_FAIL");
    if (ScenarioIs(fail, L"show")) return ScenarioCode(fail);
    Sheet& sheet = CurrentSheet();
    if (window != sheet.owner || !sheet.manager) return E_INVALIDARG;
    const std::wstring request = Setting(L"QUIBSHARE_SIM_REQUEST");
    if (request.empty() || request == L"after") {
      Soon([] {
        Request(1);
        After(EndDelayMs(), EndShare);
      });
    } else if (request == L"inside" || ScenarioIs(request, L"inside-then-fail")) {
      Request(1);
      After(EndDelayMs(), EndShare);
      // The sheet has been asked and answered, and Show still reports a failure.
      if (ScenarioIs(request, L"inside-then-fail")) return ScenarioCode(request);
    } else if (request == L"later") {
      After(100, [] {
        Request(1);
        After(EndDelayMs(), EndShare);
      });
    } else if (request == L"twice") {
      Request(1);
      After(100, [] {
        Request(2);
        After(EndDelayMs(), EndShare);
      });
    } else if (request == L"thread") {
      // The platform may raise its events on a thread of its own.
      std::thread([manager = sheet.manager] {
        Sleep(100);
        // Its own package, not the current sheet's: a later share may have replaced that.
        const ComPtr<SimDataPackage> package = manager->RaiseDataRequested(1);
        CurrentSheet().package = package;
        Sleep(100);
        package->RaiseShareCompleted();
      }).detach();
    } else if (request == L"quit-then-later") {
      PostQuitMessage(3);
      After(300, [] {
        Request(1);
        After(EndDelayMs(), EndShare);
      });
    }
    return S_OK;
  }
};

}  // namespace

void EndShareOf(abi::IDataPackage* package, bool canceled) {
  auto* simPackage = static_cast<SimDataPackage*>(package);
  if (canceled) {
    simPackage->RaiseShareCanceled();
  } else {
    simPackage->RaiseShareCompleted();
  }
}

HRESULT MakeDataTransferManagerFactory(IActivationFactory** factory) {
  *factory = new SimDataTransferManagerFactory;
  return S_OK;
}

}  // namespace quibshare::sim

// For in-process tests: a data request as the sheet would raise it, and its package.
extern "C" __declspec(dllexport) HRESULT SimMakeDataRequest(int number, BOOL withPackage4,
                                                            quibshare::abi::IDataRequestedEventArgs** args) {
  using namespace quibshare::sim;
  const auto package = quibshare::ComPtr<SimDataPackage>::Attach(new SimDataPackage(number, withPackage4 != FALSE));
  *args = new SimDataRequestedEventArgs(package);
  return S_OK;
}

// For in-process tests: the sheet ends the share of a package it made.
extern "C" __declspec(dllexport) void SimEndShare(quibshare::abi::IDataPackage* package, BOOL canceled) {
  quibshare::sim::EndShareOf(package, canceled != FALSE);
}
