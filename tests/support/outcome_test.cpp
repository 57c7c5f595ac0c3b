// The outcome line: its exact bytes, and how they reach standard output.
#include "support/outcome.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "harness/stderr_capture.h"

namespace quibshare {
namespace {

using namespace std::string_literals;
using test::StderrCapture;

TEST(FormatOutcomeLine, WritesExactUtf8Json) {
  struct Case {
    ShareOutcome outcome;
    std::string line;
  };
  const Case cases[] = {
      {{ShareEnd::Completed, L"", L""}, R"({"outcome":"completed"})"},
      {{ShareEnd::Canceled, L"", L""}, R"({"outcome":"canceled"})"},
      {{ShareEnd::Ended, L"", L""}, R"({"outcome":"ended"})"},
      {{ShareEnd::Completed, L"Mail_8wekyb3d8bbwe!App", L"Mail"},
       R"({"outcome":"completed","target":"Mail_8wekyb3d8bbwe!App","app":"Mail"})"},
      {{ShareEnd::Completed, L"", L"Mail"}, R"({"outcome":"completed","app":"Mail"})"},
      {{ShareEnd::Completed, L"t", L""}, R"({"outcome":"completed","target":"t"})"},
      {{ShareEnd::Ended, L"a\"b\\c/d'", L" ~\x007F"}, "{\"outcome\":\"ended\",\"target\":\"a\\\"b\\\\c/d'\","
                                                    "\"app\":\" ~\x7F\"}"},
      {{ShareEnd::Ended, L"\0\x0001\t\n\r\x001F"s, L""},
       R"({"outcome":"ended","target":"\u0000\u0001\u0009\u000a\u000d\u001f"})"},
      {{ShareEnd::Ended, L"\x0080\x00E9\x07FF\x0800\x4E2D\xFFFF", L""},
       "{\"outcome\":\"ended\",\"target\":\"\xC2\x80\xC3\xA9\xDF\xBF\xE0\xA0\x80\xE4\xB8\xAD\xEF\xBF\xBF\"}"},
      {{ShareEnd::Ended, L"\xD83D\xDE00\xDBFF\xDFFF", L""},
       "{\"outcome\":\"ended\",\"target\":\"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\"}"},
      // Lone halves: a high one at the end or before anything but a low one, a low one alone.
      {{ShareEnd::Ended, L"\xD83D", L"\xDE00x\xD83D\xD83D\xDE00\xDE00\xD83Dy"},
       "{\"outcome\":\"ended\",\"target\":\"\xEF\xBF\xBD\",\"app\":\"\xEF\xBF\xBDx\xEF\xBF\xBD"
       "\xF0\x9F\x98\x80\xEF\xBF\xBD\xEF\xBF\xBDy\"}"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatOutcomeLine(c.outcome), c.line + "\r\n");
}

TEST(WriteStandardOutput, WritesTheBytesToTheHandleOfTheMoment) {
  const std::string line = FormatOutcomeLine({ShareEnd::Completed, L"\x4E2D", L"a\0b"s});
  {
    StderrCapture capture(STD_OUTPUT_HANDLE);
    WriteStandardOutput(line);
    EXPECT_EQ(capture.Take(), line);
    WriteStandardOutput("raw\0bytes"s);
    EXPECT_EQ(capture.Take(), "raw\0bytes"s);
    // A host that gave no handle, or a handle that cannot be written: nothing anywhere.
    for (const HANDLE handle : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
      SetStdHandle(STD_OUTPUT_HANDLE, handle);
      WriteStandardOutput(line);
    }
    EXPECT_EQ(capture.Take(), "");
  }
  StderrCapture later(STD_OUTPUT_HANDLE);
  WriteStandardOutput(line);
  EXPECT_EQ(later.Take(), line);
}

}  // namespace
}  // namespace quibshare
