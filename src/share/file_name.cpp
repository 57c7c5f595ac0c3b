// File names within paths. Pure functions; any thread.
#include "share/file_name.h"

#include <cstddef>

namespace quibshare {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::size_t RootNameLength(std::wstring_view path) {
  const auto at = [path](std::size_t i) { return i < path.size() ? path[i] : L'\0'; };
  const wchar_t letter = static_cast<wchar_t>(at(0) | 0x20);
  if (letter >= L'a' && letter <= L'z' && at(1) == L':') return 2;
  // "\\?\", "\\.\" and "\??\", each followed by exactly one separator.
  const bool device = IsSeparator(at(0)) && ((IsSeparator(at(1)) && (at(2) == L'?' || at(2) == L'.')) ||
                                             (at(1) == L'?' && at(2) == L'?'));
  if (device && IsSeparator(at(3)) && !IsSeparator(at(4))) return 4;
  // "\\server", up to the next separator.
  if (IsSeparator(at(0)) && IsSeparator(at(1)) && at(2) != L'\0' && !IsSeparator(at(2))) {
    std::size_t end = 2;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    return end;
  }
  return 0;
}

}  // namespace

std::wstring_view FileNameComponent(std::wstring_view path) noexcept {
  const std::size_t root = RootNameLength(path);
  std::size_t start = root;
  for (std::size_t i = root; i < path.size(); ++i) {
    if (IsSeparator(path[i])) start = i + 1;
  }
  return path.substr(start);
}

}  // namespace quibshare
