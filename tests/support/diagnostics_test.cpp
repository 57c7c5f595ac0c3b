// Diagnostic output: truncation and the exact bytes that reach standard error.
#include "support/diagnostics.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "harness/stderr_capture.h"

namespace quibshare {
namespace {

using test::StderrCapture;


TEST(TruncateDiagnostic, CutsAfterTheLimitAndCountsTheRest) {
  struct Case {
    std::size_t length;
    std::wstring notice;
  };
  const Case cases[] = {
      {0, L""},
      {255, L""},
      {256, L""},
      {257, L"\n[... truncated, 1 characters omitted]"},
      {300, L"\n[... truncated, 44 characters omitted]"},
      {1256, L"\n[... truncated, 1000 characters omitted]"},
  };
  for (const Case& c : cases) {
    std::wstring message;
    for (std::size_t i = 0; i < c.length; ++i) message += static_cast<wchar_t>(L'a' + i % 26);
    const std::wstring kept = message.substr(0, DiagnosticLimit);
    EXPECT_EQ(TruncateDiagnostic(message, DiagnosticLimit), kept + c.notice) << c.length;
  }
}

TEST(TruncateDiagnostic, SplitsASurrogatePairAtTheCut) {
  // U+1F600 as a pair whose high half is code unit 256 and low half code unit 257.
  const std::wstring message = std::wstring(255, L'x') + L"\xD83D\xDE00" + L"yz";
  const std::wstring text = TruncateDiagnostic(message, DiagnosticLimit);
  EXPECT_EQ(text, std::wstring(255, L'x') + L"\xD83D" +
                      L"\n[... truncated, 3 characters omitted]");
}

TEST(WriteDiagnostic, WritesOneLineEndingInCrLf) {
  StderrCapture capture;
  const std::wstring exact(256, L'q');
  WriteDiagnostic(exact, DiagnosticLimit);
  EXPECT_EQ(capture.Take(), std::string(256, 'q') + "\r\n");

  WriteDiagnostic(std::wstring(257, L'q'), DiagnosticLimit);
  EXPECT_EQ(capture.Take(),
            std::string(256, 'q') + "\n[... truncated, 1 characters omitted]\r\n");

  WriteDiagnostic(std::wstring(300, L'q'), DiagnosticLimit);
  EXPECT_EQ(capture.Take(),
            std::string(256, 'q') + "\n[... truncated, 44 characters omitted]\r\n");

  WriteDiagnostic(L"Sharing could not start: expected --input flag", DiagnosticLimit);
  EXPECT_EQ(capture.Take(), "Sharing could not start: expected --input flag\r\n");
}

TEST(WriteDiagnostic, EmptyMessageWritesNothingAtAll) {
  StderrCapture capture;
  WriteDiagnostic(L"", DiagnosticLimit);
  EXPECT_EQ(capture.Take(), "");
}

TEST(WriteDiagnostic, UsesTheAnsiCodePageWithoutFlags) {
  const std::wstring message = L"caf\x00E9 \x4E2D";
  const int size = WideCharToMultiByte(CP_ACP, 0, message.data(), 6, nullptr, 0, nullptr, nullptr);
  std::string expected(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, message.data(), 6, expected.data(), size, nullptr, nullptr);
  StderrCapture capture;
  WriteDiagnostic(message, DiagnosticLimit);
  EXPECT_EQ(capture.Take(), expected + "\r\n");
}

TEST(WriteDiagnostic, MissingOrBrokenHandleIsHarmless) {
  const HANDLE original = GetStdHandle(STD_ERROR_HANDLE);
  for (const HANDLE handle : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
    SetStdHandle(STD_ERROR_HANDLE, handle);
    WriteDiagnostic(L"nobody reads this", DiagnosticLimit);
  }
  // A read-only handle: the write fails and is ignored.
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  SetStdHandle(STD_ERROR_HANDLE, readEnd);
  WriteDiagnostic(L"nobody reads this either", DiagnosticLimit);
  SetStdHandle(STD_ERROR_HANDLE, original);
  CloseHandle(readEnd);
  CloseHandle(writeEnd);
  SUCCEED();
}

}  // namespace
}  // namespace quibshare
