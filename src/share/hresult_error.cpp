// Raising failed HRESULTs. Any thread.
#include "share/hresult_error.h"

#include <new>

namespace quibshare {

void ThrowHResult(HRESULT code) {
  if (code == E_OUTOFMEMORY) throw std::bad_alloc();
  throw HResultError(code);
}

void ThrowIfFailed(HRESULT result) {
  if (FAILED(result)) ThrowHResult(result);
}

HRESULT HResultFromWin32(DWORD error) noexcept {
  // A call that failed without setting an error must not be reported as success.
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

}  // namespace quibshare
