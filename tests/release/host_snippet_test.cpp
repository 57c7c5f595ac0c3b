// The C++ snippet of README.md, extracted at configure time, run against QuibShare.exe.
#include "host_snippet.inc"

#include <gtest/gtest.h>

#include "harness/sim_session.h"

namespace quibshare {
namespace {

TEST(ReadmeHostSnippet, ReportsTheExitCodeAndTheMessage) {
  test::SimSession sim(test::SimScope::ThisProcess);
  const std::wstring exe = sim.InstallQuibShare();
  std::string message;
  EXPECT_EQ(ShareWithQuibShare(exe, sim.Folder().WriteFile(L"a b.txt"), message), 0u);
  EXPECT_EQ(message, "");
  EXPECT_EQ(ShareWithQuibShare(exe, sim.Folder().Path() + L"\\missing.txt", message), 2u);
  EXPECT_EQ(message, "Sharing could not start: input file does not exist or is inaccessible");
  std::string none;
  EXPECT_EQ(ShareWithQuibShare(sim.Folder().Path() + L"\\NoSuch.exe", L"x", none),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // Let the worker finish its share before the folder goes.
  EXPECT_TRUE(sim.WaitFor(L"remove ShareCompleted"));
}

}  // namespace
}  // namespace quibshare
