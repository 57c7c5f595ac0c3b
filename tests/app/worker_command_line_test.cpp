// Quoting of the worker's command line, checked against the system's own splitter.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdlib>
#include <iostream>
#include <random>

#include "app/broker.h"
#include "app/roles.h"
#include "handoff/handoff_channel.h"
#include "harness/process_runner.h"

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
  const std::wstring module = LR"(C:\Program Files\QuibShare\QuibShare.exe)";
  const std::wstring event = L"Local\\QuibPluginUi-{00000000-0000-0000-0000-000000000000}";
  struct Case {
    ShareRequest request;
    std::wstring line;
  };
  ShareRequest full;
  full.files = {L"a.txt", LR"(C:\b "c"\)"};
  full.title = L"--ui-ready-event";
  full.text = L"two words";
  full.url = L"https://example.com/?q=1";
  full.anchor = Anchor{-10, 20, 300, 400};
  full.wait = true;
  ShareRequest plain;
  plain.files = {L"docs/a b.txt"};
  const Case cases[] = {
      // The one-file request keeps the worker line it always had, byte for byte.
      {plain,
       LR"("C:\Program Files\QuibShare\QuibShare.exe" "--input" "docs/a b.txt" )"
       LR"(--ui-ready-event "Local\QuibPluginUi-{00000000-0000-0000-0000-000000000000}")"},
      {full,
       LR"("C:\Program Files\QuibShare\QuibShare.exe" "--input" "a.txt" "--input" "C:\b \"c\"\\" )"
       LR"("--title" "--ui-ready-event" "--text" "two words" "--url" "https://example.com/?q=1" )"
       LR"("--anchor" "-10,20,300,400" "--wait" )"
       LR"(--ui-ready-event "Local\QuibPluginUi-{00000000-0000-0000-0000-000000000000}")"},
  };
  for (const Case& c : cases) {
    const std::wstring line = BuildWorkerCommandLine(module, c.request, event);
    EXPECT_EQ(line, c.line);
    EXPECT_TRUE(IsWorkerInvocation(Split(line)));
  }
}

// A name as the broker makes it, from a GUID the generator draws.
std::wstring EventName(std::mt19937& random) {
  GUID guid{};
  guid.Data1 = static_cast<unsigned long>(random());
  guid.Data2 = static_cast<unsigned short>(random());
  guid.Data3 = static_cast<unsigned short>(random());
  for (unsigned char& byte : guid.Data4) byte = static_cast<unsigned char>(random());
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return MakeHandoffEventName(text);
}

unsigned SeedFromEnvironment() {
  const std::string text = test::EnvironmentText("QUIBSHARE_QUOTING_SEED");
  if (!text.empty()) return std::strtoul(text.c_str(), nullptr, 10);
  return std::random_device{}();
}

// Random requests survive being written into a worker command line and read back from it, and
// the line is always taken for a worker's.
TEST(BuildWorkerCommandLine, RoundTripsThroughCommandLineToArgvW) {
  const unsigned seed = SeedFromEnvironment();
  const std::string countText = test::EnvironmentText("QUIBSHARE_QUOTING_CASES");
  const long cases = !countText.empty() ? std::strtol(countText.c_str(), nullptr, 10) : 10000;
  std::cout << "quoting seed " << seed << ", " << cases << " cases\n";
  RecordProperty("seed", static_cast<int>(seed));

  static const std::wstring alphabet[] = {L" ", L"\t", L"\"", L"\\", L"\\\\", L"a", L"Z", L"-", L"--wait",
                                          L"--ui-ready-event", L"=", L"'", L"\x00E9", L"\x4E2D", L"\xD83D\xDE00"};
  std::mt19937 random(seed);
  const auto pick = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  const auto randomText = [&](int least) {
    std::wstring text;
    for (int i = pick(least, 8); i > 0; --i) text += alphabet[pick(0, static_cast<int>(std::size(alphabet)) - 1)];
    return text;
  };
  const std::wstring modulePath = LR"(C:\Program Files\Quib Share\QuibShare.exe)";
  long mismatches = 0;
  for (long n = 0; n < cases; ++n) {
    ShareRequest request;
    for (int i = pick(0, 4); i > 0; --i) request.files.push_back(randomText(0));
    if (pick(0, 1)) request.title = randomText(1);
    if (pick(0, 1)) request.text = randomText(1);
    if (pick(0, 1) || (request.files.empty() && request.text.empty())) {
      request.url = L"https://example.com/" + std::to_wstring(pick(0, 1000));
    }
    if (pick(0, 1)) request.anchor = Anchor{pick(-5000, 5000), pick(-5000, 5000), pick(1, 5000), pick(1, 5000)};
    request.wait = pick(0, 1) == 1;
    const std::wstring eventName = EventName(random);

    const ArgumentList split = Split(BuildWorkerCommandLine(modulePath, request, eventName));
    const bool worker = IsWorkerInvocation(split) && split.back() == eventName;
    const std::optional<ShareRequest> back =
        ParseRequest(ArgumentList(split.begin(), split.end() - (worker ? 2 : 0)), nullptr);
    if ((!worker || back != request) && ++mismatches <= 5) {
      ADD_FAILURE() << "seed " << seed << " case " << n;
    }
  }
  EXPECT_EQ(mismatches, 0) << "seed " << seed;
}

constexpr wchar_t Name[] = L"Local\\QuibPluginUi-{0123ABCD-4567-89EF-0A1B-2C3D4E5F6789}";

TEST(IsWorkerInvocation, TheMarkerIsTheExactOptionAndABrokersEventName) {
  struct Case {
    std::wstring option;
    std::wstring name;
    bool worker;
  };
  const Case cases[] = {
      {L"--ui-ready-event", Name, true},
      {L"--UI-READY-EVENT", Name, false},
      {L"--ui-ready-event-x", Name, false},
      {L"--ui-ready-event", L"name", false},
      {L"--ui-ready-event", L"", false},
      {L"--ui-ready-event", L"Local\\QuibPluginUi-{0123abcd-4567-89EF-0A1B-2C3D4E5F6789}", false},
      {L"--ui-ready-event", L"Local\\QuibPluginUi-0123ABCD-4567-89EF-0A1B-2C3D4E5F6789", false},
      {L"--ui-ready-event", L"Local\\QuibPluginUi-{0123ABCD-4567-89EF-0A1B-2C3D4E5F67890}", false},
      {L"--ui-ready-event", L"Local\\QuibPluginUi-{0123ABCD-4567-89EF-0A1B_2C3D4E5F6789}", false},
      {L"--ui-ready-event", L"Global\\QuibPluginUi-{0123ABCD-4567-89EF-0A1B-2C3D4E5F6789}", false},
      {L"--ui-ready-event", std::wstring(Name) + L" ", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsWorkerInvocation({L"q.exe", L"--input", L"p", c.option, c.name}), c.worker) << c.option << c.name;
  }
  EXPECT_FALSE(IsWorkerInvocation({L"q.exe", L"--input", L"p", std::wstring(L"--ui-ready-event=") + Name}));
  EXPECT_FALSE(IsWorkerInvocation({L"q.exe", L"--input", L"p", L"--ui-ready-event", Name, L"--wait"}));
  // The request before the marker is the worker's own business: it parses it once, as a host's.
  EXPECT_TRUE(IsWorkerInvocation({L"", L"", L"", L"--ui-ready-event", Name}));
}

// A host can write the option only as a value or as an unknown option, and never takes the
// worker's role that way: only the broker's own names make a worker.
TEST(IsWorkerInvocation, NeverTakesAHostsLineForAWorkers) {
  const ArgumentList hosts[] = {
      {L"q.exe", L"--input", L"a.txt", L"--wait", L"--ui-ready-event", L"x"},
      {L"q.exe", L"--input", L"a", L"--title", L"--ui-ready-event", L"--wait"},
      {L"q.exe", L"--input", L"a", L"--input", L"--ui-ready-event", L"--wait"},
      {L"q.exe", L"--input", L"a", L"--bogus", L"--ui-ready-event", L"name"},
      {L"q.exe", L"--input", L"a", L"--ui-ready-event", L"{0123ABCD-4567-89EF-0A1B-2C3D4E5F6789}"},
  };
  for (const ArgumentList& arguments : hosts) EXPECT_FALSE(IsWorkerInvocation(arguments)) << arguments.size();
}

}  // namespace
}  // namespace quibshare
