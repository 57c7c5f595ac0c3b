// Points one of this process's standard handles (standard error unless told) at a pipe for the
// life of the object, so in-process tests can read the exact bytes WriteDiagnostic and
// WriteStandardOutput write.
#pragma once

#include <windows.h>

#include <string>

#include "support/unique_resource.h"

namespace quibshare::test {

class StderrCapture {
 public:
  explicit StderrCapture(DWORD standardHandle = STD_ERROR_HANDLE);
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Everything written since the last call.
  std::string Take();

 private:
  DWORD standardHandle_;
  HANDLE previous_;
  UniqueHandle reader_;
  UniqueHandle writer_;
};

}  // namespace quibshare::test
