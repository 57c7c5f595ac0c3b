// The Windows share sheet behind ISharePlatform. Main thread of the worker.
#pragma once

#include "worker/share_platform.h"

namespace quibshare {

class WindowsSharePlatform final : public ISharePlatform {
 public:
  HRESULT ShareFile(const std::wstring& path, std::function<void()> onReady) override;
};

}  // namespace quibshare
