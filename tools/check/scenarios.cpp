// The scenarios and their files. Main thread.
#include "check/scenarios.h"

#include "support/unique_resource.h"

namespace quibshare::check {

namespace {

constexpr std::size_t LongPathLength = 300;  // past MAX_PATH (260) with room to spare

// Paths past MAX_PATH work with this prefix whatever the long-path setting.
std::wstring Extended(const std::wstring& path) { return L"\\\\?\\" + path; }

using UniqueFind = UniqueResource<HANDLE, &::FindClose>;

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  const HANDLE first = FindFirstFileW(Extended(folder + L"\\*").c_str(), &found);
  if (first != INVALID_HANDLE_VALUE) {
    const UniqueFind search(first);
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(path);
      } else {
        DeleteFileW(Extended(path).c_str());
      }
    } while (FindNextFileW(search.Get(), &found));
  }
  RemoveDirectoryW(Extended(folder).c_str());
}

std::string Canceled() { return "{\"outcome\":\"canceled\"}"; }

Expectation Ends(bool person) {
  if (person) return {0, "", "", "exit code 0 and an outcome line"};
  return {0, Canceled(), "", "exit code 0 and " + Canceled()};
}

}  // namespace

ScenarioFiles::ScenarioFiles() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return;
  folder_ = std::wstring(temp, length) + L"QuibShareCheck-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64());
  if (!folder_.empty() && folder_.back() == L'\\') folder_.pop_back();
  ready_ = CreateDirectoryW(folder_.c_str(), nullptr) != FALSE;
}

ScenarioFiles::~ScenarioFiles() {
  if (ready_) RemoveTree(folder_);
}

std::wstring ScenarioFiles::Write(const std::wstring& name) {
  const std::wstring path = folder_ + L"\\" + name;
  for (std::size_t slash = name.find(L'\\'); slash != std::wstring::npos; slash = name.find(L'\\', slash + 1)) {
    CreateDirectoryW(Extended(folder_ + L"\\" + name.substr(0, slash)).c_str(), nullptr);
  }
  const HANDLE created = CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created == INVALID_HANDLE_VALUE) {
    ready_ = false;
    return path;
  }
  const UniqueHandle file(created);
  static constexpr char Content[] = "A file the QuibShare check shares. Nothing is sent: the check cancels.\r\n";
  DWORD written = 0;
  if (!WriteFile(file.Get(), Content, sizeof Content - 1, &written, nullptr)) ready_ = false;
  return path;
}

std::vector<Scenario> BuildScenarios(ScenarioFiles& files, const RECT& anchor, bool longPathsOn, bool person) {
  std::vector<Scenario> scenarios;
  const std::wstring one = files.Write(L"QuibShare check.txt");
  scenarios.push_back({"one file", {L"--input", one, L"--wait"}, Ends(person)});

  const std::wstring first = files.Write(L"first.txt");
  const std::wstring second = files.Write(L"second.txt");
  const std::wstring third = files.Write(L"third.txt");
  scenarios.push_back({"three files", {L"--input", first, L"--input", second, L"--input", third, L"--wait"},
                       Ends(person)});

  std::wstring name;
  while ((files.Folder() + L"\\" + name).size() < LongPathLength) {
    name += L"a folder whose name makes the path long\\";
  }
  const std::wstring longPath = files.Write(name + L"long path.txt");
  Scenario longShare{"path over 260 characters", {L"--input", longPath, L"--wait"}, Ends(person)};
  if (!longPathsOn) {
    longShare.expected = {2, "", MissingFileText,
                          std::string("exit code 2 and \"") + MissingFileText + "\" (LongPathsEnabled is not 1)"};
  } else {
    longShare.expected.description += " (LongPathsEnabled is 1)";
  }
  scenarios.push_back(std::move(longShare));

  scenarios.push_back({"link alone", {L"--url", L"https://example.com/quibshare-check", L"--wait"}, Ends(person)});
  scenarios.push_back({"text alone", {L"--text", L"A text the QuibShare check shares", L"--wait"}, Ends(person)});

  const std::wstring anchored = files.Write(L"anchored.txt");
  const std::wstring rectangle = std::to_wstring(anchor.left) + L"," + std::to_wstring(anchor.top) + L"," +
                                 std::to_wstring(anchor.right - anchor.left) + L"," +
                                 std::to_wstring(anchor.bottom - anchor.top);
  scenarios.push_back({"file with --anchor", {L"--input", anchored, L"--anchor", rectangle, L"--wait"}, Ends(person)});
  return scenarios;
}

}  // namespace quibshare::check
