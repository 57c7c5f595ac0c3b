// A stand-in for QuibShare.exe in the host packages' tests: a GUI-subsystem program that does
// what QUIBSHARE_STAND_IN says, whatever its arguments.
//   exit:N[:TEXT]   writes TEXT and CR LF to standard error (if given), exits with N (decimal)
//   stdout:TEXT     writes TEXT and CR LF to standard output in UTF-8, exits with 0
//   stdout-file:PATH writes the bytes of the file PATH to standard output as they are (a line
//                   too long for a variable, or not UTF-8), exits with 0, or with 98 if it cannot
//   probe           writes one line to standard error and exits with 1:
//                   "stdin=K stdout=K stderr=K job=yes|no args: [a] [b] ...", K one of none,
//                   pipe, char, disk or other (a handle 'ignore'd by Node is the NUL device: char)
//   hang            appends its process id and CR LF to the file QUIBSHARE_STAND_IN_PIDS (if
//                   set), then never ends, unless QUIBSHARE_STAND_IN_RELEASE names a file: it
//                   ends with 0 once that file exists. (Ending leftovers that way, rather than by
//                   a process id, never hits another process that has since been given the id.)
//   hang-with-child starts a second copy in "hang" mode that inherits its standard handles
//                   (and so holds a host's pipe), then hangs the same way
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

std::wstring Variable(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return L"";
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), size));
  return value;
}

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

void WriteLine(DWORD which, const std::wstring& text) {
  const std::string bytes = Utf8(text) + "\r\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(which), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

const wchar_t* Kind(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return L"none";
  switch (GetFileType(handle)) {
    case FILE_TYPE_PIPE: return L"pipe";
    case FILE_TYPE_CHAR: return L"char";
    case FILE_TYPE_DISK: return L"disk";
    default: return L"other";
  }
}

bool WriteFileToOutput(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string chunk(65536, '\0');
  DWORD read = 0;
  bool written = true;
  while (written && ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) && read > 0) {
    DWORD count = 0;
    written = WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), chunk.data(), read, &count, nullptr) && count == read;
  }
  CloseHandle(file);
  return written;
}

[[noreturn]] void Hang() {
  const std::wstring release = Variable(L"QUIBSHARE_STAND_IN_RELEASE");
  const std::wstring pids = Variable(L"QUIBSHARE_STAND_IN_PIDS");
  if (!pids.empty()) {
    const HANDLE file = CreateFileW(pids.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const std::string line = std::to_string(GetCurrentProcessId()) + "\r\n";
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
  }
  for (;;) {
    Sleep(release.empty() ? INFINITE : 50);
    if (GetFileAttributesW(release.c_str()) != INVALID_FILE_ATTRIBUTES) ExitProcess(0);
  }
}

void StartHangingChild() {
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(module) + L"\"";
  SetEnvironmentVariableW(L"QUIBSHARE_STAND_IN", L"hang");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child{};
  if (CreateProcessW(module, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) {
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring mode = Variable(L"QUIBSHARE_STAND_IN");
  if (mode.rfind(L"exit:", 0) == 0) {
    const std::size_t colon = mode.find(L':', 5);
    if (colon != std::wstring::npos) WriteLine(STD_ERROR_HANDLE, mode.substr(colon + 1));
    return static_cast<int>(std::wcstoul(mode.c_str() + 5, nullptr, 10));
  }
  if (mode.rfind(L"stdout-file:", 0) == 0) return WriteFileToOutput(mode.substr(12)) ? 0 : 98;
  if (mode.rfind(L"stdout:", 0) == 0) {
    WriteLine(STD_OUTPUT_HANDLE, mode.substr(7));
    return 0;
  }
  if (mode == L"probe") {
    BOOL inJob = FALSE;
    IsProcessInJob(GetCurrentProcess(), nullptr, &inJob);
    std::wstring line = std::wstring(L"stdin=") + Kind(STD_INPUT_HANDLE) + L" stdout=" + Kind(STD_OUTPUT_HANDLE) +
                        L" stderr=" + Kind(STD_ERROR_HANDLE) + L" job=" + (inJob ? L"yes" : L"no") + L" args:";
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; i < count; ++i) line += L" [" + std::wstring(arguments[i]) + L"]";
    LocalFree(arguments);
    WriteLine(STD_ERROR_HANDLE, line);
    return 1;
  }
  if (mode == L"hang-with-child") StartHangingChild();
  if (mode == L"hang" || mode == L"hang-with-child") Hang();
  WriteLine(STD_ERROR_HANDLE, L"stand-in: unknown QUIBSHARE_STAND_IN \"" + mode + L"\"");
  return 99;
}
