// The Windows share sheet behind ISharePlatform. Main thread of the worker.
#include "worker/windows_share_platform.h"

namespace quibshare {

HRESULT WindowsSharePlatform::ShareFile(const std::wstring&, std::function<void()>) {
  // Not built yet: hosts see the same outcome as on a Windows without the share service.
  return E_NOTIMPL;
}

}  // namespace quibshare
