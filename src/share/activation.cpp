// Activation factories, with a process-wide cache of the agile ones. Any thread.
#include "share/activation.h"

#include <activation.h>
#include <roapi.h>

#include <map>
#include <mutex>
#include <new>
#include <string>

#include "share/hstring.h"
#include "share/winrt_abi.h"

namespace quibshare {

namespace {

class FactoryCache {
 public:
  ComPtr<IUnknown> Find(std::wstring_view className) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = factories_.find(className);
    return found == factories_.end() ? nullptr : found->second;
  }
  void Add(std::wstring_view className, const ComPtr<IUnknown>& factory) {
    const std::lock_guard<std::mutex> lock(mutex_);
    factories_.emplace(std::wstring(className), factory);
  }

 private:
  std::mutex mutex_;
  std::map<std::wstring, ComPtr<IUnknown>, std::less<>> factories_;
};

FactoryCache& Cache() {
  // Never destroyed: releasing factories while the process unloads their DLLs is not safe.
  static FactoryCache* const cache = new FactoryCache;
  return *cache;
}

// Keeps the multithreaded apartment alive for the rest of the process, as a thread without
// COM needs one to activate anything. Looked up at run time: older systems lack it.
bool JoinMultithreadedApartment() {
  using IncrementMtaUsage = HRESULT(WINAPI*)(CO_MTA_USAGE_COOKIE*);
  const HMODULE combase = LoadLibraryExW(L"combase.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (combase == nullptr) return false;
  const auto increment = reinterpret_cast<IncrementMtaUsage>(
      reinterpret_cast<void*>(GetProcAddress(combase, "CoIncrementMTAUsage")));
  CO_MTA_USAGE_COOKIE cookie = nullptr;
  // cppcheck-suppress resourceLeak ; combase stays loaded for the process, like the apartment
  return increment != nullptr && SUCCEEDED(increment(&cookie));
}

using DllGetActivationFactoryProc = HRESULT(WINAPI*)(HSTRING, IActivationFactory**);

// Asks the DLL named `prefix`.dll for the class; keeps it loaded only if it answers.
bool AskNamespaceDll(std::wstring_view prefix, HSTRING className, REFIID iid,
                     ComPtr<IUnknown>& factory) {
  const std::wstring file = std::wstring(prefix) + L".dll";
  const HMODULE library = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (library == nullptr) return false;
  const auto get = reinterpret_cast<DllGetActivationFactoryProc>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllGetActivationFactory")));
  ComPtr<IActivationFactory> activation;
  if (get != nullptr && SUCCEEDED(get(className, activation.Put())) && activation &&
      SUCCEEDED(activation->QueryInterface(iid, factory.PutVoid())) && factory) {
    // cppcheck-suppress resourceLeak ; deliberate, see the next comment
    return true;  // the factory's code lives in this library: never unload it
  }
  activation.Reset();
  FreeLibrary(library);
  return false;
}

bool AskNamespaceDlls(std::wstring_view className, HSTRING name, REFIID iid,
                      ComPtr<IUnknown>& factory) {
  std::wstring_view prefix = className;
  for (std::size_t dot = prefix.rfind(L'.'); dot != std::wstring_view::npos && dot > 0;
       dot = prefix.rfind(L'.')) {
    prefix = prefix.substr(0, dot);
    if (AskNamespaceDll(prefix, name, iid, factory)) return true;
  }
  return false;
}

bool IsAgile(const ComPtr<IUnknown>& object) {
  ComPtr<abi::IAgileObject> agile;
  return SUCCEEDED(object.As(agile));
}

}  // namespace

HRESULT ActivateJoiningApartment(ActivateFunction activate, HSTRING className, REFIID iid,
                                 void** factory) noexcept {
  const HRESULT status = activate(className, iid, factory);
  if (status != CO_E_NOTINITIALIZED || !JoinMultithreadedApartment()) return status;
  return activate(className, iid, factory);
}

HRESULT GetActivationFactory(std::wstring_view className, REFIID iid, void** factory) noexcept {
  *factory = nullptr;
  try {
    if (const ComPtr<IUnknown> cached = Cache().Find(className)) {
      return cached->QueryInterface(iid, factory);
    }
    const UniqueHString name = MakeHString(className);
    ComPtr<IUnknown> result;
    const HRESULT status =
        ActivateJoiningApartment(RoGetActivationFactory, name.Get(), iid, result.PutVoid());
    if (FAILED(status) && !AskNamespaceDlls(className, name.Get(), iid, result)) return status;
    if (!result) return E_NOINTERFACE;
    if (IsAgile(result)) Cache().Add(className, result);
    *factory = result.Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const HResultError& error) {
    return error.Code();
  }
}

}  // namespace quibshare
