// Simulated platform: the DLL the worker's activation fallback loads when the system has no
// such class (as under Wine). Exports DllGetActivationFactory.
#include "sim/sim_platform.h"

#include <winstring.h>

#include <cwchar>
#include <string>


namespace quibshare::sim {

std::wstring Setting(const wchar_t* name) {
  wchar_t value[4096] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, 4096);
  return length < 4096 ? std::wstring(value, length) : std::wstring();
}

bool ScenarioIs(const std::wstring& scenario, std::wstring_view name) {
  return scenario.compare(0, scenario.find(L':'), name) == 0;
}

HRESULT ScenarioCode(const std::wstring& scenario) {
  const std::size_t colon = scenario.find(L':');
  if (colon == std::wstring::npos) return E_FAIL;
  return static_cast<HRESULT>(std::wcstoul(scenario.c_str() + colon + 1, nullptr, 16));
}

ULONGLONG ScenarioNumber(const std::wstring& scenario) {
  const std::size_t colon = scenario.find(L':');
  return colon == std::wstring::npos ? 0 : std::wcstoull(scenario.c_str() + colon + 1, nullptr, 10);
}

void Record(std::wstring_view line) {
  const std::wstring path = Setting(L"QUIBSHARE_SIM_LOG");
  if (path.empty()) return;
  const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::wstring text(line);
  text += L'\n';
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::wstring ModuleBaseName() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ModuleBaseName), &self);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(self, path, MAX_PATH);
  std::wstring name = path;
  name = name.substr(name.find_last_of(L"\\/") + 1);
  return name.substr(0, name.rfind(L'.'));
}

std::wstring Text(HSTRING text) {
  UINT32 length = 0;
  const wchar_t* buffer = WindowsGetStringRawBuffer(text, &length);
  return std::wstring(buffer, length);
}

std::wstring Hex(HRESULT code) {
  wchar_t text[16] = {};
  std::swprintf(text, 16, L"%08lX", static_cast<unsigned long>(code));
  return text;
}

namespace {

// Stands for any class of the "QuibShareTest" namespace, used to check how factories are found.
class TestFactory final : public ComObject<ActivationFactory> {
 public:
  explicit TestFactory(bool agile) : agile_(agile) {}
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) noexcept override {
    *instance = nullptr;
    return E_NOTIMPL;
  }

 protected:
  bool Answers(REFIID iid) const noexcept override { return agile_ || iid != abi::IAgileObject::Iid; }

 private:
  bool agile_;
};

}  // namespace

}  // namespace quibshare::sim

// A process that ends by itself unloads its DLLs, one that is terminated does not: the record
// tells a worker that ended on its own ("exit <id>", from the sheet's copy only).
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  using namespace quibshare::sim;
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr &&
      ModuleBaseName() == L"Windows.ApplicationModel.DataTransfer") {
    Record(L"exit " + std::to_wstring(GetCurrentProcessId()));
  }
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetActivationFactory(HSTRING classId,
                                                                        IActivationFactory** factory) {
  using namespace quibshare::sim;
  *factory = nullptr;
  const std::wstring className = Text(classId);
  const std::wstring module = ModuleBaseName();
  Record(L"factory " + module + L" " + className);
  if (className == L"Windows.Storage.StorageFile") return MakeStorageFileStatics(factory);
  if (className == L"Windows.Foundation.Uri") return MakeUriFactory(factory);
  if (className == L"Windows.ApplicationModel.DataTransfer.DataTransferManager") {
    return MakeDataTransferManagerFactory(factory);
  }
  if (className.rfind(L"QuibShareTest.", 0) == 0 && Setting(L"QUIBSHARE_SIM_ANSWERING") == module) {
    *factory = new TestFactory(className.find(L".Agile") != std::wstring::npos);
    return S_OK;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}
