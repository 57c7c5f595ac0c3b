// Outcome texts of a failed share. Main thread of the worker.
#include "worker/share_outcome.h"

#include <algorithm>
#include <cwchar>

#include "support/exit_codes.h"

namespace quibshare {

bool IsShareUnavailable(HRESULT result) {
  return std::find(ShareUnavailableCodes.begin(), ShareUnavailableCodes.end(), result) !=
         ShareUnavailableCodes.end();
}

std::wstring DescribeShareFailure(HRESULT result) {
  if (result == ShareTimeoutCode) {
    return L"Sharing did not open: the share pane never asked for this file. "
           L"It may be unavailable on this system or blocked for this account.";
  }
  if (IsShareUnavailable(result)) {
    return L"Sharing is not available on this system: "
           L"the Windows share interface is missing or disabled.";
  }
  return DescribeErrorCode(result);
}

std::wstring DescribeErrorCode(HRESULT result) {
  wchar_t digits[16] = {};
  std::swprintf(digits, 16, L"%08lX", static_cast<unsigned long>(static_cast<std::uint32_t>(result)));
  return std::wstring(L"Sharing could not be opened (error 0x") + digits + L").";
}

std::uint32_t ShareFailureExitCode(HRESULT result) {
  return IsShareUnavailable(result) ? ExitShareUnavailable : ExitFailure;
}

}  // namespace quibshare
