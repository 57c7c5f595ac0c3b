// A uniquely named folder under %TEMP% for one test, removed with everything in it.
#pragma once

#include <string>
#include <string_view>

namespace quibshare::test {

class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::wstring& Path() const { return path_; }
  // Creates (or overwrites) a file under this folder; `name` may hold subfolders that exist.
  std::wstring WriteFile(const std::wstring& name, std::string_view content = "sample") const;
  std::wstring MakeDirectory(const std::wstring& name) const;

 private:
  std::wstring path_;
};

}  // namespace quibshare::test
