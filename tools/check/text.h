// Conversions between the Windows texts the check reads and the UTF-8 of its report. Any thread.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace quibshare::check {

std::string Utf8(std::wstring_view text);
std::wstring Wide(std::string_view utf8);
// Bytes in the ANSI code page (QuibShare's standard error), as UTF-8.
std::string Utf8FromAnsi(std::string_view bytes);
// Without the trailing CR and LF characters.
std::string WithoutLineEnd(std::string text);
// "0x80070005".
std::string HexCode(HRESULT code);

}  // namespace quibshare::check
