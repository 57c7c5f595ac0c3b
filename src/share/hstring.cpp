// Owned Windows Runtime strings. Any thread.
#include "share/hstring.h"

#include "share/hresult_error.h"

namespace quibshare {

UniqueHString MakeHString(std::wstring_view text) {
  UniqueHString result;
  ThrowIfFailed(WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), result.Put()));
  return result;
}

std::wstring_view HStringText(HSTRING text) noexcept {
  UINT32 length = 0;
  const wchar_t* buffer = WindowsGetStringRawBuffer(text, &length);
  return std::wstring_view(buffer, length);
}

}  // namespace quibshare
