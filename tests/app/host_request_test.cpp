// QuibShare.exe seen from a host that uses the options: what is rejected and how, what reaches
// the sheet, and the outcome line a waiting host reads on standard output.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "app/broker.h"
#include "harness/process_runner.h"
#include "harness/sim_session.h"
#include "harness/temp_directory.h"
#include "support/input.h"

namespace quibshare {
namespace {

using test::ProcessResult;
using test::RunOptions;

const std::string Rejected = "Sharing could not start: ";

ProcessResult Share(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                    const test::SimSession* sim = nullptr) {
  RunOptions options;
  options.timeoutMs = 45000;
  if (sim != nullptr) options.environment = sim->Environment();
  return test::RunProcess(exe, arguments, options);
}

TEST(HostRequest, EachMisuseIsRejectedWithItsReasonAndNothingShared) {
  test::TempDirectory temp;
  const std::wstring a = temp.WriteFile(L"a.txt");
  std::vector<std::wstring> tooMany;
  for (int i = 0; i < 101; ++i) tooMany.insert(tooMany.end(), {L"--input", a});
  struct Case {
    std::vector<std::wstring> arguments;
    std::string reason;
  };
  const Case cases[] = {
      // Nothing of the new form: the two-argument form's text, as ever.
      {{L"--input", a, L"--bogus", L"v"}, "expected exactly --input <path>"},
      {{L"--input", a, L"--bogus", L"--wait"}, "unknown option --bogus"},
      // A host's line, whatever it ends with: only the broker's own event names make a worker.
      {{L"--input", a, L"--wait", L"--ui-ready-event", L"x"}, "unknown option --ui-ready-event"},
      // Messages stay ASCII and on one line; a surrogate pair is one character.
      {{L"--input", a, L"--wait", L"--\x00E9t\x00E9\n"}, "unknown option --?t??"},
      {{L"--input", a, L"--wait", L"\x4E2D\xD83D\xDE00"}, "unknown option ??"},
      {{L"--input", a, L"--title"}, "--title needs a value"},
      {{L"--input", a, L"--wait", L"--wait"}, "--wait is given more than once"},
      {{L"--input", a, L"--text", L""}, "--text cannot be empty"},
      {{L"--input", a, L"--title", std::wstring(257, L't')}, "--title is longer than 256 characters"},
      {{L"--input", a, L"--url", L"ftp://example.com/"}, "--url must be an absolute http or https URL"},
      {{L"--input", a, L"--url", L"https://example.com/a b"}, "--url must be an absolute http or https URL"},
      {{L"--input", a, L"--anchor", L"0,0,0,10"},
       "--anchor must be four whole numbers x,y,width,height with width and height above 0"},
      {tooMany, "at most 100 files can be shared at once"},
      {{L"--input", temp.Path() + L"\\missing.txt", L"--input", a},
       "input file does not exist or is inaccessible (input 1)"},
      {{L"--input", a, L"--input", temp.Path() + L"\\missing.txt"},
       "input file does not exist or is inaccessible (input 2)"},
      {{L"--input", a, L"--input", temp.Path()}, "input must be a regular file, not a directory (input 2)"},
      // What Windows would answer for, were it asked: the console, and a stream of a real file.
      {{L"--input", L"CON", L"--wait"}, "input must be a regular file, not a device"},
      {{L"--input", a + L":s", L"--wait"}, "input must be a regular file, not a named stream"},
      {{L"--input", a, L"--input", L"https://example.com/x"},
       "input is a link, not a file: give it with --url (input 2)"},
  };
  for (const Case& c : cases) {
    const ProcessResult result = Share(test::QuibSharePath(), c.arguments);
    EXPECT_EQ(result.exitCode, 2u) << c.reason;
    EXPECT_EQ(result.standardError, Rejected + c.reason + "\r\n");
    EXPECT_EQ(result.standardOutput, "");
  }
}

// The host's line fits Windows' limit, but the worker's, longer by the option and the event name,
// would not: rejected before any worker starts.
TEST(HostRequest, ALineTheWorkersWouldNotFitIsRejected) {
  test::TempDirectory temp;
  const std::wstring exe = test::QuibSharePath();
  // Long names, so that the line fills up before the file limit does.
  const std::wstring a = temp.WriteFile(std::wstring(150, L'a') + L".txt");
  std::vector<std::wstring> arguments{L"--input", a, L"--text", std::wstring(MaxTextLength, L'x'),
                                      L"--url", L"https://example.com/" + std::wstring(2000, L'u')};
  const auto length = [&] {
    std::wstring line = QuoteArgument(exe);
    for (const std::wstring& argument : arguments) line += L" " + QuoteArgument(argument);
    return line.size();
  };
  const auto pairLength = [](const std::wstring& path) { return std::wstring(L" \"--input\" \"\"").size() + path.size(); };
  while (length() + 2 * pairLength(a) < CommandLineCapacity) arguments.insert(arguments.end(), {L"--input", a});
  // The same file once more, its path padded with ".\\" parts up to the host's own limit.
  const std::size_t slash = a.rfind(L'\\') + 1;
  std::wstring padded = a.substr(0, slash);
  for (std::size_t room = CommandLineCapacity - 1 - length() - pairLength(a); room >= 2; room -= 2) padded += L".\\";
  padded += a.substr(slash);
  arguments.insert(arguments.end(), {L"--input", padded});
  ASSERT_LT(length(), CommandLineCapacity);
  ASSERT_GE(length() + 2, CommandLineCapacity - 1);
  ASSERT_LE(arguments.size() / 2, MaxFiles + 2);
  const ProcessResult result = Share(exe, arguments);
  EXPECT_EQ(result.exitCode, 2u);
  EXPECT_EQ(result.standardError, Rejected + "the command line is too long\r\n");
}

TEST(HostRequest, SeveralFilesATitleATextAndALinkReachTheSheetAsGiven) {
  test::SimSession sim;
  const std::wstring exe = sim.InstallQuibShare();
  const std::wstring b = sim.Folder().WriteFile(L"b.txt");
  const std::wstring a = sim.Folder().WriteFile(L"a report.pdf");
  const std::wstring c = sim.Folder().WriteFile(L"c.png");
  const ProcessResult result =
      Share(exe, {L"--input", b, L"--title", L"Q3 \"final\"", L"--input", a, L"--url", L"https://example.com/q3?x=1",
                  L"--text", L"See the attached files", L"--input", c, L"--anchor", L"-1000,100,400,301", L"--wait"},
            &sim);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.standardOutput, "{\"outcome\":\"completed\"}\r\n");
  EXPECT_EQ(sim.Record(L"title"), std::vector<std::wstring>{L"title 1 Q3 \"final\""});
  EXPECT_EQ(sim.Record(L"text"), std::vector<std::wstring>{L"text 1 See the attached files"});
  EXPECT_EQ(sim.Record(L"weblink"), std::vector<std::wstring>{L"weblink 1 https://example.com/q3?x=1"});
  EXPECT_EQ(sim.Record(L"SetStorageItems"),
            std::vector<std::wstring>{L"SetStorageItemsReadOnly 1 " + b + L" " + a + L" " + c});
  // The owner window sits at the centre of the host's rectangle, so the sheet opens over the host.
  const std::vector<std::wstring> windows = sim.Record(L"window ");
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_NE(windows.front().find(L" at=-800,250 "), std::wstring::npos) << windows.front();
  EXPECT_EQ(sim.Record(L"unexpected"), std::vector<std::wstring>{});

  // Without a title: the file's name for one file, the count for several.
  for (const auto& [files, title] : {std::pair{std::vector<std::wstring>{L"--input", a}, L"title 1 a report.pdf"},
                                     std::pair{std::vector<std::wstring>{L"--input", a, L"--input", b}, L"title 1 2 files"}}) {
    sim.NewRecord();
    std::vector<std::wstring> arguments = files;
    arguments.push_back(L"--wait");
    EXPECT_EQ(Share(exe, arguments, &sim).exitCode, 0u);
    EXPECT_EQ(sim.Record(L"title"), std::vector<std::wstring>{title});
  }
}

// A link or a text alone, the options in any order: the sheet gets them and no file at all, and
// nothing about files runs.
TEST(HostRequest, ALinkOrATextAloneReachesTheSheetWithoutAFile) {
  test::SimSession sim;
  const std::wstring exe = sim.InstallQuibShare();
  const auto nothingAboutFiles = [&sim] {
    EXPECT_EQ(sim.Record(L"SetStorageItems"), std::vector<std::wstring>{});
    for (const std::wstring& factory : sim.Record(L"factory")) EXPECT_EQ(factory.find(L"Storage"), std::wstring::npos) << factory;
    EXPECT_EQ(sim.Record(L"unexpected"), std::vector<std::wstring>{});
  };
  const ProcessResult link = Share(exe, {L"--wait", L"--url", L"https://example.com/a"}, &sim);
  EXPECT_EQ(link.exitCode, 0u);
  EXPECT_EQ(link.standardOutput, "{\"outcome\":\"completed\"}\r\n");
  EXPECT_EQ(link.standardError, "");
  EXPECT_EQ(sim.Record(L"title"), std::vector<std::wstring>{L"title 1 example.com"});
  EXPECT_EQ(sim.Record(L"weblink"), std::vector<std::wstring>{L"weblink 1 https://example.com/a"});
  EXPECT_EQ(sim.Record(L"text"), std::vector<std::wstring>{});
  nothingAboutFiles();

  sim.NewRecord();
  const ProcessResult text = Share(exe, {L"--anchor", L"0,0,10,10", L"--text", L"  \n  Meet at noon  ", L"--wait"}, &sim);
  EXPECT_EQ(text.exitCode, 0u);
  EXPECT_EQ(text.standardOutput, "{\"outcome\":\"completed\"}\r\n");
  EXPECT_EQ(text.standardError, "");
  EXPECT_EQ(sim.Record(L"title"), std::vector<std::wstring>{L"title 1 Meet at noon"});
  EXPECT_EQ(sim.Record(L"weblink"), std::vector<std::wstring>{});
  nothingAboutFiles();
}

// With --wait the host hears when the share has ended, and how; without it, at the handover and
// nothing on standard output. A failure leaves standard output empty either way.
TEST(HostRequest, WaitTellsHowTheShareEnded) {
  struct Case {
    std::vector<std::pair<std::wstring, std::wstring>> settings;
    bool wait;
    std::uint32_t exitCode;
    std::string output;
    std::string error;
  };
  const Case cases[] = {
      {{{L"END", L"complete"}, {L"TARGET", L"Mail_8wekyb3d8bbwe!App"}, {L"APP", L"Mail \x00E9"}}, true, 0,
       "{\"outcome\":\"completed\",\"target\":\"Mail_8wekyb3d8bbwe!App\",\"app\":\"Mail \xC3\xA9\"}\r\n", ""},
      {{{L"END", L"cancel"}, {L"APP", L"Nearby"}}, true, 0, "{\"outcome\":\"canceled\",\"app\":\"Nearby\"}\r\n", ""},
      // The sheet went away without a word, as after "Copy link" it says nothing either.
      {{{L"END", L"destroy-window"}}, true, 0, "{\"outcome\":\"ended\"}\r\n", ""},
      {{{L"END", L"complete"}, {L"END_AFTER", L"1500"}}, false, 0, "", ""},
      {{{L"FAIL", L"show:80070490"}}, true, 1, "", "Sharing could not be opened (error 0x80070490).\r\n"},
      {{{L"FAIL", L"createuri:80070057"}}, true, 2, "", Rejected + "--url must be an absolute http or https URL\r\n"},
  };
  for (const Case& c : cases) {
    test::SimSession sim;
    for (const auto& [name, value] : c.settings) sim.Set(name, value);
    std::vector<std::wstring> arguments{L"--input", sim.Folder().WriteFile(L"a.txt"), L"--url", L"https://e.test/"};
    if (c.wait) arguments.push_back(L"--wait");
    const ProcessResult result = Share(sim.InstallQuibShare(), arguments, &sim);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.output << c.error;
    EXPECT_EQ(result.standardOutput, c.output);
    EXPECT_EQ(result.standardError, c.error);
    EXPECT_LT(result.tookMs, 10000u) << c.output << c.error;
    // A waited share returns after the worker's end; one not waited for, before it.
    if (c.exitCode == 0) {
      EXPECT_EQ(sim.Record(L"remove ShareCompleted").size(), c.wait ? 1u : 0u) << c.output;
      EXPECT_TRUE(sim.WaitFor(L"remove ShareCompleted"));  // before the folder goes
    }
  }
}

}  // namespace
}  // namespace quibshare
