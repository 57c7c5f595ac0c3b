// Host-side process runner for the tests.
#include "harness/process_runner.h"

#include <objbase.h>

#include <cstdio>
#include <map>

#include "app/broker.h"
#include "support/unique_resource.h"

namespace quibshare::test {

namespace {

// The current environment with `extra` entries added or replaced, as a CreateProcessW block.
std::wstring BuildEnvironment(const std::vector<std::wstring>& extra) {
  std::map<std::wstring, std::wstring> entries;
  const auto add = [&entries](const std::wstring& entry) {
    const std::size_t equals = entry.find(L'=', 1);
    entries[entry.substr(0, equals)] = entry;
  };
  wchar_t* const current = GetEnvironmentStringsW();
  for (const wchar_t* p = current; *p != L'\0'; p += wcslen(p) + 1) add(p);
  FreeEnvironmentStringsW(current);
  for (const std::wstring& entry : extra) add(entry);
  std::wstring block;
  for (const auto& [name, entry] : entries) block += entry + L'\0';
  block += L'\0';
  return block;
}

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

}  // namespace

void NoteRetry(const std::wstring& what) {
  const std::string line = "retried a process start that Wine failed: " + Utf8(what) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"QUIBSHARE_RETRY_LOG", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  const HANDLE opened = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return;
  const UniqueHandle file(opened);
  DWORD written = 0;
  WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string ReadAvailable(HANDLE pipe) {
  std::string bytes;
  DWORD available = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    std::string chunk(available, '\0');
    DWORD read = 0;
    if (!ReadFile(pipe, chunk.data(), available, &read, nullptr) || read == 0) break;
    bytes.append(chunk.data(), read);
  }
  return bytes;
}

ProcessResult RunProcess(const std::wstring& application, const std::vector<std::wstring>& arguments,
                         const RunOptions& options) {
  std::wstring commandLine = QuoteArgument(application);
  for (const std::wstring& argument : arguments) commandLine += L' ' + QuoteArgument(argument);

  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  CreatePipe(&readEnd, &writeEnd, &inheritable, 1 << 16);
  UniqueHandle reader(readEnd);
  UniqueHandle writer(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE outputReadEnd = nullptr;
  HANDLE outputWriteEnd = nullptr;
  CreatePipe(&outputReadEnd, &outputWriteEnd, &inheritable, 1 << 16);
  const UniqueHandle outputReader(outputReadEnd);
  UniqueHandle outputWriter(outputWriteEnd);
  SetHandleInformation(outputReadEnd, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = options.standardErrorPipe ? writeEnd : nullptr;
  startup.hStdOutput = outputWriteEnd;
  std::wstring environment = BuildEnvironment(options.environment);
  PROCESS_INFORMATION info{};
  ProcessResult result;
  const ULONGLONG startedAt = GetTickCount64();
  // Wine fails about one process start in 800 for no reason of the child's: a start that
  // failed is tried once more, so that the test hears about its child and not about Wine.
  const auto start = [&] {
    return CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                          CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup, &info);
  };
  bool started = start();
  if (!started) {
    const DWORD error = GetLastError();
    NoteRetry(application + L" (error " + std::to_wstring(error) + L")");
    started = start();
  }
  if (!started) {
    result.exitCode = static_cast<DWORD>(-1);
    result.startFailed = true;
    return result;
  }
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  writer.Reset();
  outputWriter.Reset();
  if (options.closeReadEndFirst) reader.Reset();
  // Messages are far smaller than the pipe buffer, so waiting before reading cannot block.
  if (WaitForSingleObject(info.hProcess, options.timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(info.hProcess, 0xDEAD);
    WaitForSingleObject(info.hProcess, 5000);
    result.timedOut = true;
  }
  result.tookMs = static_cast<DWORD>(GetTickCount64() - startedAt);
  GetExitCodeProcess(info.hProcess, &result.exitCode);
  if (reader) result.standardError = ReadAvailable(reader.Get());
  result.standardOutput = ReadAvailable(outputReader.Get());
  return result;
}

std::wstring ModuleDirectory() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring QuibSharePath() { return ModuleDirectory() + L"\\QuibShare.exe"; }

std::wstring NewGuidText() {
  GUID guid{};
  CoCreateGuid(&guid);
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::string EnvironmentText(const char* name) {
  const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
  if (size == 0) return "";
  std::string value(size, '\0');
  value.resize(GetEnvironmentVariableA(name, value.data(), size));
  return value;
}

}  // namespace quibshare::test
