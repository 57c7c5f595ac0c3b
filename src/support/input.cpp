// The host's command line read into a share request, and the checks on its files. Main thread.
#include "support/input.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>
#include <utility>

namespace quibshare {

namespace {

constexpr wchar_t CountReason[] = L"expected exactly --input <path>";
constexpr wchar_t FlagReason[] = L"expected --input flag";
constexpr wchar_t AnchorReason[] =
    L"--anchor must be four whole numbers x,y,width,height with width and height above 0";

// Every option but --wait takes the next entry as its value; text options keep it as written.
struct Option {
  std::wstring_view name;
  std::wstring ShareRequest::*text;  // nullptr when the value is not kept as text
  std::size_t maxLength;
};

constexpr Option Options[] = {
    {L"--input", nullptr, 0},
    {L"--title", &ShareRequest::title, MaxTitleLength},
    {L"--text", &ShareRequest::text, MaxTextLength},
    {L"--url", &ShareRequest::url, MaxUrlLength},
    {L"--anchor", nullptr, 0},
    {L"--wait", nullptr, 0},
};

// The kinds of misuse, in the order in which they decide the reason given.
enum Misuse : std::size_t {
  UnknownOption,
  MissingValue,
  GivenTwice,
  EmptyValue,
  TooLong,
  BadUrl,
  BadAnchor,
  TooManyFiles,
  MisuseKinds
};

void SetFailure(std::wstring* failureText, std::wstring_view reason) {
  if (failureText == nullptr) return;
  *failureText = InputFailurePrefix;
  *failureText += reason;
}

const Option* FindOption(std::wstring_view entry) {
  for (const Option& option : Options) {
    if (option.name == entry) return &option;
  }
  return nullptr;
}

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The texts are one line of ASCII, whatever the host typed; a surrogate pair is one character.
std::wstring Printable(std::wstring_view entry) {
  std::wstring text;
  for (std::size_t i = 0; i < entry.size(); ++i) {
    const wchar_t unit = entry[i];
    if (unit >= 0x20 && unit <= 0x7E) {
      text += unit;
      continue;
    }
    if (IsHighSurrogate(unit) && i + 1 < entry.size() && IsLowSurrogate(entry[i + 1])) ++i;
    text += L'?';
  }
  return text;
}

bool StartsWithIgnoringAsciiCase(std::wstring_view text, std::wstring_view lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
    const wchar_t unit = text[i];
    const bool upper = unit >= L'A' && unit <= L'Z';
    if ((upper ? static_cast<wchar_t>(unit - L'A' + L'a') : unit) != lowerPrefix[i]) return false;
  }
  return true;
}

// Only what the string shows; the platform's own URI parser judges the rest in the worker.
bool IsHttpUrl(std::wstring_view url) {
  std::size_t schemeLength = 0;
  constexpr std::wstring_view Schemes[] = {L"http://", L"https://"};
  for (const std::wstring_view scheme : Schemes) {
    if (StartsWithIgnoringAsciiCase(url, scheme)) schemeLength = scheme.size();
  }
  if (schemeLength == 0 || url.size() == schemeLength) return false;
  const wchar_t first = url[schemeLength];
  if (first == L'/' || first == L'?' || first == L'#') return false;
  return std::none_of(url.begin(), url.end(), [](wchar_t unit) {
    return unit <= 0x20 || (unit >= 0x7F && unit <= 0x9F);
  });
}

std::optional<std::int32_t> ParseWholeNumber(std::wstring_view field) {
  const bool negative = !field.empty() && field.front() == L'-';
  if (negative) field.remove_prefix(1);
  if (field.empty()) return std::nullopt;
  const std::int64_t limit =
      negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
               : std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  for (const wchar_t unit : field) {
    if (unit < L'0' || unit > L'9') return std::nullopt;
    magnitude = magnitude * 10 + (unit - L'0');
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::optional<Anchor> ParseAnchor(std::wstring_view text) {
  std::array<std::int32_t, 4> numbers{};
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const bool last = i + 1 == numbers.size();
    const std::size_t comma = text.find(L',');
    if ((comma == std::wstring_view::npos) != last) return std::nullopt;
    const std::optional<std::int32_t> number = ParseWholeNumber(text.substr(0, comma));
    if (!number) return std::nullopt;
    numbers[i] = *number;
    if (!last) text.remove_prefix(comma + 1);
  }
  if (numbers[2] < 1 || numbers[3] < 1) return std::nullopt;
  return Anchor{numbers[0], numbers[1], numbers[2], numbers[3]};
}

// The reason the file cannot be shared, or nullptr with *path set to its full path.
const wchar_t* CheckFile(const std::wstring& file, std::wstring* path) {
  if (file.empty()) return L"input path cannot be empty";
  std::optional<std::wstring> normalized = NormalizeInputPath(file);
  if (!normalized) return L"input path cannot be normalized";
  const DWORD attributes = GetFileAttributesW(normalized->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return L"input file does not exist or is inaccessible";
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return L"input must be a regular file, not a directory";
  }
  *path = std::move(*normalized);
  return nullptr;
}

}  // namespace

std::optional<ShareRequest> ParseRequest(const ArgumentList& arguments, std::wstring* failureText) {
  if (arguments.size() < 3 || arguments[1] != L"--input") {
    SetFailure(failureText, arguments.size() != 3 ? CountReason : FlagReason);
    return std::nullopt;
  }
  // The two-argument form takes any path, and a longer line without a single option name after
  // it keeps that form's text: hosts written for it see no change.
  ShareRequest request;
  if (arguments.size() == 3) {
    request.files.push_back(arguments[2]);
    return request;
  }
  if (std::none_of(arguments.begin() + 3, arguments.end(),
                   [](const std::wstring& entry) { return FindOption(entry) != nullptr; })) {
    SetFailure(failureText, CountReason);
    return std::nullopt;
  }

  std::array<std::optional<std::wstring>, MisuseKinds> misuses;
  const auto note = [&misuses](Misuse kind, std::wstring reason) {
    if (!misuses[kind]) misuses[kind] = std::move(reason);
  };
  std::array<bool, std::size(Options)> given{};
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::wstring& entry = arguments[i];
    const Option* const option = FindOption(entry);
    if (option == nullptr) {
      note(UnknownOption, L"unknown option " + Printable(entry));
      continue;
    }
    const bool repeated = std::exchange(given[static_cast<std::size_t>(option - Options)], true);
    if (option->name == L"--wait") {
      if (repeated) note(GivenTwice, entry + L" is given more than once");
      request.wait = true;
      continue;
    }
    if (i + 1 == arguments.size()) {
      note(MissingValue, entry + L" needs a value");
      break;
    }
    // Whatever follows is the value, even when it looks like an option.
    const std::wstring& value = arguments[++i];
    if (option->name == L"--input") {
      request.files.push_back(value);
      continue;
    }
    if (repeated) {
      note(GivenTwice, entry + L" is given more than once");
    } else if (value.empty()) {
      note(EmptyValue, entry + L" cannot be empty");
    } else if (option->name == L"--anchor") {
      request.anchor = ParseAnchor(value);
      if (!request.anchor) note(BadAnchor, AnchorReason);
    } else if (value.size() > option->maxLength) {
      note(TooLong,
           entry + L" is longer than " + std::to_wstring(option->maxLength) + L" characters");
    } else {
      if (option->name == L"--url" && !IsHttpUrl(value)) note(BadUrl, UrlReason);
      request.*option->text = value;
    }
  }
  if (request.files.size() > MaxFiles) {
    note(TooManyFiles, L"at most " + std::to_wstring(MaxFiles) + L" files can be shared at once");
  }
  for (const std::optional<std::wstring>& reason : misuses) {
    if (reason) {
      SetFailure(failureText, *reason);
      return std::nullopt;
    }
  }
  return request;
}

ArgumentList RequestArguments(const ShareRequest& request) {
  ArgumentList arguments;
  for (const std::wstring& file : request.files) {
    arguments.push_back(L"--input");
    arguments.push_back(file);
  }
  for (const Option& option : Options) {
    if (option.text == nullptr || (request.*option.text).empty()) continue;
    arguments.emplace_back(option.name);
    arguments.push_back(request.*option.text);
  }
  if (request.anchor) {
    const Anchor& anchor = *request.anchor;
    arguments.push_back(L"--anchor");
    arguments.push_back(std::to_wstring(anchor.x) + L',' + std::to_wstring(anchor.y) + L',' +
                        std::to_wstring(anchor.width) + L',' + std::to_wstring(anchor.height));
  }
  if (request.wait) arguments.push_back(L"--wait");
  return arguments;
}

std::optional<std::wstring> NormalizeInputPath(const std::wstring& path) {
  std::wstring source = path;
  std::replace(source.begin(), source.end(), L'/', L'\\');
  DWORD capacity = MAX_PATH;
  for (;;) {
    std::wstring buffer(capacity, L'\0');
    const DWORD result = GetFullPathNameW(source.c_str(), capacity, buffer.data(), nullptr);
    if (result == 0) return std::nullopt;
    if (result < capacity) {
      buffer.resize(result);
      return buffer;
    }
    // Too small: result is the size needed, terminator included.
    capacity = result + 1;
  }
}

ValidatedInput ValidateInput(const ArgumentList& arguments, std::wstring* failureText) {
  std::optional<ShareRequest> request = ParseRequest(arguments, failureText);
  if (!request) return {};
  const std::vector<std::wstring>& files = request->files;
  std::vector<std::wstring> paths;
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::wstring path;
    if (const wchar_t* const reason = CheckFile(files[i], &path)) {
      std::wstring text = reason;
      if (files.size() > 1) text += L" (input " + std::to_wstring(i + 1) + L")";
      SetFailure(failureText, text);
      return {};
    }
    paths.push_back(std::move(path));
  }
  return {true, std::move(*request), std::move(paths)};
}

std::optional<std::wstring> CheckInput(const ArgumentList& arguments) {
  std::wstring failureText;
  if (ValidateInput(arguments, &failureText).valid) return std::nullopt;
  return failureText;
}

}  // namespace quibshare
