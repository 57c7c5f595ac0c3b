// The handoff event and reason block, written and read as worker and broker would.
#include "handoff/handoff_channel.h"

#include <gtest/gtest.h>

#include <cstring>

#include "harness/process_runner.h"
#include "harness/stderr_capture.h"

namespace quibshare {
namespace {

std::wstring FreshEventName() { return MakeHandoffEventName(test::NewGuidText()); }

std::wstring Pattern(std::size_t length) {
  std::wstring text;
  for (std::size_t i = 0; i < length; ++i) text += static_cast<wchar_t>(L'A' + i % 26);
  return text;
}

TEST(HandoffNames, DeriveTheBlockNameFromTheEventName) {
  const std::wstring guid = L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
  const std::wstring eventName = MakeHandoffEventName(guid);
  EXPECT_EQ(eventName, L"Local\\QuibPluginUi-{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
  EXPECT_EQ(eventName.size(), 57u);
  EXPECT_EQ(MakeReasonBlockName(eventName),
            L"Local\\QuibPluginUi-{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}-reason");
  EXPECT_EQ(MakeReasonBlockName(eventName).size(), 64u);
}

TEST(ReasonBlock, CarriesTheLatestTextCutToItsCapacity) {
  const std::wstring eventName = FreshEventName();
  const UniqueHandle block = CreateReasonBlock(eventName);
  ASSERT_TRUE(block);
  EXPECT_EQ(ReadReason(block.Get()), L"") << "a new block reads empty";

  ASSERT_TRUE(WriteReason(eventName, Pattern(300)));
  EXPECT_EQ(ReadReason(block.Get()), Pattern(256));

  ASSERT_TRUE(WriteReason(eventName, L"second, shorter"));
  EXPECT_EQ(ReadReason(block.Get()), L"second, shorter");

  ASSERT_TRUE(WriteReason(eventName, Pattern(256)));
  EXPECT_EQ(ReadReason(block.Get()), Pattern(256));

  ASSERT_TRUE(WriteReason(eventName, L""));
  EXPECT_EQ(ReadReason(block.Get()), L"");
}

TEST(ReasonBlock, ReaderNeverLooksPastTheCapacity) {
  const std::wstring eventName = FreshEventName();
  const UniqueHandle block = CreateReasonBlock(eventName);
  ASSERT_TRUE(block);
  {
    const UniqueView view(MapViewOfFile(block.Get(), FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_TRUE(view);
    std::memset(view.Get(), 0x41, ReasonBlockBytes);  // every unit L'\x4141', no terminator
  }
  EXPECT_EQ(ReadReason(block.Get()), std::wstring(256, L'\x4141'));
}

TEST(ReasonBlock, MissingBlockOrHandleIsQuiet) {
  EXPECT_FALSE(WriteReason(FreshEventName(), L"nobody is listening"));
  EXPECT_EQ(ReadReason(nullptr), L"");
}

TEST(ReasonBlock, ThousandWritesAndReadsLeakNoHandle) {
  const std::wstring eventName = FreshEventName();
  const UniqueHandle block = CreateReasonBlock(eventName);
  const std::wstring missing = FreshEventName();
  DWORD before = 0;
  GetProcessHandleCount(GetCurrentProcess(), &before);
  for (int i = 0; i < 1000; ++i) {
    const std::wstring text = L"failure " + std::to_wstring(i);
    ASSERT_TRUE(WriteReason(eventName, text));
    ASSERT_EQ(ReadReason(block.Get()), text);
    ASSERT_FALSE(WriteReason(missing, text));
  }
  DWORD after = 0;
  GetProcessHandleCount(GetCurrentProcess(), &after);
  EXPECT_EQ(after, before);
}

// How the share ended travels behind the reason text, which it leaves alone; the texts are cut to
// their capacity, and a record nobody wrote reads as none.
TEST(OutcomeRecord, CarriesHowTheShareEndedBesideTheReason) {
  const std::wstring eventName = FreshEventName();
  const UniqueHandle block = CreateReasonBlock(eventName);
  ASSERT_TRUE(block);
  EXPECT_EQ(ReadOutcome(block.Get()), std::nullopt) << "a new block tells no outcome";
  ASSERT_TRUE(WriteReason(eventName, Pattern(256)));
  struct Case {
    ShareOutcome written;
    ShareOutcome read;
  };
  const Case cases[] = {
      {{ShareEnd::Completed, L"Mail_8wekyb3d8bbwe!App", L"Mail"}, {ShareEnd::Completed, L"Mail_8wekyb3d8bbwe!App", L"Mail"}},
      {{ShareEnd::Canceled, L"", L"\x4E2D\xD83D\xDE00"}, {ShareEnd::Canceled, L"", L"\x4E2D\xD83D\xDE00"}},
      {{ShareEnd::Ended, Pattern(300), Pattern(400)}, {ShareEnd::Ended, Pattern(256), Pattern(256)}},
      {{ShareEnd::Ended, L"", L""}, {ShareEnd::Ended, L"", L""}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteOutcome(eventName, c.written));
    EXPECT_EQ(ReadOutcome(block.Get()), c.read);
    EXPECT_EQ(ReadReason(block.Get()), Pattern(256));
  }
  EXPECT_FALSE(WriteOutcome(FreshEventName(), {})) << "no block, nothing stored";
  EXPECT_EQ(ReadOutcome(nullptr), std::nullopt);
}

TEST(OutcomeRecord, LengthsFromNoWriterOfOursAreHeldToTheCapacity) {
  const std::wstring eventName = FreshEventName();
  const UniqueHandle block = CreateReasonBlock(eventName);
  const UniqueView view(MapViewOfFile(block.Get(), FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_TRUE(view);
  std::memset(view.Get(), 0x7F, ReasonBlockBytes);
  auto* record = static_cast<wchar_t*>(view.Get()) + OutcomeOffset;
  record[0] = 1 + static_cast<int>(ShareEnd::Canceled);
  EXPECT_EQ(ReadOutcome(block.Get()),
            (ShareOutcome{ShareEnd::Canceled, std::wstring(256, L'\x7F7F'), std::wstring(256, L'\x7F7F')}));
  record[0] = 9;
  EXPECT_EQ(ReadOutcome(block.Get()), std::nullopt) << "an end we do not know is no outcome";
}

TEST(HandoffEvent, OnReadySignalsAndStaysSignalled) {
  const std::wstring eventName = FreshEventName();
  const UniqueHandle brokerSide = CreateHandoffEvent(eventName);
  ASSERT_TRUE(brokerSide);
  EXPECT_EQ(WaitForSingleObject(brokerSide.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  const UniqueHandle workerSide = OpenHandoffEvent(eventName);
  ASSERT_TRUE(workerSide);
  const std::function<void()> onReady = MakeOnReady(workerSide.Get());
  onReady();
  onReady();
  EXPECT_EQ(WaitForSingleObject(brokerSide.Get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(brokerSide.Get(), 0), WAIT_OBJECT_0) << "manual reset";
}

TEST(HandoffEvent, WorkerCannotOpenAnEventThatDoesNotExist) {
  EXPECT_FALSE(OpenHandoffEvent(FreshEventName()));
}

TEST(OnFailure, StoresTheTextThenWritesIt) {
  const std::wstring eventName = FreshEventName();
  const UniqueHandle block = CreateReasonBlock(eventName);
  test::StderrCapture capture;
  const auto onFailure = MakeOnFailure(eventName);
  onFailure(Pattern(300));
  EXPECT_EQ(ReadReason(block.Get()), Pattern(256));
  const std::wstring kept = Pattern(256);
  EXPECT_EQ(capture.Take(),
            std::string(kept.begin(), kept.end()) + "\n[... truncated, 44 characters omitted]\r\n");
}

TEST(OnFailure, StillWritesWhenTheBlockIsGone) {
  test::StderrCapture capture;
  MakeOnFailure(FreshEventName())(L"too late for the broker");
  EXPECT_EQ(capture.Take(), "too late for the broker\r\n");
}

}  // namespace
}  // namespace quibshare
