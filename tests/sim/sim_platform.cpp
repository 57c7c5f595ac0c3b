// Simulated platform: the DLL the worker's activation fallback loads when the system has no
// such class (as under Wine). Exports DllGetActivationFactory.
#include "sim/sim_platform.h"

#include <winstring.h>

#include <cwchar>
#include <string>

#include "support/unique_resource.h"


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

namespace {

constexpr ULONGLONG RecordRetryMs = 5000;
// A line that could not be written must not go missing unnoticed: the process ends with this.
constexpr UINT LostRecordExitCode = 0x5EC0DED;

// The record's appends, from every process of this Wine server or Windows session. Wine moves
// to the end and writes in two steps, so appends from two processes at once overwrite each
// other's lines without this.
UniqueHandle RecordLock() {
  UniqueHandle lock(CreateMutexW(nullptr, FALSE, L"Local\\QuibShareSimRecord"));
  // Abandoned by a process that was terminated while writing: the lock is ours all the same.
  if (lock && WaitForSingleObject(lock.Get(), INFINITE) == WAIT_FAILED) lock.Reset();
  return lock;
}

// Sharing delete too, so that a test can remove the record's folder while a worker writes;
// a reader that shares less makes the open fail for a moment, and it is tried again.
HANDLE OpenRecord(const std::wstring& path) {
  const ULONGLONG end = GetTickCount64() + RecordRetryMs;
  for (;;) {
    const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || GetTickCount64() >= end) {
      return INVALID_HANDLE_VALUE;
    }
    Sleep(10);
  }
}

std::string Utf8(std::wstring_view text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  return bytes;
}

}  // namespace

void Record(std::wstring_view line) {
  const std::wstring path = Setting(L"QUIBSHARE_SIM_LOG");
  if (path.empty()) return;
  const std::string bytes = Utf8(std::wstring(line) + L'\n');
  bool wrote = false;
  if (const UniqueHandle lock = RecordLock()) {
    const HANDLE opened = OpenRecord(path);
    if (opened != INVALID_HANDLE_VALUE) {
      const UniqueHandle file(opened);
      DWORD written = 0;
      wrote = WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    }
    ReleaseMutex(lock.Get());
  }
  if (!wrote) {
    // Said where a test can see it (a worker has no standard error), then the process ends.
    const std::string said = Utf8(L"quibshare_sim: a line was not recorded in " + path + L"\n");
    OutputDebugStringA(said.c_str());
    DWORD ignored = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), said.data(), static_cast<DWORD>(said.size()), &ignored, nullptr);
    TerminateProcess(GetCurrentProcess(), LostRecordExitCode);
  }
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
