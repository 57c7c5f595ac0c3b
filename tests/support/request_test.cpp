// The host's command line read into a share request, and written back for the worker.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <limits>
#include <ostream>
#include <random>

#include "harness/process_runner.h"
#include "support/input.h"

namespace quibshare {

// Readable failures: gtest would otherwise print the request as raw bytes.
void PrintTo(const ShareRequest& request, std::ostream* out) {
  *out << request.files.size() << " files, title/text/url of " << request.title.size() << "/"
       << request.text.size() << "/" << request.url.size() << " units";
  if (const std::optional<Anchor>& a = request.anchor) {
    *out << ", anchor " << a->x << "," << a->y << "," << a->width << "," << a->height;
  }
  if (request.wait) *out << ", wait";
}

namespace {

using namespace std::string_literals;

constexpr wchar_t Program[] = L"C:\\apps\\QuibShare.exe";
constexpr std::int32_t Int32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();

ArgumentList Line(ArgumentList entries) {
  entries.insert(entries.begin(), Program);
  return entries;
}

ShareRequest Request(std::vector<std::wstring> files, std::wstring title = {}, std::wstring text = {},
                     std::wstring url = {}, std::optional<Anchor> anchor = {}, bool wait = false) {
  return {std::move(files), std::move(title), std::move(text), std::move(url), anchor, wait};
}

// `--input f1 --input f2 ...` for `count` files, then `rest`.
ArgumentList Files(std::size_t count, const ArgumentList& rest = {}) {
  ArgumentList entries;
  for (std::size_t i = 0; i < count; ++i) entries.insert(entries.end(), {L"--input", L"f"});
  entries.insert(entries.end(), rest.begin(), rest.end());
  return Line(entries);
}

TEST(ParseRequest, ReadsEveryOptionInAnyOrder) {
  const std::wstring title(MaxTitleLength, L't');
  const std::wstring text(MaxTextLength, L'x');
  const std::wstring url = L"http://" + std::wstring(MaxUrlLength - 7, L'u');
  struct Case {
    ArgumentList arguments;
    ShareRequest request;
  };
  const Case cases[] = {
      {Line({L"--input", L""}), Request({L""})},
      {Line({L"--input", L"--wait"}), Request({L"--wait"})},
      {Line({L"--input", L"a", L"--wait"}), Request({L"a"}, {}, {}, {}, {}, true)},
      {Line({L"--input", L"a", L"--wait", L"--anchor", L"-5,-7,1,2", L"--url", L"HtTpS://h", L"--input",
             L"b", L"--text", L"x y", L"--title", L"T", L"--input", L"a"}),
       {{L"a", L"b", L"a"}, L"T", L"x y", L"HtTpS://h", Anchor{-5, -7, 1, 2}, true}},
      // A value is the next entry, whatever it looks like.
      {Line({L"--input", L"a", L"--title", L"--ui-ready-event", L"--wait"}),
       Request({L"a"}, L"--ui-ready-event", {}, {}, {}, true)},
      {Line({L"--input", L"--title", L"--input", L"--wait", L"--text", L"--input"}),
       Request({L"--title", L"--wait"}, {}, L"--input")},
      {Line({L"--input", L"a", L"--title", title, L"--text", text, L"--url", url}),
       Request({L"a"}, title, text, url)},
      {Line({L"--input", L"a", L"--url", L"http://u@h:8/p?q#f\x00A0\x4E2D"}),
       Request({L"a"}, {}, {}, L"http://u@h:8/p?q#f\x00A0\x4E2D")},
      {Line({L"--input", L"a", L"--anchor", L"-2147483648,2147483647,1,2147483647"}),
       Request({L"a"}, {}, {}, {}, Anchor{Int32Min, Int32Max, 1, Int32Max})},
      {Line({L"--input", L"a", L"--anchor", L"-0,007,0010,1"}), Request({L"a"}, {}, {}, {}, Anchor{0, 7, 10, 1})},
      {Files(MaxFiles), Request(std::vector<std::wstring>(MaxFiles, L"f"))},
      // --input anywhere, or not at all for a text or a link alone.
      {Line({L"--title", L"T", L"--input", L"a.txt"}), Request({L"a.txt"}, L"T")},
      {Line({L"--wait", L"--input", L"a"}), Request({L"a"}, {}, {}, {}, {}, true)},
      {Line({L"--url", L"https://example.com"}), Request({}, {}, {}, L"https://example.com")},
      {Line({L"--text", L"--input", L"--anchor", L"1,2,3,4"}), Request({}, {}, L"--input", {}, Anchor{1, 2, 3, 4})},
  };
  for (const Case& c : cases) {
    std::wstring failure = L"left alone";
    EXPECT_EQ(ParseRequest(c.arguments, &failure), c.request) << c.arguments.size() << " entries";
    EXPECT_EQ(failure, L"left alone");
  }
}

TEST(ParseRequest, RejectsEachMisuseWithTheFirstReason) {
  const std::wstring count = L"expected exactly --input <path>";
  const std::wstring url = L"--url must be an absolute http or https URL";
  const std::wstring anchor =
      L"--anchor must be four whole numbers x,y,width,height with width and height above 0";
  const std::wstring tooLongUrl = L"http://" + std::wstring(MaxUrlLength - 6, L'u');
  struct Case {
    ArgumentList arguments;
    std::wstring reason;
  };
  const Case cases[] = {
      // The two-argument form's texts, for lines that use nothing of the new form.
      {Line({}), count},
      {Line({L"--input"}), count},
      {Line({L"--INPUT", L"a", L"--wait"}), count},
      {Line({L"--wait"}), count},
      {Line({L"a", L"--url", L"https://h"}), count},
      {Line({L"a", L"--url"}), L"expected --input flag"},
      {Line({L"--input", L"a", L"--bogus", L"v"}), count},
      {Line({L"--input", L"a", L"--Wait"}), count},
      {Line({L"--input", L"--title", L"T"}), count},
      {Line({L"--INPUT", L"a"}), L"expected --input flag"},
      // Each kind, the leftmost case deciding within a kind.
      {Line({L"--input", L"a", L"--bogus", L"--wait", L"-x"}), L"unknown option --bogus"},
      {Line({L"--input", L"a", L"--wait", L"caf\x00E9\t\x007F\xD83D\xDE00\xD800x\xDC00"}),
       L"unknown option caf?????x?"},
      {Line({L"--input", L"a", L"--wait", L""}), L"unknown option "},
      {Line({L"--input", L"a", L"--title"}), L"--title needs a value"},
      {Line({L"--input", L"a", L"--input"}), L"--input needs a value"},
      {Line({L"--input", L"a", L"--wait", L"--wait"}), L"--wait is given more than once"},
      {Line({L"--input", L"a", L"--text", L"x", L"--title", L"y", L"--title", L"z", L"--text", L"w"}),
       L"--title is given more than once"},
      {Line({L"--input", L"a", L"--anchor", L"1,1,1,1", L"--anchor", L"1,1,1,1"}),
       L"--anchor is given more than once"},
      {Line({L"--input", L"a", L"--url", L"", L"--text", L"", L"--title", L""}), L"--url cannot be empty"},
      {Line({L"--input", L"a", L"--anchor", L""}), L"--anchor cannot be empty"},
      {Line({L"--input", L"a", L"--text", std::wstring(MaxTextLength + 1, L'x'), L"--title",
             std::wstring(MaxTitleLength + 1, L't')}),
       L"--text is longer than 16384 characters"},
      {Line({L"--input", L"a", L"--title", std::wstring(MaxTitleLength + 1, L't')}),
       L"--title is longer than 256 characters"},
      {Line({L"--input", L"a", L"--url", tooLongUrl}), L"--url is longer than 2048 characters"},
      {Files(MaxFiles + 1), L"at most 100 files can be shared at once"},
      // Between kinds, the earlier kind decides wherever it is.
      {Line({L"--input", L"a", L"--wait", L"--wait", L"--title", L"", L"-x"}), L"unknown option -x"},
      {Line({L"--input", L"a", L"-x", L"--title"}), L"unknown option -x"},
      {Line({L"--input", L"a", L"--wait", L"--wait", L"--title"}), L"--title needs a value"},
      {Line({L"--input", L"a", L"--text", L"", L"--wait", L"--wait"}), L"--wait is given more than once"},
      {Line({L"--input", L"a", L"--title", std::wstring(MaxTitleLength + 1, L't'), L"--text", L""}),
       L"--text cannot be empty"},
      {Line({L"--input", L"a", L"--anchor", L"0,0,0,0", L"--url", L"ftp://h", L"--url", L"http://h"}),
       L"--url is given more than once"},
      {Line({L"--input", L"a", L"--anchor", L"0,0,0,0", L"--url", L"ftp://h" + tooLongUrl}),
       L"--url is longer than 2048 characters"},
      {Line({L"--input", L"a", L"--anchor", L"0,0,0,0", L"--url", L"ftp://h"}), url},
      {Files(MaxFiles + 1, {L"--anchor", L"0,0,0,0"}), anchor},
      // Nothing to share is the last misuse: a malformed option is named first.
      {Line({L"--title", L"T"}), L"nothing to share: give --input, --text or --url"},
      {Line({L"--title", L"T", L"--wait"}), L"nothing to share: give --input, --text or --url"},
      {Line({L"--anchor", L"1,2,3,4", L"--wait"}), L"nothing to share: give --input, --text or --url"},
      {Line({L"--title", L"T", L"--anchor", L"1,2"}), anchor},
      {Line({L"--url", L"ftp://h", L"--title", L"T"}), url},
      {Line({L"--wait", L"--wait"}), L"--wait is given more than once"},
      // URLs: http or https, a host, no blanks or control characters.
      {Line({L"--input", L"a", L"--url", L"ftp://h"}), url},
      {Line({L"--input", L"a", L"--url", L"http:/h"}), url},
      {Line({L"--input", L"a", L"--url", L"https:h"}), url},
      {Line({L"--input", L"a", L"--url", L"www.example.com"}), url},
      {Line({L"--input", L"a", L"--url", L"http://"}), url},
      {Line({L"--input", L"a", L"--url", L"https:///p"}), url},
      {Line({L"--input", L"a", L"--url", L"http://?q"}), url},
      {Line({L"--input", L"a", L"--url", L"http://#f"}), url},
      {Line({L"--input", L"a", L"--url", L" http://h"}), url},
      {Line({L"--input", L"a", L"--url", L"http://h p"}), url},
      {Line({L"--input", L"a", L"--url", L"http://h\0"s}), url},
      {Line({L"--input", L"a", L"--url", L"http://h\x007F"}), url},
      {Line({L"--input", L"a", L"--url", L"http://h\x009F"}), url},
      // Anchors: four plain 32-bit numbers, width and height at least 1.
      {Line({L"--input", L"a", L"--anchor", L"1,2,3"}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"1,2,3,4,5"}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"1,2,3,4,"}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"1,,3,4"}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"-,2,3,4"}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"+1,2,3,4"}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"1, 2,3,4"}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"1,2,3,4 "}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"1.5,2,3,4"}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"\x0661,2,3,4"}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"2147483648,2,3,4"}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"1,-2147483649,3,4"}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"1,2,99999999999999999999,4"}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"1,2,0,4"}), anchor},
      {Line({L"--input", L"a", L"--anchor", L"1,2,3,-4"}), anchor},
  };
  for (const Case& c : cases) {
    std::wstring failure;
    EXPECT_FALSE(ParseRequest(c.arguments, &failure).has_value()) << c.reason;
    EXPECT_EQ(failure, L"Sharing could not start: " + c.reason);
    EXPECT_FALSE(ParseRequest(c.arguments, nullptr).has_value());
  }
}

TEST(RequestArguments, WritesWhatParseRequestReadsBack) {
  struct Case {
    ShareRequest request;
    ArgumentList arguments;
  };
  const Case cases[] = {
      {Request({L"a b"}), {L"--input", L"a b"}},
      {Request({L"--wait"}), {L"--input", L"--wait"}},
      {Request({L""}), {L"--input", L""}},
      {Request({L"a"}, {}, {}, {}, {}, true), {L"--input", L"a", L"--wait"}},
      {Request({L"a"}, {}, {}, {}, Anchor{Int32Min, -1, 1, Int32Max}),
       {L"--input", L"a", L"--anchor", L"-2147483648,-1,1,2147483647"}},
      {{{L"--url", L"b"}, L"--wait", L"--title", L"http://h", Anchor{3, 4, 5, 6}, true},
       {L"--input", L"--url", L"--input", L"b", L"--title", L"--wait", L"--text", L"--title", L"--url",
        L"http://h", L"--anchor", L"3,4,5,6", L"--wait"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RequestArguments(c.request), c.arguments);
    EXPECT_EQ(ParseRequest(Line(c.arguments), nullptr), c.request);
  }
}

// Random valid requests, their values drawn mostly from option names, survive the trip.
TEST(RequestArguments, RandomRequestsRoundTrip) {
  const std::string seedText = test::EnvironmentText("QUIBSHARE_REQUEST_SEED");
  const unsigned seed = !seedText.empty() ? std::strtoul(seedText.c_str(), nullptr, 10) : std::random_device{}();
  std::cout << "request seed " << seed << "\n";
  std::mt19937 random(seed);
  const auto pick = [&random](std::int64_t low, std::int64_t high) {
    return std::uniform_int_distribution<std::int64_t>(low, high)(random);
  };
  const auto number = [&pick](std::int64_t low) { return static_cast<std::int32_t>(pick(low, Int32Max)); };
  static const std::wstring words[] = {L"--input", L"--title", L"--text", L"--url",          L"--anchor",
                                       L"--wait",  L"",        L" ",      L"\xD83D\xDE00", L"x"};
  const auto word = [&] { return words[pick(0, static_cast<std::int64_t>(std::size(words)) - 1)]; };
  for (int n = 0; n < 2000; ++n) {
    ShareRequest request;
    for (auto files = pick(0, static_cast<std::int64_t>(MaxFiles)); files > 0; --files) {
      request.files.push_back(word());
    }
    // Empty title, text and url mean "not given", so they get one more word.
    if (pick(0, 1)) request.title = word() + L"t";
    if (pick(0, 1)) request.text = word() + word() + L"x";
    if (pick(0, 1) || (request.files.empty() && request.text.empty())) request.url = L"https://h/" + std::to_wstring(n);
    if (pick(0, 1)) request.anchor = Anchor{number(Int32Min), number(Int32Min), number(1), number(1)};
    request.wait = pick(0, 1) != 0;
    ASSERT_EQ(ParseRequest(Line(RequestArguments(request)), nullptr), request) << "seed " << seed;
  }
}

}  // namespace
}  // namespace quibshare
