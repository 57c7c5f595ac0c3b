// In-process capture of standard error.
#include "harness/stderr_capture.h"

#include "harness/process_runner.h"

namespace quibshare::test {

StderrCapture::StderrCapture() : previous_(GetStdHandle(STD_ERROR_HANDLE)) {
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  CreatePipe(&readEnd, &writeEnd, nullptr, 1 << 16);
  reader_.Reset(readEnd);
  writer_.Reset(writeEnd);
  SetStdHandle(STD_ERROR_HANDLE, writeEnd);
}

StderrCapture::~StderrCapture() { SetStdHandle(STD_ERROR_HANDLE, previous_); }

std::string StderrCapture::Take() { return ReadAvailable(reader_.Get()); }

}  // namespace quibshare::test
