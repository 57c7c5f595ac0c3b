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
  NothingToShare,
  MisuseKinds
};

// The first reason of each kind; the earliest kind is the one reported.
class Misuses {
 public:
  void Note(Misuse kind, std::wstring reason) {
    if (!reasons_[kind]) reasons_[kind] = std::move(reason);
  }
  const std::wstring* First() const {
    for (const std::optional<std::wstring>& reason : reasons_) {
      if (reason) return &*reason;
    }
    return nullptr;
  }

 private:
  std::array<std::optional<std::wstring>, MisuseKinds> reasons_;
};

// One entry of the line as read: an option of ours with its value, or an entry that is none.
struct OptionUse {
  const std::wstring* entry;
  const Option* option;       // nullptr: not an option name
  const std::wstring* value;  // nullptr for --wait, an unknown entry, or a value missing at the end
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

bool IsDriveLetter(wchar_t unit) { return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z'); }

bool StartsWithDrive(std::wstring_view path) {
  return path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':';
}

// What GetFullPathNameW makes of CON, NUL or COM1 is "\\.\CON": the device namespace, as is
// "\\?\" before anything but a drive or "UNC\". Told from the form alone, since opening such a
// path could reach a device or connect to a pipe.
bool IsDevicePath(std::wstring_view path) {
  if (path.starts_with(LR"(\\.\)")) return true;
  if (!path.starts_with(LR"(\\?\)")) return false;
  const std::wstring_view rest = path.substr(4);
  return !StartsWithDrive(rest) && !StartsWithIgnoringAsciiCase(rest, LR"(unc\)");
}

// A colon after the drive names a stream of the file ("a.txt:s", "a.txt::$DATA").
bool HasNamedStream(std::wstring_view path) {
  std::size_t driveEnd = 0;
  if (path.starts_with(LR"(\\?\)")) driveEnd = 4;
  if (StartsWithDrive(path.substr(driveEnd))) driveEnd += 2;
  return path.find(L':', driveEnd) != std::wstring_view::npos;
}

// A link handed to --input: normalized, its scheme's colon would read as a named stream.
bool IsLink(std::wstring_view file) {
  return StartsWithIgnoringAsciiCase(file, L"http://") || StartsWithIgnoringAsciiCase(file, L"https://");
}

// The reason the file cannot be shared, or nullptr with *path set to its full path.
const wchar_t* CheckFile(const std::wstring& file, std::wstring* path, ReadFileAttributes readAttributes) {
  if (IsLink(file)) return L"input is a link, not a file: give it with --url";
  if (file.empty()) return L"input path cannot be empty";
  std::optional<std::wstring> normalized = NormalizeInputPath(file);
  if (!normalized) return L"input path cannot be normalized";
  if (IsDevicePath(*normalized)) return L"input must be a regular file, not a device";
  if (HasNamedStream(*normalized)) return L"input must be a regular file, not a named stream";
  const DWORD attributes = readAttributes(normalized->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return L"input file does not exist or is inaccessible";
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return L"input must be a regular file, not a directory";
  }
  *path = std::move(*normalized);
  return nullptr;
}

// Whatever follows a valued option is its value, even when it looks like an option.
std::vector<OptionUse> ReadOptions(const ArgumentList& arguments) {
  std::vector<OptionUse> uses;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    OptionUse use{&arguments[i], FindOption(arguments[i]), nullptr};
    const bool valued = use.option != nullptr && use.option->name != L"--wait";
    if (valued && i + 1 < arguments.size()) use.value = &arguments[++i];
    uses.push_back(use);
  }
  return uses;
}

// A text option's value, or the anchor's.
void ReadValue(const OptionUse& use, ShareRequest& request, Misuses& misuses) {
  const std::wstring& entry = *use.entry;
  const std::wstring& value = *use.value;
  if (value.empty()) {
    misuses.Note(EmptyValue, entry + L" cannot be empty");
  } else if (use.option->name == L"--anchor") {
    request.anchor = ParseAnchor(value);
    if (!request.anchor) misuses.Note(BadAnchor, AnchorReason);
  } else if (value.size() > use.option->maxLength) {
    misuses.Note(TooLong, entry + L" is longer than " + std::to_wstring(use.option->maxLength) + L" characters");
  } else {
    if (use.option->name == L"--url" && !IsHttpUrl(value)) misuses.Note(BadUrl, UrlReason);
    request.*use.option->text = value;
  }
}

ShareRequest ReadRequest(const std::vector<OptionUse>& uses, Misuses& misuses) {
  ShareRequest request;
  std::array<bool, std::size(Options)> given{};
  for (const OptionUse& use : uses) {
    if (use.option == nullptr) {
      misuses.Note(UnknownOption, L"unknown option " + Printable(*use.entry));
      continue;
    }
    const bool repeated = std::exchange(given[static_cast<std::size_t>(use.option - Options)], true);
    const bool repeatable = use.option->name == L"--input";
    if (repeated && !repeatable) misuses.Note(GivenTwice, *use.entry + L" is given more than once");
    if (use.option->name == L"--wait") {
      request.wait = true;
    } else if (use.value == nullptr) {
      misuses.Note(MissingValue, *use.entry + L" needs a value");
    } else if (repeatable) {
      request.files.push_back(*use.value);
    } else if (!repeated) {
      ReadValue(use, request, misuses);
    }
  }
  if (request.files.size() > MaxFiles) {
    misuses.Note(TooManyFiles, L"at most " + std::to_wstring(MaxFiles) + L" files can be shared at once");
  }
  if (request.files.empty() && request.text.empty() && request.url.empty()) {
    misuses.Note(NothingToShare, L"nothing to share: give --input, --text or --url");
  }
  return request;
}

}  // namespace

std::optional<ShareRequest> ParseRequest(const ArgumentList& arguments, std::wstring* failureText) {
  // Lines a host of the two-argument form could write keep that form's texts: fewer than two
  // arguments, a first one that is no option, or one path followed by no option at all. The
  // two-argument form takes any path.
  const std::size_t given = arguments.empty() ? 0 : arguments.size() - 1;
  const auto isOption = [](const std::wstring& entry) { return FindOption(entry) != nullptr; };
  if (given < 2 || !isOption(arguments[1])) {
    SetFailure(failureText, given == 2 ? FlagReason : CountReason);
    return std::nullopt;
  }
  if (arguments[1] == L"--input" && std::none_of(arguments.begin() + 3, arguments.end(), isOption)) {
    if (given != 2) {
      SetFailure(failureText, CountReason);
      return std::nullopt;
    }
    ShareRequest request;
    request.files.push_back(arguments[2]);
    return request;
  }
  Misuses misuses;
  ShareRequest request = ReadRequest(ReadOptions(arguments), misuses);
  if (const std::wstring* reason = misuses.First()) {
    SetFailure(failureText, *reason);
    return std::nullopt;
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

std::optional<std::wstring> CheckFiles(const ShareRequest& request, std::vector<std::wstring>& paths,
                                       ReadFileAttributes readAttributes) {
  const std::vector<std::wstring>& files = request.files;
  paths.clear();
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::wstring path;
    if (const wchar_t* const reason = CheckFile(files[i], &path, readAttributes)) {
      std::wstring text = reason;
      if (files.size() > 1) text += L" (input " + std::to_wstring(i + 1) + L")";
      std::wstring failureText;
      SetFailure(&failureText, text);
      paths.clear();
      return failureText;
    }
    paths.push_back(std::move(path));
  }
  return std::nullopt;
}

ValidatedInput ValidateInput(const ArgumentList& arguments, std::wstring* failureText,
                             ReadFileAttributes readAttributes) {
  std::optional<ShareRequest> request = ParseRequest(arguments, failureText);
  if (!request) return {};
  std::vector<std::wstring> paths;
  if (std::optional<std::wstring> failure = CheckFiles(*request, paths, readAttributes)) {
    if (failureText != nullptr) *failureText = std::move(*failure);
    return {};
  }
  return {true, std::move(*request), std::move(paths)};
}

}  // namespace quibshare
