// Temporary folders for the tests.
#include "harness/temp_directory.h"

#include <windows.h>

#include <stdexcept>

#include "harness/process_runner.h"
#include "support/unique_resource.h"

namespace quibshare::test {

namespace {

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry{};
  const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L'\\' + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

}  // namespace

TempDirectory::TempDirectory() {
  wchar_t base[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, base);
  path_ = std::wstring(base) + L"quibshare-" + NewGuidText();
  if (!CreateDirectoryW(path_.c_str(), nullptr)) throw std::runtime_error("cannot create temp dir");
}

TempDirectory::~TempDirectory() { RemoveTree(path_); }

std::wstring TempDirectory::WriteFile(const std::wstring& name, std::string_view content) const {
  const std::wstring path = path_ + L'\\' + name;
  const HANDLE created = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  const UniqueHandle file(created == INVALID_HANDLE_VALUE ? nullptr : created);
  // cppcheck-suppress resourceLeak ; `file` owns `created` (lost through the ?:)
  if (!file) throw std::runtime_error("cannot create test file");
  DWORD written = 0;
  ::WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  // cppcheck-suppress resourceLeak ; `file` closes it
  return path;
}

std::wstring TempDirectory::MakeDirectory(const std::wstring& name) const {
  const std::wstring path = path_ + L'\\' + name;
  CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

}  // namespace quibshare::test
