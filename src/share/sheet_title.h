// How the share sheet is titled when the host gives no title. Main thread of the worker.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "share/winrt_abi.h"

namespace quibshare {

// The sheet's title when the host gave none: the file's name for one file, "N files" for more.
std::wstring DefaultSheetTitle(const std::vector<std::wstring>& paths);

// The sheet's title, never empty: the host's; else DefaultSheetTitle when there are files; else
// the web link's host as the platform's Uri reads it (no port); else the text's first line that
// holds more than blanks, trimmed and cut to SheetTitleFromTextLength units, never inside a
// surrogate pair; else "Shared text".
inline constexpr std::size_t SheetTitleFromTextLength = 64;
std::wstring SheetTitle(const std::wstring& title, const std::vector<std::wstring>& paths,
                        abi::IUriRuntimeClass* webLink, std::wstring_view text);

}  // namespace quibshare
