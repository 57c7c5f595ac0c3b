// The host's command line as one share request, and the checks on its files. Main thread of
// either role: the broker parses the request once, and the worker reads it back from its own
// command line.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quibshare {

// The command line as CommandLineToArgvW splits it; entry 0 is the program path.
using ArgumentList = std::vector<std::wstring>;

// Most files one share takes, and the longest values of the text options, in UTF-16 code units.
inline constexpr std::size_t MaxFiles = 100;
inline constexpr std::size_t MaxTitleLength = 256;
inline constexpr std::size_t MaxTextLength = 16384;
inline constexpr std::size_t MaxUrlLength = 2048;

// Every rejected command line or file is reported as this prefix and a reason.
inline constexpr wchar_t InputFailurePrefix[] = L"Sharing could not start: ";
// Also the worker's reason when the platform will not make a URI of the text.
inline constexpr wchar_t UrlReason[] = L"--url must be an absolute http or https URL";

// The host's window or button in physical screen pixels; width and height are at least 1.
struct Anchor {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 1;
  std::int32_t height = 1;
  bool operator==(const Anchor&) const = default;
};

// What the host asked for. An empty title, text or url means the option was not given.
struct ShareRequest {
  std::vector<std::wstring> files;  // as written on the command line; none for a text or a link alone
  std::wstring title;
  std::wstring text;
  std::wstring url;
  std::optional<Anchor> anchor;
  bool wait = false;
  bool operator==(const ShareRequest&) const = default;
};

// The form of a host's command line (entry 0 the program): `--input <path>` (repeatable),
// `--title`, `--text`, `--url`, `--anchor` and `--wait` in any order, with at least one of
// `--input`, `--text` and `--url`. The files are not looked at. On misuse returns nothing and sets
// *failureText (when given) to the prefix and the reason. Lines a host of the two-argument form
// could write keep that form's texts ("expected exactly --input <path>", "expected --input flag").
std::optional<ShareRequest> ParseRequest(const ArgumentList& arguments, std::wstring* failureText);

// The entries after the program that ParseRequest reads back as `request`: every option quoted
// as its own entry, in a fixed order. `--input <path>` alone for a one-file request.
ArgumentList RequestArguments(const ShareRequest& request);

struct ValidatedInput {
  bool valid = false;
  ShareRequest request;
  std::vector<std::wstring> paths;  // fully qualified, one per file; empty unless valid
};

// GetFileAttributesW's shape, so that a test can stand in for a slow or failing file system.
using ReadFileAttributes = DWORD(WINAPI*)(LPCWSTR path);

// Each file of `request` in order: not a link (http:// or https://, any case), not empty,
// normalisable, neither a device nor a named stream (told from the path's form alone, before
// anything is opened), existing, not a directory. Fills
// `paths` with the fully qualified paths, or returns the failure text. With several files the
// reason of a rejected one ends in " (input N)", N counted from 1.
std::optional<std::wstring> CheckFiles(const ShareRequest& request, std::vector<std::wstring>& paths,
                                       ReadFileAttributes readAttributes = GetFileAttributesW);

// ParseRequest, then CheckFiles.
ValidatedInput ValidateInput(const ArgumentList& arguments, std::wstring* failureText,
                             ReadFileAttributes readAttributes = GetFileAttributesW);

// GetFullPathNameW of the path with "/" read as "\", with no length limit of our own.
std::optional<std::wstring> NormalizeInputPath(const std::wstring& path);

}  // namespace quibshare
