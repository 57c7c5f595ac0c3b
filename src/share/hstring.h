// Owned Windows Runtime strings. Any thread.
#pragma once

#include <winstring.h>

#include <string_view>

#include "support/unique_resource.h"

namespace quibshare {

using UniqueHString = UniqueResource<HSTRING, &::WindowsDeleteString>;

// A new HSTRING holding a copy of text; raises on failure.
UniqueHString MakeHString(std::wstring_view text);

// The characters of an HSTRING (empty for NULL), valid while the HSTRING lives.
std::wstring_view HStringText(HSTRING text) noexcept;

}  // namespace quibshare
