// Quoting of the worker's command line, checked against the system's own splitter.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <iostream>
#include <random>

#include "app/broker.h"
#include "app/roles.h"

namespace quibshare {
namespace {

ArgumentList Split(const std::wstring& commandLine) {
  std::optional<ArgumentList> arguments = SplitCommandLine(commandLine.c_str());
  return arguments ? *arguments : ArgumentList{};
}

TEST(QuoteArgument, DoublesBackslashesOnlyBeforeAQuote) {
  struct Case {
    std::wstring argument;
    std::wstring quoted;
  };
  const Case cases[] = {
      {L"", LR"("")"},
      {L"plain", LR"("plain")"},
      {L"--input", LR"("--input")"},
      {LR"(C:\Users\me\report.pdf)", LR"("C:\Users\me\report.pdf")"},
      {LR"(C:\My Files\)", LR"("C:\My Files\\")"},
      {LR"(\\server\share\)", LR"("\\server\share\\")"},
      {LR"(a\\"b)", LR"("a\\\\\"b")"},
      {LR"(say "hi")", LR"("say \"hi\"")"},
      {LR"(\)", LR"("\\")"},
      {L"tab\there", L"\"tab\there\""},
  };
  for (const Case& c : cases) EXPECT_EQ(QuoteArgument(c.argument), c.quoted) << c.argument;
}

TEST(BuildWorkerCommandLine, QuotesEverythingButTheWorkerOption) {
  const std::wstring line = BuildWorkerCommandLine(
      LR"(C:\Program Files\QuibShare\QuibShare.exe)",
      {L"host-written-entry-0", L"--input", LR"(docs/a b.txt)"},
      L"Local\\QuibPluginUi-{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(line,
            LR"("C:\Program Files\QuibShare\QuibShare.exe" "--input" "docs/a b.txt" )"
            LR"(--ui-ready-event "Local\QuibPluginUi-{00000000-0000-0000-0000-000000000000}")");
  const ArgumentList split = Split(line);
  EXPECT_TRUE(IsWorkerInvocation(split));
}

unsigned SeedFromEnvironment() {
  if (const char* text = std::getenv("QUIBSHARE_QUOTING_SEED")) return std::strtoul(text, nullptr, 10);
  return std::random_device{}();
}

// Random argument lists survive being joined into a worker command line and split back.
TEST(BuildWorkerCommandLine, RoundTripsThroughCommandLineToArgvW) {
  const unsigned seed = SeedFromEnvironment();
  const char* countText = std::getenv("QUIBSHARE_QUOTING_CASES");
  const long cases = countText != nullptr ? std::strtol(countText, nullptr, 10) : 10000;
  std::cout << "quoting seed " << seed << ", " << cases << " cases\n";
  RecordProperty("seed", static_cast<int>(seed));

  static const std::wstring alphabet[] = {L" ", L"\t", L"\"", L"\\", L"\\\\", L"a", L"Z", L"-",
                                          L"=", L"'", L"\x00E9", L"\x4E2D", L"\xD83D\xDE00"};
  std::mt19937 random(seed);
  const auto pick = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  const auto randomArgument = [&] {
    std::wstring argument;
    for (int i = pick(0, 12); i > 0; --i) argument += alphabet[pick(0, static_cast<int>(std::size(alphabet)) - 1)];
    return argument;
  };
  const std::wstring modulePath = LR"(C:\Program Files\Quib Share\QuibShare.exe)";
  long mismatches = 0;
  for (long n = 0; n < cases; ++n) {
    ArgumentList arguments{L"entry zero is not used"};
    for (int i = pick(0, 5); i > 0; --i) arguments.push_back(randomArgument());
    const std::wstring eventName = randomArgument();

    ArgumentList expected = arguments;
    expected[0] = modulePath;
    expected.push_back(L"--ui-ready-event");
    expected.push_back(eventName);
    const std::wstring line = BuildWorkerCommandLine(modulePath, arguments, eventName);
    if (Split(line) != expected && ++mismatches <= 5) {
      ADD_FAILURE() << "seed " << seed << " case " << n << " line: "
                    << std::string(line.begin(), line.end());
    }
  }
  EXPECT_EQ(mismatches, 0) << "seed " << seed;
}

TEST(IsWorkerInvocation, NeedsFiveEntriesAndTheExactOption) {
  const ArgumentList worker{L"q.exe", L"--input", L"p", L"--ui-ready-event", L"name"};
  EXPECT_TRUE(IsWorkerInvocation(worker));
  ArgumentList upper = worker;
  upper[3] = L"--UI-READY-EVENT";
  EXPECT_FALSE(IsWorkerInvocation(upper));
  ArgumentList prefix = worker;
  prefix[3] = L"--ui-ready-event-x";
  EXPECT_FALSE(IsWorkerInvocation(prefix));
  EXPECT_FALSE(IsWorkerInvocation({L"q.exe", L"--input", L"p", L"--ui-ready-event=name"}));
  ArgumentList six = worker;
  six.push_back(L"extra");
  EXPECT_FALSE(IsWorkerInvocation(six));
  // Entries 1, 2 and 4 are the worker's own business.
  EXPECT_TRUE(IsWorkerInvocation({L"", L"", L"", L"--ui-ready-event", L""}));
}

}  // namespace
}  // namespace quibshare
