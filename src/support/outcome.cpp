// The outcome line on standard output, written by hand: one object, two string values. Main
// thread of the broker.
#include "support/outcome.h"

#include <windows.h>

namespace quibshare {

namespace {

const char* OutcomeWord(ShareEnd end) {
  switch (end) {
    case ShareEnd::Completed:
      return "completed";
    case ShareEnd::Canceled:
      return "canceled";
    case ShareEnd::Ended:
      break;
  }
  return "ended";
}

void AppendUtf8(std::string& bytes, char32_t point) {
  const auto add = [&bytes](char32_t byte) {
    bytes += static_cast<char>(static_cast<unsigned char>(byte));
  };
  if (point < 0x80) {
    add(point);
  } else if (point < 0x800) {
    add(0xC0 | (point >> 6));
    add(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    add(0xE0 | (point >> 12));
    add(0x80 | ((point >> 6) & 0x3F));
    add(0x80 | (point & 0x3F));
  } else {
    add(0xF0 | (point >> 18));
    add(0x80 | ((point >> 12) & 0x3F));
    add(0x80 | ((point >> 6) & 0x3F));
    add(0x80 | (point & 0x3F));
  }
}

// Only the escapes JSON requires, and no short forms, so a reader needs no table to check it.
void AppendJsonString(std::string& bytes, std::wstring_view text) {
  static constexpr char HexDigits[] = "0123456789abcdef";
  bytes += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t point = text[i];
    const bool high = point >= 0xD800 && point <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      point = 0x10000 + ((point - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (point >= 0xD800 && point <= 0xDFFF) {
      // A lone half has no UTF-8 form; a strict reader would reject the whole line.
      point = 0xFFFD;
    }
    if (point == U'"' || point == U'\\') {
      bytes += '\\';
      bytes += static_cast<char>(point);
    } else if (point < 0x20) {
      bytes += "\\u00";
      bytes += HexDigits[point >> 4];
      bytes += HexDigits[point & 0xF];
    } else {
      AppendUtf8(bytes, point);
    }
  }
  bytes += '"';
}

void AppendMember(std::string& bytes, const char* key, std::wstring_view value) {
  if (value.empty()) return;
  bytes += ",\"";
  bytes += key;
  bytes += "\":";
  AppendJsonString(bytes, value);
}

}  // namespace

std::string FormatOutcomeLine(const ShareOutcome& outcome) {
  std::string line = "{\"outcome\":\"";
  line += OutcomeWord(outcome.end);
  line += '"';
  AppendMember(line, "target", outcome.target);
  AppendMember(line, "app", outcome.app);
  line += "}\r\n";
  return line;
}

void WriteStandardOutput(std::string_view bytes) {
  // Asked anew each time: a host that does not read it may have given us no handle at all.
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace quibshare
