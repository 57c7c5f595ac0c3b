// Drives the simulated platform for one test: its scenarios (environment variables, which
// child processes inherit) and the record of what it was asked.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "harness/temp_directory.h"

namespace quibshare::test {

class SimSession {
 public:
  SimSession();
  ~SimSession();
  SimSession(const SimSession&) = delete;
  SimSession& operator=(const SimSession&) = delete;

  // Sets QUIBSHARE_SIM_<name> for this process and the processes it starts.
  void Set(const std::wstring& name, const std::wstring& value);
  // Every setting of this session as "NAME=value", for a child started while another session
  // changes the process environment.
  std::vector<std::wstring> Environment() const;
  // The lines recorded so far, optionally only those starting with `prefix`.
  std::vector<std::wstring> Record(const std::wstring& prefix = L"") const;
  void ClearRecord() const;
  // Waits up to timeoutMs for a recorded line starting with `prefix`.
  bool WaitFor(const std::wstring& prefix, unsigned timeoutMs = 10000) const;
  // Subscriptions ("ShareCompleted 1 2": event, package, token) added but not removed, in the
  // first `lines` recorded lines (all of them by default).
  std::vector<std::wstring> Subscribed(std::size_t lines = static_cast<std::size_t>(-1)) const;
  const TempDirectory& Folder() const { return folder_; }

  // Copies QuibShare.exe (built beside the running test) into this session's folder with the
  // simulated platform beside it: StorageFile always, the share sheet when asked. Returns the
  // copy's path.
  std::wstring InstallQuibShare(bool withShareSheet = true) const;

 private:
  TempDirectory folder_;
  std::wstring recordPath_;
  std::map<std::wstring, std::wstring> settings_;
};

}  // namespace quibshare::test
