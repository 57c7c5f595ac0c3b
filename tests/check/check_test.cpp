// QuibShareCheck.exe end to end, installed beside QuibShare.exe (or a stand-in) and the simulated
// sheet shown as a real window: what it reports on standard output and in its JSON file, and
// its exit code.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "harness/process_runner.h"
#include "harness/sim_session.h"
#include "support/unique_resource.h"

namespace quibshare {
namespace {

const std::vector<std::string> Scenarios = {"one file", "three files", "path over 260 characters",
                                            "link alone", "text alone", "file with --anchor"};
const std::vector<std::string> Fields = {"scenario", "expected", "exitCode", "outcomeLine", "standardError",
                                         "toSheetMs", "toEndMs", "sheet", "result", "note"};

using Row = std::map<std::string, std::string>;

// The flat objects of the report's "scenarios", one to a line: strings unescaped, numbers and
// null as written.
std::vector<Row> JsonRows(const std::string& json) {
  std::vector<Row> rows;
  std::size_t at = json.find("\"scenarios\": [");
  for (at = json.find("\n    {", at); at != std::string::npos; at = json.find("\n    {", at)) {
    Row row;
    at += 6;
    while (json[at] == '"') {
      const std::size_t keyEnd = json.find('"', at + 1);
      const std::string key = json.substr(at + 1, keyEnd - at - 1);
      at = keyEnd + 3;  // past `": `
      std::string value;
      if (json[at] == '"') {
        for (++at; json[at] != '"'; ++at) {
          if (json[at] == '\\') {
            ++at;
            if (json[at] == 'u') {
              value += static_cast<char>(std::stoi(json.substr(at + 1, 4), nullptr, 16));
              at += 4;
              continue;
            }
          }
          value += json[at];
        }
        ++at;
      } else {
        const std::size_t end = json.find_first_of(",}", at);
        value = json.substr(at, end - at);
        at = end;
      }
      row[key] = value;
      if (json[at] == ',') at += 2;
    }
    rows.push_back(row);
  }
  return rows;
}

// The cells of the Markdown table under "## Shares", `\|` and the code marks undone.
std::vector<std::vector<std::string>> MarkdownRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::size_t at = text.find("## Shares");
  at = text.find("|---", at);
  for (at = text.find('\n', at) + 1; at < text.size() && text[at] == '|'; at = text.find('\n', at) + 1) {
    const std::string line = text.substr(at, text.find('\n', at) - at);
    std::vector<std::string> cells;
    std::string cell;
    for (std::size_t i = 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '|') {
        cell += line[++i];
      } else if (line[i] == '|') {
        cell = cell.substr(1, cell.size() - 2);  // the spaces either side
        if (cell.size() >= 6 && cell.rfind("`` ", 0) == 0) cell = cell.substr(3, cell.size() - 6);
        cells.push_back(cell);
        cell.clear();
      } else {
        cell += line[i];
      }
    }
    rows.push_back(cells);
  }
  return rows;
}

std::string LastLine(const std::string& text) {
  const std::size_t end = text.find_last_not_of("\r\n");
  return text.substr(text.rfind('\n', end) + 1, end - text.rfind('\n', end));
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  const HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return bytes;
  const UniqueHandle file(opened);
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
  return bytes;
}

struct CheckCase {
  const char* name;
  std::wstring end;        // QUIBSHARE_SIM_END
  std::wstring standIn;    // QUIBSHARE_STAND_IN; set: the stand-in is installed as QuibShare.exe
  bool withShareSheet;
  DWORD exitCode;
  // The result of each scenario, in order, and a piece of each one's note.
  std::vector<std::string> results;
  std::vector<std::string> notes;
  std::string lastLine;
};

TEST(QuibShareCheck, ReportsEachScenarioAlikeInMarkdownAndJsonAndExitsOnTheWorst) {
  const std::vector<std::string> allPassed(6, "passed");
  const std::vector<std::string> noNotes(6, "");
  const std::vector<CheckCase> cases = {
      {"every share canceled through the sheet", L"window", L"", true, 0, allPassed, noNotes, "6 passed, 0 failed"},
      {"the link's sheet deaf to Escape", L"window-deaf:example.com", L"", true, 1,
       {"passed", "passed", "passed", "failed", "passed", "passed"},
       {"", "", "", "the share did not end within 10 s of Escape", "", ""}, "5 passed, 1 failed"},
      {"QuibShare exits with 1", L"window", L"exit:1:Sharing failed here.", true, 1,
       std::vector<std::string>(6, "failed"), std::vector<std::string>(6, "expected exit code 0"), "0 passed, 6 failed"},
      {"sharing not available", L"window", L"", false, 3, std::vector<std::string>(6, "not run"),
       std::vector<std::string>(6, "sharing is not available on this system (exit code 3)"), "0 passed, 0 failed"},
  };
  for (const CheckCase& check : cases) {
    SCOPED_TRACE(check.name);
    test::SimSession sim;
    sim.Set(L"END", check.end);
    const std::wstring folder = sim.Folder().Path();
    sim.InstallQuibShare(check.withShareSheet);
    const std::wstring bin = test::ModuleDirectory();
    if (!check.standIn.empty()) {
      ASSERT_TRUE(CopyFileW((bin + L"\\quibshare_stand_in.exe").c_str(), (folder + L"\\QuibShare.exe").c_str(), FALSE));
    }
    ASSERT_TRUE(CopyFileW((bin + L"\\QuibShareCheck.exe").c_str(), (folder + L"\\QuibShareCheck.exe").c_str(), FALSE));
    test::RunOptions options;
    options.timeoutMs = 120000;
    options.environment = sim.Environment();
    options.environment.push_back(L"QUIBSHARE_STAND_IN=" + check.standIn);
    const std::wstring reportPath = folder + L"\\check.json";
    const test::ProcessResult result =
        test::RunProcess(folder + L"\\QuibShareCheck.exe", {L"--report", reportPath}, options);
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, check.exitCode) << result.standardOutput << result.standardError;
    EXPECT_EQ(LastLine(result.standardOutput), check.lastLine);

    const std::vector<Row> json = JsonRows(ReadFileBytes(reportPath));
    const std::vector<std::vector<std::string>> markdown = MarkdownRows(result.standardOutput);
    ASSERT_EQ(json.size(), Scenarios.size()) << ReadFileBytes(reportPath);
    ASSERT_EQ(markdown.size(), Scenarios.size()) << result.standardOutput;
    for (std::size_t i = 0; i < Scenarios.size(); ++i) {
      SCOPED_TRACE(Scenarios[i]);
      Row row = json[i];
      for (const std::string& field : Fields) EXPECT_EQ(row.count(field), 1u) << field;
      EXPECT_EQ(row.size(), Fields.size());
      EXPECT_EQ(row["scenario"], Scenarios[i]);
      EXPECT_EQ(row["result"], check.results[i]);
      EXPECT_NE(row["note"].find(check.notes[i]), std::string::npos) << row["note"];
      if (check.results[i] == "passed") {
        EXPECT_EQ(row["outcomeLine"], "{\"outcome\":\"canceled\"}");
        EXPECT_NE(row["sheet"].find("class QuibShareSimSheet"), std::string::npos) << row["sheet"];
        EXPECT_LE(std::stoul(row["toSheetMs"]), std::stoul(row["toEndMs"]));
      }
      if (!check.standIn.empty()) {
        EXPECT_EQ(row["standardError"], "Sharing failed here.");
      }
      // Scenario, exit code, outcome line, standard error, times, result and note: the same words.
      const std::vector<std::string>& cells = markdown[i];
      ASSERT_EQ(cells.size(), 8u);
      const auto orBlank = [](const std::string& number) { return number == "null" ? std::string() : number; };
      EXPECT_EQ(cells, (std::vector<std::string>{row["scenario"], orBlank(row["exitCode"]), row["outcomeLine"],
                                                 row["standardError"], orBlank(row["toSheetMs"]),
                                                 orBlank(row["toEndMs"]), row["result"], row["note"]}));
    }
  }
}

}  // namespace
}  // namespace quibshare
