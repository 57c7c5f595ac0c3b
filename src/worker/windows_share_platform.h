// The Windows share sheet behind ISharePlatform. Main thread of the worker.
#pragma once

#include <chrono>

#include "worker/share_platform.h"

namespace quibshare {

class WindowsSharePlatform final : public ISharePlatform {
 public:
  // `sharingBound`: how long a share may go on after the sheet took the files before the worker
  // ends it itself, as if the sheet had gone away.
  explicit WindowsSharePlatform(std::chrono::milliseconds sharingBound) : sharingBound_(sharingBound) {}
  ShareResult ShareFile(const ShareContent& content, std::function<void()> onReady) override;

 private:
  std::chrono::milliseconds sharingBound_;
};

}  // namespace quibshare
