// Drives the simulated platform for one test: its scenarios (environment variables, which
// child processes inherit) and the record of what it was asked.
#pragma once

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
  // The lines recorded so far, optionally only those starting with `prefix`.
  std::vector<std::wstring> Record(const std::wstring& prefix = L"") const;
  const TempDirectory& Folder() const { return folder_; }

 private:
  TempDirectory folder_;
  std::wstring recordPath_;
  std::vector<std::wstring> names_;
};

}  // namespace quibshare::test
