// In-process capture of standard error or standard output.
#include "harness/stderr_capture.h"

#include "harness/process_runner.h"

namespace quibshare::test {

StderrCapture::StderrCapture(DWORD standardHandle)
    : standardHandle_(standardHandle), previous_(GetStdHandle(standardHandle)) {
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  CreatePipe(&readEnd, &writeEnd, nullptr, 1 << 16);
  reader_.Reset(readEnd);
  writer_.Reset(writeEnd);
  SetStdHandle(standardHandle_, writeEnd);
}

StderrCapture::~StderrCapture() { SetStdHandle(standardHandle_, previous_); }

std::string StderrCapture::Take() { return ReadAvailable(reader_.Get()); }

}  // namespace quibshare::test
