// Scenarios and record of the simulated platform.
#include "harness/sim_session.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "harness/process_runner.h"

namespace quibshare::test {

namespace {

std::optional<std::wstring> ProcessVariable(const std::wstring& name) {
  const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name.c_str(), value.data(), size));
  return value;
}

}  // namespace

SimSession::SimSession(SimScope scope) : scope_(scope) { NewRecord(); }

SimSession::~SimSession() {
  for (const auto& [variable, value] : previous_) {
    SetEnvironmentVariableW(variable.c_str(), value ? value->c_str() : nullptr);
  }
}

void SimSession::Set(const std::wstring& name, const std::wstring& value) {
  const std::wstring variable = L"QUIBSHARE_SIM_" + name;
  settings_[variable] = value;
  if (scope_ != SimScope::ThisProcess) return;
  previous_.try_emplace(variable, ProcessVariable(variable));
  SetEnvironmentVariableW(variable.c_str(), value.c_str());
}

std::vector<std::wstring> SimSession::Environment() const {
  std::vector<std::wstring> entries;
  for (const auto& [name, value] : settings_) entries.push_back(name + L"=" + value);
  return entries;
}

std::vector<std::wstring> SimSession::Record(const std::wstring& prefix) const {
  std::ifstream file{std::filesystem::path(recordPath_), std::ios::binary};
  std::stringstream bytes;
  bytes << file.rdbuf();
  const std::string text = bytes.str();
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const int size = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), wide.data(), size);
    if (wide.rfind(prefix, 0) == 0) lines.push_back(wide);
  }
  return lines;
}

void SimSession::NewRecord() {
  recordPath_ = folder_.Path() + L"\\record-" + std::to_wstring(++records_) + L".txt";
  Set(L"LOG", recordPath_);
}

bool SimSession::WaitFor(const std::wstring& prefix, unsigned timeoutMs) const {
  for (const ULONGLONG end = GetTickCount64() + timeoutMs; GetTickCount64() < end; Sleep(20)) {
    if (!Record(prefix).empty()) return true;
  }
  return !Record(prefix).empty();
}

std::vector<std::wstring> SimSession::Subscribed(std::size_t lines) const {
  std::vector<std::wstring> record = Record();
  if (record.size() > lines) record.resize(lines);
  std::set<std::wstring> live;
  for (const std::wstring& line : record) {
    if (line.rfind(L"add ", 0) == 0) live.insert(line.substr(4));
    if (line.rfind(L"remove ", 0) == 0) live.erase(line.substr(7));
  }
  return std::vector<std::wstring>(live.begin(), live.end());
}

std::wstring SimSession::InstallQuibShare(bool withShareSheet) const {
  const std::wstring exe = folder_.Path() + L"\\QuibShare.exe";
  const std::wstring sim = ModuleDirectory() + L"\\quibshare_sim.dll";
  CopyFileW(QuibSharePath().c_str(), exe.c_str(), FALSE);
  CopyFileW(sim.c_str(), (folder_.Path() + L"\\Windows.Storage.dll").c_str(), FALSE);
  CopyFileW(sim.c_str(), (folder_.Path() + L"\\Windows.Foundation.dll").c_str(), FALSE);
  const std::wstring sheet = folder_.Path() + L"\\Windows.ApplicationModel.DataTransfer.dll";
  if (withShareSheet) {
    CopyFileW(sim.c_str(), sheet.c_str(), FALSE);
  } else {
    DeleteFileW(sheet.c_str());
  }
  return exe;
}

}  // namespace quibshare::test
