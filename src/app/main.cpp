// Process entry of both roles: the broker a host starts, and the UI worker it relaunches.
#include <windows.h>

#include "app/roles.h"
#include "support/exit_codes.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::optional<quibshare::ArgumentList> arguments =
      quibshare::SplitCommandLine(GetCommandLineW());
  if (!arguments) return quibshare::ExitInputRejected;
  return static_cast<int>(quibshare::DispatchRole(*arguments, quibshare::BrokerDeadlineMs));
}
