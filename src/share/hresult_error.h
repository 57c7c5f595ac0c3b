// The error a failing Windows Runtime call raises inside the worker. Any thread.
#pragma once

#include <windows.h>

#include <exception>

#include "share/com_ptr.h"

namespace quibshare {

class HResultError : public std::exception {
 public:
  explicit HResultError(HRESULT code) noexcept : code_(code) {}
  HRESULT Code() const noexcept { return code_; }
  const char* what() const noexcept override { return "Windows Runtime call failed"; }

 private:
  HRESULT code_;
};

// Raises a failing code: E_OUTOFMEMORY as std::bad_alloc, any other as HResultError.
[[noreturn]] void ThrowHResult(HRESULT code);
void ThrowIfFailed(HRESULT result);

// For a call that fills `result`: success that leaves it empty gave nothing to use, E_POINTER.
template <typename T>
void ThrowIfFailedOrEmpty(HRESULT status, const ComPtr<T>& result) {
  ThrowIfFailed(status);
  if (!result) ThrowHResult(E_POINTER);
}

// HRESULT_FROM_WIN32, except that "no error" (0) becomes E_FAIL rather than a success code.
HRESULT HResultFromWin32(DWORD error) noexcept;

}  // namespace quibshare
