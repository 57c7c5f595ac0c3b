// The share back end as the worker sees it. Called on the worker's main thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace quibshare {

// What one share came to. Who failed decides what the host is told: a platform failure by its
// code (some codes mean this system cannot share at all); a failure of the data-request handler
// always as a failed share with its code, since the sheet did ask and sharing does work here.
struct ShareResult {
  enum class Failure { None, Platform, DataRequest };
  Failure failure = Failure::None;
  HRESULT code = S_OK;

  static ShareResult Shared() { return {}; }
  static ShareResult PlatformFailed(HRESULT code) { return {Failure::Platform, code}; }
  static ShareResult DataRequestFailed(HRESULT code) { return {Failure::DataRequest, code}; }
};

class ISharePlatform {
 public:
  // Shares the file at `path` (fully qualified) once. Takes `onReady` over and destroys it
  // before returning, on every path; calls it each time the share sheet has been given the file.
  virtual ShareResult ShareFile(const std::wstring& path, std::function<void()> onReady) = 0;
  virtual ~ISharePlatform() = default;
};

}  // namespace quibshare
