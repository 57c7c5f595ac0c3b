// File names within paths, and the sheet's title when the host gives none.
#include "share/sheet_title.h"

#include <gtest/gtest.h>

#include "share/file_name.h"

namespace quibshare {
namespace {

TEST(FileNameComponent, TakesTheLastComponentAfterAnyRoot) {
  struct Case {
    const wchar_t* path;
    const wchar_t* name;
  };
  const Case cases[] = {
      {L"C:\\Users\\me\\report.final.pdf", L"report.final.pdf"},
      {L"C:/Users/me/report.final.pdf", L"report.final.pdf"},
      {L"C:\\Users/me\\mixed.txt", L"mixed.txt"},
      {L"C:report.txt", L"report.txt"},
      {L"C:\\", L""},
      {L"C:", L""},
      {L"C:\\dir\\", L""},
      {L"C:\\dir/", L""},
      {L"\\\\server\\share\\dir\\file.txt", L"file.txt"},
      {L"//server/share/file.txt", L"file.txt"},
      {L"\\\\server", L""},
      {L"\\\\server\\", L""},
      {L"\\\\?\\C:\\dir\\file.txt", L"file.txt"},
      {L"\\\\?\\", L""},
      {L"\\\\.\\pipe\\name", L"name"},
      {L"\\\\.\\", L""},
      {L"\\??\\C:\\x.bin", L"x.bin"},
      {L"\\??\\", L""},
      {L"/", L""},
      {L"", L""},
      {L"name-only.txt", L"name-only.txt"},
      {L"C:\\dir\\.hidden", L".hidden"},
  };
  for (const Case& c : cases) EXPECT_EQ(FileNameComponent(c.path), c.name) << c.path;
}

TEST(DefaultSheetTitle, IsTheFileNameForOneFileAndACountForMore) {
  EXPECT_EQ(DefaultSheetTitle({L"C:\\Users\\me\\report.final.pdf"}), L"report.final.pdf");
  EXPECT_EQ(DefaultSheetTitle({L"C:\\a.txt", L"C:\\b.txt"}), L"2 files");
  EXPECT_EQ(DefaultSheetTitle(std::vector<std::wstring>(100, L"C:\\a.txt")), L"100 files");
}

}  // namespace
}  // namespace quibshare
