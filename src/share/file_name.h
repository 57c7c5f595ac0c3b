// File names within paths, as the sheet's title shows them. Pure functions; any thread.
#pragma once

#include <string_view>

namespace quibshare {

// The last component of a path, "\" and "/" both separating; empty when the path ends in a
// separator or is only a root (drive, device or network prefix).
std::wstring_view FileNameComponent(std::wstring_view path) noexcept;

}  // namespace quibshare
