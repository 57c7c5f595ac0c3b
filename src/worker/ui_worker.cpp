// The UI worker's run. Main thread of the worker.
#include "worker/ui_worker.h"

#include <utility>

#include "support/diagnostics.h"
#include "support/exit_codes.h"
#include "worker/share_outcome.h"

namespace quibshare {

std::uint32_t RunUiWorker(const ArgumentList& arguments, ISharePlatform& platform,
                          std::function<void()> onReady,
                          const std::function<void(const std::wstring&)>& onFailure,
                          const std::function<void(const ShareOutcome&)>& onOutcome) {
  const auto report = [&onFailure](const std::wstring& text) {
    if (onFailure) {
      onFailure(text);
    } else {
      WriteDiagnostic(text, DiagnosticLimit);
    }
  };

  std::wstring failureText;
  ValidatedInput input = ValidateInput(arguments, &failureText);
  if (!input.valid) {
    report(failureText);
    onReady = nullptr;
    return ExitInputRejected;
  }
  const ShareRequest& request = input.request;
  const ShareContent content{std::move(input.paths), request.title, request.text, request.url, request.anchor};
  const ShareResult result = platform.ShareFile(content, std::move(onReady));
  switch (result.failure) {
    case ShareResult::Failure::None:
      if (onOutcome) onOutcome(result.outcome);
      return ExitSuccess;
    case ShareResult::Failure::DataRequest:
      report(DescribeErrorCode(result.code));
      return ExitFailure;
    case ShareResult::Failure::WebLink:
      report(std::wstring(InputFailurePrefix) + UrlReason);
      return ExitInputRejected;
    case ShareResult::Failure::Platform:
      break;
  }
  report(DescribeShareFailure(result.code));
  return ShareFailureExitCode(result.code);
}

}  // namespace quibshare
