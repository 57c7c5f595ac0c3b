// The report's Markdown and JSON forms. Pure functions.
#include "check/report.h"

#include <cstdio>

namespace quibshare::check {

namespace {

std::string Number(const std::optional<std::uint64_t>& value) {
  return value ? std::to_string(*value) : std::string();
}

// A table cell: one line, and a `|` that cannot end the cell.
std::string Cell(const std::string& text) {
  std::string cell;
  for (const char c : text) {
    if (c == '|') {
      cell += "\\|";
    } else if (c == '\r' || c == '\n') {
      cell += ' ';
    } else {
      cell += c;
    }
  }
  return cell;
}

// Code in a cell keeps its braces and quotes readable; an empty one is left blank.
std::string CodeCell(const std::string& text) {
  std::string cell;
  if (text.empty()) return cell;
  // Appended, not added up: GCC 12 warns falsely on `"literal" + std::string` here.
  cell.append("`` ").append(Cell(text)).append(" ``");
  return cell;
}

std::string JsonString(const std::string& text) {
  std::string json(1, '"');
  json.append(JsonEscape(text)).push_back('"');
  return json;
}

std::string JsonNumber(const std::optional<std::uint64_t>& value) {
  return value ? std::to_string(*value) : "null";
}

std::size_t Count(const std::vector<ScenarioRow>& rows, Verdict verdict) {
  std::size_t count = 0;
  for (const ScenarioRow& row : rows) count += row.verdict == verdict ? 1 : 0;
  return count;
}

}  // namespace

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::Passed: return "passed";
    case Verdict::NotRun: return "not run";
    case Verdict::Failed: break;
  }
  return "failed";
}

std::string SummaryLine(const std::vector<ScenarioRow>& rows) {
  return std::to_string(Count(rows, Verdict::Passed)) + " passed, " + std::to_string(Count(rows, Verdict::Failed)) +
         " failed";
}

std::string FormatMarkdown(const CheckReport& report) {
  std::string text = "# QuibShare check " + report.version + "\n\n## Where it ran\n\n| Fact | Value |\n|---|---|\n";
  for (const Fact& fact : report.environment) text += "| " + Cell(fact.label) + " | " + Cell(fact.value) + " |\n";
  text +=
      "\n## Shares\n\n"
      "| Scenario | Exit code | Outcome line | Standard error | To the sheet (ms) | To the end (ms) | Result | Note |\n"
      "|---|---|---|---|---|---|---|---|\n";
  for (const ScenarioRow& row : report.rows) {
    const std::string exitCode = row.exitCode ? std::to_string(*row.exitCode) : std::string();
    text += "| " + Cell(row.scenario) + " | " + exitCode + " | " + CodeCell(row.outcomeLine) + " | " +
            CodeCell(row.standardError) + " | " + Number(row.toSheetMs) + " | " + Number(row.toEndMs) + " | " +
            VerdictText(row.verdict) + " | " + Cell(row.note) + " |\n";
  }
  const std::size_t notRun = Count(report.rows, Verdict::NotRun);
  text += "\n";
  if (notRun > 0) text += std::to_string(notRun) + " not run\n";
  return text + SummaryLine(report.rows) + "\n";
}

std::string FormatJson(const CheckReport& report) {
  std::string json = "{\n  \"version\": " + JsonString(report.version) + ",\n  \"environment\": {";
  const char* separator = "\n";
  for (const Fact& fact : report.environment) {
    json += separator + std::string("    ") + JsonString(fact.key) + ": " + JsonString(fact.value);
    separator = ",\n";
  }
  json += "\n  },\n  \"scenarios\": [";
  separator = "\n";
  for (const ScenarioRow& row : report.rows) {
    // One row to a line, so that a person can read the file too.
    json += separator + std::string("    {\"scenario\": ") + JsonString(row.scenario) +
            ", \"expected\": " + JsonString(row.expected) +
            ", \"exitCode\": " + (row.exitCode ? std::to_string(*row.exitCode) : "null") +
            ", \"outcomeLine\": " + JsonString(row.outcomeLine) +
            ", \"standardError\": " + JsonString(row.standardError) +
            ", \"toSheetMs\": " + JsonNumber(row.toSheetMs) + ", \"toEndMs\": " + JsonNumber(row.toEndMs) +
            ", \"sheet\": " + JsonString(row.sheet) + ", \"result\": " + JsonString(VerdictText(row.verdict)) +
            ", \"note\": " + JsonString(row.note) + "}";
    separator = ",\n";
  }
  json += "\n  ],\n  \"passed\": " + std::to_string(Count(report.rows, Verdict::Passed)) +
          ",\n  \"failed\": " + std::to_string(Count(report.rows, Verdict::Failed)) +
          ",\n  \"notRun\": " + std::to_string(Count(report.rows, Verdict::NotRun)) + "\n}\n";
  return json;
}

std::string JsonEscape(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      escaped += '\\';
      escaped += c;
    } else if (byte < 0x20) {
      char code[8] = {};
      std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(byte));
      escaped += code;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace quibshare::check
