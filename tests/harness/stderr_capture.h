// Points this process's standard error handle at a pipe for the life of the object, so
// in-process tests can read the exact bytes WriteDiagnostic writes.
#pragma once

#include <windows.h>

#include <string>

#include "support/unique_resource.h"

namespace quibshare::test {

class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Everything written since the last call.
  std::string Take();

 private:
  HANDLE previous_;
  UniqueHandle reader_;
  UniqueHandle writer_;
};

}  // namespace quibshare::test
