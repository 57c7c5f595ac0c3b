// Where the check runs: the facts about this Windows that decide whether QuibShare can work
// here. Main thread.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "check/report.h"

namespace quibshare::check {

struct Environment {
  RTL_OSVERSIONINFOW version{};        // from RtlGetVersion, which no manifest can change
  std::wstring displayVersion;         // "24H2"
  std::wstring edition;                // "Professional", "ServerDatacenter"
  std::wstring installationType;       // "Client", "Server"
  DWORD revision = 0;                  // the update build revision (UBR)
  std::wstring processMachine;         // what this build is for
  std::wstring nativeMachine;          // what the machine is (IsWow64Process2)
  std::optional<bool> elevated;
  bool remoteSession = false;
  std::optional<DWORD> longPathsEnabled;  // none: the value is not set
  UINT primaryDpi = 0;
  HRESULT activation = E_FAIL;          // getting the DataTransferManager's interop factory
  std::optional<bool> isSupported;      // DataTransferManager.IsSupported, where it answers
  bool desktop = false;                 // an interactive desktop takes input
  std::wstring desktopNote;             // why not
};

Environment GatherEnvironment();

// The report's facts, in the order a person reads them.
std::vector<Fact> DescribeEnvironment(const Environment& environment);

// What a file path longer than MAX_PATH should do here.
bool LongPathsOn(const Environment& environment);

}  // namespace quibshare::check
