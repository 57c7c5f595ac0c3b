// The share back end as the worker sees it. Called on the worker's main thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace quibshare {

class ISharePlatform {
 public:
  // Shares the file at `path` (fully qualified) once. Takes `onReady` over and destroys it
  // before returning, on every path; calls it each time the share sheet has been given the file.
  virtual HRESULT ShareFile(const std::wstring& path, std::function<void()> onReady) = 0;
  virtual ~ISharePlatform() = default;
};

}  // namespace quibshare
