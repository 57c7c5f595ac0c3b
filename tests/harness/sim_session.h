// Drives the simulated platform for one test: its scenarios (QUIBSHARE_SIM_* environment
// variables) and the record of what it was asked.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "harness/temp_directory.h"

namespace quibshare::test {

// Where a session's settings go. Children: only into the environment of the processes started
// with Environment(), so sessions running side by side cannot see each other's. ThisProcess: also
// into this process's environment, for the platform loaded in-process and for children started
// by code that passes no environment; restored when the session ends.
enum class SimScope { Children, ThisProcess };

class SimSession {
 public:
  explicit SimSession(SimScope scope = SimScope::Children);
  ~SimSession();
  SimSession(const SimSession&) = delete;
  SimSession& operator=(const SimSession&) = delete;

  // Sets QUIBSHARE_SIM_<name> (see SimScope).
  void Set(const std::wstring& name, const std::wstring& value);
  // Every setting of this session as "NAME=value", for RunOptions::environment.
  std::vector<std::wstring> Environment() const;
  // The lines recorded so far, optionally only those starting with `prefix`.
  std::vector<std::wstring> Record(const std::wstring& prefix = L"") const;
  // Gives the next share a record of its own: processes started after this (and the platform
  // in this process, for ThisProcess) write to a fresh file, while a worker of an earlier share
  // may go on writing to its own. A file is never deleted and made again under the same name.
  void NewRecord();
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
  SimScope scope_;
  TempDirectory folder_;
  std::wstring recordPath_;
  unsigned records_ = 0;
  std::map<std::wstring, std::wstring> settings_;
  // This process's values before the session set them (ThisProcess only); none: unset.
  std::map<std::wstring, std::optional<std::wstring>> previous_;
};

}  // namespace quibshare::test
