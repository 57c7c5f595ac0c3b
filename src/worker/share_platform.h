// The share back end as the worker sees it. Called on the worker's main thread.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/input.h"
#include "support/outcome.h"

namespace quibshare {

// What one share gives the sheet.
struct ShareContent {
  std::vector<std::wstring> paths;  // fully qualified, in the host's order; none: a text or link alone
  std::wstring title;               // empty: the default title
  std::wstring text;                // empty: none
  std::wstring url;                 // empty: none
  std::optional<Anchor> anchor;     // where the host is; none: the primary screen's corner
};

// What one share came to. Who failed decides what the host is told: a platform failure by its
// code (some codes mean this system cannot share at all); a failure of the data-request handler
// always as a failed share with its code, since the sheet did ask and sharing does work here;
// a link the platform will not make a URI of as a rejected command line.
struct ShareResult {
  enum class Failure { None, Platform, DataRequest, WebLink };
  Failure failure = Failure::None;
  HRESULT code = S_OK;
  ShareOutcome outcome;  // how the share ended, when it did not fail

  static ShareResult Shared(ShareOutcome outcome) { return {Failure::None, S_OK, std::move(outcome)}; }
  static ShareResult PlatformFailed(HRESULT code) { return {Failure::Platform, code, {}}; }
  static ShareResult DataRequestFailed(HRESULT code) { return {Failure::DataRequest, code, {}}; }
  static ShareResult WebLinkRejected(HRESULT code) { return {Failure::WebLink, code, {}}; }
};

class ISharePlatform {
 public:
  // Shares `content` once. Takes `onReady` over and destroys it before returning, on every path;
  // calls it each time the share sheet has been given the data.
  virtual ShareResult ShareFile(const ShareContent& content, std::function<void()> onReady) = 0;
  virtual ~ISharePlatform() = default;
};

}  // namespace quibshare
