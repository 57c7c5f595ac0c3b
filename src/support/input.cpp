// Command-line and path validation shared by the broker and the worker. Main thread.
#include "support/input.h"

#include <windows.h>

#include <algorithm>

namespace quibshare {

namespace {

ValidatedInput Reject(std::wstring* failureText, const wchar_t* reason) {
  if (failureText != nullptr) {
    *failureText = L"Sharing could not start: ";
    *failureText += reason;
  }
  return {};
}

}  // namespace

std::optional<std::wstring> NormalizeInputPath(const std::wstring& path) {
  std::wstring source = path;
  std::replace(source.begin(), source.end(), L'/', L'\\');
  DWORD capacity = MAX_PATH;
  for (;;) {
    std::wstring buffer(capacity, L'\0');
    const DWORD result = GetFullPathNameW(source.c_str(), capacity, buffer.data(), nullptr);
    if (result == 0) return std::nullopt;
    if (result < capacity) {
      buffer.resize(result);
      return buffer;
    }
    // Too small: result is the size needed, terminator included.
    capacity = result + 1;
  }
}

ValidatedInput ValidateInput(const ArgumentList& arguments, std::wstring* failureText) {
  if (arguments.size() != 3) return Reject(failureText, L"expected exactly --input <path>");
  if (arguments[1] != L"--input") return Reject(failureText, L"expected --input flag");
  if (arguments[2].empty()) return Reject(failureText, L"input path cannot be empty");
  std::optional<std::wstring> path = NormalizeInputPath(arguments[2]);
  if (!path) return Reject(failureText, L"input path cannot be normalized");
  const DWORD attributes = GetFileAttributesW(path->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return Reject(failureText, L"input file does not exist or is inaccessible");
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Reject(failureText, L"input must be a regular file, not a directory");
  }
  return {true, std::move(*path)};
}

std::optional<std::wstring> CheckInput(const ArgumentList& arguments) {
  std::wstring failureText;
  if (ValidateInput(arguments, &failureText).valid) return std::nullopt;
  return failureText;
}

}  // namespace quibshare
