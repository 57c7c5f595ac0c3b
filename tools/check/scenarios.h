// The shares the check runs, each with --wait, and the files they share. Main thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "check/verdict.h"

namespace quibshare::check {

struct Scenario {
  std::string name;
  std::vector<std::wstring> arguments;
  Expectation expected;
};

// A folder of the check's own under %TEMP% with the files to share, removed with everything in
// it (paths past MAX_PATH included) when the object goes.
class ScenarioFiles {
 public:
  ScenarioFiles();
  ~ScenarioFiles();
  ScenarioFiles(const ScenarioFiles&) = delete;
  ScenarioFiles& operator=(const ScenarioFiles&) = delete;

  bool Ready() const noexcept { return ready_; }
  const std::wstring& Folder() const noexcept { return folder_; }
  // Writes `name` (which may hold folders, made as needed) under the folder; its full path.
  std::wstring Write(const std::wstring& name);

 private:
  std::wstring folder_;
  bool ready_ = false;
};

// The text QuibShare writes where Windows reports a path past MAX_PATH as missing.
inline constexpr char MissingFileText[] = "Sharing could not start: input file does not exist or is inaccessible";

// One file, three files, a path past MAX_PATH, a link alone, a text alone, and a file anchored
// over `anchor`. Each ends canceled (with a person: any outcome), but the long path is refused
// where long paths are off.
std::vector<Scenario> BuildScenarios(ScenarioFiles& files, const RECT& anchor, bool longPathsOn, bool person);

}  // namespace quibshare::check
