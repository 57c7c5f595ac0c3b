// Input validation against real files and folders.
#include "support/input.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "harness/temp_directory.h"

namespace quibshare {
namespace {

using test::TempDirectory;

constexpr wchar_t Program[] = L"C:\\apps\\QuibShare.exe";

TEST(ValidateInput, RejectsEachMalformedCommandLineWithItsReason) {
  TempDirectory temp;
  const std::wstring file = temp.WriteFile(L"doc.txt");
  const std::wstring folder = temp.MakeDirectory(L"folder");
  struct Case {
    ArgumentList arguments;
    std::wstring reason;
  };
  const Case cases[] = {
      {{Program}, L"expected exactly --input <path>"},
      {{Program, L"--input"}, L"expected exactly --input <path>"},
      {{Program, L"--input=" + file}, L"expected exactly --input <path>"},
      {{Program, L"--input", file, L"extra"}, L"expected exactly --input <path>"},
      {{Program, L"--input", file, L"--ui-ready-event"}, L"expected exactly --input <path>"},
      {{Program, L"--INPUT", file}, L"expected --input flag"},
      {{Program, L"-input", file}, L"expected --input flag"},
      {{Program, L"/input", file}, L"expected --input flag"},
      {{Program, L"--input=x", file}, L"expected --input flag"},
      {{Program, L"--input ", file}, L"expected --input flag"},
      {{Program, L"--input", L""}, L"input path cannot be empty"},
      {{Program, L"--input", temp.Path() + L"\\missing.txt"},
       L"input file does not exist or is inaccessible"},
      {{Program, L"--input", folder}, L"input must be a regular file, not a directory"},
      {{Program, L"--input", folder + L"\\"}, L"input must be a regular file, not a directory"},
  };
  for (const Case& c : cases) {
    std::wstring failure = L"left-over text";
    const ValidatedInput input = ValidateInput(c.arguments, &failure);
    EXPECT_FALSE(input.valid) << c.reason;
    EXPECT_TRUE(input.paths.empty());
    EXPECT_EQ(failure, L"Sharing could not start: " + c.reason);
    EXPECT_FALSE(ValidateInput(c.arguments, nullptr).valid);
  }
}

// Opening a device or a pipe to look at it could reach the device or connect to the pipe: the
// path's form decides, and the file system is never asked.
TEST(ValidateInput, TellsDevicesAndStreamsFromThePathAlone) {
  static int reads = 0;
  const ReadFileAttributes counting = [](LPCWSTR) -> DWORD {
    ++reads;
    return FILE_ATTRIBUTE_NORMAL;
  };
  const std::wstring device = L"input must be a regular file, not a device";
  const std::wstring stream = L"input must be a regular file, not a named stream";
  const std::wstring link = L"input is a link, not a file: give it with --url";
  struct Case {
    std::wstring path;
    std::wstring reason;  // empty: a file, looked at once
  };
  const Case cases[] = {
      {L"CON", device},
      {L"nul", device},
      {L"COM1", device},
      {LR"(\\.\pipe\quibshare)", device},
      {L"//./CON", device},
      {LR"(\\?\GLOBALROOT\Device\Null)", device},
      {LR"(\\?\Volume{01234567-89ab-cdef-0123-456789abcdef}\a.txt)", device},
      // A link's scheme would otherwise read as a named stream.
      {L"https://example.com/x", link},
      {L"HTTP://example.com/a:b", link},
      {L"hTTpS://", link},
      {L"httpx://example.com/x", stream},
      {L"a.txt:s", stream},
      {L"a.txt::$DATA", stream},
      {LR"(C:\docs\a.txt:s:$DATA)", stream},
      {LR"(\\?\C:\a.txt:s)", stream},
      {LR"(\\server\share\a.txt:s)", stream},
      {LR"(\\?\C:\a.txt)", L""},
      {LR"(\\?\unc\server\share\a.txt)", L""},
      {LR"(\\server\share\a.txt)", L""},
  };
  for (const Case& c : cases) {
    reads = 0;
    std::wstring failure;
    const ValidatedInput input = ValidateInput({Program, L"--input", c.path}, &failure, counting);
    EXPECT_EQ(input.valid, c.reason.empty()) << c.path;
    EXPECT_EQ(failure, c.reason.empty() ? L"" : L"Sharing could not start: " + c.reason) << c.path;
    EXPECT_EQ(reads, c.reason.empty() ? 1 : 0) << c.path;
  }
}

TEST(ValidateInput, AcceptsAFileAndLeavesTheFailureTextAlone) {
  TempDirectory temp;
  const std::wstring file = temp.WriteFile(L"report.final.pdf");
  std::wstring failure;
  const ValidatedInput input = ValidateInput({Program, L"--input", file}, &failure);
  EXPECT_TRUE(input.valid);
  EXPECT_EQ(input.paths, std::vector{file});
  EXPECT_EQ(failure, L"");
}

TEST(ValidateInput, ReturnsForwardSlashPathsWithBackslashes) {
  TempDirectory temp;
  const std::wstring file = temp.WriteFile(L"slashes.txt");
  std::wstring forward = file;
  for (wchar_t& c : forward) c = c == L'\\' ? L'/' : c;
  const ValidatedInput input = ValidateInput({Program, L"--input", forward}, nullptr);
  EXPECT_TRUE(input.valid);
  EXPECT_EQ(input.paths, std::vector{file});
}

TEST(ValidateInput, ResolvesARelativeNameAgainstTheCurrentDirectory) {
  TempDirectory temp;
  const std::wstring file = temp.WriteFile(L"relative.txt");
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(temp.Path().c_str());
  const ValidatedInput input = ValidateInput({Program, L"--input", L"relative.txt"}, nullptr);
  SetCurrentDirectoryW(previous);
  EXPECT_TRUE(input.valid);
  EXPECT_EQ(input.paths, std::vector{file});
}

TEST(ValidateInput, AcceptsPathsLongerThanMaxPath) {
  TempDirectory temp;
  std::wstring folder = temp.Path();
  while (folder.size() < 300) {
    folder += L"\\" + std::wstring(60, L'd');
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  }
  const std::wstring name = folder.substr(temp.Path().size() + 1) + L"\\long.txt";
  const std::wstring file = temp.WriteFile(name);
  ASSERT_GT(file.size(), 259u);
  EXPECT_EQ(NormalizeInputPath(file), file);
  const ValidatedInput input = ValidateInput({Program, L"--input", file}, nullptr);
  EXPECT_TRUE(input.valid);
  EXPECT_EQ(input.paths, std::vector{file});
}

TEST(ValidateInput, AcceptsHiddenAndReadOnlyFiles) {
  TempDirectory temp;
  for (const DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_READONLY}) {
    const std::wstring file = temp.WriteFile(L"marked" + std::to_wstring(attribute));
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), attribute));
    EXPECT_TRUE(ValidateInput({Program, L"--input", file}, nullptr).valid) << attribute;
  }
}

TEST(ValidateInput, DoesNotTreatBlanksAsAnEmptyPath) {
  std::wstring failure;
  ValidateInput({Program, L"--input", L"   "}, &failure);
  EXPECT_NE(failure, L"Sharing could not start: input path cannot be empty");
}

TEST(ValidateInput, ChecksEveryFileInOrderAndNamesTheFirstBadOne) {
  TempDirectory temp;
  const std::wstring first = temp.WriteFile(L"first.txt");
  const std::wstring second = temp.WriteFile(L"second.txt");
  const std::wstring missing = temp.Path() + L"\\missing.txt";
  const std::wstring folder = temp.MakeDirectory(L"folder");
  ArgumentList nineThenMissing{Program};
  for (int i = 0; i < 9; ++i) nineThenMissing.insert(nineThenMissing.end(), {L"--input", first});
  nineThenMissing.insert(nineThenMissing.end(), {L"--input", missing});
  struct Case {
    ArgumentList arguments;
    std::wstring reason;
  };
  const Case cases[] = {
      {{Program, L"--input", first, L"--input", missing, L"--input", folder},
       L"input file does not exist or is inaccessible (input 2)"},
      {{Program, L"--input", folder, L"--input", L""}, L"input must be a regular file, not a directory (input 1)"},
      {{Program, L"--input", first, L"--wait", L"--input", L""}, L"input path cannot be empty (input 2)"},
      {nineThenMissing, L"input file does not exist or is inaccessible (input 10)"},
      // One file keeps the two-argument form's texts; the line itself is checked first.
      {{Program, L"--input", L"", L"--wait"}, L"input path cannot be empty"},
      {{Program, L"--input", missing, L"--title", L"T"}, L"input file does not exist or is inaccessible"},
      {{Program, L"--input", missing, L"--title", L""}, L"--title cannot be empty"},
  };
  for (const Case& c : cases) {
    std::wstring failure;
    const ValidatedInput input = ValidateInput(c.arguments, &failure);
    EXPECT_FALSE(input.valid) << c.reason;
    EXPECT_TRUE(input.paths.empty());
    EXPECT_EQ(failure, L"Sharing could not start: " + c.reason);
  }

  std::wstring forward = second;
  for (wchar_t& c : forward) c = c == L'\\' ? L'/' : c;
  const ArgumentList arguments{Program, L"--input", forward, L"--wait", L"--input", first, L"--input", second};
  const ValidatedInput input = ValidateInput(arguments, nullptr);
  EXPECT_TRUE(input.valid);
  EXPECT_EQ(input.paths, (std::vector{second, first, second}));
  EXPECT_EQ(input.request, ParseRequest(arguments, nullptr));
}

}  // namespace
}  // namespace quibshare
