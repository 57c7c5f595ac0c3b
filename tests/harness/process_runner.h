// Starts a process the way a host does and collects its exit code and standard output and error
// bytes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quibshare::test {

struct ProcessResult {
  DWORD exitCode = 0;
  std::string standardError;   // the exact bytes written
  std::string standardOutput;  // likewise
  bool timedOut = false;       // the process was killed at the time limit
  DWORD tookMs = 0;            // from the start to the end of the process
  bool startFailed = false;    // CreateProcessW failed twice; exitCode is then 0xFFFFFFFF
};

struct RunOptions {
  DWORD timeoutMs = 60000;
  bool standardErrorPipe = true;  // false: the child gets no standard error handle at all
  bool closeReadEndFirst = false;  // the host stops listening before the child writes
  // Extra "NAME=value" entries added to this process's environment for the child.
  std::vector<std::wstring> environment;
};

// Runs `application` with the given arguments (each quoted the way a host would quote it). A
// start that fails is tried once more.
ProcessResult RunProcess(const std::wstring& application, const std::vector<std::wstring>& arguments,
                         const RunOptions& options = {});

// Tells of a process start that Wine failed and that was tried once more: on standard error,
// and as one line appended to the file QUIBSHARE_RETRY_LOG names, so that scripts/soak can count
// such retries instead of letting them pass unseen.
void NoteRetry(const std::wstring& what);

// Reads what a pipe holds now, without waiting for more.
std::string ReadAvailable(HANDLE pipe);

// The folder of the running test executable; QuibShare.exe and the tests are built there.
std::wstring ModuleDirectory();
std::wstring QuibSharePath();

// A fresh "{XXXXXXXX-...}" text, for object names no one else uses.
std::wstring NewGuidText();

// An environment variable of this process; empty when unset. (Visual Studio's runtime marks
// std::getenv as unsafe, an error under /WX.)
std::string EnvironmentText(const char* name);

}  // namespace quibshare::test
