// Text conversions for the report.
#include "check/text.h"

#include <cstdio>

namespace quibshare::check {

namespace {

std::wstring ToWide(UINT codePage, std::string_view bytes) {
  if (bytes.empty()) return L"";
  const int size = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size);
  return wide;
}

}  // namespace

std::string Utf8(std::wstring_view text) {
  if (text.empty()) return "";
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::wstring Wide(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }

std::string Utf8FromAnsi(std::string_view bytes) { return Utf8(ToWide(CP_ACP, bytes)); }

std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}

std::string HexCode(HRESULT code) {
  char text[16] = {};
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(static_cast<ULONG>(code)));
  return text;
}

}  // namespace quibshare::check
