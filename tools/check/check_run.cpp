// The check from start to end. Main thread.
#include "check/check_run.h"

#include <windows.h>

#include "check/check_window.h"
#include "check/environment.h"
#include "check/report.h"
#include "check/scenarios.h"
#include "check/share_run.h"
#include "check/text.h"
#include "support/unique_resource.h"

namespace quibshare::check {

namespace {

constexpr char Usage[] =
    "usage: QuibShareCheck.exe [--interactive] [--report <path>]\n"
    "Shares through the QuibShare.exe beside it, one share at a time, and prints a report.\n"
    "  --interactive    you pick an app in each share sheet; otherwise the check presses Escape\n"
    "  --report <path>  also writes the report as JSON to <path>\n"
    "Exit code: 0 all passed, 1 some failed, 2 usage, 3 none failed but some could not run here.\n";

// UTF-8 to a file or pipe as it is; to a console as its characters.
void Write(DWORD standardHandle, const std::string& text) {
  const HANDLE handle = GetStdHandle(standardHandle);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::wstring wide = Wide(text);
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}

void Progress(const std::string& line) { Write(STD_ERROR_HANDLE, line + "\n"); }

bool WriteReportFile(const std::wstring& path, const std::string& json) {
  const HANDLE created =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created == INVALID_HANDLE_VALUE) return false;
  const UniqueHandle file(created);
  DWORD written = 0;
  return WriteFile(file.Get(), json.data(), static_cast<DWORD>(json.size()), &written, nullptr) &&
         written == json.size();
}

std::wstring QuibShareBesideCheck() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"QuibShare.exe";
}

ScenarioRow Unrun(const Scenario& scenario, Verdict verdict, std::string note) {
  ScenarioRow row;
  row.scenario = scenario.name;
  row.expected = scenario.expected.description;
  row.verdict = verdict;
  row.note = std::move(note);
  return row;
}

ScenarioRow RunScenario(const Scenario& scenario, const std::wstring& quibShare, const CheckWindow& window,
                        bool interactive) {
  ScenarioRow row = Unrun(scenario, Verdict::Failed, "");
  if (!window.BringToFront()) Progress("  (the check's window could not take the foreground)");
  const ShareRun run =
      RunShare(quibShare, scenario.arguments, interactive ? SheetAction::LeaveToPerson : SheetAction::Escape);
  const Judgement judgement = Judge(scenario.expected, run.result);
  row.exitCode = run.result.exitCode;
  row.outcomeLine = run.result.outcomeLine;
  row.standardError = run.result.standardError;
  row.toSheetMs = run.toSheetMs;
  row.toEndMs = run.toEndMs;
  row.sheet = run.sheet;
  row.verdict = judgement.verdict;
  row.note = judgement.note;
  return row;
}

}  // namespace

std::optional<CheckOptions> ParseCheckOptions(const std::vector<std::wstring>& arguments) {
  CheckOptions options;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == L"--interactive") {
      options.interactive = true;
    } else if (arguments[i] == L"--help" || arguments[i] == L"/?") {
      options.help = true;
    } else if (arguments[i] == L"--report" && i + 1 < arguments.size() && !arguments[i + 1].empty()) {
      options.reportPath = arguments[++i];
    } else {
      return std::nullopt;
    }
  }
  return options;
}

int RunCheck(const CheckOptions& options) {
  const Environment environment = GatherEnvironment();
  CheckReport report{QUIBSHARE_VERSION, DescribeEnvironment(environment), {}};
  const std::wstring quibShare = QuibShareBesideCheck();
  const CheckWindow window;
  ScenarioFiles files;
  const std::vector<Scenario> scenarios =
      BuildScenarios(files, window ? window.Bounds() : RECT{0, 0, 1, 1}, LongPathsOn(environment), options.interactive);
  for (const Scenario& scenario : scenarios) {
    if (!environment.desktop) {
      report.rows.push_back(Unrun(scenario, Verdict::NotRun, "no interactive desktop: " + Utf8(environment.desktopNote)));
      continue;
    }
    if (!window || !files.Ready()) {
      report.rows.push_back(Unrun(scenario, Verdict::Failed,
                                  window ? "the files to share could not be written" : "the check's window could not be made"));
      continue;
    }
    Progress(options.interactive ? "QuibShare check: " + scenario.name + ": pick an app in the share sheet"
                                 : "QuibShare check: " + scenario.name);
    report.rows.push_back(RunScenario(scenario, quibShare, window, options.interactive));
    Progress("  " + std::string(VerdictText(report.rows.back().verdict)));
  }
  Write(STD_OUTPUT_HANDLE, FormatMarkdown(report));
  bool failed = false;
  bool notRun = false;
  for (const ScenarioRow& row : report.rows) {
    failed = failed || row.verdict == Verdict::Failed;
    notRun = notRun || row.verdict == Verdict::NotRun;
  }
  if (!options.reportPath.empty() && !WriteReportFile(options.reportPath, FormatJson(report))) {
    Progress("QuibShare check: the report could not be written to " + Utf8(options.reportPath));
    failed = true;
  }
  if (failed) return CheckFailed;
  return notRun ? CheckIncomplete : CheckPassed;
}

int CheckMain(const std::vector<std::wstring>& arguments) {
  const std::optional<CheckOptions> options = ParseCheckOptions(arguments);
  if (!options) {
    Write(STD_ERROR_HANDLE, Usage);
    return CheckUsage;
  }
  if (options->help) {
    Write(STD_OUTPUT_HANDLE, Usage);
    return CheckPassed;
  }
  return RunCheck(*options);
}

}  // namespace quibshare::check
