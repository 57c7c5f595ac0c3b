// Turns a failed share result into the worker's one line of text and its exit code.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

namespace quibshare {

// Results that mean this system cannot share at all, rather than that this share failed.
inline constexpr std::array<HRESULT, 5> ShareUnavailableCodes = {
    static_cast<HRESULT>(0x80004001),  // E_NOTIMPL
    static_cast<HRESULT>(0x80004002),  // E_NOINTERFACE
    static_cast<HRESULT>(0x80040154),  // REGDB_E_CLASSNOTREG
    static_cast<HRESULT>(0x80070032),  // HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)
    static_cast<HRESULT>(0x80070078),  // HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED)
};

// HRESULT_FROM_WIN32(ERROR_TIMEOUT): the share pane never asked for the file in time.
inline constexpr HRESULT ShareTimeoutCode = static_cast<HRESULT>(0x800705B4);

bool IsShareUnavailable(HRESULT result);

// The sentence for a failing result (< 0).
std::wstring DescribeShareFailure(HRESULT result);

// "Sharing could not be opened (error 0x" with the code's eight upper-case hex digits and ").".
std::wstring DescribeErrorCode(HRESULT result);

// 3 for an unavailable share service, 1 for every other failure.
std::uint32_t ShareFailureExitCode(HRESULT result);

}  // namespace quibshare
