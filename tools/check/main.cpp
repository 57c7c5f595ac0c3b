// QuibShareCheck.exe: shares through the QuibShare.exe beside it and reports whether it works on
// this Windows. Console program; everything runs on the main thread.
#include <string>
#include <vector>

#include "check/check_run.h"

int wmain(int argc, wchar_t** argv) {
  return quibshare::check::CheckMain(std::vector<std::wstring>(argv, argv + argc));
}
