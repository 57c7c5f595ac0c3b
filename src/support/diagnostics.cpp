// Standard error output, in the system's ANSI code page. Main thread of either role.
#include "support/diagnostics.h"

#include <windows.h>

#include <string>

namespace quibshare {

std::wstring TruncateDiagnostic(std::wstring_view message, std::size_t limit) {
  if (message.size() <= limit) return std::wstring(message);
  std::wstring text(message.substr(0, limit));
  text += L"\n[... truncated, ";
  text += std::to_wstring(message.size() - limit);
  text += L" characters omitted]";
  return text;
}

void WriteDiagnostic(std::wstring_view message, std::size_t limit) {
  const std::wstring text = TruncateDiagnostic(message, limit);
  if (text.empty()) return;
  const int units = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), units, bytes.data(), size, nullptr, nullptr);
  bytes += "\r\n";

  // Asked anew each time: the host may have given us no handle at all.
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(error, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace quibshare
