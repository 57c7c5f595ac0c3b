// Process entry of both roles: the broker a host starts, and the UI worker it relaunches.
#include <windows.h>

#include "app/roles.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return static_cast<int>(quibshare::RunProcess(GetCommandLineW()));
}
