// RunUiWorker against a fake share platform, and the outcome texts it reports.
#include "worker/ui_worker.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "harness/stderr_capture.h"
#include "harness/temp_directory.h"
#include "worker/share_outcome.h"

namespace quibshare {
namespace {

// Returns a scripted result and checks it is called at most once, with onReady handed over.
class FakeSharePlatform final : public ISharePlatform {
 public:
  explicit FakeSharePlatform(HRESULT result) : result_(result) {}
  HRESULT ShareFile(const std::wstring& path, std::function<void()> onReady) override {
    EXPECT_FALSE(sharedPath) << "ShareFile called twice";
    sharedPath = path;
    receivedOnReady = static_cast<bool>(onReady);
    return result_;
  }
  std::optional<std::wstring> sharedPath;
  bool receivedOnReady = false;

 private:
  HRESULT result_;
};

struct WorkerRun {
  std::uint32_t exitCode;
  std::vector<std::wstring> failures;
};

WorkerRun RunWith(ISharePlatform& platform, const ArgumentList& arguments,
            const std::shared_ptr<int>& readyToken = nullptr) {
  WorkerRun run{};
  const std::function<void(const std::wstring&)> onFailure =
      [&run](const std::wstring& text) { run.failures.push_back(text); };
  std::function<void()> onReady = [readyToken] { ADD_FAILURE() << "onReady must not be called"; };
  run.exitCode = RunUiWorker(arguments, platform, std::move(onReady), onFailure);
  return run;
}

HRESULT Code(std::uint32_t value) { return static_cast<HRESULT>(value); }

TEST(RunUiWorker, SuccessGivesZeroAndNoText) {
  test::TempDirectory temp;
  const std::wstring file = temp.WriteFile(L"a.txt");
  for (const HRESULT success : {S_OK, S_FALSE}) {
    FakeSharePlatform platform(success);
    const WorkerRun run = RunWith(platform, {L"QuibShare.exe", L"--input", file});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.failures.empty());
    EXPECT_EQ(platform.sharedPath, file);
    EXPECT_TRUE(platform.receivedOnReady);
  }
}

TEST(RunUiWorker, MapsEachFailureToItsExitCodeAndText) {
  test::TempDirectory temp;
  const std::wstring file = temp.WriteFile(L"a.txt");
  const std::wstring unavailable =
      L"Sharing is not available on this system: the Windows share interface is missing or "
      L"disabled.";
  struct Case {
    std::uint32_t code;
    std::uint32_t exitCode;
    std::wstring text;
  };
  const Case cases[] = {
      {0x80004001, 3, unavailable},
      {0x80004002, 3, unavailable},
      {0x80040154, 3, unavailable},
      {0x80070032, 3, unavailable},
      {0x80070078, 3, unavailable},
      {0x800705B4, 1,
       L"Sharing did not open: the share pane never asked for this file. It may be unavailable "
       L"on this system or blocked for this account."},
      {0x80004005, 1, L"Sharing could not be opened (error 0x80004005)."},
      {0x80070005, 1, L"Sharing could not be opened (error 0x80070005)."},
      {0x80004004, 1, L"Sharing could not be opened (error 0x80004004)."},
      {0x8000000A, 1, L"Sharing could not be opened (error 0x8000000A)."},
      {0xFFFFFFFF, 1, L"Sharing could not be opened (error 0xFFFFFFFF)."},
  };
  for (const Case& c : cases) {
    FakeSharePlatform platform(Code(c.code));
    const WorkerRun run = RunWith(platform, {L"QuibShare.exe", L"--input", file});
    EXPECT_EQ(run.exitCode, c.exitCode) << std::hex << c.code;
    EXPECT_EQ(run.failures, std::vector<std::wstring>{c.text}) << std::hex << c.code;
  }
}

TEST(RunUiWorker, RejectedInputNeverReachesThePlatform) {
  test::TempDirectory temp;
  FakeSharePlatform platform(S_OK);
  const auto readyToken = std::make_shared<int>(0);
  const WorkerRun run = RunWith(platform, {L"QuibShare.exe", L"--input", temp.Path()}, readyToken);
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_EQ(run.failures, std::vector<std::wstring>{
                              L"Sharing could not start: input must be a regular file, not a "
                              L"directory"});
  EXPECT_FALSE(platform.sharedPath);
  EXPECT_EQ(readyToken.use_count(), 1) << "onReady was not destroyed";
}

TEST(RunUiWorker, WithoutOnFailureWritesToStandardError) {
  test::TempDirectory temp;
  const std::wstring file = temp.WriteFile(L"a.txt");
  test::StderrCapture capture;
  FakeSharePlatform failing(Code(0x80070005));
  EXPECT_EQ(RunUiWorker({L"QuibShare.exe", L"--input", file}, failing, nullptr, nullptr), 1u);
  EXPECT_EQ(capture.Take(), "Sharing could not be opened (error 0x80070005).\r\n");
  FakeSharePlatform unused(S_OK);
  EXPECT_EQ(RunUiWorker({L"QuibShare.exe", L"--input"}, unused, nullptr, nullptr), 2u);
  EXPECT_EQ(capture.Take(), "Sharing could not start: expected exactly --input <path>\r\n");
}

TEST(DescribeShareFailure, TextsFitTheDiagnosticLimitWithoutCutting) {
  EXPECT_EQ(DescribeShareFailure(ShareTimeoutCode).size(), 129u);
  EXPECT_EQ(DescribeShareFailure(Code(0x80004001)).size(), 92u);
  EXPECT_EQ(DescribeShareFailure(Code(0x80004005)).size(), 47u);
}

}  // namespace
}  // namespace quibshare
