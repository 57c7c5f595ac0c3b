// What a host sees when an exception would leave a role: exit code 1 and the error-code text,
// never 3 and never a crash.
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "app/roles.h"
#include "share/hresult_error.h"

namespace quibshare {
namespace {

TEST(ContainEscapes, EscapingExceptionEndsWithOneAndItsCode) {
  struct Case {
    std::function<std::uint32_t()> role;
    std::uint32_t exitCode;
    std::vector<std::wstring> reported;
  };
  const Case cases[] = {
      {[]() -> std::uint32_t { throw std::bad_alloc(); }, 1,
       {L"Sharing could not be opened (error 0x8007000E)."}},
      // A code that would otherwise mean "cannot share here" must not tell the host to hide sharing.
      {[]() -> std::uint32_t { throw HResultError(REGDB_E_CLASSNOTREG); }, 1,
       {L"Sharing could not be opened (error 0x80040154)."}},
      {[]() -> std::uint32_t { throw 42; }, 1, {L"Sharing could not be opened (error 0x8000FFFF)."}},
      {[] { return std::uint32_t{3}; }, 3, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> reported;
    EXPECT_EQ(ContainEscapes(c.role, [&](const std::wstring& text) { reported.push_back(text); }),
              c.exitCode);
    EXPECT_EQ(reported, c.reported);
  }
}

TEST(ContainEscapes, TextThatCannotBeBuiltLeavesTheExitCode) {
  const auto outOfMemory = []() -> std::uint32_t { throw std::bad_alloc(); };
  EXPECT_EQ(ContainEscapes(outOfMemory, [](const std::wstring&) { throw std::bad_alloc(); }), 1u);
  EXPECT_EQ(ContainEscapes(outOfMemory, nullptr), 1u);
}

}  // namespace
}  // namespace quibshare
