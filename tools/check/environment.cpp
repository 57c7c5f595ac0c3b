// The environment report: version, machine, token, session, settings and the share class.
#include "check/environment.h"

#include <shellscalingapi.h>

#include "check/text.h"
#include "share/activation.h"
#include "share/com_ptr.h"
#include "share/winrt_abi.h"
#include "support/unique_resource.h"

namespace quibshare::check {

namespace {

// Windows.ApplicationModel.DataTransfer.IDataTransferManagerStatics2: IsSupported, from
// Windows 10 version 1709; false where the system has no share sheet.
struct IDataTransferManagerStatics2 : IInspectable {
  static constexpr GUID Iid = {0xc54ec2ec, 0x9f97, 0x4d63, {0x98, 0x68, 0x39, 0x5e, 0x27, 0x1a, 0xd8, 0xf5}};
  virtual HRESULT STDMETHODCALLTYPE IsSupported(boolean* value) = 0;
};

constexpr wchar_t DataTransferManagerClass[] = L"Windows.ApplicationModel.DataTransfer.DataTransferManager";
constexpr wchar_t CurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

using UniqueDesktop = UniqueResource<HDESK, &::CloseDesktop>;

template <typename Function>
Function SystemFunction(const wchar_t* module, const char* name) {
  const HMODULE library = GetModuleHandleW(module);
  if (library == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

std::wstring RegistryText(const wchar_t* key, const wchar_t* name) {
  wchar_t value[256] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return L"";
  return value;
}

std::optional<DWORD> RegistryNumber(const wchar_t* key, const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

const wchar_t* MachineName(USHORT machine) {
  switch (machine) {
    case IMAGE_FILE_MACHINE_AMD64: return L"x64";
    case IMAGE_FILE_MACHINE_ARM64: return L"ARM64";
    case IMAGE_FILE_MACHINE_I386: return L"x86";
    default: return L"unknown";
  }
}

void ReadMachines(Environment& environment) {
#if defined(_M_ARM64) || defined(__aarch64__)
  environment.processMachine = L"ARM64";
#elif defined(_M_X64) || defined(__x86_64__)
  environment.processMachine = L"x64";
#else
  environment.processMachine = L"x86";
#endif
  using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  const auto isWow64Process2 = SystemFunction<IsWow64Process2Function>(L"kernel32.dll", "IsWow64Process2");
  USHORT process = 0;
  USHORT native = 0;
  // An x64 process emulated on ARM64 is no WOW64 process: only the native machine tells.
  environment.nativeMachine = isWow64Process2 != nullptr && isWow64Process2(GetCurrentProcess(), &process, &native)
                                  ? MachineName(native)
                                  : L"unknown";
}

std::optional<bool> TokenElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::nullopt;
  const UniqueHandle owned(token);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)) return std::nullopt;
  return elevation.TokenIsElevated != 0;
}

// The sheet needs a desktop that a signed-in person sees and types into.
void ReadDesktop(Environment& environment) {
  USEROBJECTFLAGS flags{};
  DWORD size = 0;
  if (!GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &size) ||
      (flags.dwFlags & WSF_VISIBLE) == 0) {
    environment.desktopNote = L"no interactive window station (a service, or no one signed in)";
    return;
  }
  const UniqueDesktop input(OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS));
  wchar_t name[64] = {};
  if (!input || !GetUserObjectInformationW(input.Get(), UOI_NAME, name, sizeof name, &size)) {
    environment.desktopNote = L"the input desktop cannot be opened (locked, or the session is disconnected)";
    return;
  }
  if (lstrcmpiW(name, L"Default") != 0) {
    environment.desktopNote = std::wstring(L"the input desktop is \"") + name + L"\" (locked, or a secure prompt)";
    return;
  }
  environment.desktop = true;
}

void ReadShareClass(Environment& environment) {
  ComPtr<abi::IDataTransferManagerInterop> interop;
  environment.activation =
      GetActivationFactory(DataTransferManagerClass, abi::IDataTransferManagerInterop::Iid, interop.PutVoid());
  ComPtr<IDataTransferManagerStatics2> statics;
  boolean supported = false;
  if (SUCCEEDED(GetActivationFactory(DataTransferManagerClass, IDataTransferManagerStatics2::Iid, statics.PutVoid())) &&
      statics && SUCCEEDED(statics->IsSupported(&supported))) {
    environment.isSupported = supported != 0;
  }
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

}  // namespace

Environment GatherEnvironment() {
  Environment environment;
  environment.version.dwOSVersionInfoSize = sizeof environment.version;
  using RtlGetVersionFunction = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
  if (const auto rtlGetVersion = SystemFunction<RtlGetVersionFunction>(L"ntdll.dll", "RtlGetVersion")) {
    rtlGetVersion(&environment.version);
  }
  environment.displayVersion = RegistryText(CurrentVersionKey, L"DisplayVersion");
  environment.edition = RegistryText(CurrentVersionKey, L"EditionID");
  environment.installationType = RegistryText(CurrentVersionKey, L"InstallationType");
  environment.revision = RegistryNumber(CurrentVersionKey, L"UBR").value_or(0);
  ReadMachines(environment);
  environment.elevated = TokenElevated();
  environment.remoteSession = GetSystemMetrics(SM_REMOTESESSION) != 0;
  environment.longPathsEnabled =
      RegistryNumber(L"SYSTEM\\CurrentControlSet\\Control\\FileSystem", L"LongPathsEnabled");
  UINT dpiX = 0;
  UINT dpiY = 0;
  const HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  if (SUCCEEDED(GetDpiForMonitor(primary, MDT_EFFECTIVE_DPI, &dpiX, &dpiY))) environment.primaryDpi = dpiX;
  ReadDesktop(environment);
  ReadShareClass(environment);
  return environment;
}

bool LongPathsOn(const Environment& environment) { return environment.longPathsEnabled.value_or(0) == 1; }

std::vector<Fact> DescribeEnvironment(const Environment& environment) {
  const RTL_OSVERSIONINFOW& version = environment.version;
  // Windows 11 still calls itself Windows 10 in the registry; its builds start at 22000.
  const char* name = version.dwMajorVersion == 10 && version.dwBuildNumber >= 22000 ? "Windows 11" : "Windows";
  std::string windows = std::string(name) + " " + std::to_string(version.dwMajorVersion) + "." +
                        std::to_string(version.dwMinorVersion) + "." + std::to_string(version.dwBuildNumber) + "." +
                        std::to_string(environment.revision);
  if (!environment.displayVersion.empty()) windows += " (" + Utf8(environment.displayVersion) + ")";
  const std::string process = Utf8(environment.processMachine);
  const std::string native = Utf8(environment.nativeMachine);
  std::string machine = process + " process on " + native;
  if (process != native && native != "unknown") machine += " (emulated)";
  std::string activation = SUCCEEDED(environment.activation) ? "yes" : "no (" + HexCode(environment.activation) + ")";
  if (environment.isSupported) activation += std::string(", IsSupported: ") + (*environment.isSupported ? "true" : "false");
  const std::string longPaths =
      environment.longPathsEnabled ? std::to_string(*environment.longPathsEnabled) : std::string("not set (0)");
  return {
      {"windows", "Windows", windows},
      {"edition", "Edition", Utf8(environment.edition) + (environment.installationType.empty() ? "" : " (" + Utf8(environment.installationType) + ")")},
      {"machine", "Architecture", machine},
      {"elevated", "Elevated (run as administrator)",
       !environment.elevated ? "unknown"
       : *environment.elevated
           ? "yes: Windows never asks an elevated process for the data, so its shares time out; run without administrator rights"
           : "no"},
      {"remoteSession", "Remote session", YesNo(environment.remoteSession)},
      {"longPathsEnabled", "LongPathsEnabled", longPaths},
      {"primaryMonitorDpi", "Primary monitor DPI",
       environment.primaryDpi == 0 ? "unknown"
                                   : std::to_string(environment.primaryDpi) + " (" +
                                         std::to_string(environment.primaryDpi * 100 / 96) + "%)"},
      {"dataTransferManager", "DataTransferManager can be activated", activation},
      {"interactiveDesktop", "Interactive desktop",
       environment.desktop ? "yes" : "no: " + Utf8(environment.desktopNote)},
  };
}

}  // namespace quibshare::check
