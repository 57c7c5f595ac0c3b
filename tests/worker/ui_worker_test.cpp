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
  explicit FakeSharePlatform(ShareResult result) : result_(std::move(result)) {}
  ShareResult ShareFile(const ShareContent& content, std::function<void()> onReady) override {
    EXPECT_FALSE(shared) << "ShareFile called twice";
    shared = content;
    receivedOnReady = static_cast<bool>(onReady);
    return result_;
  }
  std::optional<ShareContent> shared;
  bool receivedOnReady = false;

 private:
  ShareResult result_;
};

struct WorkerRun {
  std::uint32_t exitCode;
  std::vector<std::wstring> failures;
  std::vector<ShareOutcome> outcomes;
};

WorkerRun RunWith(ISharePlatform& platform, const ArgumentList& arguments,
            const std::shared_ptr<int>& readyToken = nullptr) {
  WorkerRun run{};
  const std::function<void(const std::wstring&)> onFailure =
      [&run](const std::wstring& text) { run.failures.push_back(text); };
  const std::function<void(const ShareOutcome&)> onOutcome =
      [&run](const ShareOutcome& outcome) { run.outcomes.push_back(outcome); };
  std::function<void()> onReady = [readyToken] { ADD_FAILURE() << "onReady must not be called"; };
  run.exitCode = RunUiWorker(arguments, platform, std::move(onReady), onFailure, onOutcome);
  return run;
}

HRESULT Code(std::uint32_t value) { return static_cast<HRESULT>(value); }

TEST(RunUiWorker, SharesTheRequestAndPassesOnHowTheShareEnded) {
  test::TempDirectory temp;
  const std::wstring first = temp.WriteFile(L"a.txt");
  const std::wstring second = temp.WriteFile(L"b.txt");
  const ShareOutcome outcome{ShareEnd::Completed, L"Target!App", L"Target"};
  FakeSharePlatform platform(ShareResult::Shared(outcome));
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(temp.Path().c_str());  // the relative path resolves against it
  const WorkerRun run = RunWith(platform, {L"QuibShare.exe", L"--input", L"b.txt", L"--input", first, L"--wait",
                                           L"--title", L"T", L"--text", L"X", L"--url", L"https://e.test/",
                                           L"--anchor", L"-5,7,10,20"});
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.failures.empty());
  EXPECT_EQ(run.outcomes, std::vector<ShareOutcome>{outcome});
  ASSERT_TRUE(platform.shared);
  EXPECT_EQ(platform.shared->paths, (std::vector<std::wstring>{second, first}));
  EXPECT_EQ(platform.shared->title, L"T");
  EXPECT_EQ(platform.shared->text, L"X");
  EXPECT_EQ(platform.shared->url, L"https://e.test/");
  EXPECT_EQ(platform.shared->anchor, (Anchor{-5, 7, 10, 20}));
  EXPECT_TRUE(platform.receivedOnReady);
}

TEST(RunUiWorker, MapsEachFailureToItsExitCodeAndText) {
  test::TempDirectory temp;
  const std::wstring file = temp.WriteFile(L"a.txt");
  const std::wstring unavailable =
      L"Sharing is not available on this system: the Windows share interface is missing or "
      L"disabled.";
  const auto platform = [](std::uint32_t code) { return ShareResult::PlatformFailed(Code(code)); };
  const auto handler = [](std::uint32_t code) { return ShareResult::DataRequestFailed(Code(code)); };
  struct Case {
    ShareResult result;
    std::uint32_t exitCode;
    std::wstring text;
  };
  const Case cases[] = {
      {platform(0x80004001), 3, unavailable},
      {platform(0x80004002), 3, unavailable},
      {platform(0x80040154), 3, unavailable},
      {platform(0x80070032), 3, unavailable},
      {platform(0x80070078), 3, unavailable},
      {platform(0x800705B4), 1,
       L"Sharing did not open: the share pane never asked for this file. It may be unavailable "
       L"on this system or blocked for this account."},
      {platform(0x80004005), 1, L"Sharing could not be opened (error 0x80004005)."},
      {platform(0x80070005), 1, L"Sharing could not be opened (error 0x80070005)."},
      {platform(0x80004004), 1, L"Sharing could not be opened (error 0x80004004)."},
      {platform(0x8000000A), 1, L"Sharing could not be opened (error 0x8000000A)."},
      {platform(0xFFFFFFFF), 1, L"Sharing could not be opened (error 0xFFFFFFFF)."},
      // The sheet did ask: a failed request is a failed share whatever its code, never "cannot
      // share here" and never the time-out.
      {handler(0x80004003), 1, L"Sharing could not be opened (error 0x80004003)."},
      {handler(0x80004002), 1, L"Sharing could not be opened (error 0x80004002)."},
      {handler(0x80040154), 1, L"Sharing could not be opened (error 0x80040154)."},
      {handler(0x800705B4), 1, L"Sharing could not be opened (error 0x800705B4)."},
      // A link the platform will not take is the host's mistake, worded as the broker's check.
      {ShareResult::WebLinkRejected(E_INVALIDARG), 2,
       L"Sharing could not start: --url must be an absolute http or https URL"},
  };
  for (const Case& c : cases) {
    FakeSharePlatform fake(c.result);
    const WorkerRun run = RunWith(fake, {L"QuibShare.exe", L"--input", file});
    EXPECT_EQ(run.exitCode, c.exitCode) << std::hex << c.result.code;
    EXPECT_EQ(run.failures, std::vector<std::wstring>{c.text}) << std::hex << c.result.code;
    EXPECT_TRUE(run.outcomes.empty());
  }
}

TEST(RunUiWorker, RejectedInputNeverReachesThePlatform) {
  test::TempDirectory temp;
  FakeSharePlatform platform(ShareResult::Shared({}));
  const auto readyToken = std::make_shared<int>(0);
  const WorkerRun run = RunWith(platform, {L"QuibShare.exe", L"--input", temp.Path()}, readyToken);
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_EQ(run.failures, std::vector<std::wstring>{
                              L"Sharing could not start: input must be a regular file, not a "
                              L"directory"});
  EXPECT_FALSE(platform.shared);
  EXPECT_EQ(readyToken.use_count(), 1) << "onReady was not destroyed";
}

TEST(RunUiWorker, WithoutOnFailureWritesToStandardError) {
  test::TempDirectory temp;
  const std::wstring file = temp.WriteFile(L"a.txt");
  test::StderrCapture capture;
  FakeSharePlatform failing(ShareResult::PlatformFailed(Code(0x80070005)));
  EXPECT_EQ(RunUiWorker({L"QuibShare.exe", L"--input", file}, failing, nullptr, nullptr), 1u);
  EXPECT_EQ(capture.Take(), "Sharing could not be opened (error 0x80070005).\r\n");
  FakeSharePlatform unused(ShareResult::Shared({}));
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
