// How the share sheet is titled when the host gives no title. Main thread of the worker.
#include "share/sheet_title.h"

#include <windows.h>

#include <algorithm>

#include "share/file_name.h"
#include "share/hstring.h"

namespace quibshare {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\v' || c == L'\f'; }
bool IsLineBreak(wchar_t c) { return c == L'\r' || c == L'\n'; }

// The host the platform reads from the link; empty when it gives none.
std::wstring HostOf(abi::IUriRuntimeClass* webLink) {
  UniqueHString host;
  if (webLink == nullptr || FAILED(webLink->get_Host(host.Put()))) return {};
  return std::wstring(HStringText(host.Get()));
}

std::wstring FirstLineOf(std::wstring_view text) {
  while (!text.empty()) {
    std::size_t end = 0;
    while (end < text.size() && !IsLineBreak(text[end])) ++end;
    std::wstring_view line = text.substr(0, end);
    text.remove_prefix(end < text.size() ? end + 1 : end);
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    if (line.empty()) continue;
    std::size_t cut = std::min(line.size(), SheetTitleFromTextLength);
    // Half a surrogate pair would show as a replacement character.
    if (cut < line.size() && IS_HIGH_SURROGATE(line[cut - 1]) && IS_LOW_SURROGATE(line[cut])) --cut;
    return std::wstring(line.substr(0, cut));
  }
  return {};
}

}  // namespace

std::wstring DefaultSheetTitle(const std::vector<std::wstring>& paths) {
  if (paths.size() == 1) return std::wstring(FileNameComponent(paths.front()));
  return std::to_wstring(paths.size()) + L" files";
}

std::wstring SheetTitle(const std::wstring& title, const std::vector<std::wstring>& paths,
                        abi::IUriRuntimeClass* webLink, std::wstring_view text) {
  // An empty title makes the sheet refuse the share: every rule that gives nothing falls through.
  if (!title.empty()) return title;
  if (!paths.empty()) {
    if (std::wstring fileTitle = DefaultSheetTitle(paths); !fileTitle.empty()) return fileTitle;
  }
  if (std::wstring host = HostOf(webLink); !host.empty()) return host;
  if (std::wstring line = FirstLineOf(text); !line.empty()) return line;
  return L"Shared text";
}

}  // namespace quibshare
