// Activation factories of Windows Runtime classes. Any thread; agile factories are cached
// for the life of the process.
#pragma once

#include <windows.h>
#include <hstring.h>

#include <string_view>

#include "share/com_ptr.h"
#include "share/hresult_error.h"

namespace quibshare {

// The factory of `className` as `iid`. Tries RoGetActivationFactory (once more after joining
// the process to the multithreaded apartment when COM is not initialised on this thread), then
// a DLL named after each namespace prefix of the class, longest first, in the executable's
// folder or the system's. When nothing answers, returns RoGetActivationFactory's failure.
HRESULT GetActivationFactory(std::wstring_view className, REFIID iid, void** factory) noexcept;

// RoGetActivationFactory's shape.
using ActivateFunction = HRESULT(WINAPI*)(HSTRING className, REFIID iid, void** factory);

// Calls `activate`; when this thread has no COM (CO_E_NOTINITIALIZED), joins the process to the
// multithreaded apartment for good and calls it once more.
HRESULT ActivateJoiningApartment(ActivateFunction activate, HSTRING className, REFIID iid,
                                 void** factory) noexcept;

// The same, raising the failure; T names its identifier as T::Iid.
template <typename T>
ComPtr<T> GetActivationFactory(std::wstring_view className) {
  ComPtr<T> factory;
  ThrowIfFailed(GetActivationFactory(className, T::Iid, factory.PutVoid()));
  return factory;
}

}  // namespace quibshare
