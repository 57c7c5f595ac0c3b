// What a host team inspects in the shipped executable: its manifest and version resource.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "harness/process_runner.h"

namespace quibshare {
namespace {

TEST(ShippedExecutable, EmbedsTheApplicationManifest) {
  const HMODULE exe = LoadLibraryExW(test::QuibSharePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(exe, nullptr);
  const HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr);
  const auto* data = static_cast<const char*>(LockResource(LoadResource(exe, found)));
  const std::string manifest(data, SizeofResource(exe, found));
  FreeLibrary(exe);
  EXPECT_NE(manifest.find(R"(level="asInvoker")"), std::string::npos);
  EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
  EXPECT_NE(manifest.find("<longPathAware"), std::string::npos);
  EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos);
  // Per-monitor (v2) DPI awareness: an anchor in physical pixels is not rescaled by Windows.
  EXPECT_NE(manifest.find(">PerMonitorV2</dpiAwareness>"), std::string::npos);
  EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
  EXPECT_EQ(manifest.find("<activeCodePage"), std::string::npos) << "standard error must stay ANSI";
}

std::wstring VersionString(const std::vector<char>& info, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueW(info.data(), key.c_str(), &value, &length) || length == 0) return L"";
  return std::wstring(static_cast<const wchar_t*>(value), length - 1);
}

TEST(ShippedExecutable, CarriesTheProjectVersion) {
  const std::wstring path = test::QuibSharePath();
  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  EXPECT_EQ(VersionString(info, L"ProductName"), L"QuibShare");
  EXPECT_EQ(VersionString(info, L"ProductVersion"), L"" QUIBSHARE_VERSION);
  EXPECT_EQ(VersionString(info, L"FileVersion"), L"" QUIBSHARE_VERSION);
  EXPECT_FALSE(VersionString(info, L"FileDescription").empty());
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(QUIBSHARE_VERSION_MAJOR << 16 | QUIBSHARE_VERSION_MINOR));
}

}  // namespace
}  // namespace quibshare
